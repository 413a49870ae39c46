#include "serial/QtSerialLine.h"

#include <QMetaObject>
#include <climits>
#include <filesystem>
#include <utility>

#include "serial/PortMap.h"
#include "serial/PortProblem.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zelvano {
namespace {

QSerialPort::Parity ToQt(ParityMode parity) {
    switch (parity) {
        case ParityMode::Even:
            return QSerialPort::EvenParity;
        case ParityMode::Odd:
            return QSerialPort::OddParity;
        case ParityMode::Mark:
            return QSerialPort::MarkParity;
        case ParityMode::Space:
            return QSerialPort::SpaceParity;
        case ParityMode::None:
            break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits ToQt(StopBitsMode stopBits) {
    switch (stopBits) {
        case StopBitsMode::OneAndHalf:
            return QSerialPort::OneAndHalfStop;
        case StopBitsMode::Two:
            return QSerialPort::TwoStop;
        case StopBitsMode::One:
            break;
    }
    return QSerialPort::OneStop;
}

QSerialPort::FlowControl ToQt(FlowControl flow) {
    return flow == FlowControl::RtsCts ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl;
}

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

QtSerialLine::QtSerialLine(std::filesystem::path dataDir) : dataDir_(std::move(dataDir)) {
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialLine::~QtSerialLine() {
    if (port_.isOpen())
        port_.close();
}

std::string QtSerialLine::Name() const {
    return device_.empty() ? "Com" + std::to_string(portNumber_) : device_;
}

bool QtSerialLine::SetPortNumber(int number) {
    portNumber_ = number;
    const std::string device = DeviceForPort(dataDir_, number);
    if (device.empty()) {
        device_.clear();
        lastError_ = DescribePortProblem(Name(), PortProblem::NoSuchPortNumber, "");
        return false;
    }
    return SetDevice(device);
}

bool QtSerialLine::SetDevice(const std::string& device) {
    // Another device cannot be chosen while one is open.
    if (port_.isOpen() && device != device_) {
        lastError_ = DescribePortProblem(device_, PortProblem::Other, "already open");
        return false;
    }
    device_ = device;
    port_.setPortName(QString::fromStdString(device_));
    return true;
}

bool QtSerialLine::SetLineSettings(const std::string& settings) {
    const auto parsed = ParseLineSettings(settings);
    if (!parsed) {
        lastError_ = DescribePortProblem(Name(), PortProblem::BadLineSettings, settings);
        return false;
    }
    settings_ = *parsed;
    if (ApplyLineSettings())
        return true;
    lastError_ = DescribePortProblem(Name(), PortProblem::BadLineSettings,
                                     port_.errorString().toStdString());
    port_.clearError();
    return false;
}

bool QtSerialLine::ApplyLineSettings() {
    // Before opening these are only stored; an open port applies them at once.
    return port_.setBaudRate(settings_.baudRate) &&
           port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits)) &&
           port_.setParity(ToQt(settings_.parity)) && port_.setStopBits(ToQt(settings_.stopBits));
}

bool QtSerialLine::SetFlowControl(FlowControl flow) {
    flow_ = flow;
    ApplyFlowControl();
    return true;
}

void QtSerialLine::ApplyFlowControl() {
    port_.setFlowControl(ToQt(flow_));
    port_.clearError();
    // Leaving hardware flow control hands RTS back to the program.
    if (Usable())
        ApplyControlLines();
}

bool QtSerialLine::SetRts(bool on) {
    wantedRts_ = on;
    if (Usable())
        ApplyControlLines();
    return true;
}

bool QtSerialLine::SetDtr(bool on) {
    wantedDtr_ = on;
    if (Usable())
        ApplyControlLines();
    return true;
}

void QtSerialLine::ApplyControlLines() {
    // Refusals are expected: pseudo-terminals have no modem lines, and under
    // hardware flow control the driver owns RTS. The wanted state is kept.
    port_.setDataTerminalReady(wantedDtr_);
    if (flow_ == FlowControl::None)
        port_.setRequestToSend(wantedRts_);
    port_.clearError();
}

// QSerialPort never drops NUL bytes nor treats any byte as end of file, so
// only "off" can be honoured.
bool QtSerialLine::SetNullDiscard(bool on) {
    return !on;
}
bool QtSerialLine::SetEofEnable(bool on) {
    return !on;
}

// ReadByte always takes one byte; any count is accepted for the caller's sake.
bool QtSerialLine::SetInputLen(int count) {
    return count >= 0;
}

bool QtSerialLine::Open() {
    if (device_.empty()) {
        lastError_ = DescribePortProblem(Name(), PortProblem::NoSuchPortNumber, "");
        return false;
    }
    if (port_.isOpen() && lost_)
        CloseLostPort();  // the lost device came back before its close ran
    if (port_.isOpen()) {
        lastError_ = DescribePortProblem(Name(), PortProblem::Other, "already open");
        return false;
    }
    ApplyLineSettings();
    port_.setFlowControl(ToQt(flow_));
    port_.clearError();
    if (!port_.open(QIODevice::ReadWrite)) {
        DescribeOpenFailure();
        port_.clearError();
        return false;
    }
    lost_ = false;
#ifndef _WIN32
    const int flags = ::fcntl(port_.handle(), F_GETFL);
    directWrite_ = flags >= 0 && (flags & O_NONBLOCK) != 0;
#endif
    lineFailure_.clear();
    modemLinesWork_ = true;
    lastError_.clear();
    ApplyControlLines();
    return true;
}

void QtSerialLine::DescribeOpenFailure() {
    const std::string detail = port_.errorString().toStdString();
    std::error_code ec;
    PortProblem problem = PortProblem::Other;
    if (port_.error() == QSerialPort::DeviceNotFoundError ||
        !std::filesystem::exists(device_, ec)) {
        problem = PortProblem::NotFound;
    } else if (AccessDenied(device_)) {
        problem = PortProblem::NoPermission;
    } else if (port_.error() == QSerialPort::PermissionError) {
        // The device may be used, so the refusal is a lock held by another program.
        problem = PortProblem::InUse;
    }
    lastError_ = DescribePortProblem(device_, problem, detail);
}

bool QtSerialLine::Close() {
    lost_ = false;
    if (port_.isOpen())
        port_.close();
    port_.clearError();
    return true;
}

bool QtSerialLine::Cts() const {
    if (!Usable() || !modemLinesWork_)
        return false;
    ClearErrorIfAny(port_);
    const auto pins = port_.pinoutSignals();
    if (port_.error() != QSerialPort::NoError) {
        modemLinesWork_ = false;
        port_.clearError();
        return false;
    }
    return (pins & QSerialPort::ClearToSendSignal) != 0;
}

int QtSerialLine::BytesWaiting() {
    if (!Usable())
        return -1;
    const qint64 waiting = port_.bytesAvailable();
    return waiting > INT_MAX ? INT_MAX : static_cast<int>(waiting);
}

bool QtSerialLine::DiscardInput() {
    if (!Usable())
        return false;
    const bool ok = port_.clear(QSerialPort::Input);
    ClearErrorIfAny(port_);
    return ok;
}

int QtSerialLine::ReadByte() {
    if (!Usable() || port_.bytesAvailable() <= 0)
        return -1;
    char c = 0;
    if (port_.read(&c, 1) != 1)
        return -1;
    return static_cast<unsigned char>(c);
}

bool QtSerialLine::WriteByte(std::uint8_t byte) {
    if (!Usable())
        return false;
    const char c = static_cast<char>(byte);
#ifndef _WIN32
    // Straight to the device while nothing waits in the port's own buffer:
    // QSerialPort queues a write and switches its write notifier on and off
    // for it, more turns of the event loop than the byte itself. A full
    // device buffer or an error leaves the byte to QSerialPort, which queues
    // it or reports the error as it always did.
    if (directWrite_ && port_.bytesToWrite() == 0) {
        ssize_t written = 0;
        do {
            written = ::write(port_.handle(), &c, 1);
        } while (written < 0 && errno == EINTR);
        if (written == 1)
            return true;
    }
#endif
    return port_.write(&c, 1) == 1;
}

std::string QtSerialLine::TakeLineFailure() {
    return std::exchange(lineFailure_, {});
}

void QtSerialLine::OnError(QSerialPort::SerialPortError error) {
    if (!IsLineLost(error) || !port_.isOpen() || lost_)
        return;
    // The read notifier keeps firing on a dead device: stop using the port now
    // and close it once QSerialPort has left its own handler.
    lost_ = true;
    // A read that ends at a hang-up carries a stale system message: leave it out.
    const std::string detail =
        error == QSerialPort::ReadError ? std::string() : port_.errorString().toStdString();
    lineFailure_ = DescribePortProblem(device_, PortProblem::Lost, detail);
    QMetaObject::invokeMethod(
        &port_, [this] { CloseLostPort(); }, Qt::QueuedConnection);
}

void QtSerialLine::CloseLostPort() {
    if (!lost_)
        return;  // closed and perhaps reopened in the meantime
    port_.close();
    port_.clearError();
}

}  // namespace zelvano
