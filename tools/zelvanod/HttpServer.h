// A small HTTP/1.1 server on libmicrohttpd, driven by the Qt event loop of the
// thread that owns it (no thread of its own). A handler answers at once, later
// (a long poll) or as a stream (server-sent events); an answer given after the
// client left goes nowhere, safely.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace zelvano::service {

struct HttpServerOptions {
    unsigned connectionLimit = 256;
    unsigned perIpLimit = 64;              // connections from one address; 0: no limit
    unsigned timeoutSeconds = 30;          // an idle or stalled connection is closed then
    std::size_t headerMemory = 32 * 1024;  // per connection: request line, headers, buffers
    std::size_t bodyLimit = 64 * 1024;     // a longer body is refused 413 unread
    int keepAliveMs = 15000;               // a comment on every open event stream this often
    std::string certFile;                  // PEM files: TLS when both are given
    std::string keyFile;
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;
    std::string path;                            // decoded, without the query
    std::map<std::string, std::string> query;    // decoded arguments
    std::map<std::string, std::string> headers;  // names in lower case
    std::string peer;                            // the client's address
    std::string body;

    // A header by its lower-case name, or an argument of the query; empty when absent.
    std::string Header(const std::string& name) const;
    std::string Query(const std::string& name) const;
};

struct HttpResponse {
    explicit HttpResponse(int status = 200, std::string body = {},
                          std::string contentType = "application/json", HttpHeaders headers = {})
        : status(status),
          body(std::move(body)),
          contentType(std::move(contentType)),
          headers(std::move(headers)) {}

    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    HttpHeaders headers;
};

class HttpServer;

// The answer to one request, shared by the server and a handler that answers
// later. Everything does nothing once the client left or the server stopped.
class HttpReply : public std::enable_shared_from_this<HttpReply> {
  public:
    HttpReply(HttpServer& server, MHD_Connection* connection)
        : server_(&server), connection_(connection) {}
    HttpReply(const HttpReply&) = delete;
    HttpReply& operator=(const HttpReply&) = delete;

    void Send(HttpResponse response);
    // Answers 200 with a body that goes on until EndStream; Write adds to it.
    void StartStream(const std::string& contentType, HttpHeaders headers = {});
    // False when the stream cannot take it: never started, ended, client gone.
    bool Write(std::string_view data);
    // Ends a stream once what was written went out.
    void EndStream();

    bool Answered() const { return answered_; }
    // The client is still there and the answer not yet complete.
    bool Open() const { return !gone_ && (!answered_ || (streaming_ && !ended_)); }

  private:
    friend class HttpServer;
    void Resume();

    HttpServer* server_;
    MHD_Connection* connection_;
    std::optional<HttpResponse> answer_;  // given, not yet handed to the library
    bool answered_ = false;
    bool streaming_ = false;
    bool ended_ = false;      // a stream's end was asked for
    bool overflow_ = false;   // a stream whose client stopped reading: dropped
    bool suspended_ = false;  // the library holds the connection until Resume
    bool gone_ = false;       // the exchange is over (client left, answered, stopped)
    std::string pending_;     // stream bytes not yet taken by the library
};

using HttpHandler = std::function<void(const HttpRequest&, const std::shared_ptr<HttpReply>&)>;

class HttpServer : public QObject {
    Q_OBJECT
  public:
    HttpServer(HttpServerOptions options, HttpHandler handler, QObject* parent = nullptr);
    ~HttpServer() override;

    // Listens on an address ("127.0.0.1", "::1", "0.0.0.0", "::", "localhost");
    // port 0 takes any free port. False with error set when it cannot.
    bool Listen(const std::string& host, quint16 port, std::string& error);
    // Ends open streams cleanly, answers held requests 503 and closes.
    void Stop();
    quint16 Port() const { return port_; }

  private:
    struct Exchange;
    struct Callbacks;  // the library's callbacks, with its types
    friend class HttpReply;
    friend struct Callbacks;

    void Run();
    void Wake() {
        again_ = true;
        timer_.start(0);
    }
    void KeepAlive();

    HttpServerOptions options_;
    HttpHandler handler_;
    MHD_Daemon* daemon_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;      // the library's next time-out
    QTimer keepAlive_;  // comments on event streams
    quint16 port_ = 0;
    std::string cert_, key_;  // PEM text, held while the daemon runs
    std::string lastLog_;     // the library's last complaint
    bool again_ = false;      // a connection was resumed or closed: run once more
    std::set<HttpReply*> live_;
};

}  // namespace zelvano::service
