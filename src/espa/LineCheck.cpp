// The periodic line check: EOT, a poll, and the slave's answer.
#include "app/App.h"
#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "serial/ByteTransfer.h"

namespace zelvano::engine {

namespace {

constexpr std::int16_t kLineCheckBoth = 0;      // '1' ENQ '2' ENQ
constexpr std::int16_t kLineCheckPollOnly = 1;  // '2' ENQ

// An answer that shows the slave is there: EOT, the next check later, the
// scheduler now.
void LineGood(App& app, std::string_view extendedText) {
    ProtocolState& s = app.espa;
    if (LogLevel(app, 2)) {
        Log(app, 2, extendedText);
    } else if (s.LineOk != 1) {
        Log(app, 1, "Test ESPA connection -> OK!");
    }
    s.LineOk = 1;
    SendByte(app, EOT);
    s.CheckCountdown = app.settings.CheckInterval;
    s.ScanDelay = 0;
    s.EspaState = kScheduler;
}

// A byte that is not a good answer; the check goes on until a good one or the
// time-out.
void LineWrongByte(App& app) {
    if (app.espa.LineOk == 1)
        Log(app, 1, "Test ESPA connection -> ERROR.");
    app.espa.LineOk = 0;
}

void LineTimeOut(App& app) {
    ProtocolState& s = app.espa;
    if (s.LineOk == 1)
        Log(app, 1, "Test ESPA connection -> TimeOut receiving data from slave device.");
    s.LineOk = 0;
    s.EspaTimer = 50;
    s.EspaState = kLineCheckStart;
}

// '1' on the poll: the slave has a status block to deliver.
void SlaveHasData(App& app) {
    ProtocolState& s = app.espa;
    if (s.LineOk != 1)
        Log(app, 1, "Test ESPA connection antwoord 1 op Poll, dus er zijn gegevens...");
    s.StatusViaLineCheck = true;
    s.EspaState = kSlaveSelect;
}

void HandleLineByte(App& app, std::uint8_t byte) {
    const std::int16_t kind = app.settings.LineCheck;
    if (kind != kLineCheckBoth && kind != kLineCheckPollOnly)
        return;  // ignored
    if (byte == ACK) {
        LineGood(app, "Test ESPA connection ACK received -> OK!");
    } else if (kind == kLineCheckPollOnly && byte == EOT) {
        LineGood(app, "Test ESPA connection EOT received -> OK!");
    } else if (kind == kLineCheckPollOnly && byte == '1') {
        SlaveHasData(app);
    } else {
        LineWrongByte(app);
    }
}

}  // namespace

void StartLineCheck(App& app) {
    ProtocolState& s = app.espa;
    if (s.EspaTimer != 0)
        return;
    s.EspaTimer = 5;
    s.StatusViaLineCheck = false;
    SendByte(app, EOT);
    s.EspaState = kLineCheckPoll;
}

void SendLinePoll(App& app) {
    ProtocolState& s = app.espa;
    if (s.EspaTimer != 0)
        return;
    ClearInput(app);
    const std::int16_t kind = app.settings.LineCheck;
    if (kind == kLineCheckBoth) {
        SendBytes(app, {'1', ENQ, '2', ENQ});
    } else if (kind == kLineCheckPollOnly) {
        SendBytes(app, {'2', ENQ});
    }
    Log(app, 2,
        kind == kLineCheckBoth ? "Test ESPA connection 1 ENQ 2 ENQ sent."
                               : "Test ESPA connection 2 ENQ sent.");
    s.EspaTimer = 20;
    s.EspaState = kLineCheckAnswer;
}

void AwaitLineAnswer(App& app) {
    const Awaited got = AwaitByte(app);
    if (got.kind == Awaited::Kind::Byte) {
        HandleLineByte(app, got.byte);
    } else if (got.kind == Awaited::Kind::TimeOut) {
        LineTimeOut(app);
    }
}

}  // namespace zelvano::engine
