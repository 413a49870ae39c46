// Opening, reopening and closing the port, and the RTS switch.
#include <array>
#include <string_view>

#include "common/Text.h"
#include "paging/PagingCore.h"

namespace zelvano {
namespace {

constexpr std::array<std::string_view, 8> kBaudRates = {"300",  "1200",  "2400",  "4800",
                                                        "9600", "19200", "38400", "57600"};

std::string_view BaudRateText(std::int16_t index) {
    if (index < 0 || index >= static_cast<std::int16_t>(kBaudRates.size()))
        return "9600";
    return kBaudRates[static_cast<std::size_t>(index)];
}

std::string_view ParityText(std::int16_t index) {
    if (index == 1)
        return "E";
    if (index == 2)
        return "O";
    return "N";
}

std::string_view BitsText(std::int16_t index) {
    return index == 0 ? "7" : "8";
}

std::string_view StopBitsText(std::int16_t index) {
    return index == 1 ? "2" : "1";
}

// The number with a blank in front (a minus sign for a negative one).
std::string BlankedNumber(int n) {
    return n < 0 ? std::to_string(n) : " " + std::to_string(n);
}

// Handshake 0 and 1 run without flow control; every other value means RTS/CTS.
FlowControl FlowForHandShake(std::int16_t handShake) {
    return (handShake == 0 || handShake == 1) ? FlowControl::None : FlowControl::RtsCts;
}

}  // namespace

std::string SettingsString(std::int16_t baudRate, std::int16_t parity, std::int16_t bits,
                           std::int16_t stopBits) {
    std::string out(BaudRateText(baudRate));
    out += ',';
    out += ParityText(parity);
    out += ',';
    out += BitsText(bits);
    out += ',';
    out += StopBitsText(stopBits);
    return out;
}

// Steps before the opening itself; false as soon as one is refused.
bool PagingCore::PreparePort() {
    const Settings& s = settings_;
    // Computed wide so that the largest 16-bit value does not wrap.
    return line_.SetPortNumber(s.comPort + 1) &&
           line_.SetFlowControl(FlowForHandShake(s.handshake)) && line_.SetRts(s.handshake != 0) &&
           line_.SetLineSettings(SettingsString(s.baudRate, s.parity, s.dataBits, s.stopBits)) &&
           line_.SetInputLen(0) && line_.SetNullDiscard(false) && line_.SetEofEnable(false) &&
           line_.SetDtr(false) && line_.SetInputLen(1);
}

// Opens the port with the settings in effect. A failure logs the error line
// and the port's reason (device and cause) on a line of its own, so the log
// says why without the serial frame's tool tip; quiet (the line watch's
// retries) only tells the reason. On success the caption and the log line.
bool PagingCore::TryOpen(bool quiet) {
    const Settings& s = settings_;
    const int portNumber = s.comPort + 1;
    if (!PreparePort() || !line_.Open()) {
        const std::string reason = line_.LastError();
        if (!quiet) {
            log_.Write(1, "Error opening ComPort: " + BlankedNumber(portNumber));
            if (!reason.empty())
                log_.Write(1, "Reason: " + reason);
        }
        Tell([&](PagingEvents& e) { e.PortProblem(reason); });
        return false;
    }
    if (quiet)
        log_.Write(1, "STATUS: Serial port available.");
    const std::string settings = SettingsString(s.baudRate, s.parity, s.dataBits, s.stopBits);
    Tell([&](PagingEvents& e) {
        e.PortOpened("Settings: Com:" + std::to_string(portNumber) + " at " + settings,
                     s.handshake == 0);
        e.PortProblem("");
    });
    log_.Write(1,
               "Com:" + BlankedNumber(portNumber) + " opened for ESPA emulation with: " + settings);
    return true;
}

// Closes the port and opens it again with the settings; the port is tried
// again in the background until it opens.
PortOpen PagingCore::Reopen() {
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
