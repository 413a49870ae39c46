// The periodic line check: EOT, a poll, and the slave's answer.
#include "common/Text.h"
#include "espa/EngineSteps.h"

namespace zelvano::engine {

namespace {

constexpr std::int16_t kLineCheckBoth = 0;      // '1' ENQ '2' ENQ
constexpr std::int16_t kLineCheckPollOnly = 1;  // '2' ENQ

// An answer that shows the slave is there: EOT, the next check later, the
// scheduler now.
void LineGood(Context& e, std::string_view extendedText) {
    EngineState& s = e.s;
    if (LogLevel(e, 2)) {
        Log(e, 2, extendedText);
    } else if (s.link != LinkState::Up) {
        Log(e, 1, "Test ESPA connection -> OK!");
    }
    SetLink(e, LinkState::Up);
    SendByte(e, EOT);
    s.checkCountdown = e.settings.checkInterval;
    s.scanDelay = 0;
    s.step = Step::Scheduler;
}

// A byte that is not a good answer; the check goes on until a good one or the
// time-out.
void LineWrongByte(Context& e) {
    if (e.s.link == LinkState::Up)
        Log(e, 1, "Test ESPA connection -> ERROR.");
    SetLink(e, LinkState::Down);
}

void LineTimeOut(Context& e) {
    EngineState& s = e.s;
    if (s.link == LinkState::Up)
        Log(e, 1, "Test ESPA connection -> TimeOut receiving data from slave device.");
    SetLink(e, LinkState::Down);
    s.timer = 50;
    s.step = Step::LineCheckStart;
}

// '1' on the poll: the slave has a status block to deliver.
void SlaveHasData(Context& e) {
    EngineState& s = e.s;
    if (s.link != LinkState::Up)
        Log(e, 1, "Test ESPA connection antwoord 1 op Poll, dus er zijn gegevens...");
    s.viaLineCheck = true;
    s.step = Step::SlaveSelect;
}

void HandleLineByte(Context& e, std::uint8_t byte) {
    const std::int16_t kind = e.settings.lineCheck;
    if (kind != kLineCheckBoth && kind != kLineCheckPollOnly)
        return;  // ignored
    if (byte == ACK) {
        LineGood(e, "Test ESPA connection ACK received -> OK!");
    } else if (kind == kLineCheckPollOnly && byte == EOT) {
        LineGood(e, "Test ESPA connection EOT received -> OK!");
    } else if (kind == kLineCheckPollOnly && byte == '1') {
        SlaveHasData(e);
    } else {
        LineWrongByte(e);
    }
}

}  // namespace

void StartLineCheck(Context& e) {
    EngineState& s = e.s;
    if (s.timer != 0)
        return;
    s.timer = 5;
    s.viaLineCheck = false;
    SendByte(e, EOT);
    s.step = Step::LineCheckPoll;
}

void SendLinePoll(Context& e) {
    EngineState& s = e.s;
    if (s.timer != 0)
        return;
    ClearInput(e);
    const std::int16_t kind = e.settings.lineCheck;
    if (kind == kLineCheckBoth) {
        SendBytes(e, {'1', ENQ, '2', ENQ});
    } else if (kind == kLineCheckPollOnly) {
        SendBytes(e, {'2', ENQ});
    }
    Log(e, 2,
        kind == kLineCheckBoth ? "Test ESPA connection 1 ENQ 2 ENQ sent."
                               : "Test ESPA connection 2 ENQ sent.");
    s.timer = 20;
    s.step = Step::LineCheckAnswer;
}

void AwaitLineAnswer(Context& e) {
    const Awaited got = AwaitByte(e);
    if (got.kind == Awaited::Kind::Byte) {
        HandleLineByte(e, got.byte);
    } else if (got.kind == Awaited::Kind::TimeOut) {
        LineTimeOut(e);
    }
}

}  // namespace zelvano::engine
