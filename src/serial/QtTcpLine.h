// The line over the network: a serial device server in raw TCP mode, a
// serial-to-network daemon, or a slave that speaks ESPA on a TCP port.
// Connecting runs in the background; until it is done the line is not open.
#pragma once

#include <QTcpSocket>
#include <string>

#include "serial/LineSettings.h"
#include "serial/SerialLine.h"

namespace zelvano {

class QtTcpLine : public SerialLine {
  public:
    QtTcpLine();
    ~QtTcpLine() override;
    QtTcpLine(const QtTcpLine&) = delete;
    QtTcpLine& operator=(const QtTcpLine&) = delete;

    // The "tcp://HOST:PORT" text to connect to; false when it is malformed or
    // while the line is open.
    bool SetDevice(const std::string& device);

    // Raw TCP carries no line settings nor modem lines: they are checked and
    // kept, so the captions and log lines still show them.
    bool SetPortNumber(int number) override { return number >= 1 && number <= 8; }
    bool SetLineSettings(const std::string& settings) override;
    bool SetFlowControl(FlowControl) override { return true; }
    bool SetRts(bool on) override;
    bool Rts() const override { return wantedRts_; }
    bool SetDtr(bool) override { return true; }
    bool SetNullDiscard(bool on) override { return !on; }
    bool SetEofEnable(bool on) override { return !on; }
    bool SetInputLen(int count) override { return count >= 0; }

    // True once connected; before that it starts a connection (when none is
    // under way) and returns false with the reason in LastError.
    bool Open() override;
    bool Close() override;
    bool IsOpen() const override { return Usable(); }
    bool Pending() const override;
    std::string LastError() const override { return lastError_; }

    bool Cts() const override { return false; }
    int BytesWaiting() override;
    bool DiscardInput() override;
    int ReadByte() override;
    bool WriteByte(std::uint8_t byte) override;
    std::string TakeLineFailure() override;

  private:
    bool Usable() const;
    void StartConnecting();
    void OnConnectFailed();
    void OnLost(const std::string& why);

    QTcpSocket socket_;
    std::string device_;
    std::string host_;
    quint16 port_ = 0;
    bool wantedRts_ = false;
    bool opened_ = false;
    bool lost_ = false;
    bool failed_ = false;  // the last attempt or connection failed
    std::string lastError_;
    std::string lineFailure_;
};

}  // namespace zelvano
