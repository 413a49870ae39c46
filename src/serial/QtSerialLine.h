// The serial line over QSerialPort: a real port or a pseudo-terminal, chosen
// by port number through comports.cfg in the data folder.
#pragma once

#include <QSerialPort>
#include <filesystem>
#include <string>

#include "serial/LineSettings.h"
#include "serial/SerialLine.h"

namespace zelvano {

class QtSerialLine : public SerialLine {
  public:
    explicit QtSerialLine(std::filesystem::path dataDir);
    ~QtSerialLine() override;
    QtSerialLine(const QtSerialLine&) = delete;
    QtSerialLine& operator=(const QtSerialLine&) = delete;

    bool SetPortNumber(int number) override;
    // Uses this device whatever the port number (a device named by the user).
    bool SetDevice(const std::string& device);
    bool SetLineSettings(const std::string& settings) override;
    bool SetFlowControl(FlowControl flow) override;
    bool SetRts(bool on) override;
    bool Rts() const override { return wantedRts_; }
    bool SetDtr(bool on) override;
    bool SetNullDiscard(bool on) override;
    bool SetEofEnable(bool on) override;
    bool SetInputLen(int count) override;

    bool Open() override;
    bool Close() override;
    bool IsOpen() const override { return Usable(); }
    std::string LastError() const override { return lastError_; }

    bool Cts() const override;
    int BytesWaiting() override;
    bool DiscardInput() override;
    int ReadByte() override;
    bool WriteByte(std::uint8_t byte) override;
    std::string TakeLineFailure() override;

    // The device the selected port number stands for.
    const std::string& Device() const { return device_; }

  private:
    bool Usable() const { return port_.isOpen() && !lost_; }
    // "Com<n>" while no device is known, else the device.
    std::string Name() const;
    bool ApplyLineSettings();
    void ApplyFlowControl();
    void ApplyControlLines();
    void DescribeOpenFailure();
    void OnError(QSerialPort::SerialPortError error);
    void CloseLostPort();

    std::filesystem::path dataDir_;
    // Mutable: reading CTS is a query for the core but not const in Qt.
    mutable QSerialPort port_;
    int portNumber_ = 0;
    std::string device_;
    LineSettings settings_;
    FlowControl flow_ = FlowControl::None;
    bool wantedRts_ = false;
    bool wantedDtr_ = false;
    // Pseudo-terminals refuse the modem-control calls; stop asking once refused.
    mutable bool modemLinesWork_ = true;
    // The device went away; the port closes at the next turn of the event loop.
    bool lost_ = false;
    // The open device does not block: bytes may go to it directly.
    bool directWrite_ = false;
    std::string lastError_;
    std::string lineFailure_;
};

}  // namespace zelvano
