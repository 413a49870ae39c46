// Status request (steps 150 to 220): the reversed poll, the slave's status
// block, its check character and the state word it carries.
#include <limits>

#include "app/App.h"
#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"
#include "serial/ByteTransfer.h"

namespace zelvano::engine {

namespace {

constexpr std::int16_t kCommTechWireLess = 5;
constexpr std::uint32_t kNoInfoRestTicks = 30;
constexpr const char* kFailed3Times = "ERROR: Failed 3 times, recheck ESPA slave.";

// The slave aborted its block. RetryCount goes down untested (it may go below
// 0) but stops at the 16-bit floor instead of wrapping to a large count.
void AbortedByEot(App& app) {
    ProtocolState& s = app.espa;
    SendByte(app, EOT);
    Log(app, 2, "StatusRequest: EOT received while receiving status. Aborted.");
    if (s.RetryCount > std::numeric_limits<std::int16_t>::min())
        --s.RetryCount;
    s.EspaState = kScheduler;
}

// One byte of the status block; false when reading stops.
bool TakeStatusByte(App& app, std::uint8_t byte) {
    ProtocolState& s = app.espa;
    if (byte == SOH) {
        s.Bcc = 0;
    } else if (byte == EOT) {
        AbortedByEot(app);
        return false;
    } else if (byte == ETX) {
        s.Bcc = static_cast<std::int16_t>(s.Bcc ^ ETX);
        s.EspaState = kStatusCheckChar;
        Log(app, 2, "StatusRequest: ETX received, awaiting Checksum.");
        return false;
    } else {
        s.StatusBlock += static_cast<char>(byte);
        s.Bcc = static_cast<std::int16_t>(s.Bcc ^ byte);
    }
    return true;
}

std::string ChecksumText(std::string_view text, std::int16_t expected, std::uint8_t received) {
    std::string line(text);
    line += TrimStr(expected);
    line += " Received: ";
    line += TrimStr(received);
    return line;
}

}  // namespace

void StartStatusRequest(App& app) {
    StartSequence(app, kStatusPoll);
}

void SendStatusPoll(App& app) {
    ProtocolState& s = app.espa;
    if (s.EspaTimer != 0)
        return;
    ClearInput(app);
    SendBytes(app, {'2', ENQ});
    s.EspaTimer = 50;
    s.EspaState = kStatusPollAnswer;
    Log(app, 2, "StatusRequest: 2 ENQ sent.");
}

void AwaitPollAnswer(App& app) {
    const Awaited got = AwaitByte(app);
    if (got.kind == Awaited::Kind::Pending)
        return;
    ProtocolState& s = app.espa;
    if (got.kind == Awaited::Kind::Byte && got.byte == '1') {
        s.EspaTimer = 20;
        s.EspaState = kSlaveSelect;
        Log(app, 2, "StatusRequest: '1' received on reversed poll.");
    } else if (got.kind == Awaited::Kind::Byte && got.byte == EOT) {
        // Nothing yet: the call rests a while so other calls and the line
        // check get the line.
        if (CallBufferEntry* entry = ServedEntry(app))
            entry->AskAfterTick = s.TickCount + kNoInfoRestTicks;
        s.EspaState = kScheduler;
        Log(app, 2, "StatusRequest: No info available (yet). Retry later.");
    } else if (got.kind == Awaited::Kind::Byte) {
        LogUnexpectedAnswer(app, "After Poll&Select expected '1', but received: (&dec) ", got.byte);
        RetryOrGiveUp(app, kScheduler, "ERROR: Failed 3 times, recheck ESPA slave");
    } else {
        Log(app, 1, "ERROR: TimeOut receiving 1 ENQ from Slave. Terminated.");
        RetryOrGiveUp(app, kScheduler, kFailed3Times);
    }
}

void AwaitSlaveSelect(App& app) {
    const Awaited got = AwaitByte(app);
    if (got.kind == Awaited::Kind::Pending)
        return;
    ProtocolState& s = app.espa;
    if (got.kind == Awaited::Kind::Byte && got.byte == ENQ) {
        ClearInput(app);
        SendByte(app, ACK);
        s.StatusBlock.clear();
        s.EspaTimer = 100;
        s.EspaState = kStatusBlock;
        Log(app, 2, "StatusRequest: ENQ received on reversed poll, ACK sent.");
    } else if (got.kind == Awaited::Kind::Byte) {
        LogUnexpectedAnswer(app, "ERROR: After Poll&Select received no '2', but: &d", got.byte);
        RetryOrGiveUp(app, kScheduler, kFailed3Times);
    } else {
        Log(app, 1, "ERROR: TimeOut receiving 1 ENQ from Slave. Terminated.");
        RetryOrGiveUp(app, kScheduler, kFailed3Times);
    }
}

void ReceiveStatusBlock(App& app) {
    HeldTrace held;  // the drain's trace lines go to the file in one append
    for (;;) {
        const std::int16_t value = ReceiveByte(app, held);
        if (value < 0)
            break;
        if (value == EOT)
            WriteHeldTrace(app, held);  // before the trace of the EOT sent back
        if (!TakeStatusByte(app, static_cast<std::uint8_t>(value))) {
            WriteHeldTrace(app, held);
            return;
        }
    }
    WriteHeldTrace(app, held);
    if (app.espa.EspaTimer != 0)
        return;  // the block may come over several ticks
    Log(app, 1, "ERROR: TimeOut receiving Status from Slave. Terminated.");
    RetryOrGiveUp(app, kScheduler, kFailed3Times);
}

void AwaitStatusCheckChar(App& app) {
    const Awaited got = AwaitByte(app);
    if (got.kind == Awaited::Kind::Pending)
        return;
    ProtocolState& s = app.espa;
    if (got.kind == Awaited::Kind::TimeOut) {
        Log(app, 1, "ERROR: TimeOut receiving Checksum. Terminated.");
        RetryOrGiveUp(app, kScheduler, kFailed3Times);
    } else if (app.settings.Emulatie == kCommTechWireLess) {
        s.EspaState = kStatusAccept;
        if (LogLevel(app, 2)) {
            Log(app, 2,
                ChecksumText("StatusRequest: PATCH Commtech IGNORE checksum. Expected: ", s.Bcc,
                             got.byte));
        }
    } else if (got.byte == s.Bcc) {
        s.EspaState = kStatusAccept;
        Log(app, 2, "StatusRequest: Checksum received and OK.");
    } else {
        if (LogLevel(app, 1)) {
            Log(app, 1,
                ChecksumText("ERROR: Incorrect CheckSum received. Expected: ", s.Bcc, got.byte));
        }
        RetryOrGiveUp(app, kScheduler, kFailed3Times);
    }
}

void AcceptStatus(App& app) {
    ProtocolState& s = app.espa;
    SendByte(app, ACK);
    Log(app, 2, "StatusRequest: Status received, ACK sent.");
    const std::string word = ParseCallStatus(s.StatusBlock);
    // The word lands on the call the job serves; when that call has left the
    // buffer the word is dropped.
    if (WriteServedState(app, word) && LogLevel(app, 1)) {
        Log(app, 1,
            "STATUS: Call from ScreenPosition: " + TrimStr(s.EspaPosition) + " is now: " + word);
    }
    s.StatusViaLineCheck = false;
    ShowCallBuffer(app);
    s.EspaState = kScheduler;
}

}  // namespace zelvano::engine
