#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "log/Log.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

namespace fs = std::filesystem;
using test::FakeClock;
using test::FakeSerialLine;
using test::FakeView;
using test::ReadFileBytes;
using test::TempDir;
using test::TestApp;
using test::WriteFileBytes;

constexpr const char* kText = "Comport closed by software.";
constexpr const char* kLine = "14:03:22 Comport closed by software.";  // at the FakeClock's time
constexpr const char* kDay = "05122026.log";                           // the FakeClock's date

TEST(LogFormat, TimeAndDayFileName) {
    const struct {
        LocalDateTime t;
        const char* time;
        const char* day;
    } cases[] = {
        {{2026, 12, 5, 14, 3, 22}, "14:03:22", "05122026.log"},
        {{1999, 1, 31, 0, 0, 0}, "00:00:00", "31011999.log"},
        {{2027, 10, 9, 23, 59, 59}, "23:59:59", "09102027.log"},
        {{312, 7, 1, 9, 8, 7}, "09:08:07", "01070312.log"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatLogTime(c.t), c.time);
        EXPECT_EQ(DayFileName(c.t), c.day);
    }
}

// What one WriteLog call leaves behind at each level.
TEST(LogLevels, WhereAnEventLineGoes) {
    const struct {
        std::int16_t level;
        bool screen;
        bool file;
    } cases[] = {
        {-1, false, false}, {0, false, false}, {1, true, false},
        {2, true, true},    {3, true, true},   {4, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        TestApp t;
        t.app.settings.Logfile = c.level;
        WriteLog(t.app, kText);

        EXPECT_EQ(t.app.screenLog.LogLineCount, c.screen ? 1 : 0);
        EXPECT_EQ(t.view.showLogLinesCount, c.screen ? 1 : 0);
        EXPECT_EQ(t.view.logLines[0], c.screen ? kLine : "");
        EXPECT_EQ(t.app.screenLog.LogLines[0], c.screen ? kLine : "");
        EXPECT_EQ(fs::exists(t.dir.path() / "Log"), c.file);
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / kDay),
                  c.file ? std::string(kLine) + "\r\n" : "");
        EXPECT_FALSE(fs::exists(t.dir.path() / "DebugLog"));
    }
}

TEST(LogLevels, DebugLineIgnoresTheLevelAndTheScreen) {
    for (std::int16_t level : {0, 3, 4}) {
        SCOPED_TRACE("level " + std::to_string(level));
        TestApp t;
        t.app.settings.Logfile = level;
        WriteDebugLog(t.app, "TX: 0x04");
        WriteDebugLog(t.app, "RX: 0x06");
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / kDay),
                  "14:03:22 TX: 0x04\r\n14:03:22 RX: 0x06\r\n");
        EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
        EXPECT_EQ(t.view.showLogLinesCount, 0);
        EXPECT_FALSE(fs::exists(t.dir.path() / "Log"));
    }
}

TEST(LogFile, LinesAreAppendedToTheDayFile) {
    TestApp t;
    t.app.settings.Logfile = 2;
    fs::create_directory(t.dir.path() / "Log");
    WriteFileBytes(t.dir.path() / "Log" / kDay, "09:00:00 from an earlier run\r\n");
    WriteLog(t.app, "one");
    t.clock.now.second = 23;
    WriteLog(t.app, "two");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / kDay),
              "09:00:00 from an earlier run\r\n14:03:22 one\r\n14:03:23 two\r\n");
}

TEST(LogFile, MidnightSplitsIntoTwoFiles) {
    TestApp t;
    t.app.settings.Logfile = 3;
    t.clock.now = {2026, 12, 31, 23, 59, 59};
    WriteLog(t.app, "before");
    WriteDebugLog(t.app, "trace before");
    t.clock.now = {2027, 1, 1, 0, 0, 1};
    WriteLog(t.app, "after");
    WriteDebugLog(t.app, "trace after");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "31122026.log"), "23:59:59 before\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "01012027.log"), "00:00:01 after\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / "31122026.log"),
              "23:59:59 trace before\r\n");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog" / "01012027.log"),
              "00:00:01 trace after\r\n");
}

// A clock that moves on one second per reading, across midnight.
class SteppingClock : public Clock {
  public:
    LocalDateTime Now() override {
        ++reads;
        LocalDateTime t = reads == 1 ? LocalDateTime{2026, 12, 31, 23, 59, 59}
                                     : LocalDateTime{2027, 1, 1, 0, 0, reads - 2};
        return t;
    }
    int reads = 0;
};

TEST(LogFile, OneClockReadingPerLine) {
    FakeView view;
    SteppingClock clock;
    FakeSerialLine line;
    TempDir dir;
    App app(view, clock, line, dir.path());
    app.settings.Logfile = 2;
    WriteLog(app, "x");
    EXPECT_EQ(clock.reads, 1);
    EXPECT_EQ(app.screenLog.LogLines[0], "23:59:59 x");
    EXPECT_EQ(ReadFileBytes(dir.path() / "Log" / "31122026.log"), "23:59:59 x\r\n");
    EXPECT_FALSE(fs::exists(dir.path() / "Log" / "01012027.log"));

    WriteDebugLog(app, "y");
    EXPECT_EQ(clock.reads, 2);
    EXPECT_EQ(ReadFileBytes(dir.path() / "DebugLog" / "01012027.log"), "00:00:00 y\r\n");
}

TEST(LogFile, SingleByteCodePageInFilesUtf8OnScreen) {
    TestApp t;
    t.app.settings.Logfile = 2;
    // e-acute and the euro sign have single-byte codes; the snowman has none.
    WriteLog(t.app, "caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83!");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / kDay), "14:03:22 caf\xE9 \x80 ?!\r\n");
    EXPECT_EQ(t.app.screenLog.LogLines[0], "14:03:22 caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83!");
}

// ---- the screen log ---------------------------------------------------------

TEST(ScreenLog, FillsFromTheTopThenScrolls) {
    TestApp t;
    t.app.settings.Logfile = 1;
    std::vector<std::string> lines;
    for (int n = 1; n <= 12; ++n) {
        const std::string text = "line " + std::to_string(n);
        WriteLog(t.app, text);
        lines.push_back("14:03:22 " + text);

        const std::size_t shown = std::min<std::size_t>(lines.size(), 10);
        const std::size_t first = lines.size() - shown;  // oldest line still on show
        ASSERT_EQ(t.app.screenLog.LogLineCount, static_cast<std::int16_t>(shown)) << n;
        for (std::size_t i = 0; i < 10; ++i) {
            const std::string expected = i < shown ? lines[first + i] : "";
            EXPECT_EQ(t.app.screenLog.LogLines[i], expected) << "after " << n << ", slot " << i;
        }
        EXPECT_EQ(t.view.logLines, t.app.screenLog.LogLines) << n;
        EXPECT_EQ(t.view.showLogLinesCount, n);
    }
    // The eleventh line pushed the first off; the twelfth the second.
    EXPECT_EQ(t.app.screenLog.LogLines[0], "14:03:22 line 3");
    EXPECT_EQ(t.app.screenLog.LogLines[9], "14:03:22 line 12");
}

// ---- failures cost the file line, never the screen line ---------------------

TEST(LogFailure, FileWhereTheFolderShouldBe) {
    TestApp t;
    t.app.settings.Logfile = 3;
    WriteFileBytes(t.dir.path() / "Log", "not a folder");
    WriteFileBytes(t.dir.path() / "DebugLog", "not a folder either");
    WriteLog(t.app, kText);
    WriteDebugLog(t.app, "TX: 0x04");
    EXPECT_EQ(t.app.screenLog.LogLines[0], kLine);
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log"), "not a folder");
    EXPECT_EQ(ReadFileBytes(t.dir.path() / "DebugLog"), "not a folder either");
    EXPECT_FALSE(AppendToDayFile(t.dir.path(), "Log", t.clock.now, "x"));
}

TEST(LogFailure, DayFileThatIsADirectory) {
    TestApp t;
    t.app.settings.Logfile = 2;
    fs::create_directories(t.dir.path() / "Log" / kDay / "inside");
    WriteLog(t.app, kText);
    WriteLog(t.app, kText);
    EXPECT_EQ(t.app.screenLog.LogLineCount, 2);
    EXPECT_EQ(t.view.logLines[1], kLine);
    EXPECT_TRUE(fs::is_directory(t.dir.path() / "Log" / kDay / "inside"));
    EXPECT_FALSE(AppendToDayFile(t.dir.path(), "Log", t.clock.now, "x"));
}

TEST(LogFailure, ProgramDirectoryGoneIsNotRecreated) {
    FakeView view;
    FakeClock clock;
    FakeSerialLine line;
    TempDir dir;
    App app(view, clock, line, dir.path() / "gone");
    app.settings.Logfile = 3;
    WriteLog(app, kText);
    WriteDebugLog(app, "TX: 0x04");
    EXPECT_EQ(app.screenLog.LogLines[0], kLine);
    EXPECT_FALSE(fs::exists(dir.path() / "gone"));
}

TEST(LogFailure, AppendReportsSuccessOnlyWhenWritten) {
    TempDir dir;
    const LocalDateTime now{2026, 12, 5, 14, 3, 22};
    EXPECT_TRUE(AppendToDayFile(dir.path(), "Log", now, "first"));  // folder made on need
    EXPECT_TRUE(AppendToDayFile(dir.path(), "Log", now, "second"));
    EXPECT_EQ(ReadFileBytes(dir.path() / "Log" / kDay), "first\r\nsecond\r\n");
}

// A disk that fills up in the middle of a line (here a file-size limit, with
// its signal ignored so the write fails instead): no part of the line stays,
// so the file keeps whole lines and a later line does not run on from a stump.
TEST(LogFailure, LineThatDoesNotFitLeavesNoStump) {
    TempDir dir;
    const LocalDateTime now{2026, 12, 5, 14, 3, 22};
    ASSERT_TRUE(AppendToDayFile(dir.path(), "Log", now, "first"));
    const fs::path file = dir.path() / "Log" / kDay;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit tight{fs::file_size(file) + 10, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const bool written = AppendToDayFile(dir.path(), "Log", now, "a line longer than ten bytes");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFileBytes(file), "first\r\n");
    EXPECT_TRUE(AppendToDayFile(dir.path(), "Log", now, "second"));
    EXPECT_EQ(ReadFileBytes(file), "first\r\nsecond\r\n");
}

}  // namespace
}  // namespace zelvano
