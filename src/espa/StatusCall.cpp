// Status call (steps 100 to 110): select and a '3' block with the call's data,
// then on to the status request.
#include "common/Text.h"
#include "espa/EngineSteps.h"

namespace zelvano::engine {

namespace {

// The slave NAKed the '3' block of a call it had accepted: many paging
// systems give no status that way. The call ends "NO STATUS" at once instead
// of being retried into "ERROR", later calls are not asked with SOH3 either,
// and the operator learns which setting fits: "StatusCheck None" first when
// the status request has found nothing either.
void StatusCallRefused(Context& e) {
    EngineState& s = e.s;
    if (!s.refusalTold) {
        s.refusalTold = true;
        Log(e, 1,
            s.statusPollEmpty && !s.statusFound
                ? "STATUS: ESPA slave refuses status calls (SOH3) and has had no status on "
                  "request either; accepted calls end as NO STATUS. Choose \"StatusCheck None\" "
                  "in Settings, or \"StatusCheck Only 2 ENQ\" when the slave does report status "
                  "on request."
                : "STATUS: ESPA slave refuses status calls (SOH3); accepted calls end as NO "
                  "STATUS. Choose \"StatusCheck Only 2 ENQ\" in Settings, or \"StatusCheck "
                  "None\" when the slave gives no status at all.");
    }
    if (!s.statusCallsRefused) {
        s.statusCallsRefused = true;
        Log(e, 1,
            "STATUS: No more status calls (SOH3) are sent; accepted calls end as NO STATUS "
            "until the port is reopened or the settings change.");
    }
    FailServedCall(e);
    s.step = Step::Scheduler;
}

}  // namespace

void StartStatusCall(Context& e) {
    StartSequence(e, Step::StatusCallSelect);
}

void SendStatusSelect(Context& e) {
    SendSelect(e, Step::StatusCallSelectAnswer, "StatusCall: 1 ENQ 2 ENQ sent.");
}

void AwaitStatusSelectAnswer(Context& e) {
    if (!AwaitAnswer(e, ACK,
                     {"ERROR: No ACK received after Status Poll&Select, but &d", Step::Scheduler,
                      "ERROR: Fault 3 times, recheck ESPA slave."},
                     {"ERROR: TimeOut at receiving ACK after 1ENQ 2 ENQ Poll Select.",
                      Step::Scheduler, "ERROR: Fault remains 3 times, recheck ESPA slave."}))
        return;
    e.s.timer = 0;
    e.s.step = Step::StatusCallBlock;
    Log(e, 2, "StatusCall: ACK received on Poll (1 ENQ, 2 ENQ).");
}

void SendStatusCallBlock(Context& e) {
    EngineState& s = e.s;
    if (s.timer != 0)
        return;
    ClearInput(e);
    switch (SendBlock(e, '3')) {
        case BlockSend::Sent:
            s.timer = 50;
            s.step = Step::StatusCallBlockAnswer;
            Log(e, 2, "StatusCall: Sent StatusCall (SOH3).");
            break;
        case BlockSend::Failed:
            Log(e, 1, "ERROR: Transmission of StatusRequest SOH3 failed. Recheck ESPA slave.");
            FailServedCall(e);
            s.step = Step::LineCheckStart;
            break;
        case BlockSend::CallGone:
            // The call was removed during its select: nothing left to ask about.
            s.step = Step::Scheduler;
            break;
    }
}

void AwaitStatusCallBlockAnswer(Context& e) {
    const Awaited got = AwaitReply(e, {ACK});
    if (got.kind == Awaited::Kind::Pending)
        return;
    if (got.kind == Awaited::Kind::Byte) {
        WriteServedState(e, CallState::Queue);
        e.s.step = Step::StatusRequestStart;
        Log(e, 2, "StatusCall: ACK received on StatusCall (SOH3).");
    } else if (got.kind == Awaited::Kind::Wrong) {
        if (LogUnexpectedAnswer(e, "ERROR: No ACK received at StatusRequest SOH3, but &d")) {
            StatusCallRefused(e);
            return;
        }
        RetryOrGiveUp(e, Step::Scheduler, "ERROR: Failed 3 times to receive. Recheck ESPA slave.");
    } else {
        Log(e, 1, "ERROR: TimeOut receiving ACK.");
        RetryOrGiveUp(e, Step::Scheduler, "ERROR: Failed 3 times, recheck ESPA slave.");
    }
}

}  // namespace zelvano::engine
