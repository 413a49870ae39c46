// Event lines (screen log and Log/ day files) and the byte trace (DebugLog/).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/Clock.h"

namespace zelvano {

class App;

// "hh:mm:ss".
std::string FormatLogTime(const LocalDateTime& t);
// "DDMMYYYY.log".
std::string DayFileName(const LocalDateTime& t);

// Writes one event line: nothing at level 0, the screen from 1, the Log day
// file from 2. Never reports a failure.
void WriteLog(App& app, std::string_view text);
// Writes one trace line to the DebugLog day file, whatever the level.
void WriteDebugLog(App& app, std::string_view text);
// A trace line held back for a later write, with the time it was made.
struct HeldLine {
    LocalDateTime time;
    std::string text;
};
// Writes held trace lines to the DebugLog day files: the same bytes as
// WriteDebugLog line by line, with one open-append-close per day file.
void WriteDebugLogLines(App& app, const std::vector<HeldLine>& lines);
// Puts a finished line (time included) into the screen log and shows it.
void ShowLogLine(App& app, const std::string& line);

// Appends line + CRLF (in the single-byte code page) to folder/DayFileName(now)
// under dataDir, creating the folder once when it is missing. False on any
// failure; nothing is reported.
bool AppendToDayFile(const std::filesystem::path& dataDir, std::string_view folder,
                     const LocalDateTime& now, std::string_view line);

}  // namespace zelvano
