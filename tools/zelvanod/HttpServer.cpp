#include "HttpServer.h"

#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QFile>
#include <QHostAddress>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace zelvano::service {

namespace {

constexpr std::size_t kStreamBacklog = 1 << 20;  // a stream client this far behind is dropped
constexpr std::size_t kStreamBlock = 4096;
constexpr std::size_t kDropLimit = 1 << 20;  // a longer body past the limit: the connection closes
constexpr int kStopRounds = 20;  // at stop, answers get this many 10 ms rounds to go out

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Lookup(const std::map<std::string, std::string>& map, const std::string& key) {
    const auto it = map.find(key);
    return it == map.end() ? std::string() : it->second;
}

bool ReadPem(const std::string& file, std::string& text, std::string& error) {
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::ReadOnly)) {
        error = "cannot read " + file + ": " + f.errorString().toStdString();
        return false;
    }
    text = f.readAll().toStdString();
    return true;
}

// The address to bind, or false when host is no IP address.
bool SocketAddress(const std::string& host, quint16 port, sockaddr_storage& storage) {
    const QHostAddress address(QString::fromStdString(host == "localhost" ? "127.0.0.1" : host));
    storage = {};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto& a = reinterpret_cast<sockaddr_in&>(storage);
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address.toIPv4Address());
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto& a = reinterpret_cast<sockaddr_in6&>(storage);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        const Q_IPV6ADDR ip = address.toIPv6Address();
        std::memcpy(&a.sin6_addr, &ip, sizeof ip);
        return true;
    }
    return false;
}

MHD_Response* BufferResponse(const HttpResponse& answer) {
    return MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
    return Lookup(headers, name);
}

std::string HttpRequest::Query(const std::string& name) const {
    return Lookup(query, name);
}

// What the server keeps of a request while the library works on it.
struct HttpServer::Exchange {
    HttpRequest request;
    std::shared_ptr<HttpReply> reply;
    std::size_t dropped = 0;  // body bytes past the limit, not kept
    bool handled = false;     // the handler has seen it
};

void HttpReply::Send(HttpResponse response) {
    if (answered_ || gone_)
        return;
    answered_ = true;
    answer_ = std::move(response);
    Resume();
}

void HttpReply::StartStream(const std::string& contentType, HttpHeaders headers) {
    if (answered_ || gone_)
        return;
    streaming_ = true;
    Send(HttpResponse(200, {}, contentType, std::move(headers)));
}

bool HttpReply::Write(std::string_view data) {
    if (!streaming_ || ended_ || gone_)
        return false;
    if (pending_.size() + data.size() > kStreamBacklog) {
        overflow_ = ended_ = true;
        Resume();
        return false;
    }
    pending_.append(data);
    Resume();
    return true;
}

void HttpReply::EndStream() {
    if (!streaming_ || ended_ || gone_)
        return;
    ended_ = true;
    Resume();
}

void HttpReply::Resume() {
    if (!suspended_ || gone_)
        return;
    suspended_ = false;
    MHD_resume_connection(connection_);
    server_->Wake();
}

struct HttpServer::Callbacks {
    static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char* /*version*/, const char* upload,
                             std::size_t* uploadSize, void** state) {
        HttpServer& server = *static_cast<HttpServer*>(cls);
        auto* exchange = static_cast<Exchange*>(*state);
        if (!exchange)
            return Begin(server, connection, url, method, state);
        if (*uploadSize != 0) {
            HttpRequest& request = exchange->request;
            if (exchange->dropped == 0 &&
                request.body.size() + *uploadSize <= server.options_.bodyLimit)
                request.body.append(upload, *uploadSize);
            else
                exchange->dropped += *uploadSize;
            *uploadSize = 0;
            // The library cannot answer in the middle of a body: the rest is
            // read and dropped for the 413, up to a point.
            return exchange->dropped > kDropLimit ? MHD_NO : MHD_YES;
        }
        if (exchange->dropped != 0)
            return Refuse(server, connection, MHD_HTTP_CONTENT_TOO_LARGE);
        if (!exchange->handled) {
            exchange->handled = true;
            server.handler_(exchange->request, exchange->reply);
        }
        return Deliver(connection, *exchange->reply);
    }

    // The headers are in: the request is noted, and a declared body over the
    // limit is refused before it is read.
    static MHD_Result Begin(HttpServer& server, MHD_Connection* connection, const char* url,
                            const char* method, void** state) {
        auto* exchange = new Exchange;
        *state = exchange;
        HttpRequest& request = exchange->request;
        request.method = method;
        request.path = url;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &Collect, &request.headers);
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &Collect, &request.query);
        if (const auto* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            request.peer = QHostAddress(info->client_addr).toString().toStdString();
        exchange->reply = std::make_shared<HttpReply>(server, connection);
        server.live_.insert(exchange->reply.get());

        const std::string length = request.Header("content-length");
        std::uint64_t declared = 0;
        const auto [end, fault] =
            std::from_chars(length.data(), length.data() + length.size(), declared);
        if (fault == std::errc() && declared > server.options_.bodyLimit)
            return Refuse(server, connection, MHD_HTTP_CONTENT_TOO_LARGE);
        return MHD_YES;
    }

    static MHD_Result Collect(void* cls, MHD_ValueKind kind, const char* key, const char* value) {
        auto& map = *static_cast<std::map<std::string, std::string>*>(cls);
        map.emplace(kind == MHD_HEADER_KIND ? Lower(key) : std::string(key), value ? value : "");
        return MHD_YES;
    }

    // Hands the reply's answer to the library, or holds the connection until
    // there is one.
    static MHD_Result Deliver(MHD_Connection* connection, HttpReply& reply) {
        if (!reply.answer_) {
            MHD_suspend_connection(connection);
            reply.suspended_ = true;
            return MHD_YES;
        }
        const HttpResponse answer = std::move(*reply.answer_);
        reply.answer_.reset();
        MHD_Response* response =
            reply.streaming_
                ? MHD_create_response_from_callback(
                      MHD_SIZE_UNKNOWN, kStreamBlock, &ReadStream,
                      new std::shared_ptr<HttpReply>(reply.shared_from_this()), &FreeStream)
                : BufferResponse(answer);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
        for (const auto& [name, value] : answer.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, answer.status, response);
        MHD_destroy_response(response);
        return queued;
    }

    static MHD_Result Refuse(HttpServer& server, MHD_Connection* connection, unsigned status) {
        const HttpResponse answer(static_cast<int>(status),
                                  "{\"error\":\"the body is longer than " +
                                      std::to_string(server.options_.bodyLimit) +
                                      " bytes\",\"field\":\"body\"}");
        MHD_Response* response = BufferResponse(answer);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
        const MHD_Result queued = MHD_queue_response(connection, status, response);
        MHD_destroy_response(response);
        return queued;
    }

    static ssize_t ReadStream(void* cls, std::uint64_t /*pos*/, char* buffer, std::size_t max) {
        HttpReply& reply = **static_cast<std::shared_ptr<HttpReply>*>(cls);
        if (reply.overflow_)
            return MHD_CONTENT_READER_END_WITH_ERROR;
        if (!reply.pending_.empty()) {
            const std::size_t n = std::min(max, reply.pending_.size());
            std::memcpy(buffer, reply.pending_.data(), n);
            reply.pending_.erase(0, n);
            return static_cast<ssize_t>(n);
        }
        if (reply.ended_ || reply.gone_)
            return MHD_CONTENT_READER_END_OF_STREAM;
        MHD_suspend_connection(reply.connection_);
        reply.suspended_ = true;
        return 0;
    }

    static void FreeStream(void* cls) { delete static_cast<std::shared_ptr<HttpReply>*>(cls); }

    static void Completed(void* cls, MHD_Connection* /*connection*/, void** state,
                          MHD_RequestTerminationCode /*code*/) {
        auto* exchange = static_cast<Exchange*>(*state);
        if (!exchange)
            return;
        HttpReply& reply = *exchange->reply;
        reply.gone_ = true;
        reply.suspended_ = false;
        reply.connection_ = nullptr;
        static_cast<HttpServer*>(cls)->live_.erase(&reply);
        delete exchange;
        *state = nullptr;
    }

    static void Connection(void* cls, MHD_Connection* /*connection*/, void** /*state*/,
                           MHD_ConnectionNotificationCode code) {
        if (code == MHD_CONNECTION_NOTIFY_CLOSED)
            static_cast<HttpServer*>(cls)->again_ = true;
    }

    static void Log(void* cls, const char* format, va_list args) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        std::string& last = static_cast<HttpServer*>(cls)->lastLog_;
        last = text;
        while (!last.empty() && std::isspace(static_cast<unsigned char>(last.back())))
            last.pop_back();
    }
};

HttpServer::HttpServer(HttpServerOptions options, HttpHandler handler, QObject* parent)
    : QObject(parent), options_(std::move(options)), handler_(std::move(handler)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &HttpServer::Run);
    connect(&keepAlive_, &QTimer::timeout, this, &HttpServer::KeepAlive);
}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Listen(const std::string& host, quint16 port, std::string& error) {
    if (daemon_) {
        error = "already listening";
        return false;
    }
    sockaddr_storage address;
    if (!SocketAddress(host, port, address)) {
        error = "not an IP address: \"" + host + "\"";
        return false;
    }
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (address.ss_family == AF_INET6)
        flags |= host == "::" ? MHD_USE_DUAL_STACK : MHD_USE_IPv6;
    const bool tls = !options_.certFile.empty() || !options_.keyFile.empty();
    if (tls) {
        if (options_.certFile.empty() || options_.keyFile.empty()) {
            error = "TLS needs both a certificate and a key file";
            return false;
        }
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            error = "this libmicrohttpd has no TLS; put a reverse proxy in front";
            return false;
        }
        if (!ReadPem(options_.certFile, cert_, error) || !ReadPem(options_.keyFile, key_, error))
            return false;
        flags |= MHD_USE_TLS;
    }
    const MHD_OptionItem tlsItems[] = {
        {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, cert_.data()},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, key_.data()},
        {MHD_OPTION_END, 0, nullptr}};
    lastLog_.clear();
    daemon_ = MHD_start_daemon(
        flags, port, nullptr, nullptr, &Callbacks::Access, this, MHD_OPTION_SOCK_ADDR,
        reinterpret_cast<sockaddr*>(&address), MHD_OPTION_CONNECTION_LIMIT,
        options_.connectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, options_.perIpLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, options_.timeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        options_.headerMemory, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::Completed, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::Connection, this, MHD_OPTION_EXTERNAL_LOGGER,
        &Callbacks::Log, this, MHD_OPTION_ARRAY, tlsItems, MHD_OPTION_END);
    if (!daemon_) {
        error = "cannot listen on " + host + " port " + std::to_string(port) +
                (lastLog_.empty() ? "" : ": " + lastLog_);
        return false;
    }
    port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
    const int epoll = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    notifier_ = std::make_unique<QSocketNotifier>(epoll, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &HttpServer::Run);
    if (options_.keepAliveMs > 0)
        keepAlive_.start(options_.keepAliveMs);
    Run();
    return true;
}

void HttpServer::Run() {
    if (!daemon_)
        return;
    // A connection resumed before or during this run is picked up by the next;
    // after one closed, the next takes new connections again when the limit
    // had stopped them.
    const bool again = std::exchange(again_, false);
    MHD_run(daemon_);
    MHD_UNSIGNED_LONG_LONG wait = 0;
    if (again || again_)
        timer_.start(0);
    else if (MHD_get_timeout(daemon_, &wait) == MHD_YES)
        timer_.start(static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(wait, INT_MAX)));
    else
        timer_.stop();
}

void HttpServer::KeepAlive() {
    const std::vector<HttpReply*> replies(live_.begin(), live_.end());
    for (HttpReply* reply : replies)
        if (reply->streaming_)
            reply->Write(": keep-alive\n\n");
}

void HttpServer::Stop() {
    if (!daemon_)
        return;
    keepAlive_.stop();
    const std::vector<HttpReply*> replies(live_.begin(), live_.end());
    for (HttpReply* reply : replies) {
        if (reply->streaming_)
            reply->EndStream();
        else if (reply->suspended_)
            reply->Send(HttpResponse(503, R"({"error":"the service is stopping"})"));
    }
    // What was answered gets a moment to go out; then every connection that
    // still waits is let go, as the library wants before it stops.
    for (int round = 0; round < kStopRounds && !live_.empty(); ++round)
        MHD_run_wait(daemon_, 10);
    for (HttpReply* reply : live_)
        if (reply->suspended_) {
            reply->suspended_ = false;
            MHD_resume_connection(reply->connection_);
        }
    MHD_run(daemon_);
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    notifier_.reset();
    timer_.stop();
    port_ = 0;
    for (HttpReply* reply : live_)
        reply->gone_ = true;
    live_.clear();
}

}  // namespace zelvano::service
