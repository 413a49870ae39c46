// Keeps the line up without the operator: a port that failed to open or was
// lost (unplugged adapter, network link gone) is tried again in the
// background, and the engine waits meanwhile so no call fails for want of a
// line.
#pragma once

#include <cstdint>

namespace zelvano {

class App;

inline constexpr std::int16_t kLineRetrySeconds = 3;

struct LineWatchState {
    bool wanted = false;  // the port should be open (opened by start-up or Save)
    bool down = false;    // the engine waited for the line
    std::int16_t retryCountdown = kLineRetrySeconds;
};

// One 100 ms engine tick: runs the engine while the line is up; a line that
// went down is reported once and the engine waits.
void EngineTick(App& app);
// Once a second: a line that is down is tried again every few seconds (every
// second while a connection is under way); when it is back the line check
// starts.
void RetryLine(App& app);

}  // namespace zelvano
