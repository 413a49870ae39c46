// Status call (steps 100 to 110): select and a '3' block with the call's data,
// then on to the status request.
#include "app/App.h"
#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "serial/ByteTransfer.h"

namespace zelvano::engine {

namespace {

// The slave NAKed the '3' block of a call it had accepted: many paging
// systems give no status that way. The call ends "NO STATUS" at once instead
// of being retried into "ERROR", and the operator learns which setting fits.
void StatusCallRefused(App& app) {
    ProtocolState& s = app.espa;
    if (!s.StatusCallRefusalTold) {
        s.StatusCallRefusalTold = true;
        Log(app, 1,
            "STATUS: ESPA slave refuses status calls (SOH3); accepted calls end as NO STATUS. "
            "Choose \"StatusCheck Only 2 ENQ\" in Settings, or \"StatusCheck None\" when the "
            "slave gives no status at all.");
    }
    FailServedCall(app);
    s.EspaState = kScheduler;
}

}  // namespace

void StartStatusCall(App& app) {
    StartSequence(app, kStatusCallSelect);
}

void SendStatusSelect(App& app) {
    SendSelect(app, kStatusCallSelectAnswer, "StatusCall: 1 ENQ 2 ENQ sent.");
}

void AwaitStatusSelectAnswer(App& app) {
    const Awaited got = AwaitByte(app);
    if (got.kind == Awaited::Kind::Pending)
        return;
    if (got.kind == Awaited::Kind::Byte && got.byte == ACK) {
        app.espa.EspaTimer = 0;
        app.espa.EspaState = kStatusCallBlock;
        Log(app, 2, "StatusCall: ACK received on Poll (1 ENQ, 2 ENQ).");
    } else if (got.kind == Awaited::Kind::Byte) {
        LogUnexpectedAnswer(app, "ERROR: No ACK received after Status Poll&Select, but &d",
                            got.byte);
        RetryOrGiveUp(app, kScheduler, "ERROR: Fault 3 times, recheck ESPA slave.");
    } else {
        Log(app, 1, "ERROR: TimeOut at receiving ACK after 1ENQ 2 ENQ Poll Select.");
        RetryOrGiveUp(app, kScheduler, "ERROR: Fault remains 3 times, recheck ESPA slave.");
    }
}

void SendStatusCallBlock(App& app) {
    ProtocolState& s = app.espa;
    if (s.EspaTimer != 0)
        return;
    ClearInput(app);
    switch (SendBlock(app, '3')) {
        case BlockSend::Sent:
            s.EspaTimer = 50;
            s.EspaState = kStatusCallBlockAnswer;
            Log(app, 2, "StatusCall: Sent StatusCall (SOH3).");
            break;
        case BlockSend::Failed:
            Log(app, 1, "ERROR: Transmission of StatusRequest SOH3 failed. Recheck ESPA slave.");
            FailServedCall(app);
            s.EspaState = kLineCheckStart;
            break;
        case BlockSend::CallGone:
            // The call was removed during its select: nothing left to ask about.
            s.EspaState = kScheduler;
            break;
    }
}

void AwaitStatusCallBlockAnswer(App& app) {
    const Awaited got = AwaitByte(app);
    if (got.kind == Awaited::Kind::Pending)
        return;
    if (got.kind == Awaited::Kind::Byte && got.byte == ACK) {
        WriteServedState(app, "QUEUE");
        app.espa.EspaState = kStatusRequestStart;
        Log(app, 2, "StatusCall: ACK received on StatusCall (SOH3).");
    } else if (got.kind == Awaited::Kind::Byte) {
        if (LogUnexpectedAnswer(app, "ERROR: No ACK received at StatusRequest SOH3, but &d",
                                got.byte)) {
            StatusCallRefused(app);
            return;
        }
        RetryOrGiveUp(app, kScheduler, "ERROR: Failed 3 times to receive. Recheck ESPA slave.");
    } else {
        Log(app, 1, "ERROR: TimeOut receiving ACK.");
        RetryOrGiveUp(app, kScheduler, "ERROR: Failed 3 times, recheck ESPA slave.");
    }
}

}  // namespace zelvano::engine
