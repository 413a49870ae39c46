// Non-blocking single-byte transfer and the byte trace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/Log.h"

namespace zelvano {

class App;

// 0 when the byte was handed to the port, -1 otherwise (out of range, port error).
std::int16_t SendByte(App& app, std::int16_t value);
// A line that lost its device closed itself and left one message: logs it
// once and shows it to the operator.
void ReportLineFailure(App& app);
// 0..255, or -1 when nothing is waiting or on a port error. Never blocks.
std::int16_t ReceiveByte(App& app);
// Trace lines of a run of reads held back for one file append: draining a
// status block reads a tick's worth of bytes in one tick, and an append per
// byte would take longer than the tick may.
using HeldTrace = std::vector<HeldLine>;
// As ReceiveByte, but at log level 3 the trace line goes into held.
std::int16_t ReceiveByte(App& app, HeldTrace& held);
// Writes the held trace lines, oldest first, and empties held.
void WriteHeldTrace(App& app, HeldTrace& held);
// Discards every byte waiting; port errors are ignored.
void ClearInput(App& app);
// Trace line for one byte; direction 1 = sent, anything else = received.
void TraceByte(App& app, std::int16_t value, std::int16_t direction);
// "[NUL]".."[US]", "[SP]", "[RUB]", or the character itself (as UTF-8).
std::string ControlCharName(std::int16_t value);

}  // namespace zelvano
