// The event log: the last ten lines on screen, the Log/ day files and the byte
// trace in DebugLog/.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Clock.h"
#include "settings/Settings.h"

namespace zelvano {

// "hh:mm:ss".
std::string FormatLogTime(const LocalDateTime& t);
// "DDMMYYYY.log".
std::string DayFileName(const LocalDateTime& t);

// Appends line + CRLF (in the single-byte code page) to folder/DayFileName(now)
// under dataDir, creating the folder once when it is missing. False on any
// failure; nothing is reported.
bool AppendToDayFile(const std::filesystem::path& dataDir, std::string_view folder,
                     const LocalDateTime& now, std::string_view line);

// A trace line held back for a later write, with the time it was made.
struct HeldLine {
    LocalDateTime time;
    std::string text;
};

using ScreenLines = std::array<std::string, 10>;

class EventLog {
  public:
    // Called with the ten screen lines (slot 0 at the top) after each change.
    using Listener = std::function<void(const ScreenLines&)>;

    // The log level is read from settings at each line.
    EventLog(const Settings& settings, Clock& clock, std::filesystem::path dataDir)
        : settings_(settings), clock_(clock), dataDir_(std::move(dataDir)) {}

    void SetListener(Listener listener) { listener_ = std::move(listener); }

    // True when the log level is at least level.
    bool Enabled(int level) const { return settings_.logLevel >= level; }
    // Writes one event line: nothing at level 0, the screen from 1, the Log day
    // file from 2. Never reports a failure.
    void Write(std::string_view text);
    // Writes text when the log level is at least level.
    void Write(int level, std::string_view text) {
        if (Enabled(level))
            Write(text);
    }
    // Writes one event line on screen whatever the level, for a problem the
    // operator must see even when the level itself could not be read.
    void Announce(std::string_view text);
    // Writes one trace line to the DebugLog day file, whatever the level.
    void Trace(std::string_view text);
    // Writes held trace lines: the same bytes as Trace line by line, with one
    // open-append-close per day file.
    void Trace(const std::vector<HeldLine>& lines);
    // Empties the screen lines and shows them empty.
    void ClearScreen();

    const ScreenLines& Lines() const { return lines_; }
    LocalDateTime Now() { return clock_.Now(); }
    const std::filesystem::path& DataDir() const { return dataDir_; }

  private:
    void Show(const std::string& line);

    const Settings& settings_;
    Clock& clock_;
    const std::filesystem::path dataDir_;
    Listener listener_;
    ScreenLines lines_;
    std::size_t count_ = 0;
};

}  // namespace zelvano
