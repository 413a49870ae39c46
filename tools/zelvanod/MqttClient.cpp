#include "MqttClient.h"

#include <mosquitto.h>
#include <sys/socket.h>

#include <QHostAddress>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

namespace zelvano::service {

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kMaxPackets = 100;  // per read or write: until the socket would block

// The library's or the system's words for a failure, without a final stop.
QString Reason(int rc) {
    QString reason =
        QString::fromUtf8(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
    if (reason.endsWith('.'))
        reason.chop(1);
    return reason;
}

QByteArray Utf8OrNull(const QString& text) {
    return text.isEmpty() ? QByteArray() : text.toUtf8();
}

const char* OrNull(const QByteArray& bytes) {
    return bytes.isNull() ? nullptr : bytes.constData();
}

}  // namespace

MqttClient::MqttClient(const MqttOptions& options, QObject* parent)
    : QObject(parent), options_(options) {
    [[maybe_unused]] static const int libraryReady = mosquitto_lib_init();
    // libmosquitto writes with write(): a broker gone mid-write must be an
    // error to handle, not a signal that ends the service.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
    if (options_.clientId.isEmpty())
        options_.clientId =
            "zelvanod" + (options_.lineName.isEmpty() ? "" : "-" + options_.lineName);
    // A lasting session: the broker keeps the subscription and the calls sent
    // meanwhile while the service restarts.
    mosq_ = mosquitto_new(options_.clientId.toUtf8().constData(), false, this);
    // Marked threaded (no thread is started): the library then only queues
    // what it sends, and all writing happens in Pump. So the acknowledgement
    // of a QoS 1 message goes out after the message handler has returned;
    // unthreaded, libmosquitto would write it before calling the handler.
    mosquitto_threaded_set(mosq_, true);
    mosquitto_connect_callback_set(mosq_, &MqttClient::OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::OnDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttClient::OnMessage);
    housekeeping_.setInterval(1000);
    connect(&housekeeping_, &QTimer::timeout, this, [this] { Pump(false); });
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &MqttClient::Connect);
}

MqttClient::~MqttClient() {
    Stop();
    mosquitto_destroy(mosq_);
}

void MqttClient::SetWill(const QString& topic, const QByteArray& payload) {
    willTopic_ = topic.toUtf8();
    willPayload_ = payload;
}

void MqttClient::Subscribe(const QString& topic, int qos) {
    subscriptions_.emplace_back(topic.toUtf8(), qos);
    if (connected_)
        mosquitto_subscribe(mosq_, nullptr, subscriptions_.back().first.constData(), qos);
    WakeWriter();
}

bool MqttClient::Start() {
    if (started_)
        return true;
    if (!Configure())
        return false;
    started_ = true;
    housekeeping_.start();
    Connect();
    return true;
}

bool MqttClient::Configure() {
    int rc = MOSQ_ERR_SUCCESS;
    if (!options_.username.isEmpty())
        rc = mosquitto_username_pw_set(mosq_, options_.username.toUtf8().constData(),
                                       OrNull(Utf8OrNull(options_.password)));
    if (rc == MOSQ_ERR_SUCCESS && !options_.caFile.isEmpty()) {
        rc = mosquitto_tls_set(mosq_, options_.caFile.toUtf8().constData(), nullptr,
                               OrNull(Utf8OrNull(options_.certFile)),
                               OrNull(Utf8OrNull(options_.keyFile)), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error_ = "TLS: cannot use the CA, certificate or key file";
            return false;
        }
    } else if (!options_.certFile.isEmpty() || !options_.keyFile.isEmpty()) {
        error_ = "TLS: a client certificate needs the broker's CA file";
        return false;
    }
    if (rc == MOSQ_ERR_SUCCESS && !willTopic_.isEmpty())
        rc = mosquitto_will_set(mosq_, willTopic_.constData(), int(willPayload_.size()),
                                willPayload_.constData(), 1, true);
    if (rc != MOSQ_ERR_SUCCESS)
        error_ = Reason(rc);
    return rc == MOSQ_ERR_SUCCESS;
}

// The broker's name is looked up by Qt in the background: the library's own
// look-up would block the loop while a name server does not answer.
void MqttClient::Connect() {
    if (!started_)
        return;
    if (!QHostAddress(options_.host).isNull())
        return ConnectTo(options_.host);
    lookupId_ = QHostInfo::lookupHost(options_.host, this, &MqttClient::Resolved);
}

void MqttClient::Resolved(const QHostInfo& info) {
    lookupId_ = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        return Failed(info.errorString());
    // TLS checks the certificate against the name, so the library is given
    // the name (just found, so its own look-up is quick); otherwise the
    // addresses in turn.
    if (!options_.caFile.isEmpty())
        return ConnectTo(options_.host);
    const auto& addresses = info.addresses();
    ConnectTo(addresses[nextAddress_++ % addresses.size()].toString());
}

void MqttClient::ConnectTo(const QString& host) {
    errno = 0;
    const int rc =
        mosquitto_connect_async(mosq_, host.toUtf8().constData(), options_.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        return Failed(Reason(rc));
    Watch();
}

void MqttClient::Stop() {
    if (!started_)
        return;
    started_ = false;
    retryTimer_.stop();
    housekeeping_.stop();
    if (lookupId_ >= 0)
        QHostInfo::abortHostLookup(lookupId_);
    lookupId_ = -1;
    if (mosquitto_socket(mosq_) >= 0) {
        // What was published last and the goodbye go out as far as the socket
        // takes them now; the broker sends the last will otherwise.
        mosquitto_disconnect(mosq_);
        for (int i = 0; i < 10 && mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_); ++i)
            if (mosquitto_loop_write(mosq_, kMaxPackets) != MOSQ_ERR_SUCCESS)
                break;
    }
    connected_ = false;
    Watch();
}

void MqttClient::Abort() {
    if (socket_ >= 0)
        ::shutdown(socket_, SHUT_RDWR);
}

bool MqttClient::Publish(const QString& topic, const QByteArray& payload, int qos, bool retain) {
    const int rc = mosquitto_publish(mosq_, nullptr, topic.toUtf8().constData(),
                                     int(payload.size()), payload.constData(), qos, retain);
    WakeWriter();
    // Without a connection the library keeps a QoS 1 message for the next one.
    return rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_NO_CONN && qos > 0);
}

QString MqttClient::Broker() const {
    return options_.host + ':' + QString::number(options_.port);
}

void MqttClient::Pump(bool read) {
    if (socket_ < 0)
        return;
    errno = 0;
    int rc = MOSQ_ERR_SUCCESS;
    if (read)
        rc = mosquitto_loop_read(mosq_, kMaxPackets);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq_))
        rc = mosquitto_loop_write(mosq_, kMaxPackets);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_loop_misc(mosq_);
    Watch();
    // The library closed the socket; the disconnect callback has usually
    // scheduled the next attempt already.
    if (socket_ < 0 && started_ && !retryTimer_.isActive())
        Failed(Reason(rc));
}

// The notifiers follow the library's socket, which is new on each connection.
// Old ones are deleted later: Pump may be running in one's signal.
void MqttClient::Watch() {
    const int fd = started_ ? mosquitto_socket(mosq_) : -1;
    if (fd != socket_) {
        for (QSocketNotifier* old :
             {std::exchange(reader_, nullptr), std::exchange(writer_, nullptr)}) {
            if (old != nullptr) {
                old->setEnabled(false);
                old->deleteLater();
            }
        }
        socket_ = fd;
        if (fd >= 0) {
            reader_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            connect(reader_, &QSocketNotifier::activated, this, [this] { Pump(true); });
            writer_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
            connect(writer_, &QSocketNotifier::activated, this, [this] { Pump(false); });
        }
    }
    WakeWriter();
}

void MqttClient::WakeWriter() {
    if (writer_ != nullptr)
        writer_->setEnabled(mosquitto_want_write(mosq_));
}

void MqttClient::Failed(const QString& reason) {
    if (!started_ || retryTimer_.isActive())
        return;
    if (reason != lastProblem_)
        emit Logged(QString("MQTT: no connection to %1: %2; trying again in %3 s")
                        .arg(Broker(), reason)
                        .arg(retryDelay_ / 1000));
    lastProblem_ = reason;
    retryTimer_.start(retryDelay_);
    retryDelay_ = std::min(retryDelay_ * 2, kLastRetryMs);
}

void MqttClient::OnConnect(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        // The library drops the connection next; the refusal is the reason.
        client->lastProblem_.clear();
        client->Failed(QString::fromUtf8(mosquitto_connack_string(rc)));
        return;
    }
    client->connected_ = true;
    client->retryDelay_ = kFirstRetryMs;
    client->lastProblem_.clear();
    for (const auto& [topic, qos] : client->subscriptions_)
        mosquitto_subscribe(client->mosq_, nullptr, topic.constData(), qos);
    emit client->Logged("MQTT: connected to " + client->Broker());
    emit client->ConnectedChanged(true);
}

void MqttClient::OnDisconnect(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    const bool was = std::exchange(client->connected_, false);
    if (!client->started_)
        return;
    const QString reason = Reason(rc);
    if (was) {
        emit client->Logged("MQTT: connection to " + client->Broker() + " lost: " + reason);
        client->lastProblem_ = reason;
    }
    client->Failed(reason);
    if (was)
        emit client->ConnectedChanged(false);
}

void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->handler_)
        client->handler_(
            QString::fromUtf8(message->topic),
            QByteArray(static_cast<const char*>(message->payload), message->payloadlen));
}

}  // namespace zelvano::service
