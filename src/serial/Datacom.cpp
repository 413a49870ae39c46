#include "serial/Datacom.h"

#include <array>
#include <string_view>

#include "app/App.h"
#include "common/Text.h"
#include "log/Log.h"
#include "serial/LineSettings.h"

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

// Steps before the opening itself; false as soon as one is refused.
bool PreparePort(SerialLine& port, int portNumber, const std::string& settings,
                 std::int16_t handShake) {
    const auto typed = ParseLineSettings(settings);  // always parses: SettingsString made it
    return port.SetPortNumber(portNumber) && port.SetFlowControl(FlowForHandShake(handShake)) &&
           port.SetRts(handShake != 0) && typed && port.SetLineSettings(*typed) &&
           port.SetDtr(false);
}

// The error line, then the port's reason (device and cause) on a line of its
// own, so the log says why without the serial frame's tool tip.
std::int16_t OpenFailed(App& app, int portNumber) {
    const std::string reason = app.port.LastError();
    if (app.settings.Logfile >= 1) {
        WriteLog(app, "Error opening ComPort: " + BlankedNumber(portNumber));
        if (!reason.empty()) {
            WriteLog(app, "Reason: " + reason);
        }
    }
    app.view.SetPortProblem(reason);
    return -1;
}

// The caption, tool tips and log line of an opened port.
void ShowOpened(App& app, int portNumber, const std::string& settings, std::int16_t handShake) {
    app.view.SetPortCaption("Settings: Com:" + std::to_string(portNumber) + " at " + settings);
    app.view.SetRtsToolTip(handShake == 0 ? "RTS status, click here to change" : "");
    app.view.SetPortProblem("");
    if (app.settings.Logfile >= 1) {
        WriteLog(app, "Com:" + BlankedNumber(portNumber) +
                          " opened for ESPA emulation with: " + settings);
    }
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

std::int16_t OpenComPort(App& app, std::int16_t compoort, std::int16_t baudRate,
                         std::int16_t parity, std::int16_t bits, std::int16_t stopBits,
                         std::int16_t handShake) {
    // Computed wide so that the largest 16-bit value does not wrap.
    const int portNumber = compoort + 1;
    const std::string settings = SettingsString(baudRate, parity, bits, stopBits);
    if (!PreparePort(app.port, portNumber, settings, handShake) || !app.port.Open()) {
        return OpenFailed(app, portNumber);
    }
    ShowOpened(app, portNumber, settings, handShake);
    return 1;
}

bool RetryComPort(App& app) {
    const Settings& s = app.settings;
    const int portNumber = s.Compoort + 1;
    const std::string settings = SettingsString(s.BaudRate, s.Parity, s.Bits, s.StopBits);
    if (!PreparePort(app.port, portNumber, settings, s.HandShake) || !app.port.Open()) {
        app.view.SetPortProblem(app.port.LastError());
        return false;
    }
    if (s.Logfile >= 1)
        WriteLog(app, "STATUS: Serial port available.");
    ShowOpened(app, portNumber, settings, s.HandShake);
    return true;
}

void CloseComPort(App& app) {
    if (!app.port.Close())
        return;
    if (app.settings.Logfile >= 1)
        WriteLog(app, "Comport closed by software.");
}

std::int16_t CtsState(App& app) {
    return app.port.Cts() ? 1 : -1;
}

std::int16_t RtsState(App& app) {
    return app.port.Rts() ? 1 : -1;
}

void LabLinkStatus_Click(App& app) {
    const bool log = app.settings.Logfile >= 1;
    if (app.settings.HandShake != 0) {
        if (log)
            WriteLog(app, "STATUS: Wrong HandShakeType, no manual adjustment possible.");
        return;
    }
    const bool makeActive = !app.port.Rts();
    // A refused change is not reported as made.
    if (!app.port.SetRts(makeActive) || !log)
        return;
    WriteLog(app,
             makeActive ? "STATUS: RTS made ACTIVE (+12V)." : "STATUS: RTS made INACTIVE (-12V).");
}

}  // namespace zelvano
