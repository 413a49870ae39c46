// A client of the site's MQTT broker on the Qt event loop: libmosquitto's
// socket under socket notifiers and a 1 s timer, no thread of its own. It
// connects in the background, tries again with a growing pause whenever the
// broker is away, and never blocks the caller.
#pragma once

#include <QByteArray>
#include <QHostInfo>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

namespace zelvano::service {

// The [mqtt] group of the configuration.
struct MqttOptions {
    QString host = QStringLiteral("localhost");
    int port = 1883;
    QString clientId;  // empty: "zelvanod-<lineName>"
    QString username;  // empty: no login
    QString password;
    QString caFile;    // set: TLS, the broker's certificate checked against it
    QString certFile;  // with keyFile: the client's own certificate (TLS only)
    QString keyFile;
    QString prefix;          // empty: "zelvano/<lineName>"
    bool discovery = false;  // Home Assistant discovery messages
    QString defaultAddress;  // the address a notify message without one pages
    QString lineName;
};

class MqttClient : public QObject {
    Q_OBJECT
  public:
    using MessageHandler = std::function<void(const QString& topic, const QByteArray& payload)>;

    explicit MqttClient(const MqttOptions& options, QObject* parent = nullptr);
    ~MqttClient() override;
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // The broker publishes this (retained, QoS 1) when the connection breaks
    // without a goodbye. Before Start.
    void SetWill(const QString& topic, const QByteArray& payload);
    // Runs inside libmosquitto's message callback. A QoS 1 message is
    // acknowledged only after the handler has returned.
    void SetMessageHandler(MessageHandler handler) { handler_ = std::move(handler); }
    // Subscribed again on every connection: a broker that restarted has
    // forgotten them.
    void Subscribe(const QString& topic, int qos);

    // Starts connecting in the background; false (see Error) when the options
    // cannot work at all.
    bool Start();
    // Says goodbye to the broker (so no last will) and stops trying.
    void Stop();
    // Drops the connection at once without sending anything more: a message
    // in hand is not acknowledged, so the broker delivers it again. Connects
    // again as after any loss.
    void Abort();

    // Queues a message. While disconnected, QoS 1 messages wait and go out
    // after the next connection; false when the library refused it.
    bool Publish(const QString& topic, const QByteArray& payload, int qos, bool retain);

    bool Connected() const { return connected_; }
    const QString& Error() const { return error_; }
    // "HOST:PORT", for log lines.
    QString Broker() const;
    // The pause before the next attempt, in milliseconds.
    int RetryDelay() const { return retryDelay_; }

    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 60'000;

  signals:
    // Connected: the subscriptions are on their way; the owner publishes its
    // retained state again. Not connected: the connection was lost.
    void ConnectedChanged(bool connected);
    void Logged(const QString& text);

  private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

    bool Configure();
    void Connect();
    void Resolved(const QHostInfo& info);
    void ConnectTo(const QString& host);
    // Runs the library on activity and on the timer, then follows its socket.
    void Pump(bool read);
    void Watch();
    // Lets the write notifier fire while the library has something to send.
    void WakeWriter();
    void Failed(const QString& reason);
    void Retry();

    MqttOptions options_;
    mosquitto* mosq_ = nullptr;
    MessageHandler handler_;
    std::vector<std::pair<QByteArray, int>> subscriptions_;
    QByteArray willTopic_, willPayload_;
    QSocketNotifier* reader_ = nullptr;
    QSocketNotifier* writer_ = nullptr;
    int socket_ = -1;
    QTimer housekeeping_;  // the 1 s tick: keep-alive, time-outs, late writes
    QTimer retryTimer_;
    int retryDelay_ = kFirstRetryMs;
    int lookupId_ = -1;
    int nextAddress_ = 0;  // of the host's addresses, the one tried next
    bool started_ = false;
    bool connected_ = false;
    QString error_;
    QString lastProblem_;  // logged once until it changes or a connection holds
};

}  // namespace zelvano::service
