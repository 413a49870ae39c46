#include "serial/QtTcpLine.h"

#include <QMetaObject>
#include <climits>
#include <utility>

#include "serial/PortMap.h"
#include "serial/PortProblem.h"

namespace zelvano {
namespace {

// A slave that floods the line fills this much and is then held back by TCP
// itself; the engine reads a few bytes per tick.
constexpr qint64 kReadBufferBytes = 64 * 1024;

}  // namespace

QtTcpLine::QtTcpLine() {
    socket_.setReadBufferSize(kReadBufferBytes);
    QObject::connect(&socket_, &QTcpSocket::connected, &socket_, [this] {
        // A dead switch or device server is noticed by the system's keepalive;
        // bytes go out at once, never held back for a bigger packet.
        socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        lastError_ = DescribePortProblem(device_, PortProblem::Other, "connected, not yet opened");
    });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_,
                     [this](QAbstractSocket::SocketError) {
                         if (opened_)
                             OnLost(socket_.errorString().toStdString());
                         else
                             OnConnectFailed();
                     });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] {
        if (opened_)
            OnLost("connection closed by the far end");
    });
}

QtTcpLine::~QtTcpLine() {
    socket_.abort();
}

bool QtTcpLine::SetDevice(const std::string& device) {
    if (opened_ && !lost_ && device == device_)
        return true;
    if (opened_ && !lost_) {
        lastError_ = DescribePortProblem(device_, PortProblem::Other, "already open");
        return false;
    }
    device_ = device;
    const auto target = ParseTcpTarget(device);
    if (!target) {
        host_.clear();
        lastError_ = DescribePortProblem(
            device, PortProblem::Other,
            "not a network port (write tcp://HOST:PORT, an IPv6 HOST in brackets)");
        return false;
    }
    if (target->host != host_ || target->port != port_) {
        socket_.abort();
        failed_ = false;
    }
    host_ = target->host;
    port_ = target->port;
    return true;
}

bool QtTcpLine::SetLineSettings(const std::string& settings) {
    if (ParseLineSettings(settings))
        return true;
    lastError_ = DescribePortProblem(device_, PortProblem::BadLineSettings, settings);
    return false;
}

bool QtTcpLine::SetRts(bool on) {
    wantedRts_ = on;
    return true;
}

bool QtTcpLine::Usable() const {
    return opened_ && !lost_ && socket_.state() == QAbstractSocket::ConnectedState;
}

bool QtTcpLine::Pending() const {
    return !opened_ && socket_.state() != QAbstractSocket::UnconnectedState;
}

bool QtTcpLine::Open() {
    if (host_.empty()) {
        if (lastError_.empty())
            lastError_ = DescribePortProblem(device_, PortProblem::NotFound, "");
        return false;
    }
    if (Usable()) {
        lastError_ = DescribePortProblem(device_, PortProblem::Other, "already open");
        return false;
    }
    if (lost_) {
        socket_.abort();
        lost_ = false;
        opened_ = false;
    }
    if (socket_.state() == QAbstractSocket::ConnectedState) {
        opened_ = true;
        failed_ = false;
        lineFailure_.clear();
        lastError_.clear();
        socket_.readAll();  // nothing from before the opening counts
        return true;
    }
    if (socket_.state() == QAbstractSocket::UnconnectedState)
        StartConnecting();
    return false;
}

void QtTcpLine::StartConnecting() {
    // Until an attempt ends, the reason shown is the last one known.
    if (!failed_)
        lastError_ = DescribePortProblem(device_, PortProblem::Other, "connecting");
    // Host lookup and connection both run in the background.
    socket_.connectToHost(QString::fromStdString(host_), port_);
}

void QtTcpLine::OnConnectFailed() {
    failed_ = true;
    lastError_ =
        DescribePortProblem(device_, PortProblem::Other, socket_.errorString().toStdString());
}

void QtTcpLine::OnLost(const std::string& why) {
    if (lost_)
        return;
    lost_ = true;
    failed_ = true;
    lineFailure_ = DescribePortProblem(device_, PortProblem::Other, "connection lost: " + why);
    lastError_ = lineFailure_;
    // Not aborted here: this runs inside the socket's own signal.
    QMetaObject::invokeMethod(
        &socket_,
        [this] {
            if (lost_)
                socket_.abort();
        },
        Qt::QueuedConnection);
}

bool QtTcpLine::Close() {
    opened_ = false;
    lost_ = false;
    socket_.abort();
    return true;
}

int QtTcpLine::BytesWaiting() {
    if (!Usable())
        return -1;
    const qint64 waiting = socket_.bytesAvailable();
    return waiting > INT_MAX ? INT_MAX : static_cast<int>(waiting);
}

bool QtTcpLine::DiscardInput() {
    if (!Usable())
        return false;
    socket_.readAll();
    return true;
}

int QtTcpLine::ReadByte() {
    if (!Usable() || socket_.bytesAvailable() <= 0)
        return -1;
    char c = 0;
    if (socket_.read(&c, 1) != 1)
        return -1;
    return static_cast<unsigned char>(c);
}

bool QtTcpLine::WriteByte(std::uint8_t byte) {
    if (!Usable())
        return false;
    const char c = static_cast<char>(byte);
    return socket_.write(&c, 1) == 1;
}

std::string QtTcpLine::TakeLineFailure() {
    return std::exchange(lineFailure_, {});
}

}  // namespace zelvano
