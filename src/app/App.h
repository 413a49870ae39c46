// The application object: all process-wide state and the platform seams. The
// subsystems are free functions over it, so a test builds a fresh one in a line.
#pragma once

#include <cstdint>
#include <filesystem>

#include "app/AutoRepeatState.h"
#include "app/LineWatch.h"
#include "app/OperatorView.h"
#include "buffer/CallBufferEntry.h"
#include "common/Clock.h"
#include "espa/ProtocolState.h"
#include "log/ScreenLog.h"
#include "serial/SerialLine.h"
#include "settings/Settings.h"

namespace zelvano {

class App {
  public:
    App(OperatorView& view, Clock& clock, SerialLine& port, std::filesystem::path dataDir)
        : view(view), clock(clock), port(port), dataDir(std::move(dataDir)) {}

    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Platform seams.
    OperatorView& view;
    Clock& clock;
    SerialLine& port;
    // Folder of espa.set, comports.cfg, Log/ and DebugLog/ (ChooseDataDir).
    const std::filesystem::path dataDir;

    // Process-wide state.
    Settings settings;
    CallBufferArray CallBuffer;
    std::uint32_t nextCallId = 1;  // identity for the next call entering the buffer
    ScreenLog screenLog;
    ProtocolState espa;
    LineActivity activity;
    LastCallRecord LastCall;
    AutoRepeatState autoRepeat;
    LineWatchState lineWatch;
};

}  // namespace zelvano
