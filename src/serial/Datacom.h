// Port setup and the control lines.
#pragma once

#include <cstdint>
#include <string>

namespace zelvano {

class App;

// "9600,N,8,1" style line settings from the four list positions.
std::string SettingsString(std::int16_t baudRate, std::int16_t parity, std::int16_t bits,
                           std::int16_t stopBits);

// 1 when the port is open, -1 on failure.
std::int16_t OpenComPort(App& app, std::int16_t compoort, std::int16_t baudRate,
                         std::int16_t parity, std::int16_t bits, std::int16_t stopBits,
                         std::int16_t handShake);
// Opens the port again with the settings in effect, quietly: a failure only
// updates the reason shown to the operator. On success logs that the port is
// available, then the usual opening line. True when open.
bool RetryComPort(App& app);
void CloseComPort(App& app);
// 1 on, -1 off.
std::int16_t CtsState(App& app);
std::int16_t RtsState(App& app);
// Manual RTS toggle (click on the "RTS" label).
void LabLinkStatus_Click(App& app);

}  // namespace zelvano
