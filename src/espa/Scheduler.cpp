// Step 20: pick the next job from the call buffer, or run the line check.
#include "common/Text.h"
#include "espa/EngineSteps.h"

namespace zelvano::engine {

namespace {

constexpr std::int16_t kCommTechWireLess = 5;

// True while a "QUEUE" call rests after the slave had nothing to report.
bool Resting(const Context& e, const Call& entry) {
    return static_cast<std::int32_t>(entry.askAfterTick - e.s.ticks) > 0;
}

// The next call to serve, or -1: every "NEW" call before any status job, so
// no call waits to be sent while others are asked about; then the "QUEUE"
// call asked longest ago, so status jobs take turns.
std::int16_t NextJobPosition(const Context& e) {
    std::int16_t best = -1;
    for (std::int16_t i = 0; i < kCallBufferSize; ++i) {
        const Call& entry = e.calls.At(i);
        if (entry.state == CallState::New)
            return i;
        if (entry.state != CallState::Queue || Resting(e, entry))
            continue;
        if (best < 0 || entry.statusTurn < e.calls.At(best).statusTurn)
            best = i;
    }
    return best;
}

// The job follows its call by identity from here on.
void BeginJob(Context& e, std::int16_t position) {
    e.s.position = position;
    e.s.callId = e.calls.At(position).id;
}

void StartNewCallJob(Context& e, std::int16_t position) {
    if (LogLevel(e, 4))
        Log(e, 4, WithValue("CallStatus is NEW for Position: ", position));
    e.s.retries = 3;
    BeginJob(e, position);
    e.s.step = Step::MakeCallStart;
}

// A "QUEUE" call: a status job by the status check kind, or a final state
// when the state is not to be asked for. retries carries over.
void StartQueueCallJob(Context& e, std::int16_t position) {
    if (LogLevel(e, 4))
        Log(e, 4, WithValue("CallStatus is QUEUE for Position: ", position));
    BeginJob(e, position);
    e.calls.At(position).statusTurn = ++e.s.statusTurns;
    const bool commTech = e.settings.emulation == kCommTechWireLess;
    switch (e.settings.statusCheck) {
        case 0:
            if (commTech) {
                Log(e, 1, "Not using SOH3 with CommTechWireLess. Is not implemented there.");
            } else if (e.s.statusCallsRefused) {
                e.calls.SetState(position, CallState::NoStatus);  // as "StatusCheck None"
                break;
            }
            e.s.step = commTech ? Step::StatusRequestStart : Step::StatusCallStart;
            break;
        case 1:
            e.s.step = Step::StatusRequestStart;
            break;
        case 2:
            e.calls.SetState(position, CallState::NoStatus);
            break;
        default:
            e.calls.SetState(position, CallState::Error);
            break;
    }
}

// True when a call was served: a job started, or a call settled at once.
bool ScanForJob(Context& e) {
    const std::int16_t position = NextJobPosition(e);
    if (position < 0) {
        e.s.scanDelay = 10;
        return false;
    }
    if (e.calls.At(position).state == CallState::Queue) {
        StartQueueCallJob(e, position);
    } else {
        StartNewCallJob(e, position);
    }
    return true;
}

}  // namespace

void ScheduleNextJob(Context& e) {
    EngineState& s = e.s;
    s.viaLineCheck = false;  // a job of its own from here on
    bool served = false;
    if (s.scanDelay != 0) {
        --s.scanDelay;
    } else {
        served = ScanForJob(e);
    }
    // A call settled without a job ("StatusCheck None") leaves the line free:
    // the next tick looks for work again, so a call queued meanwhile goes
    // before the periodic check.
    if (served)
        return;
    // A countdown below 0 (a negative CheckInterval) counts as expired too,
    // or the periodic check would never run again.
    if (s.checkCountdown <= 0) {
        s.timer = 0;
        s.step = Step::LineCheckStart;
    }
}

}  // namespace zelvano::engine
