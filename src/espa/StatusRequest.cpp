// Status request (steps 150 to 220): the reversed poll, the slave's status
// block, its check character and the state word it carries.
#include <limits>

#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"

namespace zelvano::engine {

namespace {

constexpr std::int16_t kCommTechWireLess = 5;
constexpr std::uint32_t kNoInfoRestTicks = 30;
constexpr const char* kFailed3Times = "ERROR: Failed 3 times, recheck ESPA slave.";

// The slave aborted its block. retries goes down untested (it may go below
// 0) but stops at the 16-bit floor instead of wrapping to a large count.
void AbortedByEot(Context& e) {
    EngineState& s = e.s;
    SendByte(e, EOT);
    Log(e, 2, "StatusRequest: EOT received while receiving status. Aborted.");
    if (s.retries > std::numeric_limits<std::int16_t>::min())
        --s.retries;
    s.step = Step::Scheduler;
}

// One byte of the status block; false when reading stops.
bool TakeStatusByte(Context& e, std::uint8_t byte) {
    EngineState& s = e.s;
    if (byte == SOH) {
        s.bcc = 0;
    } else if (byte == EOT) {
        AbortedByEot(e);
        return false;
    } else if (byte == ETX) {
        s.bcc = static_cast<std::int16_t>(s.bcc ^ ETX);
        s.step = Step::StatusCheckChar;
        Log(e, 2, "StatusRequest: ETX received, awaiting Checksum.");
        return false;
    } else {
        s.statusBlock += static_cast<char>(byte);
        s.bcc = static_cast<std::int16_t>(s.bcc ^ byte);
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

void StartStatusRequest(Context& e) {
    StartSequence(e, Step::StatusPoll);
}

void SendStatusPoll(Context& e) {
    EngineState& s = e.s;
    if (s.timer != 0)
        return;
    ClearInput(e);
    SendBytes(e, {'2', ENQ});
    s.timer = 50;
    s.step = Step::StatusPollAnswer;
    Log(e, 2, "StatusRequest: 2 ENQ sent.");
}

void AwaitPollAnswer(Context& e) {
    const Awaited got = AwaitReply(e, {'1', EOT});
    if (got.kind == Awaited::Kind::Pending)
        return;
    EngineState& s = e.s;
    if (got.kind == Awaited::Kind::Byte && got.byte == '1') {
        s.timer = 20;
        s.step = Step::SlaveSelect;
        Log(e, 2, "StatusRequest: '1' received on reversed poll.");
    } else if (got.kind == Awaited::Kind::Byte && got.byte == EOT) {
        // Nothing yet: the call rests a while so other calls and the line
        // check get the line.
        if (const int position = ServedPosition(e); position >= 0)
            e.calls.At(position).askAfterTick = s.ticks + kNoInfoRestTicks;
        s.statusPollEmpty = true;
        s.step = Step::Scheduler;
        Log(e, 2, "StatusRequest: No info available (yet). Retry later.");
    } else if (got.kind == Awaited::Kind::Wrong) {
        LogUnexpectedAnswer(e, "After Poll&Select expected '1', but received: (&dec) ");
        RetryOrGiveUp(e, Step::Scheduler, "ERROR: Failed 3 times, recheck ESPA slave");
    } else {
        Log(e, 1, "ERROR: TimeOut receiving 1 ENQ from Slave. Terminated.");
        RetryOrGiveUp(e, Step::Scheduler, kFailed3Times);
    }
}

void AwaitSlaveSelect(Context& e) {
    if (!AwaitAnswer(
            e, ENQ,
            {"ERROR: After Poll&Select received no '2', but: &d", Step::Scheduler, kFailed3Times},
            {"ERROR: TimeOut receiving 1 ENQ from Slave. Terminated.", Step::Scheduler,
             kFailed3Times}))
        return;
    ClearInput(e);
    SendByte(e, ACK);
    e.s.statusBlock.clear();
    e.s.timer = 100;
    e.s.step = Step::StatusBlock;
    Log(e, 2, "StatusRequest: ENQ received on reversed poll, ACK sent.");
}

void ReceiveStatusBlock(Context& e) {
    HeldTrace held;  // the drain's trace lines go to the file in one append
    for (;;) {
        const int value = e.link.Receive(held);
        if (value < 0)
            break;
        if (value == EOT)
            e.link.WriteHeld(held);  // before the trace of the EOT sent back
        if (!TakeStatusByte(e, static_cast<std::uint8_t>(value))) {
            e.link.WriteHeld(held);
            return;
        }
    }
    e.link.WriteHeld(held);
    if (e.s.timer != 0)
        return;  // the block may come over several ticks
    Log(e, 1, "ERROR: TimeOut receiving Status from Slave. Terminated.");
    RetryOrGiveUp(e, Step::Scheduler, kFailed3Times);
}

void AwaitStatusCheckChar(Context& e) {
    const Awaited got = AwaitByte(e);
    if (got.kind == Awaited::Kind::Pending)
        return;
    EngineState& s = e.s;
    if (got.kind == Awaited::Kind::TimeOut) {
        Log(e, 1, "ERROR: TimeOut receiving Checksum. Terminated.");
        RetryOrGiveUp(e, Step::Scheduler, kFailed3Times);
    } else if (e.settings.emulation == kCommTechWireLess) {
        s.step = Step::StatusAccept;
        if (LogLevel(e, 2)) {
            Log(e, 2,
                ChecksumText("StatusRequest: PATCH Commtech IGNORE checksum. Expected: ", s.bcc,
                             got.byte));
        }
    } else if (got.byte == s.bcc) {
        s.step = Step::StatusAccept;
        Log(e, 2, "StatusRequest: Checksum received and OK.");
    } else {
        if (LogLevel(e, 1)) {
            Log(e, 1,
                ChecksumText("ERROR: Incorrect CheckSum received. Expected: ", s.bcc, got.byte));
        }
        RetryOrGiveUp(e, Step::Scheduler, kFailed3Times);
    }
}

void AcceptStatus(Context& e) {
    EngineState& s = e.s;
    SendByte(e, ACK);
    Log(e, 2, "StatusRequest: Status received, ACK sent.");
    const CallState state = ParseCallStatus(s.statusBlock);
    s.statusFound = true;
    // The word lands on the call the job serves; when that call has left the
    // buffer the word is dropped.
    if (WriteServedState(e, state) && LogLevel(e, 1)) {
        Log(e, 1,
            "STATUS: Call from ScreenPosition: " + TrimStr(s.position) +
                " is now: " + std::string(StateText(state)));
    }
    s.viaLineCheck = false;
    s.step = Step::Scheduler;
}

}  // namespace zelvano::engine
