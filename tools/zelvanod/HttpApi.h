// The service's JSON API over HTTP: calls in, what became of them out (at once,
// by long poll or as server-sent events), the line, metrics and health.
// docs/zelvanod-api.yaml describes it for callers.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HttpServer.h"
#include "service/CallService.h"

namespace zelvano::service {

// Names the client a bearer token belongs to; nothing for a token it does not know.
using TokenCheck = std::function<std::optional<std::string>(const std::string& token)>;

struct HttpApiOptions {
    HttpServerOptions server;
    TokenCheck tokens;           // empty: no token needed, every caller is "anonymous"
    double postsPerSecond = 10;  // calls one client may post, on average; 0: no limit
    double postBurst = 20;       // ... and in one go
    int queueFullRetrySeconds = 5;
    int journalRetrySeconds = 30;
};

class HttpApi : public QObject, public ServiceEvents {
    Q_OBJECT
  public:
    // Subscribes to the service: the service must tell it nothing once it is
    // gone (stop the service's host first).
    HttpApi(CallService& service, HttpApiOptions options, QObject* parent = nullptr);
    ~HttpApi() override {
        Stop();
        service_.Unsubscribe(*this);
    }

    // "127.0.0.1", "::1", "0.0.0.0", "::"; port 0 takes any free port.
    bool Listen(const std::string& host, quint16 port, std::string& error) {
        return server_.Listen(host, port, error);
    }
    // Ends the event streams and answers the long polls with the call as it is.
    void Stop();
    quint16 Port() const { return server_.Port(); }
    // Long polls held, event streams open.
    std::size_t Waiting() const { return waiters_.size(); }
    std::size_t Streams() const { return streams_.size(); }

    void CallUpdated(const ServiceCall& call) override;
    void LineUpdated(const LineView& line) override;

  private:
    using Clock = std::chrono::steady_clock;
    using Reply = std::shared_ptr<HttpReply>;
    struct Waiter {
        std::int64_t id;
        bool final;  // else until delivered
        Clock::time_point deadline;
        Reply reply;
    };
    struct Bucket {
        double tokens;
        Clock::time_point filled;
    };

    void Handle(const HttpRequest& request, const Reply& reply);
    // The caller's name, or nothing when the reply was refused 401.
    std::optional<std::string> Authorize(const HttpRequest& request, HttpReply& reply) const;
    // Seconds until the client may post again; 0 when it may now.
    int RateWait(const std::string& client);

    void PostCall(const HttpRequest& request, const std::string& client, HttpReply& reply);
    void GetCall(const HttpRequest& request, std::int64_t id, const Reply& reply);
    void CancelCall(std::int64_t id, HttpReply& reply);
    void ListCalls(const HttpRequest& request, HttpReply& reply) const;
    void OpenStream(const Reply& reply);
    HttpResponse Metrics() const;
    HttpResponse Health() const;

    void Broadcast(const char* event, const QJsonObject& data);
    void Expire();
    void ArmExpiry();

    CallService& service_;
    HttpApiOptions options_;
    HttpServer server_;
    std::vector<Waiter> waiters_;
    std::vector<Reply> streams_;
    std::map<std::string, Bucket> buckets_;  // by client
    QTimer expiry_;                          // the next long poll's time-out
    bool journalFailed_ = false;             // the last call could not be stored
};

}  // namespace zelvano::service
