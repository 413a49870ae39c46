// Event lines on the screen and in day files by log level, the trace file, the
// file format, and file failures that cost the file line only.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "log/Log.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

namespace fs = std::filesystem;

// The event log over a settable clock and a temporary data folder, with what
// it showed.
struct LogRig {
    Settings settings;
    FakeClock clock;
    TempDir dir;
    EventLog log{settings, clock, dir.path()};
    ScreenLines shown{};
    int shows = 0;

    LogRig() {
        log.SetListener([this](const ScreenLines& lines) {
            shown = lines;
            ++shows;
        });
    }
};

TEST(Log, WhereALineGoesByLevel) {
    for (std::int16_t level : {-1, 0, 1, 2, 3, 4}) {
        SCOPED_TRACE(level);
        LogRig t;
        t.settings.logLevel = level;
        t.log.Write("Comport closed by software.");
        const std::string line = level >= 1 ? "14:03:22 Comport closed by software." : "";
        EXPECT_EQ(t.shown[0] + t.log.Lines()[0], line + line);
        EXPECT_EQ(t.shows, level >= 1 ? 1 : 0);
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "05122026.log"),
                  level >= 2 ? line + "\r\n" : "");
        EXPECT_EQ(fs::exists(t.dir.path() / "Log"), level >= 2);
        // Trace lines ignore the level and the screen.
        t.log.Trace("TxD: 4");
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / "05122026.log"), "14:03:22 TxD: 4\r\n");
        EXPECT_EQ(t.shows, level >= 1 ? 1 : 0);
    }
}

TEST(Log, DayFilesAppendInTheSingleByteCodePageAndSplitAtMidnight) {
    LogRig t;
    t.settings.logLevel = 2;
    fs::create_directory(t.dir.path() / "Log");
    WriteFileBytes(t.dir.path() / "Log" / "31121999.log", "09:00:00 earlier\r\n");
    t.clock.now = {1999, 12, 31, 23, 59, 59};
    // e-acute and the euro sign have single-byte codes; the snowman has none.
    t.log.Write("caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83!");
    t.clock.now = {2000, 1, 2, 0, 0, 1};
    t.log.Write("after");
    t.log.Trace("trace");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "31121999.log"),
              "09:00:00 earlier\r\n23:59:59 caf\xE9 \x80 ?!\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "02012000.log"), "00:00:01 after\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / "02012000.log"), "00:00:01 trace\r\n");
    EXPECT_EQ(t.log.Lines()[0], "23:59:59 caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83!");
    EXPECT_EQ(FormatLogTime({312, 7, 1, 9, 8, 7}) + DayFileName({312, 7, 1, 9, 8, 7}),
              "09:08:0701070312.log");
}

// A clock a day further on at every reading: a line takes its time and its
// file from one reading.
struct SteppingClock : Clock {
    LocalDateTime Now() override { return {2026, 12, ++day, 23, 59, 59}; }
    int day = 0;
};

TEST(Log, OneClockReadingPerLine) {
    SteppingClock clock;
    LogRig t;
    t.settings.logLevel = 2;
    EventLog log(t.settings, clock, t.dir.path());
    log.Write("x");
    log.Trace("y");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "01122026.log"), "23:59:59 x\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / "02122026.log"), "23:59:59 y\r\n");
}

TEST(Log, ScreenFillsFromTheTopThenScrolls) {
    LogRig t;
    t.settings.logLevel = 1;
    for (int n = 1; n <= 12; ++n) {
        t.log.Write(std::to_string(n));
        std::string shown;
        for (const std::string& l : t.log.Lines())
            shown += l.empty() ? "-" : l.substr(9) + " ";
        std::string want(10 - std::min(n, 10), '-');  // the newest line at the bottom
        for (int k = n; k > 0 && k > n - 10; --k)
            want.insert(0, std::to_string(k) + " ");
        EXPECT_EQ(shown, want);
        EXPECT_EQ(t.shown, t.log.Lines());
    }
}

// A folder or file that cannot be written costs the file line, never the
// screen line; a line a full disk cut short is taken out again.
TEST(Log, FileFailuresCostOnlyTheFileLine) {
    LogRig t;
    t.settings.logLevel = 3;
    WriteFileBytes(t.dir.path() / "Log", "not a folder");
    fs::create_directories(t.dir.path() / "DebugLog" / "05122026.log" / "inside");
    fs::create_directories(t.dir.path() / "Log2");
    fs::create_symlink("../elsewhere", t.dir.path() / "Log2" / "05122026.log");  // not followed
    t.log.Write("one");
    t.log.Trace("two");
    EXPECT_FALSE(AppendToDayFile(t.dir.path(), "Log2", t.clock.now, "x"));
    EXPECT_FALSE(fs::exists(t.dir.path() / "elsewhere"));
    EXPECT_EQ(t.log.Lines()[0], "14:03:22 one");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log"), "not a folder");
    EXPECT_TRUE(fs::is_directory(t.dir.path() / "DebugLog" / "05122026.log" / "inside"));
    EXPECT_FALSE(AppendToDayFile(t.dir.path(), "Log", t.clock.now, "x"));

    // A data folder that is gone is not made again.
    EventLog gone(t.settings, t.clock, t.dir.path() / "gone");
    gone.Write("one");
    EXPECT_EQ(gone.Lines()[0], "14:03:22 one");
    EXPECT_FALSE(fs::exists(t.dir.path() / "gone"));

    TempDir dir;
    ASSERT_TRUE(AppendToDayFile(dir.path(), "Log", t.clock.now, "first"));  // folder made
    const fs::path file = dir.path() / "Log" / "05122026.log";
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit tight{fs::file_size(file) + 10, limit.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tight);
    const bool written = AppendToDayFile(dir.path(), "Log", t.clock.now, "longer than ten bytes");
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(written);
    EXPECT_TRUE(AppendToDayFile(dir.path(), "Log", t.clock.now, "second"));
    EXPECT_EQ(ReadFileBytes(file), "first\r\nsecond\r\n");
}

}  // namespace
}  // namespace zelvano::test
