// The fault matrix: one test per fault, the program against espa-slave. Each
// checks the fault's outcome, then that the program kept running and every
// row shows its call's true state; "EVIDENCE:" lines feed the table of
// scripts/fault-matrix.sh.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <QApplication>
#include <QRandomGenerator>
#include <QSerialPort>
#include <fstream>

#include "ProcessRig.h"

namespace zelvano::proc {
namespace {

const QString kLinkOk = "ESPA Slave OK", kLinkFailed = "ERROR connecting ESPA Slave";

void Evidence(const std::string& text) {
    std::printf("EVIDENCE: %s\n", text.c_str());
    std::fflush(stdout);
}

// Two records whose texts differ in length: a torn espa.set passes for neither.
Settings Record(bool second) {
    Settings settings = LineSettings();
    settings.checkInterval = second ? 14 : 3;
    return settings;
}

struct Unmount {
    fs::path at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
};

// Each fault's world; after it, the program (if opened) kept ticking, no tick
// hung, and every row shows its call's true state.
class Faults : public testing::Test {
  protected:
    void TearDown() override {
        Program* p = c.program.get();
        if (p == nullptr || HasFatalFailure() || IsSkipped())
            return;
        EXPECT_GE(p->ticks, 20);
        EXPECT_LT(p->longestTickMs, 1500);
        EXPECT_TRUE(p->AllSettled()) << p->States();
        EXPECT_EQ(p->mismatches, 0);
        for (int row = 0; row < kCallBufferSize; ++row) {
            const Call& entry = p->Core().Calls()[static_cast<std::size_t>(row)];
            EXPECT_EQ(p->Address(row).toStdString(), entry.address);
            EXPECT_EQ(p->State(row).toStdString(),
                      entry.state == CallState::New ? "" : StateText(entry.state));
        }
        Evidence("alive: " + std::to_string(p->ticks) + " ticks, longest " +
                 std::to_string(p->longestTickMs) + " ms; calls: " + p->States());
    }

    // The port could not be opened: one box naming the port and the reason,
    // the reason on the screen and in the communication frame's tooltip.
    Program& OpenRefused() {
        Program& p = c.Open();
        EXPECT_NE(p.Problem(), "");
        EXPECT_EQ(p.boxes, std::vector<std::string>{
                               "Zelvano: Error setting Comport!\r\nCheck settings\r\n\r\nCom1: " +
                               p.Problem()});
        EXPECT_TRUE(p.ScreenLogHas("Error opening ComPort:  1"));
        return p;
    }

    // Once the port's trouble is gone, Save opens it and a call goes through.
    void SaveOpensThePort(Program& p, const QString& address) {
        const std::size_t boxes = p.boxes.size();
        p.Save();
        EXPECT_EQ(p.boxes.size(), boxes);
        ASSERT_TRUE(p.LinkIs(kLinkOk));
        if (p.RowOf(address) < 0)
            p.EnterCall(address);
        EXPECT_TRUE(p.RunUntil(address, "PAGED"));
        EXPECT_EQ(p.Problem(), "");
        EXPECT_TRUE(c.SavedFileKept());
    }

    // The program starts over a directory it cannot write, and a call goes
    // through, shown on the screen.
    Program& OpenAndPage(const QString& address) {
        Program& p = c.Open();
        EXPECT_TRUE(p.boxes.empty());
        EXPECT_TRUE(p.LinkIs(kLinkOk));
        p.EnterCall(address);
        EXPECT_TRUE(p.RunUntil(address, "PAGED"));
        EXPECT_TRUE(p.ScreenLogHas("STATUS: Call from ScreenPosition: 0 is now: PAGED"));
        return p;
    }

    // A Save that cannot write keeps espa.set whole and runs on the new record.
    void SaveFailsSafely(Program& p, const QString& address) {
        p.Save(9);
        EXPECT_TRUE(p.boxes.empty());
        EXPECT_EQ(p.Core().CurrentSettings().checkInterval, 9);
        EXPECT_TRUE(c.SavedFileKept());
        EXPECT_FALSE(fs::exists(c.data / "espa.set.tmp"));
        p.EnterCall(address);
        EXPECT_TRUE(p.RunUntil(address, "PAGED"));
    }

    Case c;
};

TEST_F(Faults, slaveSilent) {
    c.StartSlave({"--silent"});
    Program& p = c.Open();
    // Tick 1 EOT, tick 6 the select, 20 ticks of waiting: the check fails.
    std::map<int, int> lineOkTick;
    ASSERT_TRUE(p.Run(
        [&] {
            lineOkTick.try_emplace(static_cast<int>(p.Core().Link()), p.ticks);
            return p.Label("LabLink") == kLinkFailed;
        },
        80));
    EXPECT_EQ(lineOkTick, (std::map<int, int>{{static_cast<int>(LinkState::Unknown), 0},
                                              {static_cast<int>(LinkState::Down), 26}}));
    p.EnterCall("1001", 3);
    ASSERT_TRUE(p.RunUntil("1001", "ERROR"));
    EXPECT_EQ(p.States("1001"), "NEW>ERROR");
    EXPECT_TRUE(p.ScreenLogHas("Bufferpositie:  0 TimeOut."));
    EXPECT_EQ(c.LogLines("Bufferpositie:  0 TimeOut."), 1);
    EXPECT_EQ(c.slave.Count("call block"), 0);
    EXPECT_TRUE(p.Run([&] { return c.slave.Count("(select)") >= 2; }, 100)) << "no new check";
}

TEST_F(Faults, nakEveryBlock) {
    // Four rounds of EOT, 5 ticks, select, ACK, block, NAK.
    Program& p = Play(c, {.options = {"--nak-block", "always"},
                          .calls = {{"2001", "NEW>ERROR"}},
                          .log = {{"ERROR: No ACK on transmitted ESPA, but: %d 21", 4},
                                  {"ERROR: Failed 3 times, recheck ESPA slave.", 1}},
                          .slaveSaw = {{"-> NAK (--nak-block)", 4}},
                          .finalTicks = 36});
    // The line itself is sound: the next line check passes.
    const std::string good = "Test ESPA connection ACK received -> OK!";
    const int before = c.LogLines(good);
    EXPECT_TRUE(p.Run([&] { return c.LogLines(good) > before; }, 100));
    EXPECT_EQ(p.Label("LabLink"), kLinkOk);
}

TEST_F(Faults, randomNoise) {
    const std::map<QString, std::string> scripted{
        {"3001", "PAGED"}, {"3002", "ABSENT"}, {"3003", "BUSY"}};
    c.StartSlave({"--noise", "prob=0.3", "--script", "3001=PAGED", "--script", "3002=ABSENT",
                  "--script", "3003=1:BUSY"});
    Program& p = c.Open();
    ASSERT_TRUE(p.LinkIs(kLinkOk, 200));
    for (const auto& [address, state] : scripted)
        p.EnterCall(address, 30);
    ASSERT_TRUE(p.Run([&] { return p.AllSettled(); }, 400));
    int reached = 0;
    for (const auto& [address, state] : scripted) {
        // Only its own state or ERROR, never another call's.
        const std::string states = p.States(address.toStdString());
        reached += states.ends_with(">" + state);
        EXPECT_TRUE(states.ends_with(">" + state) || states.ends_with(">ERROR")) << states;
    }
    EXPECT_GE(reached, 1) << "no call got through the noise";
    EXPECT_GE(c.LogLines("ERROR"), 1) << "the noise never disturbed an exchange";
    Evidence(std::to_string(reached) + "/3 calls reached their own state, none another's");
}

TEST_F(Faults, wrongCheckCharacters) {
    Play(c, {.options = {"--bad-bcc", "always", "--script", "4001=PAGED"},
             .calls = {{"4001", "NEW>QUEUE>NO STATUS"}},
             .log = {{"ERROR: Incorrect CheckSum received. Expected: ", 4},
                     {"ERROR: Failed 3 times, recheck ESPA slave.", 1},
                     {"StatusRequest: Status received, ACK sent.", 0}}});
}

TEST_F(Faults, splitStatusBlocks) {
    Play(c, {.options = {"--split", "12,30", "--script", "5001=PAGED", "--script", "5002=ABSENT"},
             .calls = {{"5001", "NEW>QUEUE>PAGED"}, {"5002", "NEW>QUEUE>ABSENT"}},
             .log = {{"StatusRequest: ETX received, awaiting Checksum.", 2},
                     {"Incorrect CheckSum", 0},
                     {"TimeOut receiving Status", 0}},
             .slaveSaw = {{"[piece 12 of 12", 2}}});
}

TEST_F(Faults, slaveVanishesMidBlock) {
    c.StartSlave({"--split", "20,60", "--script", "6001=PAGED"}, true);
    Program& p = c.Open();
    ASSERT_TRUE(p.LinkIs(kLinkOk));
    p.EnterCall("6001", 3);
    ASSERT_TRUE(p.Run([&] { return p.Core().Engine().statusBlock.size() >= 4; }, 100));
    c.slave.Stop();
    ASSERT_TRUE(p.Run([&] { return !p.Problem().empty(); }, 50));
    EXPECT_TRUE(p.ScreenLogHas("STATUS: Serial port lost: "));
    ASSERT_TRUE(p.RunUntil("6001", "NO STATUS"));
    ASSERT_TRUE(p.LinkIs(kLinkFailed, 300));
    EXPECT_EQ(p.States("6001"), "NEW>QUEUE>NO STATUS");
    // The adapter is back (a new slave on the same link).
    Slave again;
    ASSERT_TRUE(again.Start(c.dir.path(), {"--script", "6002=PAGED"}, c.link));
    SaveOpensThePort(p, "6002");
    EXPECT_TRUE(again.Stop()) << "no clean stop, or its path file or link left behind";
}

TEST_F(Faults, deviceMissingThenSave) {
    WriteSetup(c.data, LineSettings(), c.link.string());
    c.saved = test::ReadFileBytes(SettingsPath(c.data));
    Program& p = OpenRefused();
    // A call may wait meanwhile; nothing can deliver it yet.
    p.EnterCall("7001");
    p.Run([] { return false; }, 15);
    EXPECT_EQ(p.States("7001"), "NEW");
    ASSERT_TRUE(c.slave.Start(c.dir.path(), {"--script", "7001=PAGED"}, c.link));
    SaveOpensThePort(p, "7001");
}

TEST_F(Faults, deviceInUse) {
    c.StartSlave({"--script", "8001=PAGED"});
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
                 {"--hold-port", QString::fromStdString(c.slave.pty)});
    ASSERT_TRUE(WaitUntil([&] { return holder.canReadLine(); }, 10000));
    Program& p = OpenRefused();
    const std::string problem = p.Problem();
    // The holder dies without cleaning up, as a crashed program would.
    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(5000));
    SaveOpensThePort(p, "8001");
    Evidence("refused while held: \"" + problem + "\"; holder killed -9, Save opened the port");
}
TEST_F(Faults, readOnlyProgramDir) {
    c.StartSlave({"--script", "9001=PAGED", "--script", "9002=PAGED"});
    if (::mount(c.data.c_str(), c.data.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind mount: " << std::strerror(errno);
    Unmount unmount{c.data};
    ASSERT_EQ(::mount(nullptr, c.data.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
              0);
    Program& p = OpenAndPage("9001");
    EXPECT_FALSE(fs::exists(c.data / "Log"));
    SaveFailsSafely(p, "9002");
}

TEST_F(Faults, fullDiskForLogs) {
    if (::mount("tmpfs", c.data.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    Unmount unmount{c.data};
    Settings settings = LineSettings();
    settings.logLevel = 3;
    c.StartSlave({"--script", "10001=PAGED", "--script", "10002=PAGED"}, false, settings);
    // Today's day files exist, and a filler takes the rest of the disk.
    const std::string earlier =
        QByteArray("00:00:00 an earlier line\r\n").repeated(135).toStdString();
    const fs::path log = DayLog(c.data, "Log"), trace = DayLog(c.data, "DebugLog");
    for (const fs::path& file : {log, trace}) {
        fs::create_directories(file.parent_path());
        test::WriteFileBytes(file, earlier);
    }
    std::ofstream filler(c.data / "filler", std::ios::binary);
    while (filler.write(earlier.data(), 1024).flush()) {
    }
    struct statvfs disk {};
    ASSERT_TRUE(::statvfs(c.data.c_str(), &disk) == 0 && disk.f_bavail == 0);

    Program& p = OpenAndPage("10001");
    // Not in the file; each file keeps its earlier lines, whole lines only.
    const auto logSize = fs::file_size(log);
    EXPECT_EQ(Count(test::ReadFileBytes(log), "is now: PAGED"), 0);
    for (const fs::path& file : {log, trace}) {
        const std::string bytes = test::ReadFileBytes(file);
        EXPECT_TRUE(bytes.starts_with(earlier)) << file;
        EXPECT_TRUE(bytes.ends_with("\r\n")) << "a stump of a line that did not fit";
    }
    SaveFailsSafely(p, "10002");
    EXPECT_TRUE(p.ScreenLogHas("STATUS: Call from ScreenPosition: 1 is now: PAGED"));
    EXPECT_EQ(fs::file_size(log), logSize);
    Evidence("day files stopped at " + std::to_string(logSize) +
             " B with whole lines, earlier lines kept; Save kept the old espa.set whole");
}

// kill -9 at random moments while a child process writes espa.set with two
// records in turn (through WriteSettingsFile, as Save does): the file is
// always one record or the other, whole, with no stray files.
TEST_F(Faults, killDuringSave) {
    const fs::path file = SettingsPath(c.data);
    const std::string a = FormatSettings(Record(false)), b = FormatSettings(Record(true));
    test::WriteFileBytes(file, a);
    QRandomGenerator random(20240607);
    int seen[2] = {0, 0};
    for (int round = 0; round < 40; ++round) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {"--write-loop", QString::fromStdString(file.string())});
        ASSERT_TRUE(WaitUntil([&] { return child.canReadLine(); }, 10000));
        QThread::msleep(random.bounded(21));
        child.kill();
        ASSERT_TRUE(child.waitForFinished(5000));
        const std::string now = test::ReadFileBytes(file);
        ASSERT_TRUE(now == a || now == b) << "torn: " << test::ToHex({now.begin(), now.end()});
        ++seen[now == a ? 0 : 1];
        for (const auto& entry : fs::directory_iterator(c.data))
            EXPECT_TRUE(entry.path().filename() == "espa.set" ||
                        entry.path().filename() == "espa.set.tmp")
                << entry.path();
    }
    EXPECT_TRUE(seen[0] > 0 && seen[1] > 0) << "the kills never fell between the two records";
    Evidence("killed 40x while writing: old/new " + std::to_string(seen[0]) + "/" +
             std::to_string(seen[1]) + ", torn 0, no stray files");
}

}  // namespace
}  // namespace zelvano::proc

// Child processes: --write-loop FILE writes the records in turn, --hold-port
// DEVICE keeps the device open; both until killed.
int main(int argc, char** argv) {
    using namespace zelvano::proc;
    const std::string mode = argc == 3 ? argv[1] : "";
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (mode == "--write-loop") {
        std::printf("WRITING\n");
        for (unsigned long i = 0;; ++i)
            zelvano::WriteSettingsFile(argv[2], Record(i % 2 == 1));
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QSerialPort port(QString::fromLocal8Bit(argv[argc - 1]));
    if (mode == "--hold-port" && port.open(QIODevice::ReadWrite)) {
        std::printf("HOLDING\n");
        return QCoreApplication::exec();
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
