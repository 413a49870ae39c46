// The line the program uses: the port number picks a device through
// comports.cfg, and the device picks the kind of line, a serial device or
// pseudo-terminal (QSerialPort) or a network port "tcp://HOST:PORT"
// (QTcpSocket). Bytes pass through the one QIODevice in use.
#pragma once

#include <QSerialPort>
#include <QTcpSocket>
#include <filesystem>
#include <string>

#include "serial/SerialLine.h"

namespace zelvano {

class PortLine : public SerialLine {
  public:
    explicit PortLine(std::filesystem::path dataDir);
    ~PortLine() override;
    PortLine(const PortLine&) = delete;
    PortLine& operator=(const PortLine&) = delete;

    // Every port number stands for this device from now on (a command line
    // that names its device); empty goes back to comports.cfg.
    void PinDevice(std::string device) { pinned_ = std::move(device); }
    // The device of the last port number chosen.
    const std::string& Device() const { return device_; }

    bool SetPortNumber(int number) override;
    // A network port carries no line settings nor modem lines: they are kept
    // only, so the captions and log lines still show them.
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetFlowControl(FlowControl flow) override;
    bool SetRts(bool on) override;
    bool Rts() const override { return wantedRts_; }
    bool SetDtr(bool on) override;

    // A network port is open once connected; before that Open starts a
    // connection (when none is under way) and returns false with the reason.
    bool Open() override;
    bool Close() override;
    bool IsOpen() const override { return Usable(); }
    bool Pending() const override;
    std::string LastError() const override { return lastError_; }
    bool Refused() const override;

    bool Cts() const override;
    int BytesWaiting() override;
    bool DiscardInput() override;
    int ReadByte() override;
    bool WriteByte(std::uint8_t byte) override;
    std::string TakeLineFailure() override;

  private:
    bool Usable() const;
    // "Com<n>" while no device is known, else the device.
    std::string Name() const;
    QIODevice& Io() { return tcp_ ? static_cast<QIODevice&>(socket_) : serial_; }
    // Closes the device at once, whatever its kind.
    void CloseDevice();
    void Lose(std::string failure);
    bool SetTcpTarget();
    bool OpenSerial();
    bool OpenSocket();
    void DescribeOpenFailure();
    bool ApplyLineSettings();
    void ApplyFlowControl();
    void ApplyControlLines();
    void OnSerialError(QSerialPort::SerialPortError error);
    void OnSocketError();

    std::filesystem::path dataDir_;
    std::string pinned_;
    std::string device_;
    int portNumber_ = 0;
    bool tcp_ = false;
    // Mutable: reading CTS is a query for the core but not const in Qt.
    mutable QSerialPort serial_;
    QTcpSocket socket_;
    std::string host_;
    quint16 tcpPort_ = 0;
    LineSettings settings_;
    FlowControl flow_ = FlowControl::None;
    bool wantedRts_ = false;
    bool wantedDtr_ = false;
    // Pseudo-terminals refuse the modem-control calls; stop asking once refused.
    mutable bool modemLinesWork_ = true;
    bool opened_ = false;
    // The device went away; it closes at the next turn of the event loop.
    bool lost_ = false;
    bool failed_ = false;  // the last network attempt or connection failed
    QAbstractSocket::SocketError attemptError_ = QAbstractSocket::UnknownSocketError;
    std::string lastError_;
    std::string lineFailure_;
};

}  // namespace zelvano
