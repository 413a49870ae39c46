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

TEST(Log, WhereALineGoesByLevel) {
    for (std::int16_t level : {-1, 0, 1, 2, 3, 4}) {
        SCOPED_TRACE(level);
        TestApp t;
        t.app.settings.logLevel = level;
        WriteLog(t.app, "Comport closed by software.");
        const std::string line = level >= 1 ? "14:03:22 Comport closed by software." : "";
        EXPECT_EQ(t.view.logLines[0] + t.app.screenLog.LogLines[0], line + line);
        EXPECT_EQ(t.view.showLogLinesCount, level >= 1 ? 1 : 0);
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "05122026.log"),
                  level >= 2 ? line + "\r\n" : "");
        EXPECT_EQ(fs::exists(t.dir.path() / "Log"), level >= 2);
        // Trace lines ignore the level and the screen.
        WriteDebugLog(t.app, "TxD: 4");
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / "05122026.log"), "14:03:22 TxD: 4\r\n");
        EXPECT_EQ(t.view.showLogLinesCount, level >= 1 ? 1 : 0);
    }
}

TEST(Log, DayFilesAppendInTheSingleByteCodePageAndSplitAtMidnight) {
    TestApp t;
    t.app.settings.logLevel = 2;
    fs::create_directory(t.dir.path() / "Log");
    WriteFileBytes(t.dir.path() / "Log" / "31121999.log", "09:00:00 earlier\r\n");
    t.clock.now = {1999, 12, 31, 23, 59, 59};
    // e-acute and the euro sign have single-byte codes; the snowman has none.
    WriteLog(t.app, "caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83!");
    t.clock.now = {2000, 1, 2, 0, 0, 1};
    WriteLog(t.app, "after");
    WriteDebugLog(t.app, "trace");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "31121999.log"),
              "09:00:00 earlier\r\n23:59:59 caf\xE9 \x80 ?!\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "02012000.log"), "00:00:01 after\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / "02012000.log"), "00:00:01 trace\r\n");
    EXPECT_EQ(t.app.screenLog.LogLines[0], "23:59:59 caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83!");
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
    TestApp t;
    App app(t.view, clock, t.line, t.dir.path());
    app.settings.logLevel = 2;
    WriteLog(app, "x");
    WriteDebugLog(app, "y");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "01122026.log"), "23:59:59 x\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / "02122026.log"), "23:59:59 y\r\n");
}

TEST(Log, ScreenFillsFromTheTopThenScrolls) {
    TestApp t;
    t.app.settings.logLevel = 1;
    for (int n = 1; n <= 12; ++n) {
        WriteLog(t.app, std::to_string(n));
        std::string shown;
        for (const std::string& l : t.app.screenLog.LogLines)
            shown += l.empty() ? "-" : l.substr(9) + " ";
        std::string want(10 - std::min(n, 10), '-');  // the newest line at the bottom
        for (int k = n; k > 0 && k > n - 10; --k)
            want.insert(0, std::to_string(k) + " ");
        EXPECT_EQ(shown, want);
        EXPECT_EQ(t.app.screenLog.LogLineCount, std::min(n, 10));
        EXPECT_EQ(t.view.logLines, t.app.screenLog.LogLines);
    }
}

// A folder or file that cannot be written costs the file line, never the
// screen line; a line a full disk cut short is taken out again.
TEST(Log, FileFailuresCostOnlyTheFileLine) {
    TestApp t;
    t.app.settings.logLevel = 3;
    WriteFileBytes(t.dir.path() / "Log", "not a folder");
    fs::create_directories(t.dir.path() / "DebugLog" / "05122026.log" / "inside");
    WriteLog(t.app, "one");
    WriteDebugLog(t.app, "two");
    EXPECT_EQ(t.app.screenLog.LogLines[0], "14:03:22 one");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log"), "not a folder");
    EXPECT_TRUE(fs::is_directory(t.dir.path() / "DebugLog" / "05122026.log" / "inside"));
    EXPECT_FALSE(AppendToDayFile(t.dir.path(), "Log", t.clock.now, "x"));

    FakeView view;  // a data folder that is gone is not made again
    App gone(view, t.clock, t.line, t.dir.path() / "gone");
    gone.settings.logLevel = 3;
    WriteLog(gone, "one");
    EXPECT_EQ(gone.screenLog.LogLines[0], "14:03:22 one");
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
