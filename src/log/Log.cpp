#include "log/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "common/Text.h"

namespace zelvano {

namespace {

namespace fs = std::filesystem;

// The line as Windows-1252 bytes for a day file. A character without a
// single-byte code becomes '?', so the rest of the line is not lost.
std::string ToFileBytes(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (char32_t cp : DecodeUtf8(line)) {
        const int code = AnsiCode(cp);
        out.push_back(code < 0 ? '?' : static_cast<char>(code));
    }
    return out;
}

// One open, append and close, three system calls: a log line is written
// several times a second at the higher levels. False when the file could not
// be opened or the bytes did not all reach it.
bool AppendOnce(const fs::path& file, const std::string& bytes) {
    // Never through a link (it could point anywhere) nor blocked by a pipe.
    const int fd = ::open(
        file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    if (written > 0 && written < bytes.size()) {
        // A full disk took part of the bytes: cut them off again, so the file
        // holds whole lines and the next line does not run on from a stump.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end >= static_cast<off_t>(written)) {
            [[maybe_unused]] const int cut = ::ftruncate(fd, end - static_cast<off_t>(written));
        }
    }
    return ::close(fd) == 0 && written == bytes.size();
}

std::string StampedLine(const LocalDateTime& now, std::string_view text) {
    std::string line = FormatLogTime(now);
    line += ' ';
    line += text;
    return line;
}

// Appends bytes already in the file's code page to folder/DayFileName(now).
bool AppendBytesToDayFile(const fs::path& dataDir, std::string_view folder,
                          const LocalDateTime& now, const std::string& bytes) {
    const fs::path dir = dataDir / fs::path(folder);
    const fs::path file = dir / DayFileName(now);
    if (AppendOnce(file, bytes))
        return true;
    // The folder is made only when it is missing (false when anything is in
    // its place), and one level only: a missing data folder stays so.
    std::error_code ec;
    if (!fs::create_directory(dir, ec))
        return false;
    return AppendOnce(file, bytes);
}

}  // namespace

namespace {

// Two or four digits with leading zeros, as "%02d" and "%04d" print a value
// below 100 or 10000; a log line is stamped several times a second, and
// printf's formatting costs more than the rest of the line.
void AppendDigits(std::string& out, int value, int width) {
    if (value < 0) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%0*d", width, value);
        out += buf;
        return;
    }
    char digits[4];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

std::string FormatLogTime(const LocalDateTime& t) {
    std::string out;
    out.reserve(8);
    AppendDigits(out, t.hour % 100, 2);
    out += ':';
    AppendDigits(out, t.minute % 100, 2);
    out += ':';
    AppendDigits(out, t.second % 100, 2);
    return out;
}

std::string DayFileName(const LocalDateTime& t) {
    std::string out;
    out.reserve(12);
    AppendDigits(out, t.day % 100, 2);
    AppendDigits(out, t.month % 100, 2);
    AppendDigits(out, t.year % 10000, 4);
    out += ".log";
    return out;
}

bool AppendToDayFile(const fs::path& dataDir, std::string_view folder, const LocalDateTime& now,
                     std::string_view line) {
    return AppendBytesToDayFile(dataDir, folder, now, ToFileBytes(line) + "\r\n");
}

void EventLog::Show(const std::string& line) {
    if (count_ < lines_.size()) {
        lines_[count_++] = line;
    } else {
        for (std::size_t i = 1; i < lines_.size(); ++i)
            lines_[i - 1] = std::move(lines_[i]);
        lines_.back() = line;
    }
    if (listener_)
        listener_(lines_);
}

void EventLog::ClearScreen() {
    lines_ = {};
    count_ = 0;
    if (listener_)
        listener_(lines_);
}

void EventLog::Write(std::string_view text) {
    if (!Enabled(1))
        return;
    const LocalDateTime now = clock_.Now();
    const std::string line = StampedLine(now, text);
    Show(line);
    if (Enabled(2))
        AppendToDayFile(dataDir_, "Log", now, line);
}

void EventLog::Announce(std::string_view text) {
    if (Enabled(1)) {
        Write(text);
        return;
    }
    Show(StampedLine(clock_.Now(), text));
}

void EventLog::Trace(std::string_view text) {
    const LocalDateTime now = clock_.Now();
    AppendToDayFile(dataDir_, "DebugLog", now, StampedLine(now, text));
}

void EventLog::Trace(const std::vector<HeldLine>& lines) {
    std::size_t first = 0;
    while (first < lines.size()) {
        // The lines of one day go to that day's file in one append; each line
        // is turned into file bytes on its own, so no large temporary is made.
        const std::string day = DayFileName(lines[first].time);
        std::string bytes;
        bytes.reserve((lines.size() - first) * 64);  // a trace line is about 50 bytes
        std::size_t next = first;
        for (; next < lines.size() && DayFileName(lines[next].time) == day; ++next) {
            bytes += ToFileBytes(StampedLine(lines[next].time, lines[next].text));
            bytes += "\r\n";
        }
        AppendBytesToDayFile(dataDir_, "DebugLog", lines[first].time, bytes);
        first = next;
    }
}

}  // namespace zelvano
