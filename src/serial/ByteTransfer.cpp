#include "serial/ByteTransfer.h"

#include <array>
#include <string_view>

#include "common/Text.h"

namespace zelvano {
namespace {

constexpr int kTraceLevel = 3;
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

std::string TraceText(int value, bool sent) {
    const std::string columns =
        Column(ControlCharName(value)) + Column(std::to_string(value)) + Column(HexByte(value));
    return sent ? "TxD: " + columns : "RxD: " + std::string(18, ' ') + columns;
}

}  // namespace

void ByteLink::ReportLost() {
    const std::string failure = line_.TakeLineFailure();
    if (failure.empty())
        return;
    if (!lost_ || lost_(failure))
        log_.Write(1, "STATUS: Serial port lost: " + failure);
}

// One byte or -1; its trace line is written, or held when held is given.
int ByteLink::ReceiveOne(HeldTrace* held) {
    const int waiting = line_.BytesWaiting();
    if (waiting <= 0) {
        if (waiting < 0)
            ReportLost();
        return -1;
    }
    activity_.received = true;
    // A byte announced but not delivered is a line error: -1, never an
    // invented NUL byte.
    const int byte = line_.ReadByte();
    if (byte < 0 || byte > 255) {
        ReportLost();
        return -1;
    }
    if (log_.Enabled(kTraceLevel)) {
        if (held != nullptr)
            held->push_back({log_.Now(), TraceText(byte, false)});
        else
            log_.Trace(TraceText(byte, false));
    }
    return byte;
}

bool ByteLink::Send(int value) {
    if (value < 0 || value > 255)
        return false;
    activity_.sent = true;
    if (!line_.WriteByte(static_cast<std::uint8_t>(value))) {
        ReportLost();
        return false;
    }
    if (log_.Enabled(kTraceLevel))
        log_.Trace(TraceText(value, true));
    return true;
}

void ByteLink::WriteHeld(HeldTrace& held) {
    if (held.empty())
        return;
    log_.Trace(held);
    held.clear();
}

void ByteLink::ClearInput() {
    // In the trace the bytes thrown away show too, so it holds all the slave sent.
    if (log_.Enabled(kTraceLevel)) {
        const int waiting = line_.BytesWaiting();
        HeldTrace held;
        for (int i = 0; i < waiting; ++i) {
            const int byte = line_.ReadByte();
            if (byte < 0 || byte > 255)
                break;
            held.push_back({log_.Now(), TraceText(byte, false) + "discarded"});
        }
        WriteHeld(held);
    }
    if (!line_.DiscardInput())
        ReportLost();
}

std::string ControlCharName(int value) {
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
