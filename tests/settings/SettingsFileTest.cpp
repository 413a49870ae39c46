#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::TestApp;
using test::WriteFileBytes;

using Field = std::int16_t Settings::*;

// A record with the given fields set and all others 0.
Settings Record(std::initializer_list<std::pair<Field, int>> fields,
                std::array<std::int16_t, 6> espaSet = {}) {
    Settings s;
    for (const auto& [field, value] : fields)
        s.*field = static_cast<std::int16_t>(value);
    s.EspaSet = espaSet;
    return s;
}

// The thirteen scalar fields with their keys, for messages and loops.
const std::vector<std::pair<Field, const char*>> kFields = {
    {&Settings::Compoort, "Compoort"},
    {&Settings::Emulatie, "Emulatie"},
    {&Settings::BaudRate, "BaudRate"},
    {&Settings::Parity, "Parity"},
    {&Settings::Bits, "Bits"},
    {&Settings::StopBits, "StopBits"},
    {&Settings::HandShake, "HandShake"},
    {&Settings::LineCheck, "LineCheck"},
    {&Settings::CallStatusCheck, "CallStatusCheck"},
    {&Settings::Logfile, "Logfile"},
    {&Settings::CheckInterval, "CheckInterval"},
    {&Settings::EspaEnable, "EspaEnable"},
};

// Every field of the record compared, so a failure names the field.
void ExpectSameRecord(const Settings& actual, const Settings& expected, const std::string& why) {
    for (const auto& [field, key] : kFields) {
        EXPECT_EQ(actual.*field, expected.*field) << why << ": " << key;
    }
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(actual.EspaSet[i], expected.EspaSet[i]) << why << ": EspaSet(" << i << ")";
    }
}

// A record in which every field differs from every other.
Settings DistinctRecord() {
    return Record({{&Settings::Compoort, 1},
                   {&Settings::Emulatie, 5},
                   {&Settings::BaudRate, 4},
                   {&Settings::Parity, 2},
                   {&Settings::Bits, 1},
                   {&Settings::StopBits, 0},
                   {&Settings::HandShake, 2},
                   {&Settings::LineCheck, 1},
                   {&Settings::CallStatusCheck, 2},
                   {&Settings::Logfile, 3},
                   {&Settings::CheckInterval, 20},
                   {&Settings::EspaEnable, 1}},
                  {1, 2, 3, 4, 5, 6});
}

// The bytes the program writes for DistinctRecord, spelled out by hand.
const char* const kDistinctFile =
    "0        Compoort ->1\r\n"
    "10       Emulatie ->5\r\n"
    "11       BaudRate ->4\r\n"
    "12       Parity ->2\r\n"
    "13       Bits ->1\r\n"
    "14       StopBits ->0\r\n"
    "15       HandShake ->2\r\n"
    "16       LineCheck ->1\r\n"
    "17       CallStatusCheck ->2\r\n"
    "20       Logfile ->3\r\n"
    "21       CheckInterval ->20\r\n"
    "30       EspaSet ->1\r\n"
    "31       EspaSet ->2\r\n"
    "32       EspaSet ->3\r\n"
    "33       EspaSet ->4\r\n"
    "34       EspaSet ->5\r\n"
    "35       EspaSet ->6\r\n"
    "40       EspaEnable ->1\r\n";

// ---- writing ----------------------------------------------------------------

TEST(SettingsWrite, ExactBytesOfTheFile) {
    TempDir dir;
    const fs::path file = SettingsPath(dir.path());
    EXPECT_EQ(file, dir.path() / "espa.set");
    ASSERT_TRUE(WriteSettingsFile(file, DistinctRecord()));
    EXPECT_EQ(ReadFileBytes(file), kDistinctFile);
    EXPECT_FALSE(fs::exists(dir.path() / "espa.set.tmp"));
}

TEST(SettingsWrite, NegativeValuesKeepTheirSign) {
    Settings s = DistinctRecord();
    s.Compoort = -1;
    s.EspaSet[2] = -1;
    s.Logfile = -32768;
    const std::string bytes = FormatSettings(s);
    EXPECT_NE(bytes.find("0        Compoort ->-1\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("32       EspaSet ->-1\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("20       Logfile ->-32768\r\n"), std::string::npos);
    ExpectSameRecord(ParseSettings(bytes), s, "sign kept");
}

// Every value the settings window can store, one field at a time, through the
// file and back; plus the ends of the 16-bit range.
TEST(SettingsWrite, RoundTripOfEveryValueThatCanArise) {
    struct Range {
        Field field;
        int last;  // list positions run from -1 (no selection) to last
    };
    const Range ranges[] = {
        {&Settings::Compoort, 7},  {&Settings::Emulatie, 5},       {&Settings::BaudRate, 7},
        {&Settings::Parity, 2},    {&Settings::Bits, 1},           {&Settings::StopBits, 1},
        {&Settings::HandShake, 2}, {&Settings::LineCheck, 1},      {&Settings::CallStatusCheck, 2},
        {&Settings::Logfile, 4},   {&Settings::CheckInterval, 20}, {&Settings::EspaEnable, 1},
    };
    for (const Range& r : ranges) {
        for (int v = -1; v <= r.last; ++v) {
            Settings s = DistinctRecord();
            s.*(r.field) = static_cast<std::int16_t>(v);
            ExpectSameRecord(ParseSettings(FormatSettings(s)), s, "value " + std::to_string(v));
        }
    }
    for (std::size_t i = 0; i < 6; ++i) {
        for (int v = -1; v <= 6; ++v) {
            Settings s = DistinctRecord();
            s.EspaSet[i] = static_cast<std::int16_t>(v);
            ExpectSameRecord(ParseSettings(FormatSettings(s)), s,
                             "EspaSet value " + std::to_string(v));
        }
    }
    for (int v : {-32768, -32767, 32767}) {
        Settings s;
        for (const auto& [field, key] : kFields)
            s.*field = static_cast<std::int16_t>(v);
        s.EspaSet.fill(static_cast<std::int16_t>(v));
        ExpectSameRecord(ParseSettings(FormatSettings(s)), s, "extreme " + std::to_string(v));
    }

    // And once through the real file.
    TempDir dir;
    const fs::path file = SettingsPath(dir.path());
    Settings s = DistinctRecord();
    s.HandShake = -1;
    ASSERT_TRUE(WriteSettingsFile(file, s));
    ExpectSameRecord(ReadSettingsFile(file), s, "through the file");
}

TEST(SettingsWrite, SecondSaveReplacesTheFirst) {
    TempDir dir;
    const fs::path file = SettingsPath(dir.path());
    Settings s = DistinctRecord();
    ASSERT_TRUE(WriteSettingsFile(file, s));
    s.BaudRate = 6;
    s.EspaSet[5] = 0;
    ASSERT_TRUE(WriteSettingsFile(file, s));
    ExpectSameRecord(ReadSettingsFile(file), s, "second save");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(SettingsWrite, LeftoverTempFileOfAnInterruptedSaveIsReplaced) {
    TempDir dir;
    const fs::path file = SettingsPath(dir.path());
    WriteFileBytes(dir.path() / "espa.set.tmp", "half a file");
    ASSERT_TRUE(WriteSettingsFile(file, DistinctRecord()));
    EXPECT_EQ(ReadFileBytes(file), kDistinctFile);
    EXPECT_FALSE(fs::exists(dir.path() / "espa.set.tmp"));
}

TEST(SettingsWrite, PermissionsOfTheOldFileAreKept) {
    TempDir dir;
    const fs::path file = SettingsPath(dir.path());
    WriteFileBytes(file, "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                    fs::perm_options::replace);
    ASSERT_TRUE(WriteSettingsFile(file, DistinctRecord()));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// ---- a failed save leaves the old file --------------------------------------

class FailedSave : public ::testing::Test {
  protected:
    void SetUp() override { WriteFileBytes(file, kOld); }
    void ExpectOldFileIntact() {
        EXPECT_EQ(ReadFileBytes(file), kOld);
        EXPECT_EQ(ReadSettingsFile(file).Logfile, 2);
    }

    static constexpr const char* kOld = "20       Logfile ->2\r\n";
    TempDir dir;
    fs::path file = SettingsPath(dir.path());
    fs::path temp = dir.path() / "espa.set.tmp";
};

TEST_F(FailedSave, TempNameTakenByADirectory) {
    fs::create_directories(temp / "inside");
    EXPECT_FALSE(WriteSettingsFile(file, DistinctRecord()));
    ExpectOldFileIntact();
    EXPECT_TRUE(fs::is_directory(temp / "inside"));  // not ours: left alone
}

TEST_F(FailedSave, DiskFullDuringTheWrite) {
    // A file-size limit below the file's size makes the write fail the way a
    // full disk does, for root as well.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteSettingsFile(file, DistinctRecord());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    ExpectOldFileIntact();
    EXPECT_FALSE(fs::exists(temp));  // the partial temp file is removed
}

TEST(SettingsWriteFailure, DirectoryInPlaceOfTheFile) {
    TempDir dir;
    const fs::path file = SettingsPath(dir.path());
    fs::create_directories(file / "keep");
    EXPECT_FALSE(WriteSettingsFile(file, DistinctRecord()));
    EXPECT_TRUE(fs::is_directory(file / "keep"));
    EXPECT_FALSE(fs::exists(dir.path() / "espa.set.tmp"));
}

TEST(SettingsWriteFailure, MissingDirectoryIsNotCreated) {
    TempDir dir;
    const fs::path file = SettingsPath(dir.path() / "gone");
    EXPECT_FALSE(WriteSettingsFile(file, DistinctRecord()));
    EXPECT_FALSE(fs::exists(dir.path() / "gone"));
}

TEST(SettingsWriteFailure, WriteSettingsStaysSilentAndKeepsTheRecord) {
    TestApp t;
    fs::create_directories(SettingsPath(t.dir.path()) / "x");
    t.app.settings = DistinctRecord();
    WriteSettings(t.app);
    ExpectSameRecord(t.app.settings, DistinctRecord(), "record after failed save");
    EXPECT_TRUE(t.view.messageBoxes.empty());
    EXPECT_EQ(t.view.showLogLinesCount, 0);
}

// ---- reading ----------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string bytes;
    Settings expected;
};

const Settings kZero{};

std::vector<ReadCase> ReadCases() {
    using S = Settings;
    return {
        {"empty file", "", kZero},
        {"file as written", kDistinctFile, DistinctRecord()},
        {"any order", "21       CheckInterval ->5\r\n0        Compoort ->3\r\n",
         Record({{&S::CheckInterval, 5}, {&S::Compoort, 3}})},
        {"empty lines skipped", "\r\n\r\n20       Logfile ->2\r\n\r\n\r\n13       Bits ->1\r\n",
         Record({{&S::Logfile, 2}, {&S::Bits, 1}})},
        {"blank-only line skipped", "   \r\n20       Logfile ->2\r\n", Record({{&S::Logfile, 2}})},
        {"unknown numbers read and ignored",
         "5        Foo ->7\r\n25       Bar ->8\r\n12       Parity ->2\r\n",
         Record({{&S::Parity, 2}})},
        {"blank before the value", "21       CheckInterval -> 9\r\n",
         Record({{&S::CheckInterval, 9}})},
        {"line ending at the arrow gives 0",
         "20       Logfile ->3\r\n21       CheckInterval ->\r\n", Record({{&S::Logfile, 3}})},
        {"five digits: first four count", "00217    CheckInterval ->3\r\n",
         Record({{&S::CheckInterval, 3}})},
        {"five-digit number past the slots", "12345    Parity ->2\r\n", kZero},
        {"number without arrow takes the last value", "11       BaudRate ->4\r\n12\r\n",
         Record({{&S::BaudRate, 4}, {&S::Parity, 4}})},
        {"number without arrow first gives 0", "12\r\n13       Bits ->1\r\n",
         Record({{&S::Bits, 1}})},
        {"negative number ends the reading",
         "10       Emulatie ->2\r\n-1       X ->5\r\n11       BaudRate ->4\r\n",
         Record({{&S::Emulatie, 2}})},
        {"negative number with fraction ends the reading",
         "10       Emulatie ->2\r\n-3.7 ->5\r\n11       BaudRate ->4\r\n",
         Record({{&S::Emulatie, 2}})},
        {"minus zero is not negative", "-0 ->5\r\n11       BaudRate ->4\r\n",
         Record({{&S::Compoort, 5}, {&S::BaudRate, 4}})},
        {"299 and above ignored, reading goes on",
         "299      X ->5\r\n300 ->6\r\n9999 ->7\r\n13       Bits ->1\r\n", Record({{&S::Bits, 1}})},
        {"298 is a slot: its value carries on", "298 ->5\r\n14\r\n", Record({{&S::StopBits, 5}})},
        {"later line with the same number wins", "20       Logfile ->1\r\n20       Logfile ->3\r\n",
         Record({{&S::Logfile, 3}})},
        {"quoted items lose their quotes", "\"20       Logfile ->2\",\"13       Bits ->1\"\r\n",
         Record({{&S::Logfile, 2}, {&S::Bits, 1}})},
        {"comma splits a line into items", "20       Logfile ->2,13\r\n",
         Record({{&S::Logfile, 2}, {&S::Bits, 2}})},
        {"comma inside quotes is kept", "\"21 CheckInterval ->7,5\",13\r\n",
         Record({{&S::CheckInterval, 7}, {&S::Bits, 7}})},
        {"text after the closing quote is dropped", "\"21 ->7\"9,13\r\n",
         Record({{&S::CheckInterval, 7}, {&S::Bits, 7}})},
        {"unclosed quote ends at the line end", "\"21 ->6\r\n13 ->1\r\n",
         Record({{&S::CheckInterval, 6}, {&S::Bits, 1}})},
        {"empty quoted item skipped", "\"\",20 ->2\r\n", Record({{&S::Logfile, 2}})},
        {"value after the first arrow only", "21 ->4->5\r\n", Record({{&S::CheckInterval, 4}})},
        {"value with sign", "20 ->-1\r\n21 ->+7\r\n",
         Record({{&S::Logfile, -1}, {&S::CheckInterval, 7}})},
        {"value stops at the first other character", "21 ->12abc\r\n20 ->abc\r\n",
         Record({{&S::CheckInterval, 12}})},
        {"value with blank inside stops", "21 ->1 2\r\n", Record({{&S::CheckInterval, 1}})},
        {"item without a number is line 0", "Compoort ->5\r\n", Record({{&S::Compoort, 5}})},
        {"leading blanks before the number", "    20 Logfile ->2\r\n", Record({{&S::Logfile, 2}})},
        {"LF and CR line ends", "20 ->2\n13 ->1\r14 ->1",
         Record({{&S::Logfile, 2}, {&S::Bits, 1}, {&S::StopBits, 1}})},
        {"half to even: values",
         "20 ->2.5\r\n21 ->3.5\r\n10 ->2.51\r\n11 ->-2.5\r\n12 ->-3.5\r\n13 ->0.49\r\n",
         Record({{&S::Logfile, 2},
                 {&S::CheckInterval, 4},
                 {&S::Emulatie, 3},
                 {&S::BaudRate, -2},
                 {&S::Parity, -4}})},
        {"half to even: line numbers", "12.5 ->1\r\n13.5->2\r\n",
         Record({{&S::Parity, 1}, {&S::StopBits, 2}})},
        {"all six EspaSet slots", "35 ->6\r\n30 ->1\r\n33 ->4\r\n31 ->2\r\n34 ->5\r\n32 ->3\r\n",
         Record({}, {1, 2, 3, 4, 5, 6})},
        {"values beyond 16 bits are clamped",
         "20 ->40000\r\n21 ->-40000\r\n10 ->99999999999999999999999\r\n11 ->32767\r\n12 "
         "->-32768\r\n",
         Record({{&S::Logfile, 32767},
                 {&S::CheckInterval, -32768},
                 {&S::Emulatie, 32767},
                 {&S::BaudRate, 32767},
                 {&S::Parity, -32768}})},
    };
}

TEST(SettingsRead, ReadingRules) {
    for (const ReadCase& c : ReadCases()) {
        ExpectSameRecord(ParseSettings(c.bytes), c.expected, c.name);
    }
}

TEST(SettingsRead, BinaryJunkBeforeAGoodLine) {
    std::string junk;
    for (int b = 0; b < 256; ++b)
        junk.push_back(static_cast<char>(b));
    const Settings s = ParseSettings(junk + "\r\n20       Logfile ->2\r\n");
    EXPECT_EQ(s.Logfile, 2);
    EXPECT_EQ(s.Compoort, 0);
}

TEST(SettingsRead, NulBytesInsideALine) {
    using namespace std::string_literals;
    const Settings s = ParseSettings(
        "21 ->\0"
        "5\r\n20 ->3\0\r\n"s);
    EXPECT_EQ(s.CheckInterval, 0);  // the value stops at the NUL
    EXPECT_EQ(s.Logfile, 3);
}

TEST(SettingsRead, VeryLongLines) {
    const std::string digits(10000, '7');
    const std::string junk(100000, 'x');
    const Settings s =
        ParseSettings("20       Logfile ->" + digits + "\r\n" + junk + "\r\n11 ->4\r\n" + junk);
    EXPECT_EQ(s.Logfile, 32767);
    EXPECT_EQ(s.BaudRate, 4);
    // The junk lines are line 0 without an arrow: they take the last value.
    EXPECT_EQ(s.Compoort, 4);
}

TEST(SettingsRead, MissingFileGivesZerosAndCreatesNothing) {
    TestApp t;
    t.app.settings = DistinctRecord();
    ReadSettings(t.app);
    ExpectSameRecord(t.app.settings, kZero, "missing file");
    EXPECT_FALSE(fs::exists(SettingsPath(t.dir.path())));
    EXPECT_TRUE(fs::is_empty(t.dir.path()));
}

TEST(SettingsRead, ReadSettingsFillsTheRecord) {
    TestApp t;
    WriteFileBytes(SettingsPath(t.dir.path()), kDistinctFile);
    ReadSettings(t.app);
    ExpectSameRecord(t.app.settings, DistinctRecord(), "ReadSettings");
    EXPECT_EQ(ReadFileBytes(SettingsPath(t.dir.path())), kDistinctFile);  // untouched
}

TEST(SettingsRead, DirectoryInPlaceOfTheFile) {
    TempDir dir;
    fs::create_directories(SettingsPath(dir.path()));
    ExpectSameRecord(ReadSettingsFile(SettingsPath(dir.path())), kZero, "directory");
}

TEST(SettingsRead, NoReadPermission) {
    if (geteuid() == 0)
        GTEST_SKIP() << "running as root: a file without read permission is still readable";
    TempDir dir;
    const fs::path file = SettingsPath(dir.path());
    WriteFileBytes(file, kDistinctFile);
    fs::permissions(file, fs::perms::none, fs::perm_options::replace);
    ExpectSameRecord(ReadSettingsFile(file), kZero, "unreadable");
}

}  // namespace
}  // namespace zelvano
