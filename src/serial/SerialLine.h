// The serial port as the core sees it. Every failure comes back as a result;
// nothing here throws or waits.
#pragma once

#include <cstdint>
#include <string>

#include "serial/LineSettings.h"

namespace zelvano {

enum class FlowControl { None, RtsCts };

class SerialLine {
  public:
    virtual ~SerialLine() = default;

    // Port number 1..8; false when the number cannot be selected.
    virtual bool SetPortNumber(int number) = 0;
    virtual bool SetLineSettings(const LineSettings& settings) = 0;
    virtual bool SetFlowControl(FlowControl flow) = 0;
    // RTS may be set while closed or under RTS/CTS flow control: the wanted
    // state is kept and applied when the port allows it.
    virtual bool SetRts(bool on) = 0;
    // The RTS state the program drives (its own setting).
    virtual bool Rts() const = 0;
    virtual bool SetDtr(bool on) = 0;

    virtual bool Open() = 0;
    virtual bool Close() = 0;
    virtual bool IsOpen() const = 0;
    // True while an Open that failed is still being worked on in the
    // background (a network connection under way): a later Open may succeed.
    virtual bool Pending() const { return false; }
    // Why the last Open failed (device and reason), for the operator.
    virtual std::string LastError() const = 0;
    // True when the last Open failed for a reason that trying again soon will
    // not cure: a network port refused the connection or its host is unknown.
    virtual bool Refused() const { return false; }

    // CTS line; off while closed or when the device cannot report it.
    virtual bool Cts() const = 0;
    // Bytes waiting to be read; -1 on a port error or while closed.
    virtual int BytesWaiting() = 0;
    // Discards every byte waiting; false on a port error.
    virtual bool DiscardInput() = 0;
    // One byte 0..255, or -1 when none is waiting or on a port error.
    virtual int ReadByte() = 0;
    // Queues one byte; false on a port error or while closed.
    virtual bool WriteByte(std::uint8_t byte) = 0;

    // The device was lost while open (unplugged adapter, far end of a
    // pseudo-terminal gone): the line closed itself and keeps one message
    // (device and reason) until it is taken here; empty when nothing happened.
    virtual std::string TakeLineFailure() { return {}; }
};

}  // namespace zelvano
