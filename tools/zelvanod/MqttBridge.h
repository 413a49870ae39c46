// Pages from the site's MQTT broker and tells it what became of each call.
// Under the prefix (default "zelvano/<line name>"):
//   call                 in, QoS 1: a call as JSON, with an optional "id"
//                        (the idempotency key) and "reply_to" (a topic)
//   calls/<id>/state     out, retained: each state of a call made over MQTT,
//                        the final one last (<id>: the caller's id, else the
//                        service's number); an error when it was refused
//   errors               out: refusals of messages without an id
//   line                 out, retained: {"state": "up"|"down"|"unknown"},
//                        "offline" (the last will) while the service is away
//   notify               in: text for the default address, or JSON
//                        {"title": address, "message": text}
// Home Assistant finds the line and a notify entity through discovery when the
// options ask for it.
#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <set>

#include "MqttClient.h"
#include "service/CallService.h"

namespace zelvano::service {

class MqttBridge : public QObject, public ServiceEvents {
    Q_OBJECT
  public:
    // The service must outlive the bridge's start; the bridge must outlive
    // the service's events (it cannot unsubscribe).
    MqttBridge(CallService& service, MqttOptions options, QObject* parent = nullptr);
    ~MqttBridge() override;

    // Subscribes to the service and connects in the background; false (see
    // Error) when the options cannot work. Once per bridge.
    bool Start();
    // The line topic says "offline", then a goodbye to the broker.
    void Stop();

    const QString& Prefix() const { return prefix_; }
    const QString& Error() const { return error_; }
    bool Connected() const { return client_.Connected(); }

    void CallUpdated(const ServiceCall& call) override;
    void LineUpdated(const LineView& line) override;

    static constexpr const char* kClient = "mqtt";

  signals:
    void Logged(const QString& text);

  private:
    void Connected();
    void Message(const QString& topic, const QByteArray& payload);
    void TakeCall(const QByteArray& payload);
    void TakeNotice(const QByteArray& payload);
    // Submits a request read from a message and answers the caller.
    void Submit(const CallRequest& request, const QString& id, const QString& replyTo);
    void Refuse(const QString& id, const QString& replyTo, const std::string& field,
                const std::string& message);
    void PublishState(const ServiceCall& call, const QString& replyTo);
    void PublishDiscovery();
    QString StateTopic(const QString& id) const;
    QString TopicId(const ServiceCall& call) const;

    CallService& service_;
    MqttOptions options_;
    QString prefix_;
    QString node_;  // Home Assistant's node id
    MqttClient client_;
    QString error_;
    bool started_ = false;
    std::map<std::int64_t, QString> replyTo_;  // by service id, until final
    bool submitting_ = false;
    std::set<std::int64_t> toldInSubmit_;  // calls whose state went out during a Submit
};

}  // namespace zelvano::service
