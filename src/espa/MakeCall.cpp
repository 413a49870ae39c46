// Make call (steps 30 to 45): select, the call block, the slave's ACK.
#include "common/Text.h"
#include "espa/EngineSteps.h"

namespace zelvano::engine {

void StartMakeCall(Context& e) {
    StartSequence(e, Step::MakeCallSelect);
}

void SendCallSelect(Context& e) {
    SendSelect(e, Step::MakeCallSelectAnswer, "MakeCall: sequence started, 1 ENQ 2 ENQ sent.");
}

void AwaitCallSelectAnswer(Context& e) {
    if (!AwaitAnswer(e, ACK,
                     {"ERROR: At Transfer CallToEspaSlave: No ACK after 1ENQ, 2 ENQ received: &d",
                      Step::MakeCallStart, "ERROR: 3 times failure, recheck ESPA slave", true},
                     {"ERROR: After sending 1 ENQ 2 ENQ no ACK received.", Step::MakeCallStart,
                      "ERROR: 3 times fault, recheck ESPA slave.", true}))
        return;
    e.s.step = Step::MakeCallBlock;
    Log(e, 2, "MakeCall: ACK received, sent call (SOH1).");
}

void SendCallBlock(Context& e) {
    EngineState& s = e.s;
    switch (SendBlock(e, '1')) {
        case BlockSend::Sent:
            s.timer = 50;
            s.step = Step::MakeCallBlockAnswer;
            Log(e, 2, "MakeCall: Sent Call (SOH1).");
            if (const int position = ServedPosition(e); position >= 0)
                e.calls.At(position).sent = true;
            if (e.sentListener)
                e.sentListener(s.callId);
            break;
        case BlockSend::Failed:
            Log(e, 1, "ERROR: Transfer of SOH1 failed, recheck ESPA slave.");
            s.timer = 5;
            FailServedCall(e);
            s.step = Step::LineCheckStart;
            break;
        case BlockSend::CallGone:
            // The call was removed during its select: nothing left to deliver.
            s.step = Step::Scheduler;
            break;
    }
}

void AwaitCallBlockAnswer(Context& e) {
    bool answered = false;
    const bool acked =
        AwaitAnswer(e, ACK,
                    {"ERROR: No ACK on transmitted ESPA, but: %d", Step::MakeCallStart,
                     "ERROR: Failed 3 times, recheck ESPA slave."},
                    {"ERROR: TimeOut receiving ACK from ESPA slave", Step::Scheduler,
                     "ERROR 3 times fault, recheck ESPA slave"},
                    &answered);
    if (const int position = ServedPosition(e); answered && position >= 0)
        e.calls.At(position).answered = true;
    if (!acked)
        return;
    WriteServedState(e, CallState::Queue);
    e.s.step = Step::Scheduler;
    Log(e, 2, "MakeCall: Sent Call, ACK received (SOH1).");
}

}  // namespace zelvano::engine
