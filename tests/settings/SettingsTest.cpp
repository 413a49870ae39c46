// espa.set: the bytes written for a record, the reading rules (bytes in ->
// record), and a save that fails leaving the old file whole.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

namespace fs = std::filesystem;

// The record as "field=value" pairs in file order, so a difference names its field.
std::string Show(const Settings& s) {
    const auto [c, e, b, p, bi, st, h, l, cs, lf, ci, set, en] = s;
    std::string out;
    for (int v : {c, e, b, p, bi, st, h, l, cs, lf, ci})
        out += std::to_string(v) + " ";
    for (int v : set)
        out += std::to_string(v) + " ";
    return out + std::to_string(en);
}

// Record from the values in file order (lines 0, 10..17, 20, 21, 30..35, 40).
Settings Record(std::array<int, 18> v) {
    Settings s;
    std::tie(s.comPort, s.emulation, s.baudRate, s.parity, s.dataBits, s.stopBits, s.handshake,
             s.lineCheck, s.statusCheck, s.logLevel, s.checkInterval) =
        std::tuple(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]);
    for (int i = 0; i < 6; ++i)
        s.blockFields[i] = static_cast<std::int16_t>(v[11 + i]);
    s.variableBlock = static_cast<std::int16_t>(v[17]);
    return s;
}

std::string AllBytes() {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    return all;
}

const Settings kRecord = Record({1, 5, 4, 2, 1, 0, 2, 1, 2, 3, 20, 1, 2, 3, 4, 5, 6, 1});
const char* const kFile =
    "0        Compoort ->1\r\n10       Emulatie ->5\r\n11       BaudRate ->4\r\n"
    "12       Parity ->2\r\n13       Bits ->1\r\n14       StopBits ->0\r\n"
    "15       HandShake ->2\r\n16       LineCheck ->1\r\n17       CallStatusCheck ->2\r\n"
    "20       Logfile ->3\r\n21       CheckInterval ->20\r\n30       EspaSet ->1\r\n"
    "31       EspaSet ->2\r\n32       EspaSet ->3\r\n33       EspaSet ->4\r\n"
    "34       EspaSet ->5\r\n35       EspaSet ->6\r\n40       EspaEnable ->1\r\n";

TEST(SettingsFile, WrittenBytesAndTheirReadBack) {
    TempDir t;
    EXPECT_TRUE(WriteSettingsFile(SettingsPath(t.path()), kRecord));
    EXPECT_EQ(ReadFileBytes(t.path() / "espa.set"), kFile);
    EXPECT_EQ(Show(ReadSettingsFile(SettingsPath(t.path()))), Show(kRecord));
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path()), fs::directory_iterator()), 1);
    // Every value a list of the settings window can hold (-1: no selection) and
    // the ends of the 16-bit range come back as they went out; signs are kept.
    for (int v : {-1, 0, 7, 20, -32768, 32767}) {
        Settings s = Record({v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v});
        EXPECT_EQ(Show(ParseSettings(FormatSettings(s))), Show(s));
    }
    EXPECT_NE(FormatSettings(Record({-1})).find("0        Compoort ->-1\r\n"), std::string::npos);
}

TEST(SettingsFile, ReadingRules) {
    // clang-format off
    const std::pair<std::string, Settings> rows[] = {
        {"", {}},
        {"21       CheckInterval ->5\r\n0        Compoort ->3\r\n", Record({3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5})},
        {"\r\n   \r\n20       Logfile ->2\r\n\r\n13       Bits ->1", Record({0, 0, 0, 0, 1, 0, 0, 0, 0, 2})},
        {"5        Foo ->7\r\n25       Bar ->8\r\n12       Parity ->2\r\n", Record({0, 0, 0, 2})},
        {"21       CheckInterval -> 9\r\n20 ->\r\n", Record({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9})},
        {"00217    CheckInterval ->3\r\n12345    Parity ->2\r\n", Record({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3})},
        {"11       BaudRate ->4\r\n12\r\n", Record({0, 0, 4, 4})},  // no arrow: the value before
        {"12\r\n13       Bits ->1\r\n", Record({0, 0, 0, 0, 1})},
        {"10 ->2\r\n-1 ->5\r\n11 ->4\r\n", Record({0, 2})},          // a negative number ends it
        {"10 ->2\r\n-3.7 ->5\r\n11 ->4\r\n", Record({0, 2})},
        {"-0 ->5\r\n11 ->4\r\n", Record({5, 0, 4})},
        {"299 ->5\r\n9999 ->7\r\n13 ->1\r\n", Record({0, 0, 0, 0, 1})},  // 299 and above ignored
        {"298 ->5\r\n14\r\n", Record({0, 0, 0, 0, 0, 5})},
        {"20 ->1\r\n20 ->3\r\n", Record({0, 0, 0, 0, 0, 0, 0, 0, 0, 3})},
        {"\"20 ->2\",\"13 ->1\"\r\n\"\",21 ->4->5\r\n", Record({0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 4})},
        {"20 ->2,13\r\n", Record({0, 0, 0, 0, 2, 0, 0, 0, 0, 2})},      // a comma splits items
        {"\"21 ->7,5\"9,13\r\n", Record({0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 7})},
        {"\"21 ->6\r\n13 ->1\r\n", Record({0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 6})},
        {"20 ->-1\r\n21 ->+7\r\n17 ->12abc\r\n16 ->1 2\r\n15 ->x", Record({0, 0, 0, 0, 0, 0, 0, 1, 12, -1, 7})},
        {"Compoort ->5\r\n    20 Logfile ->2\n13 ->1\r14 ->1", Record({5, 0, 0, 0, 1, 1, 0, 0, 0, 2})},
        {"20 ->2.5\r\n21 ->3.5\r\n10 ->2.51\r\n11 ->-2.5\r\n12 ->-3.5\r\n13 ->0.49\r\n14.5 ->1\r\n15.5->2\r\n",
         Record({0, 3, -2, -4, 0, 1, 0, 2, 0, 2, 4})},                 // halves to the even side
        {"35 ->6\r\n30 ->1\r\n33 ->4\r\n31 ->2\r\n34 ->5\r\n32 ->3\r\n40 ->7\r\n",
         Record({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7})},
        {"20 ->40000\r\n21 ->-40000\r\n10 ->99999999999999999999999\r\n",
         Record({0, 32767, 0, 0, 0, 0, 0, 0, 0, 32767, -32768})},    // clamped to 16 bits
        {std::string("21 ->\0" "5\r\n20 ->3\0\r\n", 18), Record({0, 0, 0, 0, 0, 0, 0, 0, 0, 3})},
        {AllBytes() + "\r\n20 ->" + std::string(10000, '7') + "\r\n" + std::string(100000, 'x') +
             "\r\n11 ->4\r\n" + std::string(100000, 'x'), Record({4, 0, 4, 0, 0, 0, 0, 0, 0, 32767})},
    };
    // clang-format on
    for (const auto& [bytes, record] : rows)
        EXPECT_EQ(Show(ParseSettings(bytes)), Show(record)) << bytes.substr(0, 60);
}

// A save goes to espa.set.tmp and is renamed over the file: whatever fails, the
// old file stays whole and nothing is reported.
// A file without write rights is an administrator's lock, even for root: left
// alone, said once in the log. A linked file is replaced at its target.
TEST(SettingsFile, ReadOnlyFileIsALockAndALinkIsFollowed) {
    for (const std::int16_t level : {1, 0}) {
        TestCore t;
        const fs::path file = t.dir.path() / "espa.set";
        WriteFileBytes(file, "locked");
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
        Settings settings = kRecord;
        settings.logLevel = level;
        t.core.ApplySettings(settings);
        EXPECT_EQ(ReadFileBytes(file), "locked");
        EXPECT_EQ(
            t.events.allLines.empty() ? "" : t.events.allLines[0],
            level ? "STATUS: Settings not saved, espa.set is read-only: " + file.string() : "");
    }
    TestCore t;
    const fs::path target = t.dir.path() / "etc" / "zelvano.set", link = t.dir.path() / "espa.set";
    fs::create_directories(target.parent_path());
    WriteFileBytes(target, "old");
    fs::create_symlink("etc/zelvano.set", link);
    EXPECT_TRUE(WriteSettingsFile(link, kRecord));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(target), kFile);
    EXPECT_EQ(std::distance(fs::directory_iterator(t.dir.path()), {}), 2);  // no temporary left
    // A link or target of another user is not followed: refused and logged.
    fs::remove(link);
    fs::create_symlink(geteuid() == 0 ? "etc/zelvano.set" : "/etc/hostname", link);
    if (geteuid() == 0) {
        ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
    }
    t.core.ApplySettings(kRecord);
    EXPECT_EQ(ReadFileBytes(target), kFile);  // as saved before
    EXPECT_EQ(t.events.allLines[0].rfind("STATUS: Settings not saved, espa.set is a link ", 0), 0u);
}

TEST(SettingsFile, FailedSaveKeepsTheOldFile) {
    const char* const old = "20       Logfile ->2\r\n";
    for (int fault = 0; fault < 4; ++fault) {
        TestCore t;
        const fs::path file = t.dir.path() / "espa.set", temp = t.dir.path() / "espa.set.tmp";
        WriteFileBytes(file, old);
        fs::permissions(file,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit small{64, limit.rlim_max};
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        if (fault == 0)
            WriteFileBytes(temp, "half a file");  // an interrupted save: replaced
        if (fault == 1)
            fs::create_directories(temp / "inside");  // not ours: left alone
        if (fault == 2)
            setrlimit(RLIMIT_FSIZE, &small);  // the disk fills up during the write
        const bool saved = WriteSettingsFile(file, kRecord);
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, handler);
        if (fault == 3) {
            fs::remove(file);
            fs::create_directories(file / "keep");  // a folder in place of the file
            t.core.ApplySettings(kRecord);
            EXPECT_TRUE(fs::is_directory(file / "keep"));
            EXPECT_EQ(Show(t.core.CurrentSettings()), Show(kRecord));
            EXPECT_EQ(t.events.allLines[0].substr(0, 8), "Comport ");  // no lock reported
            EXPECT_EQ(Show(ReadSettingsFile(file)), Show({}));
            EXPECT_FALSE(fs::exists(temp));
            continue;
        }
        EXPECT_EQ(saved, fault == 0) << fault;
        EXPECT_EQ(ReadFileBytes(file), fault == 0 ? kFile : old) << fault;
        EXPECT_EQ(fs::is_directory(temp / "inside"), fault == 1) << fault;
        EXPECT_EQ(fs::exists(temp), fault == 1) << fault;
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    TempDir dir;  // a missing folder is not made, and reads as all zeros
    EXPECT_FALSE(WriteSettingsFile(dir.path() / "gone" / "espa.set", kRecord));
    EXPECT_FALSE(fs::exists(dir.path() / "gone"));
    EXPECT_EQ(Show(ReadSettingsFile(dir.path() / "gone" / "espa.set")), Show({}));
    const fs::path fifo = dir.path() / "fifo.set";  // read at once, never waited on
    ::mkfifo(fifo.c_str(), 0600);
    std::string problem;
    EXPECT_EQ(Show(ReadSettingsFile(fifo, &problem)), Show({}));
    EXPECT_EQ(problem, fifo.string() + ": not a regular file");
    if (geteuid() != 0) {  // root reads a file without read permission all the same
        WriteFileBytes(dir.path() / "espa.set", kFile);
        fs::permissions(dir.path() / "espa.set", fs::perms::none);
        EXPECT_EQ(Show(ReadSettingsFile(dir.path() / "espa.set")), Show({}));
    }
}

}  // namespace
}  // namespace zelvano::test
