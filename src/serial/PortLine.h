// The line the program uses: the port number picks a device through
// comports.cfg, and the device picks the kind of line, a serial device or a
// network port ("tcp://HOST:PORT").
#pragma once

#include <filesystem>
#include <string>

#include "serial/QtSerialLine.h"
#include "serial/QtTcpLine.h"

namespace zelvano {

class PortLine : public SerialLine {
  public:
    explicit PortLine(std::filesystem::path dataDir);

    // Every port number stands for this device from now on (a command line
    // that names its device); empty goes back to comports.cfg.
    void PinDevice(std::string device) { pinned_ = std::move(device); }
    // The device of the last port number chosen.
    const std::string& Device() const { return device_; }

    bool SetPortNumber(int number) override;
    bool SetLineSettings(const std::string& s) override { return Active().SetLineSettings(s); }
    bool SetFlowControl(FlowControl f) override { return Active().SetFlowControl(f); }
    bool SetRts(bool on) override { return Active().SetRts(on); }
    bool Rts() const override { return Active().Rts(); }
    bool SetDtr(bool on) override { return Active().SetDtr(on); }
    bool SetNullDiscard(bool on) override { return Active().SetNullDiscard(on); }
    bool SetEofEnable(bool on) override { return Active().SetEofEnable(on); }
    bool SetInputLen(int count) override { return Active().SetInputLen(count); }
    bool Open() override { return Active().Open(); }
    bool Close() override { return Active().Close(); }
    bool IsOpen() const override { return Active().IsOpen(); }
    bool Pending() const override { return Active().Pending(); }
    std::string LastError() const override { return Active().LastError(); }
    bool Cts() const override { return Active().Cts(); }
    int BytesWaiting() override { return Active().BytesWaiting(); }
    bool DiscardInput() override { return Active().DiscardInput(); }
    int ReadByte() override { return Active().ReadByte(); }
    bool WriteByte(std::uint8_t byte) override { return Active().WriteByte(byte); }
    std::string TakeLineFailure() override { return Active().TakeLineFailure(); }

  private:
    SerialLine& Active() { return tcp_active_ ? static_cast<SerialLine&>(tcp_) : serial_; }
    const SerialLine& Active() const {
        return tcp_active_ ? static_cast<const SerialLine&>(tcp_) : serial_;
    }

    std::filesystem::path dataDir_;
    std::string pinned_;
    std::string device_;
    QtSerialLine serial_;
    QtTcpLine tcp_;
    bool tcp_active_ = false;
};

}  // namespace zelvano
