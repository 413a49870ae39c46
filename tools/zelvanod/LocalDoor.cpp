#include "LocalDoor.h"

#include <sys/socket.h>

#include <QJsonDocument>
#include <QLocalSocket>

#include "ServiceJson.h"

namespace zelvano::service {
namespace fs = std::filesystem;
namespace {

constexpr qint64 kMaxRequestBytes = 64 * 1024;

fs::path Canonical(const std::string& path) {
    std::error_code ec;
    fs::path canonical = fs::canonical(path, ec);
    return ec ? fs::path(path) : canonical;
}

// The caller's user, for the log: "local" and its uid when the socket tells.
std::string ClientName(QLocalSocket* socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED,
                   &credentials, &size) == 0)
        return "local:" + std::to_string(credentials.uid);
    return "local";
}

}  // namespace

LocalDoor::LocalDoor(CallService& service, std::vector<std::string> ports, QObject* parent)
    : QObject(parent), service_(service), ports_(std::move(ports)) {
    service_.Subscribe(*this);
    server_.setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &LocalDoor::Accept);
}

LocalDoor::~LocalDoor() {
    server_.close();
    service_.Unsubscribe(*this);
}

bool LocalDoor::Listen(const fs::path& file, std::string& error) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    QLocalServer::removeServer(QString::fromStdString(file.string()));
    if (server_.listen(QString::fromStdString(file.string())))
        return true;
    error = file.string() + ": " + server_.errorString().toStdString();
    return false;
}

void LocalDoor::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
    }
}

bool LocalDoor::OwnsPort(const std::string& port) const {
    for (const std::string& own : ports_) {
        if (QString::fromStdString(own).compare(QString::fromStdString(port),
                                                Qt::CaseInsensitive) == 0 ||
            Canonical(own) == Canonical(port))
            return true;
    }
    return false;
}

void LocalDoor::Read(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestBytes)
            socket->abort();
        return;
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    const QJsonObject request = QJsonDocument::fromJson(socket->readLine()).object();
    const std::string port = request.value("port").toString().toStdString();
    if (!OwnsPort(port)) {
        Send(socket, {{"event", "other-port"},
                      {"port", QString::fromStdString(ports_.empty() ? "" : ports_.front())}});
        socket->disconnectFromServer();
        return;
    }
    const ParsedCall parsed = ParseCall(QJsonDocument(request.value("call").toObject()).toJson());
    SubmitResult result;
    if (parsed.field.empty())
        result = service_.Submit(parsed.request, ClientName(socket),
                                 request.value("key").toString().toStdString());
    else
        result = {SubmitResult::Kind::Refused, {}, parsed.field, parsed.error};
    if (result.kind != SubmitResult::Kind::Accepted &&
        result.kind != SubmitResult::Kind::Duplicate) {
        QJsonObject refusal = ErrorJson(result.field, result.error);
        refusal.insert("event", "refused");
        Send(socket, refusal);
        socket->disconnectFromServer();
        return;
    }
    const std::string wait = request.value("wait").toString("final").toStdString();
    Send(socket, {{"event", "call"}, {"call", CallJson(result.call)}});
    if (WaitIsOver(result.call, wait))
        socket->disconnectFromServer();
    else
        waiters_.insert({result.call.id, {socket, wait}});
}

bool LocalDoor::WaitIsOver(const ServiceCall& call, const std::string& wait) {
    if (call.final)
        return true;
    if (wait == "none")
        return call.sent;
    return wait == "accepted" && call.delivered;
}

void LocalDoor::CallUpdated(const ServiceCall& call) {
    auto [first, last] = waiters_.equal_range(call.id);
    for (auto it = first; it != last;) {
        QLocalSocket* socket = it->second.socket;
        if (!socket) {
            it = waiters_.erase(it);
            continue;
        }
        Send(socket, {{"event", "call"}, {"call", CallJson(call)}});
        if (WaitIsOver(call, it->second.wait)) {
            socket->disconnectFromServer();
            it = waiters_.erase(it);
        } else {
            ++it;
        }
    }
}

void LocalDoor::Send(QLocalSocket* socket, const QJsonObject& message) {
    socket->write(Compact(message) + '\n');
}

}  // namespace zelvano::service
