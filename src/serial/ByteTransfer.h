// Non-blocking single-byte transfer and the byte trace.
#pragma once

#include <cstdint>
#include <string>

namespace zelvano {

class App;

// 0 when the byte was handed to the port, -1 otherwise (out of range, port error).
std::int16_t SendByte(App& app, std::int16_t value);
// 0..255, or -1 when nothing is waiting or on a port error. Never blocks.
std::int16_t ReceiveByte(App& app);
// Discards every byte waiting; port errors are ignored.
void ClearInput(App& app);
// Trace line for one byte; direction 1 = sent, anything else = received.
void TraceByte(App& app, std::int16_t value, std::int16_t direction);
// "[NUL]".."[US]", "[SP]", "[RUB]", or the character itself (as UTF-8).
std::string ControlCharName(std::int16_t value);

}  // namespace zelvano
