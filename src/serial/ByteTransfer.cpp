#include "serial/ByteTransfer.h"

#include <array>
#include <string_view>

#include "app/App.h"
#include "common/Text.h"
#include "log/Log.h"

namespace zelvano {
namespace {

constexpr std::int16_t kTraceLevel = 3;
constexpr std::size_t kColumnWidth = 6;

constexpr std::array<std::string_view, 32> kControlNames = {
    "[NUL]", "[SOH]", "[STX]", "[ETX]", "[EOT]", "[ENQ]", "[ACK]", "[BEL]",
    "[BS]",  "[HT]",  "[LF]",  "[VT]",  "[FF]",  "[CR]",  "[SO]",  "[SI]",
    "[DLE]", "[DC1]", "[DC2]", "[DC3]", "[DC4]", "[NAK]", "[SYN]", "[ETB]",
    "[CAN]", "[EM]",  "[SUB]", "[ESC]", "[FS]",  "[GS]",  "[RS]",  "[US]"};

// Text padded with six blanks and cut to six characters (not UTF-8 bytes, so a
// euro sign takes one column like any other character).
std::string Column(std::string_view text) {
    std::string padded(text);
    padded += "      ";
    return Utf8Left(padded, kColumnWidth);
}

std::string TraceText(std::int16_t value, std::int16_t direction) {
    const std::string columns =
        Column(ControlCharName(value)) + Column(TrimStr(value)) + Column(HexByte(value));
    return direction == 1 ? "TxD: " + columns : "RxD: " + std::string(18, ' ') + columns;
}

// One byte or -1; its trace line is written, or held when held is given.
std::int16_t ReceiveOne(App& app, HeldTrace* held) {
    const int waiting = app.port.BytesWaiting();
    if (waiting <= 0) {
        if (waiting < 0)
            ReportLineFailure(app);
        return -1;
    }
    app.activity.RxdActive = true;
    // A byte announced but not delivered is a port error: -1, never an
    // invented NUL byte.
    const int byte = app.port.ReadByte();
    if (byte < 0 || byte > 255) {
        ReportLineFailure(app);
        return -1;
    }
    const auto result = static_cast<std::int16_t>(byte);
    if (app.settings.Logfile >= kTraceLevel) {
        if (held != nullptr)
            held->push_back({app.clock.Now(), TraceText(result, 2)});
        else
            TraceByte(app, result, 2);
    }
    return result;
}

}  // namespace

void ReportLineFailure(App& app) {
    const std::string failure = app.port.TakeLineFailure();
    if (failure.empty())
        return;
    app.view.SetPortProblem(failure);
    if (app.settings.Logfile >= 1)
        WriteLog(app, "STATUS: Serial port lost: " + failure);
}

std::int16_t SendByte(App& app, std::int16_t value) {
    if (value < 0 || value > 255)
        return -1;
    app.activity.TxdActive = true;
    if (!app.port.WriteByte(static_cast<std::uint8_t>(value))) {
        ReportLineFailure(app);
        return -1;
    }
    if (app.settings.Logfile >= kTraceLevel)
        TraceByte(app, value, 1);
    return 0;
}

std::int16_t ReceiveByte(App& app) {
    return ReceiveOne(app, nullptr);
}

std::int16_t ReceiveByte(App& app, HeldTrace& held) {
    return ReceiveOne(app, &held);
}

void WriteHeldTrace(App& app, HeldTrace& held) {
    if (held.empty())
        return;
    WriteDebugLogLines(app, held);
    held.clear();
}

void ClearInput(App& app) {
    // In the trace the bytes thrown away show too, so it holds all the slave sent.
    if (app.settings.Logfile >= kTraceLevel) {
        const int waiting = app.port.BytesWaiting();
        HeldTrace held;
        for (int i = 0; i < waiting; ++i) {
            const int byte = app.port.ReadByte();
            if (byte < 0 || byte > 255)
                break;
            held.push_back(
                {app.clock.Now(), TraceText(static_cast<std::int16_t>(byte), 2) + "discarded"});
        }
        WriteHeldTrace(app, held);
    }
    if (!app.port.DiscardInput())
        ReportLineFailure(app);
}

void TraceByte(App& app, std::int16_t value, std::int16_t direction) {
    WriteDebugLog(app, TraceText(value, direction));
}

std::string ControlCharName(std::int16_t value) {
    if (value >= 0 && value < 32)
        return std::string(kControlNames[value]);
    if (value == 32)
        return "[SP]";
    if (value == 127)
        return "[RUB]";
    // A value that is no byte has no name.
    if (value < 0 || value > 255)
        return "";
    std::string out;
    AppendUtf8(out, AnsiToUnicode(static_cast<std::uint8_t>(value)));
    return out;
}

}  // namespace zelvano
