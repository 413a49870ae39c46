// Step 20: pick the next job from the call buffer, or run the line check.
#include "app/App.h"
#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/EngineSteps.h"

namespace zelvano::engine {

namespace {

constexpr std::int16_t kCommTechWireLess = 5;

// True while a "QUEUE" call rests after the slave had nothing to report.
bool Resting(const App& app, const CallBufferEntry& entry) {
    return static_cast<std::int32_t>(entry.AskAfterTick - app.espa.TickCount) > 0;
}

// The next call to serve, or -1: every "NEW" call before any status job, so
// no call waits to be sent while others are asked about; then the "QUEUE"
// call asked longest ago, so status jobs take turns.
std::int16_t NextJobPosition(const App& app) {
    std::int16_t best = -1;
    for (std::int16_t i = 0; i < kCallBufferSize; ++i) {
        const CallBufferEntry& entry = app.CallBuffer[static_cast<std::size_t>(i)];
        if (entry.Status == "NEW")
            return i;
        if (entry.Status != "QUEUE" || Resting(app, entry))
            continue;
        if (best < 0 ||
            entry.StatusTurn < app.CallBuffer[static_cast<std::size_t>(best)].StatusTurn)
            best = i;
    }
    return best;
}

// The job follows its call by identity from here on.
void BeginJob(App& app, std::int16_t position) {
    app.espa.EspaPosition = position;
    app.espa.EspaCallId = app.CallBuffer[static_cast<std::size_t>(position)].CallId;
}

void StartNewCallJob(App& app, std::int16_t position) {
    if (LogLevel(app, 4))
        Log(app, 4, WithValue("CallStatus is NEW for Position: ", position));
    app.espa.RetryCount = 3;
    BeginJob(app, position);
    app.espa.EspaState = kMakeCallStart;
}

// A "QUEUE" call: a status job by the status check kind, or a final state
// when the state is not to be asked for. RetryCount carries over.
void StartQueueCallJob(App& app, std::int16_t position) {
    if (LogLevel(app, 4))
        Log(app, 4, WithValue("CallStatus is QUEUE for Position: ", position));
    BeginJob(app, position);
    app.CallBuffer[static_cast<std::size_t>(position)].StatusTurn = ++app.espa.StatusTurns;
    const bool commTech = app.settings.Emulatie == kCommTechWireLess;
    switch (app.settings.CallStatusCheck) {
        case 0:
            if (commTech) {
                Log(app, 1, "Not using SOH3 with CommTechWireLess. Is not implemented there.");
            }
            app.espa.EspaState = commTech ? kStatusRequestStart : kStatusCallStart;
            break;
        case 1:
            app.espa.EspaState = kStatusRequestStart;
            break;
        case 2:
            app.CallBuffer[static_cast<std::size_t>(position)].Status = "NO STATUS";
            ShowCallBuffer(app);
            break;
        default:
            app.CallBuffer[static_cast<std::size_t>(position)].Status = "ERROR";
            ShowCallBuffer(app);
            break;
    }
}

void ScanForJob(App& app) {
    const std::int16_t position = NextJobPosition(app);
    if (position < 0) {
        app.espa.ScanDelay = 10;
        return;
    }
    if (app.CallBuffer[static_cast<std::size_t>(position)].Status == "QUEUE") {
        StartQueueCallJob(app, position);
    } else {
        StartNewCallJob(app, position);
    }
}

}  // namespace

void ScheduleNextJob(App& app) {
    ProtocolState& s = app.espa;
    s.StatusViaLineCheck = false;  // a job of its own from here on
    if (s.ScanDelay != 0) {
        --s.ScanDelay;
    } else {
        ScanForJob(app);
    }
    if (s.EspaState != kScheduler)
        return;  // a job was started
    // A countdown below 0 (a negative CheckInterval) counts as expired too,
    // or the periodic check would never run again.
    if (s.CheckCountdown <= 0) {
        s.EspaTimer = 0;
        s.EspaState = kLineCheckStart;
    }
}

}  // namespace zelvano::engine
