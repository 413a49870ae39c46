#include "serial/PortLine.h"

#include <QMetaObject>
#include <algorithm>
#include <climits>
#include <utility>

#include "serial/PortMap.h"
#include "serial/PortProblem.h"

#ifndef _WIN32
#include <unistd.h>

#include <cerrno>
#endif

namespace zelvano {
namespace {

// A slave that floods the network line fills this much and is then held back
// by TCP itself; the engine reads a few bytes per tick.
constexpr qint64 kReadBufferBytes = 64 * 1024;

// True when the device exists but this user may not read and write it.
bool AccessDenied(const std::string& device) {
#ifdef _WIN32
    (void)device;
    return false;
#else
    return ::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
#endif
}

// Clears the port's error only when it holds one: clearing sends a signal,
// and the engine asks for CTS ten times a second.
void ClearErrorIfAny(QSerialPort& port) {
    if (port.error() != QSerialPort::NoError)
        port.clearError();
}

// Errors after which the device is gone: reads and writes fail for good.
bool IsLineLost(QSerialPort::SerialPortError error) {
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError;
}

}  // namespace

PortLine::PortLine(std::filesystem::path dataDir) : dataDir_(std::move(dataDir)) {
    QObject::connect(&serial_, &QSerialPort::errorOccurred, &serial_,
                     [this](QSerialPort::SerialPortError error) { OnSerialError(error); });
    socket_.setReadBufferSize(kReadBufferBytes);
    QObject::connect(&socket_, &QTcpSocket::connected, &socket_, [this] {
        // A dead switch or device server is noticed by the system's keepalive;
        // bytes go out at once, never held back for a bigger packet.
        socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        lastError_ = DescribePortProblem(device_, PortProblem::Other, "connected, not yet opened");
    });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_, [this] { OnSocketError(); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] {
        if (opened_)
            Lose(DescribePortProblem(device_, PortProblem::Other,
                                     "connection lost: connection closed by the far end"));
    });
}

PortLine::~PortLine() {
    Close();
}

std::string PortLine::Name() const {
    return device_.empty() ? "Com" + std::to_string(portNumber_) : device_;
}

bool PortLine::Usable() const {
    return opened_ && !lost_ && (!tcp_ || socket_.state() == QAbstractSocket::ConnectedState);
}

bool PortLine::SetPortNumber(int number) {
    std::string mapProblem;
    const std::string device =
        pinned_.empty() ? DeviceForPort(dataDir_, number, &mapProblem) : pinned_;
    const bool tcp = IsTcpDevice(device);
    // Never two lines open: leaving one kind of line closes it.
    if (tcp != tcp_) {
        Close();
        host_.clear();
    }
    tcp_ = tcp;
    portNumber_ = number;
    if (number < kFirstPortNumber || number > kLastPortNumber) {
        device_.clear();
        lastError_ = DescribePortProblem(Name(), PortProblem::NoSuchPortNumber, "");
        return false;
    }
    if (!mapProblem.empty()) {
        device_.clear();
        lastError_ = DescribePortProblem(Name(), PortProblem::Other, mapProblem);
        return false;
    }
    // Another device cannot be chosen while one is open.
    if (Usable() && device != device_) {
        lastError_ = DescribePortProblem(device_, PortProblem::Other, "already open");
        return false;
    }
    device_ = device;
    if (tcp_)
        return SetTcpTarget();
    serial_.setPortName(QString::fromStdString(device_));
    return true;
}

bool PortLine::SetTcpTarget() {
    const auto target = ParseTcpTarget(device_);
    if (!target) {
        host_.clear();
        lastError_ = DescribePortProblem(
            device_, PortProblem::Other,
            "not a network port (write tcp://HOST:PORT, an IPv6 HOST in brackets)");
        return false;
    }
    if (target->host != host_ || target->port != tcpPort_) {
        socket_.abort();
        failed_ = false;
    }
    host_ = target->host;
    tcpPort_ = target->port;
    return true;
}

bool PortLine::SetLineSettings(const LineSettings& settings) {
    settings_ = settings;
    if (tcp_ || ApplyLineSettings())
        return true;
    lastError_ = DescribePortProblem(Name(), PortProblem::BadLineSettings,
                                     serial_.errorString().toStdString());
    serial_.clearError();
    return false;
}

bool PortLine::ApplyLineSettings() {
    // In the order of ParityMode and StopBitsMode.
    constexpr QSerialPort::Parity kParity[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                               QSerialPort::OddParity, QSerialPort::MarkParity,
                                               QSerialPort::SpaceParity};
    constexpr QSerialPort::StopBits kStopBits[] = {
        QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop};
    // Before opening these are only stored; an open port applies them at once.
    return serial_.setBaudRate(settings_.baudRate) &&
           serial_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits)) &&
           serial_.setParity(kParity[static_cast<int>(settings_.parity)]) &&
           serial_.setStopBits(kStopBits[static_cast<int>(settings_.stopBits)]);
}

void PortLine::ApplyFlowControl() {
    serial_.setFlowControl(flow_ == FlowControl::RtsCts ? QSerialPort::HardwareControl
                                                        : QSerialPort::NoFlowControl);
    serial_.clearError();
}

bool PortLine::SetFlowControl(FlowControl flow) {
    flow_ = flow;
    if (tcp_)
        return true;
    ApplyFlowControl();
    // Leaving hardware flow control hands RTS back to the program.
    if (Usable())
        ApplyControlLines();
    return true;
}

bool PortLine::SetRts(bool on) {
    wantedRts_ = on;
    if (!tcp_ && Usable())
        ApplyControlLines();
    return true;
}

bool PortLine::SetDtr(bool on) {
    wantedDtr_ = on;
    if (!tcp_ && Usable())
        ApplyControlLines();
    return true;
}

void PortLine::ApplyControlLines() {
    // Refusals are expected: pseudo-terminals have no modem lines, and under
    // hardware flow control the driver owns RTS. The wanted state is kept.
    serial_.setDataTerminalReady(wantedDtr_);
    if (flow_ == FlowControl::None)
        serial_.setRequestToSend(wantedRts_);
    serial_.clearError();
}

bool PortLine::Open() {
    if (device_.empty()) {
        lastError_ = DescribePortProblem(Name(), PortProblem::NoSuchPortNumber, "");
        return false;
    }
    if (tcp_ && host_.empty())
        return false;  // SetPortNumber said why
    if (lost_)
        Close();  // the lost device came back before its close ran
    if (Usable()) {
        lastError_ = DescribePortProblem(device_, PortProblem::Other, "already open");
        return false;
    }
    if (!(tcp_ ? OpenSocket() : OpenSerial()))
        return false;
    opened_ = true;
    lineFailure_.clear();
    lastError_.clear();
    if (!tcp_) {
        modemLinesWork_ = true;
        ApplyControlLines();
    }
    return true;
}

bool PortLine::OpenSerial() {
    ApplyLineSettings();
    ApplyFlowControl();
    if (serial_.open(QIODevice::ReadWrite))
        return true;
    DescribeOpenFailure();
    serial_.clearError();
    return false;
}

void PortLine::DescribeOpenFailure() {
    const std::string detail = serial_.errorString().toStdString();
    std::error_code ec;
    PortProblem problem = PortProblem::Other;
    if (serial_.error() == QSerialPort::DeviceNotFoundError ||
        !std::filesystem::exists(device_, ec)) {
        problem = PortProblem::NotFound;
    } else if (AccessDenied(device_)) {
        problem = PortProblem::NoPermission;
    } else if (serial_.error() == QSerialPort::PermissionError) {
        // The device may be used, so the refusal is a lock held by another program.
        problem = PortProblem::InUse;
    }
    lastError_ = DescribePortProblem(device_, problem, detail);
}

bool PortLine::OpenSocket() {
    if (socket_.state() == QAbstractSocket::ConnectedState) {
        failed_ = false;
        socket_.readAll();  // nothing from before the opening counts
        return true;
    }
    if (socket_.state() == QAbstractSocket::UnconnectedState) {
        // Until an attempt ends, the reason shown is the last one known.
        if (!failed_)
            lastError_ = DescribePortProblem(device_, PortProblem::Other, "connecting");
        // Host lookup and connection both run in the background.
        socket_.connectToHost(QString::fromStdString(host_), tcpPort_);
    }
    return false;
}

bool PortLine::Pending() const {
    // The socket is idle whenever the line is a serial one.
    return !opened_ && socket_.state() != QAbstractSocket::UnconnectedState;
}

bool PortLine::Close() {
    opened_ = false;
    lost_ = false;
    CloseDevice();
    return true;
}

void PortLine::CloseDevice() {
    if (tcp_) {
        socket_.abort();
        return;
    }
    if (serial_.isOpen())
        serial_.close();
    serial_.clearError();
}

void PortLine::OnSerialError(QSerialPort::SerialPortError error) {
    if (!IsLineLost(error) || !serial_.isOpen())
        return;
    // A read that ends at a hang-up carries a stale system message: leave it out.
    const std::string detail =
        error == QSerialPort::ReadError ? std::string() : serial_.errorString().toStdString();
    Lose(DescribePortProblem(device_, PortProblem::Lost, detail));
}

void PortLine::OnSocketError() {
    const std::string why = socket_.errorString().toStdString();
    if (opened_) {
        Lose(DescribePortProblem(device_, PortProblem::Other, "connection lost: " + why));
        return;
    }
    failed_ = true;
    attemptError_ = socket_.error();
    lastError_ = DescribePortProblem(device_, PortProblem::Other, why);
}

bool PortLine::Refused() const {
    return tcp_ && failed_ && !opened_ &&
           (attemptError_ == QAbstractSocket::ConnectionRefusedError ||
            attemptError_ == QAbstractSocket::HostNotFoundError);
}

void PortLine::Lose(std::string failure) {
    if (lost_)
        return;
    // The device is not used from now on (a dead serial device keeps firing its
    // read notifier); it closes once the device has left its own signal.
    lost_ = true;
    failed_ = true;
    attemptError_ = QAbstractSocket::UnknownSocketError;
    lastError_ = failure;
    lineFailure_ = std::move(failure);
    QMetaObject::invokeMethod(
        &Io(),
        [this] {
            if (lost_)
                CloseDevice();
        },
        Qt::QueuedConnection);
}

std::string PortLine::TakeLineFailure() {
    return std::exchange(lineFailure_, {});
}

bool PortLine::Cts() const {
    if (tcp_ || !Usable() || !modemLinesWork_)
        return false;
    ClearErrorIfAny(serial_);
    const auto pins = serial_.pinoutSignals();
    if (serial_.error() != QSerialPort::NoError) {
        modemLinesWork_ = false;
        serial_.clearError();
        return false;
    }
    return (pins & QSerialPort::ClearToSendSignal) != 0;
}

int PortLine::BytesWaiting() {
    if (!Usable())
        return -1;
    return static_cast<int>(std::min<qint64>(Io().bytesAvailable(), INT_MAX));
}

bool PortLine::DiscardInput() {
    if (!Usable())
        return false;
    if (tcp_) {
        socket_.readAll();
        return true;
    }
    // Also what the system holds, not yet read by QSerialPort.
    const bool ok = serial_.clear(QSerialPort::Input);
    ClearErrorIfAny(serial_);
    return ok;
}

int PortLine::ReadByte() {
    char c = 0;
    if (!Usable() || Io().bytesAvailable() <= 0 || !Io().getChar(&c))
        return -1;
    return static_cast<unsigned char>(c);
}

bool PortLine::WriteByte(std::uint8_t byte) {
    return Usable() && Io().putChar(static_cast<char>(byte));
}

}  // namespace zelvano
