// Make call (steps 30 to 45): select, the call block, the slave's ACK.
#include "app/App.h"
#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "serial/ByteTransfer.h"

namespace zelvano::engine {

void StartMakeCall(App& app) {
    StartSequence(app, kMakeCallSelect);
}

void SendCallSelect(App& app) {
    SendSelect(app, kMakeCallSelectAnswer, "MakeCall: sequence started, 1 ENQ 2 ENQ sent.");
}

void AwaitCallSelectAnswer(App& app) {
    const Awaited got = AwaitByte(app);
    if (got.kind == Awaited::Kind::Pending)
        return;
    if (got.kind == Awaited::Kind::Byte && got.byte == ACK) {
        app.espa.EspaState = kMakeCallBlock;
        Log(app, 2, "MakeCall: ACK received, sent call (SOH1).");
    } else if (got.kind == Awaited::Kind::Byte) {
        LogUnexpectedAnswer(
            app, "ERROR: At Transfer CallToEspaSlave: No ACK after 1ENQ, 2 ENQ received: &d",
            got.byte);
        RetryOrGiveUp(app, kMakeCallStart, "ERROR: 3 times failure, recheck ESPA slave", true);
    } else {
        Log(app, 1, "ERROR: After sending 1 ENQ 2 ENQ no ACK received.");
        RetryOrGiveUp(app, kMakeCallStart, "ERROR: 3 times fault, recheck ESPA slave.", true);
    }
}

void SendCallBlock(App& app) {
    ProtocolState& s = app.espa;
    switch (SendBlock(app, '1')) {
        case BlockSend::Sent:
            s.EspaTimer = 50;
            s.EspaState = kMakeCallBlockAnswer;
            Log(app, 2, "MakeCall: Sent Call (SOH1).");
            break;
        case BlockSend::Failed:
            Log(app, 1, "ERROR: Transfer of SOH1 failed, recheck ESPA slave.");
            s.EspaTimer = 5;
            FailServedCall(app);
            s.EspaState = kLineCheckStart;
            break;
        case BlockSend::CallGone:
            // The call was removed during its select: nothing left to deliver.
            s.EspaState = kScheduler;
            break;
    }
}

void AwaitCallBlockAnswer(App& app) {
    const Awaited got = AwaitByte(app);
    if (got.kind == Awaited::Kind::Pending)
        return;
    if (got.kind == Awaited::Kind::Byte && got.byte == ACK) {
        WriteServedState(app, "QUEUE");
        app.espa.EspaState = kScheduler;
        Log(app, 2, "MakeCall: Sent Call, ACK received (SOH1).");
    } else if (got.kind == Awaited::Kind::Byte) {
        LogUnexpectedAnswer(app, "ERROR: No ACK on transmitted ESPA, but: %d", got.byte);
        RetryOrGiveUp(app, kMakeCallStart, "ERROR: Failed 3 times, recheck ESPA slave.");
    } else {
        Log(app, 1, "ERROR: TimeOut receiving ACK from ESPA slave");
        RetryOrGiveUp(app, kScheduler, "ERROR 3 times fault, recheck ESPA slave");
    }
}

}  // namespace zelvano::engine
