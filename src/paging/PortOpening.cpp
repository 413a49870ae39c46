// Opening, reopening and closing the port, and the RTS switch.
#include <array>
#include <string_view>

#include "common/Text.h"
#include "paging/PagingCore.h"

namespace zelvano {
namespace {

constexpr std::array<int, 8> kBaudRates = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600};

// The line settings the list positions stand for; an unknown speed is 9600.
LineSettings LineSettingsFor(const Settings& s) {
    const bool known = s.baudRate >= 0 && s.baudRate < static_cast<int>(kBaudRates.size());
    LineSettings line;
    line.baudRate = known ? kBaudRates[static_cast<std::size_t>(s.baudRate)] : 9600;
    line.parity = s.parity == 1   ? ParityMode::Even
                  : s.parity == 2 ? ParityMode::Odd
                                  : ParityMode::None;
    line.dataBits = s.dataBits == 0 ? 7 : 8;
    line.stopBits = s.stopBits == 1 ? StopBitsMode::Two : StopBitsMode::One;
    return line;
}

// The number with a blank in front (a minus sign for a negative one).
std::string BlankedNumber(int n) {
    return n < 0 ? std::to_string(n) : " " + std::to_string(n);
}

// Handshake 0 and 1 run without flow control; every other value means RTS/CTS.
FlowControl FlowForHandshake(std::int16_t handshake) {
    return (handshake == 0 || handshake == 1) ? FlowControl::None : FlowControl::RtsCts;
}

}  // namespace

std::string SettingsString(const Settings& settings) {
    const LineSettings line = LineSettingsFor(settings);
    const char parity = line.parity == ParityMode::Even  ? 'E'
                        : line.parity == ParityMode::Odd ? 'O'
                                                         : 'N';
    return std::to_string(line.baudRate) + ',' + parity + ',' + std::to_string(line.dataBits) +
           (line.stopBits == StopBitsMode::Two ? ",2" : ",1");
}

// Steps before the opening itself; false as soon as one is refused.
bool PagingCore::PreparePort() {
    const Settings& s = settings_;
    // Computed wide so that the largest 16-bit value does not wrap.
    return line_.SetPortNumber(s.comPort + 1) &&
           line_.SetFlowControl(FlowForHandshake(s.handshake)) && line_.SetRts(s.handshake != 0) &&
           line_.SetLineSettings(LineSettingsFor(s)) && line_.SetDtr(false);
}

// Opens the port with the settings in effect. A failure logs the error line
// and the port's reason (device and cause) on a line of its own, so the log
// says why without the serial frame's tool tip; quiet (the line watch's
// retries) logs the reason only when it changed ("Connection refused" after
// "connecting"). On success the caption and the log line.
bool PagingCore::TryOpen(bool quiet) {
    const int portNumber = settings_.comPort + 1;
    if (!PreparePort() || !line_.Open()) {
        const std::string reason = line_.LastError();
        if (!quiet) {
            log_.Write(1, "Error opening ComPort: " + BlankedNumber(portNumber));
            if (!reason.empty())
                log_.Write(1, "Reason: " + reason);
        } else if (!reason.empty() && reason != toldReason_) {
            EndFlapping();
            log_.Write(1, "STATUS: Serial port not available: " + reason);
        }
        toldReason_ = reason;
        Tell([&](PagingEvents& e) { e.PortProblem(reason); });
        return false;
    }
    LineOpened(quiet);
    return true;
}

// The caption and the log lines of a port that opened; quiet: after a retry.
// While the peer drops each connection at once its openings are not logged.
void PagingCore::LineOpened(bool quiet) {
    const Settings& s = settings_;
    const int portNumber = s.comPort + 1;
    const bool logged = flaps_ < 2;
    openTicks_ = 0;
    if (quiet && logged)
        log_.Write(1, "STATUS: Serial port available.");
    const std::string settings = SettingsString(s);
    Tell([&](PagingEvents& e) {
        e.PortOpened("Settings: Com:" + std::to_string(portNumber) + " at " + settings,
                     s.handshake == 0);
        e.PortProblem("");
    });
    if (logged)
        log_.Write(
            1, "Com:" + BlankedNumber(portNumber) + " opened for ESPA emulation with: " + settings);
}

// Closes the port and opens it again with the settings; the port is tried
// again in the background until it opens.
PortOpen PagingCore::Reopen() {
    EndFlapping();
    Stop();
    const bool opened = TryOpen(false);
    lineWanted_ = true;
    retryCountdown_ = kLineRetrySeconds;
    if (!opened)
        return line_.Pending() ? PortOpen::Connecting : PortOpen::Failed;
    engine_.Start(std::exchange(lineDown_, false));
    return PortOpen::Opened;
}

void PagingCore::Stop() {
    if (line_.Close())
        log_.Write(1, "Comport closed by software.");
}

void PagingCore::ToggleRts() {
    if (settings_.handshake != 0) {
        log_.Write(1, "STATUS: Wrong HandShakeType, no manual adjustment possible.");
        return;
    }
    const bool makeActive = !line_.Rts();
    // A refused change is not reported as made.
    if (!line_.SetRts(makeActive))
        return;
    log_.Write(
        1, makeActive ? "STATUS: RTS made ACTIVE (+12V)." : "STATUS: RTS made INACTIVE (-12V).");
}

}  // namespace zelvano
