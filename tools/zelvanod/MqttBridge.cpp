#include "MqttBridge.h"

#include <mosquitto.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <utility>

#include "ServiceJson.h"

namespace zelvano::service {

namespace {

constexpr int kMaxIdLength = 128;

// A name made fit for a topic level (no wildcards, no level separator).
QString TopicLevel(QString name) {
    static const QRegularExpression unfit("[+#/\\x00]");
    return name.replace(unfit, "_");
}

QString DefaultPrefix(const QString& lineName) {
    return lineName.isEmpty() ? QString("zelvano") : "zelvano/" + TopicLevel(lineName);
}

// Home Assistant allows letters, digits, '_' and '-' in a node id.
QString NodeId(const QString& lineName) {
    static const QRegularExpression unfit("[^A-Za-z0-9_-]");
    return lineName.isEmpty() ? QString("zelvano")
                              : "zelvano_" + QString(lineName).replace(unfit, "_");
}

QByteArray LineState(const LineView& line) {
    QJsonObject state{{"state", line.link == LinkState::Up     ? "up"
                                : line.link == LinkState::Down ? "down"
                                                               : "unknown"}};
    if (!line.problem.empty())
        state["reason"] = QString::fromStdString(line.problem);
    else if (line.link == LinkState::Down)
        state["reason"] = "the paging system does not answer";
    return Compact(state);
}

// The caller's "id" as text: a string or a whole number; empty and ok when
// absent, not ok when it cannot name a topic level.
bool ReadId(const QJsonObject& message, QString& id) {
    const QJsonValue value = message.value("id");
    if (value.isUndefined())
        return true;
    if (value.isDouble() && value.toDouble() == double(value.toInteger()))
        id = QString::number(value.toInteger());
    else
        id = value.toString();
    return !id.isEmpty() && id.size() <= kMaxIdLength && TopicLevel(id) == id;
}

bool ReadReplyTo(const QJsonObject& message, QString& replyTo) {
    const QJsonValue value = message.value("reply_to");
    if (value.isUndefined())
        return true;
    replyTo = value.toString();
    return value.isString() && !replyTo.isEmpty() &&
           mosquitto_pub_topic_check(replyTo.toUtf8().constData()) == MOSQ_ERR_SUCCESS;
}

}  // namespace

MqttBridge::MqttBridge(CallService& service, MqttOptions options, QObject* parent)
    : QObject(parent),
      service_(service),
      options_(std::move(options)),
      prefix_(options_.prefix.isEmpty() ? DefaultPrefix(options_.lineName) : options_.prefix),
      node_(NodeId(options_.lineName)),
      client_(options_, this) {
    client_.SetWill(prefix_ + "/line", "offline");
    client_.SetMessageHandler(
        [this](const QString& topic, const QByteArray& payload) { Message(topic, payload); });
    connect(&client_, &MqttClient::Logged, this, &MqttBridge::Logged);
    connect(&client_, &MqttClient::ConnectedChanged, this, [this](bool connected) {
        if (connected)
            Connected();
    });
}

MqttBridge::~MqttBridge() {
    Stop();
    service_.Unsubscribe(*this);
}

bool MqttBridge::Start() {
    if (started_)
        return true;
    if (mosquitto_sub_topic_check(prefix_.toUtf8().constData()) != MOSQ_ERR_SUCCESS ||
        prefix_.contains('+') || prefix_.contains('#')) {
        error_ = "MQTT: the prefix \"" + prefix_ + "\" cannot be a topic";
        return false;
    }
    client_.Subscribe(prefix_ + "/call", 1);
    client_.Subscribe(prefix_ + "/notify", 1);
    if (!client_.Start()) {
        error_ = "MQTT: " + client_.Error();
        return false;
    }
    service_.Subscribe(*this);
    started_ = true;
    return true;
}

void MqttBridge::Stop() {
    if (!std::exchange(started_, false))
        return;
    client_.Publish(prefix_ + "/line", "offline", 1, true);
    client_.Stop();
}

// A broker that restarted has lost the retained messages: they go out again.
void MqttBridge::Connected() {
    LineUpdated(service_.Line());
    if (options_.discovery)
        PublishDiscovery();
}

void MqttBridge::Message(const QString& topic, const QByteArray& payload) {
    if (topic == prefix_ + "/call")
        TakeCall(payload);
    else if (topic == prefix_ + "/notify")
        TakeNotice(payload);
}

// Runs inside the client's message callback, before the broker's message is
// acknowledged: Submit journals the call synchronously, so a crash before the
// journal write leaves the message unacknowledged and the broker delivers it
// again; the caller's id then stops a second page.
void MqttBridge::TakeCall(const QByteArray& payload) {
    const QJsonObject message = QJsonDocument::fromJson(payload).object();
    QString id, replyTo;
    if (!ReadId(message, id))
        return Refuse({}, {}, "id",
                      "id must be a string or a number of 1 to 128 characters, "
                      "without '/', '+' or '#'");
    if (!ReadReplyTo(message, replyTo))
        return Refuse(id, {}, "reply_to", "reply_to must be a topic without wildcards");
    const ParsedCall parsed = ParseCall(payload, {"id", "reply_to"});
    if (!parsed.field.empty())
        return Refuse(id, replyTo, parsed.field, parsed.error);
    Submit(parsed.request, id, replyTo);
}

// Home Assistant's notify entity sends its message as text; an automation can
// name the address as the title.
void MqttBridge::TakeNotice(const QByteArray& payload) {
    const QJsonObject message = QJsonDocument::fromJson(payload).object();
    QString address = options_.defaultAddress;
    QString text = QString::fromUtf8(payload);
    if (message.value("message").isString()) {
        text = message.value("message").toString();
        if (!message.value("title").toString().isEmpty())
            address = message.value("title").toString();
    }
    if (address.isEmpty())
        return Refuse({}, {}, "address", "no address: give it as the title or set a default one");
    const ParsedCall parsed = ParseCall(Compact({{"address", address}, {"text", text}}));
    if (!parsed.field.empty())
        return Refuse({}, {}, parsed.field, parsed.error);
    Submit(parsed.request, {}, {});
}

void MqttBridge::Submit(const CallRequest& request, const QString& id, const QString& replyTo) {
    submitting_ = true;
    toldInSubmit_.clear();
    const SubmitResult result = service_.Submit(request, kClient, id.toStdString());
    submitting_ = false;
    using Kind = SubmitResult::Kind;
    switch (result.kind) {
        case Kind::Accepted:
        case Kind::Duplicate: {
            const ServiceCall call = service_.Find(result.call.id).value_or(result.call);
            if (!replyTo.isEmpty() && !call.final)
                replyTo_[call.id] = replyTo;
            // A repeat learns the state again; a new call's first state went
            // out already when the service told it during Submit.
            if (result.kind == Kind::Duplicate || !toldInSubmit_.contains(call.id))
                PublishState(call, replyTo);
            else if (!replyTo.isEmpty())
                client_.Publish(replyTo, Compact(CallJson(call)), 1, false);
            return;
        }
        case Kind::Refused:
            return Refuse(id, replyTo, result.field, result.error);
        case Kind::QueueFull:
            return Refuse(id, replyTo, {}, result.error);
        case Kind::JournalFailed:
            // Not in the journal, so not acknowledged: the broker delivers it
            // again after the next connection.
            emit Logged(QString::fromStdString("MQTT: call not taken, the journal failed: " +
                                               result.error + "; the broker will send it again"));
            return client_.Abort();
    }
}

void MqttBridge::Refuse(const QString& id, const QString& replyTo, const std::string& field,
                        const std::string& message) {
    const QByteArray error = Compact(ErrorJson(field, message));
    client_.Publish(id.isEmpty() ? prefix_ + "/errors" : StateTopic(id), error, 1, false);
    if (!replyTo.isEmpty())
        client_.Publish(replyTo, error, 1, false);
}

void MqttBridge::CallUpdated(const ServiceCall& call) {
    if (call.client != kClient)
        return;
    if (submitting_)
        toldInSubmit_.insert(call.id);
    const auto reply = replyTo_.find(call.id);
    PublishState(call, reply == replyTo_.end() ? QString() : reply->second);
    if (call.final && reply != replyTo_.end())
        replyTo_.erase(reply);
}

void MqttBridge::PublishState(const ServiceCall& call, const QString& replyTo) {
    const QByteArray json = Compact(CallJson(call));
    client_.Publish(StateTopic(TopicId(call)), json, 1, true);
    if (!replyTo.isEmpty())
        client_.Publish(replyTo, json, 1, false);
}

void MqttBridge::LineUpdated(const LineView& line) {
    client_.Publish(prefix_ + "/line", LineState(line), 1, true);
}

QString MqttBridge::StateTopic(const QString& id) const {
    return prefix_ + "/calls/" + id + "/state";
}

QString MqttBridge::TopicId(const ServiceCall& call) const {
    return call.key.empty() ? QString::number(call.id) : QString::fromStdString(call.key);
}

// The line as a connectivity sensor and a notify entity that pages, both
// unavailable while the line topic says "offline".
void MqttBridge::PublishDiscovery() {
    const QString line = prefix_ + "/line";
    const QJsonArray availability{
        QJsonObject{{"topic", line},
                    {"payload_available", "online"},
                    {"payload_not_available", "offline"},
                    {"value_template", "{{ 'offline' if value == 'offline' else 'online' }}"}}};
    const QJsonObject device{
        {"identifiers", QJsonArray{node_}},
        {"name", options_.lineName.isEmpty() ? "Zelvano" : "Zelvano " + options_.lineName},
        {"manufacturer", "Zelvano"},
        {"model", "zelvanod"},
        {"sw_version", QString("%1.%2").arg(ZELVANO_VERSION_MAJOR).arg(ZELVANO_VERSION_MINOR)}};
    const QJsonObject sensor{
        {"name", "Paging line"},
        {"unique_id", node_ + "_line"},
        {"device_class", "connectivity"},
        {"state_topic", line},
        {"value_template",
         "{{ value_json.state if value_json is defined and value_json.state in ['up', 'down'] "
         "else 'None' }}"},
        {"payload_on", "up"},
        {"payload_off", "down"},
        {"availability", availability},
        {"device", device}};
    const QJsonObject notify{
        {"name", "Page"}, {"unique_id", node_ + "_page"}, {"command_topic", prefix_ + "/notify"},
        {"qos", 1},       {"availability", availability}, {"device", device}};
    client_.Publish("homeassistant/binary_sensor/" + node_ + "/line/config", Compact(sensor), 1,
                    true);
    client_.Publish("homeassistant/notify/" + node_ + "/page/config", Compact(notify), 1, true);
}

}  // namespace zelvano::service
