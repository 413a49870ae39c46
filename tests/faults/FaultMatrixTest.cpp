// The fault matrix: the real main window over the real QSerialPort adapter
// against espa-slave in its own process, one fault per row. Each row checks
// the fault's own outcome, then that the program kept running, that every
// row shows its call's true state and that nothing saved was lost; it prints
// "EVIDENCE:" lines for the table of scripts/fault-matrix.sh.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <QApplication>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <fstream>
#include <set>

#include "ProcessRig.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano::proc {
namespace {

const QString kLinkOk = "ESPA Slave OK";
const QString kLinkFailed = "ERROR connecting ESPA Slave";
// The two line-check intervals the save loops alternate between; their texts
// differ in length, so a torn espa.set cannot pass for either record.
constexpr int kIntervalA = 3, kIntervalB = 14;

Settings Record(int interval) {
    Settings settings = LineSettings();
    settings.CheckInterval = static_cast<std::int16_t>(interval);
    return settings;
}

// One row's world: a temporary folder with the program directory, the slave
// and the program.
struct Case {
    test::TempDir dir;
    fs::path data = dir.path() / "prog";
    fs::path link = dir.path() / "ttyESPA";
    Slave slave;
    std::unique_ptr<Program> program;
    std::string savedHash;

    Case() { fs::create_directories(data); }
    // Starts the slave and points COM1 at its pty (or at the link).
    bool StartSlave(const QStringList& options, bool onLink = false,
                    const Settings& settings = LineSettings()) {
        const bool up = slave.Start(dir.path(), options, onLink ? link : fs::path());
        WriteSetup(data, settings, onLink ? link.string() : slave.pty);
        savedHash = Sha256Of(SettingsPath(data));
        return up;
    }
    Program& Open() {
        program = std::make_unique<Program>(data);
        program->Start();
        return *program;
    }
    bool LinkIs(const QString& text, int maxTicks = 80) {
        return program->Run([&] { return program->LinkText() == text; }, maxTicks);
    }
};

// Lines of a day file that are not a whole "hh:mm:ss text" CRLF line.
int BrokenLines(const fs::path& file) {
    const std::string bytes = test::ReadFileBytes(file);
    int broken = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", start);
        const std::string line = bytes.substr(start, end - start);
        broken += end == std::string::npos || line.size() < 10 || line[2] != ':' ||
                  line[5] != ':' || line[8] != ' ';
        start = end == std::string::npos ? bytes.size() : end + 2;
    }
    return broken;
}

void SlaveSilent(Case& c) {
    ASSERT_TRUE(c.StartSlave({"--silent"}));
    Program& p = c.Open();
    ASSERT_TRUE(p.boxes.empty());
    ASSERT_TRUE(c.LinkIs(kLinkFailed));
    p.EnterCall("1001", "silent slave");
    p.ShortenTimeOut("1001", 3);
    ASSERT_TRUE(p.RunUntilState("1001", "ERROR", 60));
    EXPECT_EQ(p.States("1001"), "NEW>ERROR");
    EXPECT_TRUE(p.ScreenLogHas("Bufferpositie:  0 TimeOut."));
    EXPECT_EQ(CountLines(DayLog(c.data, "Log"), "Bufferpositie:  0 TimeOut."), 1);
    EXPECT_EQ(c.slave.Count("call block"), 0);
    EXPECT_TRUE(p.Run([&] { return c.slave.Count("(select)") >= 2; }, 100))
        << "the line check was not repeated";
    EXPECT_EQ(p.LinkText(), kLinkFailed);
    Evidence("line checks unanswered, 0 call blocks sent; log: \"Bufferpositie:  0 TimeOut.\"");
}

void NakEveryBlock(Case& c) {
    ASSERT_TRUE(c.StartSlave({"--nak-block", "always"}));
    Program& p = c.Open();
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    p.EnterCall("2001", "refused");
    ASSERT_TRUE(p.RunUntilState("2001", "ERROR", 200));
    const fs::path log = DayLog(c.data, "Log");
    EXPECT_EQ(CountLines(log, "ERROR: No ACK on transmitted ESPA, but: %d 21"), 4);
    EXPECT_EQ(CountLines(log, "ERROR: Failed 3 times, recheck ESPA slave."), 1);
    EXPECT_EQ(c.slave.Count("call block"), 4);
    EXPECT_EQ(p.States("2001"), "NEW>ERROR");
    // The line itself is sound: the next line check passes.
    const std::string good = "Test ESPA connection ACK received -> OK!";
    const int before = CountLines(log, good);
    EXPECT_TRUE(p.Run([&] { return CountLines(log, good) > before; }, 100));
    EXPECT_EQ(p.LinkText(), kLinkOk);
    Evidence("4 blocks NAKed (log: 4x \"No ACK on transmitted ESPA, but: %d 21\", 1x \"Failed 3 "
             "times\"); line check OK afterwards");
}

void RandomNoise(Case& c) {
    ASSERT_TRUE(c.StartSlave({"--noise", "prob=0.3", "--script", "3001=PAGED", "--script",
                              "3002=ABSENT", "--script", "3003=1:BUSY"}));
    Program& p = c.Open();
    ASSERT_TRUE(c.LinkIs(kLinkOk, 200));
    const std::map<std::string, std::string> scripted{
        {"3001", "PAGED"}, {"3002", "ABSENT"}, {"3003", "BUSY"}};
    for (const auto& [address, state] : scripted) {
        p.EnterCall(QString::fromStdString(address), "noise");
        p.ShortenTimeOut(QString::fromStdString(address), 30);
    }
    ASSERT_TRUE(p.Run([&] { return p.AllSettled(); }, 400));
    int reached = 0;
    for (const auto& [address, state] : scripted) {
        // Only its own states, never another call's.
        const std::string states = p.States(address);
        for (const char* other : {"PAGED", "ABSENT", "BUSY"})
            EXPECT_TRUE(other == state || states.find(other) == std::string::npos) << states;
        const bool own = states.ends_with(">" + state);
        EXPECT_TRUE(own || states.ends_with(">ERROR")) << address << ": " << states;
        reached += own;
    }
    EXPECT_GE(reached, 1) << "no call got through the noise";
    const int errors = CountLines(DayLog(c.data, "Log"), "ERROR");
    EXPECT_GE(errors, 1) << "the noise never disturbed an exchange";
    Evidence(std::to_string(reached) + "/3 calls reached their own state, " +
             std::to_string(errors) + " error lines from the noise, none took another's state");
}

void WrongCheckCharacters(Case& c) {
    ASSERT_TRUE(c.StartSlave({"--bad-bcc", "always", "--script", "4001=PAGED"}));
    Program& p = c.Open();
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    p.EnterCall("4001", "bad check");
    ASSERT_TRUE(p.RunUntilState("4001", "ERROR", 300));
    const fs::path log = DayLog(c.data, "Log");
    EXPECT_EQ(CountLines(log, "ERROR: Incorrect CheckSum received. Expected: "), 4);
    EXPECT_EQ(CountLines(log, "ERROR: Failed 3 times, recheck ESPA slave."), 1);
    EXPECT_EQ(CountLines(log, "StatusRequest: Status received, ACK sent."), 0);
    EXPECT_EQ(p.States("4001"), "NEW>QUEUE>ERROR");
    Evidence("4 status blocks refused (\"Incorrect CheckSum\"), none acknowledged or applied");
}

void SplitStatusBlocks(Case& c) {
    ASSERT_TRUE(
        c.StartSlave({"--split", "12,30", "--script", "5001=PAGED", "--script", "5002=ABSENT"}));
    Program& p = c.Open();
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    p.EnterCall("5001", "split one");
    p.EnterCall("5002", "split two");
    ASSERT_TRUE(p.Run([&] { return p.AllSettled(); }, 300));
    EXPECT_EQ(p.States("5001"), "NEW>QUEUE>PAGED");
    EXPECT_EQ(p.States("5002"), "NEW>QUEUE>ABSENT");
    const fs::path log = DayLog(c.data, "Log");
    EXPECT_EQ(CountLines(log, "StatusRequest: ETX received, awaiting Checksum."), 2);
    EXPECT_EQ(CountLines(log, "Incorrect CheckSum"), 0);
    EXPECT_EQ(CountLines(log, "TimeOut receiving Status"), 0);
    const int ticks = p.LongestRunInStep(200);
    EXPECT_GE(ticks, 4) << "the block was not assembled across ticks";
    Evidence("status blocks assembled over up to " + std::to_string(ticks) +
             " ticks; no checksum or time-out errors");
}

void SlaveVanishesMidBlock(Case& c) {
    ASSERT_TRUE(c.StartSlave({"--split", "20,60", "--script", "6001=PAGED"}, true));
    Program& p = c.Open();
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    p.EnterCall("6001", "vanishing");
    ASSERT_TRUE(p.Run([&] { return p.Core().espa.StatusBlock.size() >= 4; }, 100));
    ASSERT_EQ(p.Core().espa.EspaState, 200);
    c.slave.Kill();
    ASSERT_TRUE(p.Run([&] { return !p.PortProblem().isEmpty(); }, 50));
    const std::string problem = p.PortProblem().toStdString();
    EXPECT_TRUE(p.ScreenLogHas("STATUS: Serial port lost: "));
    p.ShortenTimeOut("6001", 3);
    ASSERT_TRUE(p.RunUntilState("6001", "ERROR", 60));
    ASSERT_TRUE(c.LinkIs(kLinkFailed, 300));
    // The adapter is back (a new slave on the same link); Save reopens it.
    Slave again;
    ASSERT_TRUE(again.Start(c.dir.path(), {"--script", "6002=PAGED"}, c.link));
    p.Save();
    EXPECT_TRUE(p.boxes.empty());
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    EXPECT_TRUE(p.PortProblem().isEmpty());
    p.EnterCall("6002", "back again");
    EXPECT_TRUE(p.RunUntilState("6002", "PAGED", 100));
    EXPECT_EQ(p.States("6001"), "NEW>QUEUE>ERROR");
    EXPECT_EQ(Sha256Of(SettingsPath(c.data)), c.savedHash);
    EXPECT_TRUE(again.Stop()) << "no clean stop, or its path file or link left behind";
    Evidence("killed mid-block; shown: \"" + problem +
             "\"; 6001 ERROR, link failed; after Save 6002 PAGED; espa.set unchanged");
}

void DeviceMissingThenSave(Case& c) {
    WriteSetup(c.data, LineSettings(), c.link.string());
    c.savedHash = Sha256Of(SettingsPath(c.data));
    Program& p = c.Open();
    ASSERT_EQ(p.boxes, std::vector<std::string>{"Zelvano: Error setting Comport!\r\nCheck settings"});
    EXPECT_TRUE(p.ScreenLogHas("Error opening ComPort:  1"));
    const std::string problem = p.PortProblem().toStdString();
    EXPECT_FALSE(problem.empty());
    EXPECT_EQ(p.Core().espa.EspaState, 0);
    // A call may wait meanwhile; nothing can deliver it yet.
    p.EnterCall("7001", "waiting for the port");
    p.Run([] { return false; }, 15);
    EXPECT_EQ(p.RowState(0), "");
    EXPECT_EQ(p.Core().CallBuffer[0].Status, "NEW");
    ASSERT_TRUE(c.slave.Start(c.dir.path(), {"--script", "7001=PAGED"}, c.link));
    p.Save();
    EXPECT_EQ(p.boxes.size(), 1u);
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    EXPECT_TRUE(p.RunUntilState("7001", "PAGED", 100));
    EXPECT_TRUE(p.PortProblem().isEmpty());
    EXPECT_EQ(Sha256Of(SettingsPath(c.data)), c.savedHash);
    Evidence("start: \"Error setting Comport!\", shown \"" + problem +
             "\"; after Save: link OK, 7001 PAGED; espa.set unchanged");
}

void DeviceInUse(Case& c) {
    ASSERT_TRUE(c.StartSlave({"--script", "8001=PAGED"}));
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
                 {"--hold-port", QString::fromStdString(c.slave.pty)});
    ASSERT_TRUE(WaitUntil([&] { return holder.canReadLine(); }, 10000));
    ASSERT_EQ(holder.readLine().trimmed(), QByteArray("HOLDING"));
    Program& p = c.Open();
    EXPECT_EQ(p.boxes.size(), 1u);
    EXPECT_TRUE(p.ScreenLogHas("Error opening ComPort:  1"));
    const std::string problem = p.PortProblem().toStdString();
    EXPECT_FALSE(problem.empty());
    // The holder dies without cleaning up, as a crashed program would.
    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(5000));
    p.Save();
    EXPECT_EQ(p.boxes.size(), 1u);
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    p.EnterCall("8001", "free again");
    EXPECT_TRUE(p.RunUntilState("8001", "PAGED", 100));
    Evidence("refused while held: \"" + problem + "\"; holder killed -9, Save opened the port");
}

void ReadOnlyProgramDir(Case& c) {
    ASSERT_TRUE(c.StartSlave({"--script", "9001=PAGED", "--script", "9002=PAGED"}));
    Mount mount;
    ASSERT_TRUE(mount.ReadOnlyBind(c.data)) << mount.error;
    Program& p = c.Open();
    EXPECT_TRUE(p.boxes.empty());
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    p.EnterCall("9001", "read-only");
    EXPECT_TRUE(p.RunUntilState("9001", "PAGED", 100));
    EXPECT_TRUE(p.ScreenLogHas("STATUS: Call from ScreenPosition: 0 is now: PAGED"));
    EXPECT_FALSE(fs::exists(c.data / "Log"));
    p.ChooseIntervalAndSave(9);
    EXPECT_TRUE(p.boxes.empty());
    EXPECT_EQ(p.Core().settings.CheckInterval, 9);
    EXPECT_EQ(Sha256Of(SettingsPath(c.data)), c.savedHash);
    EXPECT_FALSE(fs::exists(c.data / "espa.set.tmp"));
    p.EnterCall("9002", "after the save");
    EXPECT_TRUE(p.RunUntilState("9002", "PAGED", 100));
    Evidence("read-only bind mount: no Log folder, screen log goes on; Save kept espa.set whole "
             "and ran on the new record");
}

void FullDiskForLogs(Case& c) {
    Mount mount;
    ASSERT_TRUE(mount.Tmpfs(c.data, "64k")) << mount.error;
    Settings settings = LineSettings();
    settings.Logfile = 3;
    ASSERT_TRUE(c.StartSlave({"--script", "10001=PAGED", "--script", "10002=PAGED"}, false,
                             settings));
    // Today's day files exist, and a filler takes the rest of the disk.
    std::string earlier;
    while (earlier.size() < 3500)
        earlier += "00:00:00 an earlier line\r\n";
    const fs::path log = DayLog(c.data, "Log"), trace = DayLog(c.data, "DebugLog");
    for (const fs::path& file : {log, trace}) {
        fs::create_directories(file.parent_path());
        test::WriteFileBytes(file, earlier);
    }
    {
        std::ofstream filler(c.data / "filler", std::ios::binary);
        const std::string chunk(1024, 'x');
        while (filler.write(chunk.data(), chunk.size()).flush()) {
        }
    }
    struct statvfs info {};
    ASSERT_EQ(::statvfs(c.data.c_str(), &info), 0);
    ASSERT_EQ(info.f_bavail, 0u);

    Program& p = c.Open();
    EXPECT_TRUE(p.boxes.empty());
    ASSERT_TRUE(c.LinkIs(kLinkOk));
    p.EnterCall("10001", "full disk");
    EXPECT_TRUE(p.RunUntilState("10001", "PAGED", 100));
    EXPECT_TRUE(p.ScreenLogHas("STATUS: Call from ScreenPosition: 0 is now: PAGED"));
    // The line on the screen never reached the file; the file keeps its
    // earlier lines and holds whole lines only.
    const auto logSize = fs::file_size(log);
    EXPECT_EQ(CountLines(log, "is now: PAGED"), 0);
    for (const fs::path& file : {log, trace}) {
        EXPECT_TRUE(test::ReadFileBytes(file).starts_with(earlier)) << file;
        EXPECT_EQ(BrokenLines(file), 0) << file;
    }
    p.ChooseIntervalAndSave(9);
    EXPECT_TRUE(p.boxes.empty());
    EXPECT_EQ(p.Core().settings.CheckInterval, 9);
    EXPECT_EQ(Sha256Of(SettingsPath(c.data)), c.savedHash);
    EXPECT_FALSE(fs::exists(c.data / "espa.set.tmp"));
    p.EnterCall("10002", "still full");
    EXPECT_TRUE(p.RunUntilState("10002", "PAGED", 100));
    EXPECT_TRUE(p.ScreenLogHas("STATUS: Call from ScreenPosition: 1 is now: PAGED"));
    EXPECT_EQ(fs::file_size(log), logSize);
    Evidence("disk full: files stopped at " + std::to_string(logSize) +
             " B, earlier lines kept, whole lines only; PAGED on the screen, not in the file; "
             "Save kept the old espa.set whole");
}

// kill -9 at random moments while espa.set is written, by a loop over
// WriteSettingsFile and by the settings window's real Save: the file is
// always the old or the new record, whole, with no stray files.
void KillDuringSave(Case& c) {
    const fs::path file = SettingsPath(c.data);
    const std::string a = FormatSettings(Record(kIntervalA)), b = FormatSettings(Record(kIntervalB));
    QRandomGenerator random(20240607);
    const std::set<std::string> expected{"espa.set", "espa.set.tmp", "comports.cfg", "Log"};
    int seen[2] = {0, 0};
    auto killAtRandom = [&](const char* mode, const fs::path& arg, int maxDelayMs, int rounds) {
        for (int round = 0; round < rounds; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {mode, QString::fromStdString(arg.string())});
            ASSERT_TRUE(WaitUntil([&] { return child.canReadLine(); }, 10000));
            QThread::msleep(random.bounded(maxDelayMs + 1));
            child.kill();
            ASSERT_TRUE(child.waitForFinished(5000));
            const std::string now = test::ReadFileBytes(file);
            ASSERT_TRUE(now == a || now == b) << "torn espa.set: " << test::ToHex({now.begin(), now.end()});
            ++seen[now == a ? 0 : 1];
            for (const auto& entry : fs::directory_iterator(c.data))
                EXPECT_TRUE(expected.count(entry.path().filename().string())) << entry.path();
        }
    };
    test::WriteFileBytes(file, a);
    killAtRandom("--write-loop", file, 20, 40);
    if (testing::Test::HasFatalFailure())
        return;
    EXPECT_TRUE(seen[0] > 0 && seen[1] > 0) << "the kills never fell between the two records";
    ASSERT_TRUE(c.StartSlave({}, false, Record(kIntervalA)));
    killAtRandom("--save-loop", c.data, 300, 6);
    // The program starts from what the killed Save left.
    Program& p = c.Open();
    EXPECT_EQ(FormatSettings(p.Core().settings), test::ReadFileBytes(file));
    Evidence("killed 40x in WriteSettingsFile and 6x in the settings window's Save: old/new " +
             std::to_string(seen[0]) + "/" + std::to_string(seen[1]) +
             ", torn 0, no stray files; restart reads the saved record");
}

struct Fault {
    const char* name;
    void (*run)(Case&);
    int minTicks;  // engine ticks the program must have run
};
const Fault kFaults[] = {
    {"slaveSilent", SlaveSilent, 50},
    {"nakEveryBlock", NakEveryBlock, 40},
    {"randomNoise", RandomNoise, 40},
    {"wrongCheckCharacters", WrongCheckCharacters, 40},
    {"splitStatusBlocks", SplitStatusBlocks, 30},
    {"slaveVanishesMidBlock", SlaveVanishesMidBlock, 80},
    {"deviceMissingThenSave", DeviceMissingThenSave, 30},
    {"deviceInUse", DeviceInUse, 20},
    {"readOnlyProgramDir", ReadOnlyProgramDir, 30},
    {"fullDiskForLogs", FullDiskForLogs, 30},
    {"killDuringSave", KillDuringSave, 0},
};

void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.name;
}

class FaultMatrix : public testing::TestWithParam<Fault> {};

TEST_P(FaultMatrix, Case) {
    Case c;
    GetParam().run(c);
    Program* p = c.program.get();
    if (p != nullptr && !HasFatalFailure() && GetParam().minTicks > 0) {
        // Alive: the engine kept ticking and no tick hung.
        EXPECT_GE(p->ticks, GetParam().minTicks);
        EXPECT_LT(p->longestTickMs, 1500);
        EXPECT_TRUE(p->AllSettled()) << p->Summary();
        EXPECT_EQ(p->mismatches, 0);
        for (int row = 0; row < kCallBufferSize; ++row) {
            const CallBufferEntry& entry = p->Core().CallBuffer[static_cast<std::size_t>(row)];
            EXPECT_EQ(p->RowAddress(row).toStdString(), entry.Address);
            EXPECT_EQ(p->RowState(row).toStdString(), entry.Status == "NEW" ? "" : entry.Status);
        }
        Evidence("alive: " + std::to_string(p->ticks) + " ticks, longest " +
                 std::to_string(p->longestTickMs) + " ms; calls: " + p->Summary());
    }
    if (HasFailure()) {
        const std::string log = test::ReadFileBytes(DayLog(c.data, "Log"));
        std::printf("---- day log (tail)\n%s\n---- espa-slave (tail)\n%s\n",
                    log.substr(log.size() - std::min<std::size_t>(log.size(), 3000)).c_str(),
                    c.slave.Output().substr(c.slave.Output().size() - std::min<std::size_t>(c.slave.Output().size(), 3000)).c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The other side of a fault, run in a child process until killed.
int HoldPort(const char* device) {
    QSerialPort port(QString::fromLocal8Bit(device));
    if (!port.open(QIODevice::ReadWrite))
        return 1;
    std::printf("HOLDING\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

int WriteLoop(const fs::path& file) {
    const Settings records[2] = {Record(kIntervalA), Record(kIntervalB)};
    std::printf("WRITING\n");
    std::fflush(stdout);
    for (unsigned long i = 0;; ++i)
        WriteSettingsFile(file, records[i % 2]);
}

int SaveLoop(const fs::path& dataDir) {
    Program program(dataDir);
    program.Start();
    int round = 0;
    QTimer saver;
    QObject::connect(&saver, &QTimer::timeout, [&] {
        program.ChooseIntervalAndSave(round++ % 2 == 0 ? kIntervalB : kIntervalA);
        if (round == 1) {
            std::printf("SAVING\n");
            std::fflush(stdout);
        }
    });
    saver.start(0);
    return QCoreApplication::exec();
}

}  // namespace
}  // namespace zelvano::proc

int main(int argc, char** argv) {
    using namespace zelvano::proc;
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode == "--write-loop")
        return WriteLoop(argv[2]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (mode == "--hold-port")
        return HoldPort(argv[2]);
    if (mode == "--save-loop")
        return SaveLoop(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
