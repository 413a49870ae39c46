// Non-blocking single-byte transfer over the line, with the byte trace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "log/Log.h"
#include "serial/SerialLine.h"

namespace zelvano {

// Bytes went out or came in since the lights last looked.
struct LineActivity {
    bool sent = false;
    bool received = false;
};

// Trace lines of a run of reads held back for one file append: draining a
// status block reads a tick's worth of bytes in one tick, and an append per
// byte would take longer than the tick may.
using HeldTrace = std::vector<HeldLine>;

namespace test {
struct CoreAccess;
}

class ByteLink {
  public:
    // Told the device's message (device and reason) when the line was lost;
    // false when the loss is not to be logged (it is counted elsewhere).
    using LostListener = std::function<bool(const std::string&)>;

    ByteLink(SerialLine& line, EventLog& log) : line_(line), log_(log) {}

    void SetLostListener(LostListener listener) { lost_ = std::move(listener); }
    SerialLine& Line() { return line_; }

    // True when the byte 0..255 was handed to the line.
    bool Send(int value);
    // 0..255, or -1 when nothing is waiting or on a line error. Never blocks.
    int Receive() { return ReceiveOne(nullptr); }
    // As Receive, but at the trace level the trace line goes into held.
    int Receive(HeldTrace& held) { return ReceiveOne(&held); }
    // Writes the held trace lines, oldest first, and empties held.
    void WriteHeld(HeldTrace& held);
    // Discards every byte waiting; line errors are reported, not returned.
    void ClearInput();
    // A line that lost its device closed itself and left one message: logs it
    // once and tells the listener.
    void ReportLost();
    // What happened since the last call, and forgets it.
    LineActivity TakeActivity() { return std::exchange(activity_, {}); }

  private:
    friend struct test::CoreAccess;
    int ReceiveOne(HeldTrace* held);

    SerialLine& line_;
    EventLog& log_;
    LostListener lost_;
    LineActivity activity_;
};

// "[NUL]".."[US]", "[SP]", "[RUB]", or the character itself (as UTF-8).
std::string ControlCharName(int value);

}  // namespace zelvano
