// The fault matrix: each case runs the real main window over the real
// QSerialPort adapter against espa-slave in its own process, with real 100 ms
// ticks, injects one fault and checks that the program keeps running, that
// the operator sees a true state and that nothing saved is lost. Each case
// prints "EVIDENCE:" lines for the matrix table.
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <QApplication>
#include <QRandomGenerator>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <fstream>
#include <set>

#include "FaultHarness.h"
#include "FaultHelpers.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsWindow.h"
#include "support/TestApp.h"
#include "windows/TypeableCombo.h"

using namespace zelvano;
using namespace zelvano::faults;
namespace fs = std::filesystem;

namespace {

const QString kLinkOk = "ESPA Slave OK";
const QString kLinkFailed = "ERROR connecting ESPA Slave";

// The program directory of a case, inside the case's temporary folder.
fs::path MakeProgramDir(const test::TempDir& dir) {
    const fs::path dataDir = dir.path() / "prog";
    fs::create_directories(dataDir);
    return dataDir;
}

std::string Join(const std::vector<std::string>& parts, const char* separator = ">") {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

// The row that shows the call to an address, -1 when none.
int RowOf(Program& program, const QString& address) {
    for (int row = 0; row < kCallBufferSize; ++row) {
        if (program.RowAddress(row) == address)
            return row;
    }
    return -1;
}

bool WaitForState(Program& program, const QString& address, const QString& state, int ms) {
    return WaitUntil(
        [&] {
            const int row = RowOf(program, address);
            return row >= 0 && program.RowState(row) == state;
        },
        ms);
}

std::function<void(SettingsWindow&)> ChooseInterval(int position) {
    return [position](SettingsWindow& window) {
        window.findChild<TypeableCombo*>("ComboDeviceCheckInterval")
            ->SetPosition(static_cast<std::int16_t>(position));
    };
}

// Free bytes for an unprivileged writer on the file system of path.
unsigned long long FreeBytes(const fs::path& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0)
        return 0;
    return static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
}

// Fills the file system of dir with a file of its own, leaving room bytes
// free, so the log files fill the rest while the case runs.
void FillDisk(const fs::path& dir, std::uintmax_t room) {
    const fs::path path = dir / "filler";
    std::FILE* filler = std::fopen(path.c_str(), "wb");
    const std::string chunk(1024, 'x');
    while (filler != nullptr &&
           std::fwrite(chunk.data(), 1, chunk.size(), filler) == chunk.size() &&
           std::fflush(filler) == 0) {
    }
    if (filler != nullptr)
        std::fclose(filler);
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    fs::resize_file(path, size > room ? size - room : 0, ec);
}

// Lines of a day file that are not a whole "hh:mm:ss text" CRLF line.
int BrokenLines(const fs::path& file) {
    const std::string bytes = test::ReadFileBytes(file);
    int broken = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        const std::string line = bytes.substr(start, end == std::string::npos ? end : end - start);
        const bool stamped = line.size() > 9 && line[2] == ':' && line[5] == ':' && line[8] == ' ';
        broken += (end == std::string::npos || !stamped) ? 1 : 0;
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return broken;
}

// Names in dir other than the ones expected there.
std::vector<std::string> Strays(const fs::path& dir, const std::set<std::string>& expected) {
    std::vector<std::string> strays;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (!expected.count(name))
            strays.push_back(name);
    }
    return strays;
}

}  // namespace

class FaultMatrix : public QObject {
    Q_OBJECT

  private slots:
    void slaveSilent();
    void nakEveryBlock();
    void randomNoise();
    void wrongCheckCharacters();
    void splitStatusBlocks();
    void slaveVanishesMidBlock();
    void deviceMissingThenSave();
    void deviceInUse();
    void readOnlyProgramDir();
    void fullDiskForLogs();
    void killDuringSave();

  private:
    // The checks every case ends with: alive, settled and shown truly.
    void CheckTrueState(Program& program, Watch& watch, int minTicks);
};

void FaultMatrix::CheckTrueState(Program& program, Watch& watch, int minTicks) {
    QVERIFY2(watch.Alive(minTicks), qPrintable(QString("engine ticks %1, longest pause %2 ms")
                                                   .arg(watch.EngineTicks())
                                                   .arg(watch.LongestPauseMs())));
    QVERIFY2(watch.AllSettled(), watch.Summary().c_str());
    QCOMPARE(watch.DisplayMismatches(), 0);
    // What the rows show now is the buffer, call by call.
    for (int row = 0; row < kCallBufferSize; ++row) {
        const CallBufferEntry& entry = program.Core().CallBuffer[static_cast<std::size_t>(row)];
        QCOMPARE(program.RowAddress(row).toStdString(), entry.Address);
        QCOMPARE(program.RowState(row).toStdString(), entry.Status == "NEW" ? "" : entry.Status);
    }
    Evidence("alive: " + std::to_string(watch.EngineTicks()) + " engine ticks, longest pause " +
             std::to_string(watch.LongestPauseMs()) + " ms; calls: " + watch.Summary());
}

// The slave answers nothing: the link shows the failure, no call block goes
// out and the waiting call ends "ERROR" by the buffer time-out.
void FaultMatrix::slaveSilent() {
    test::TempDir dir;
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--silent"}));
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), slave.Pty());
    DumpOnFailure dump(dataDir, &slave);
    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QVERIFY(program.MessageBoxes().empty());
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkFailed; }, 8000));

    program.EnterCall("1001", "silent slave");
    program.ShortenTimeOut(0, 8);
    QVERIFY(WaitForState(program, "1001", "ERROR", 15000));
    QCOMPARE(Join(watch.StatesOf("1001")), std::string("NEW>ERROR"));
    QVERIFY(program.ScreenLogHas("Bufferpositie:  0 TimeOut."));
    QCOMPARE(CountLines(DayLogPath(dataDir, "Log"), "Bufferpositie:  0 TimeOut."), 1);
    QCOMPARE(slave.CountInOutput("call block"), 0);
    const int checks = slave.CountInOutput("(select)");
    QVERIFY2(checks >= 2, "the line check was not repeated");
    QCOMPARE(program.LinkText(), kLinkFailed);
    CheckTrueState(program, watch, 80);
    Evidence("link \"" + kLinkFailed.toStdString() + "\"; " + std::to_string(checks) +
             " line checks unanswered, 0 call blocks sent; log: \"Bufferpositie:  0 TimeOut.\"");
}

// NAK to every call block: four blocks, then "ERROR" and the line check goes on.
void FaultMatrix::nakEveryBlock() {
    test::TempDir dir;
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--nak-block", "always"}));
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), slave.Pty());
    DumpOnFailure dump(dataDir, &slave);
    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 8000));

    program.EnterCall("2001", "refused");
    QVERIFY(WaitForState(program, "2001", "ERROR", 25000));
    const fs::path log = DayLogPath(dataDir, "Log");
    const int naks = CountLines(log, "ERROR: No ACK on transmitted ESPA, but: %d 21");
    QCOMPARE(naks, 4);
    QCOMPARE(CountLines(log, "ERROR: Failed 3 times, recheck ESPA slave."), 1);
    QCOMPARE(slave.CountInOutput("call block"), 4);
    QCOMPARE(Join(watch.StatesOf("2001")), std::string("NEW>ERROR"));
    // The line itself is sound: the next line check passes.
    const std::string good = "Test ESPA connection ACK received -> OK!";
    const int before = CountLines(log, good);
    QVERIFY(WaitUntil([&] { return CountLines(log, good) > before; }, 8000));
    QCOMPARE(program.LinkText(), kLinkOk);
    CheckTrueState(program, watch, 40);
    Evidence(
        "4 blocks NAKed (log: 4x \"No ACK on transmitted ESPA, but: %d 21\", 1x \"Failed 3 "
        "times\"); line check OK afterwards");
}

// Random bytes before the slave's answers: retries, but every call ends in
// its own scripted state or "ERROR", never in another call's state.
void FaultMatrix::randomNoise() {
    test::TempDir dir;
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--noise", "prob=0.3", "--script", "3001=PAGED", "--script", "3002=ABSENT",
                         "--script", "3003=1:BUSY"}));
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), slave.Pty());
    DumpOnFailure dump(dataDir, &slave);
    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 15000));

    const std::map<std::string, std::string> scripted{
        {"3001", "PAGED"}, {"3002", "ABSENT"}, {"3003", "BUSY"}};
    for (const auto& [address, state] : scripted) {
        program.EnterCall(QString::fromStdString(address), "noise");
        program.ShortenTimeOut(RowOf(program, QString::fromStdString(address)), 32);
    }
    QVERIFY(WaitUntil([&] { return watch.AllSettled(); }, 40000));
    int reached = 0;
    for (const auto& [address, state] : scripted) {
        const std::set<std::string> allowed{"NEW", "QUEUE", state, "ERROR"};
        for (const std::string& seen : watch.StatesOf(address))
            QVERIFY2(allowed.count(seen), (address + " showed " + seen).c_str());
        const std::string final = watch.FinalStateOf(address);
        QVERIFY2(final == state || final == "ERROR", (address + " ended " + final).c_str());
        reached += final == state ? 1 : 0;
    }
    QVERIFY2(reached >= 1, "no call got through the noise");
    const int errors = CountLines(DayLogPath(dataDir, "Log"), "ERROR");
    QVERIFY2(errors >= 1, "the noise never disturbed an exchange");
    CheckTrueState(program, watch, 40);
    Evidence(std::to_string(reached) + "/3 calls reached their own state, " +
             std::to_string(errors) + " error lines from the noise, none took another's state");
}

// Status blocks with a wrong check character: never acknowledged, never
// applied; the call ends "ERROR" after its retries.
void FaultMatrix::wrongCheckCharacters() {
    test::TempDir dir;
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--bad-bcc", "always", "--script", "4001=PAGED"}));
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), slave.Pty());
    DumpOnFailure dump(dataDir, &slave);
    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 8000));

    program.EnterCall("4001", "bad check");
    QVERIFY(WaitForState(program, "4001", "ERROR", 35000));
    const fs::path log = DayLogPath(dataDir, "Log");
    const int wrong = CountLines(log, "ERROR: Incorrect CheckSum received. Expected: ");
    QCOMPARE(wrong, 4);
    QCOMPARE(CountLines(log, "ERROR: Failed 3 times, recheck ESPA slave."), 1);
    QCOMPARE(CountLines(log, "StatusRequest: Status received, ACK sent."), 0);
    QCOMPARE(Join(watch.StatesOf("4001")), std::string("NEW>QUEUE>ERROR"));
    CheckTrueState(program, watch, 40);
    Evidence("4 status blocks refused (\"Incorrect CheckSum\"), none acknowledged or applied");
}

// Status blocks in twelve pieces 120 ms apart: assembled across ticks, each
// state on its own call.
void FaultMatrix::splitStatusBlocks() {
    test::TempDir dir;
    SlaveProcess slave(dir.path());
    QVERIFY(
        slave.Start({"--split", "12,120", "--script", "5001=PAGED", "--script", "5002=ABSENT"}));
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), slave.Pty());
    DumpOnFailure dump(dataDir, &slave);
    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 8000));

    program.EnterCall("5001", "split one");
    program.EnterCall("5002", "split two");
    QVERIFY(WaitUntil([&] { return watch.AllSettled(); }, 30000));
    QCOMPARE(watch.FinalStateOf("5001"), std::string("PAGED"));
    QCOMPARE(watch.FinalStateOf("5002"), std::string("ABSENT"));
    const fs::path log = DayLogPath(dataDir, "Log");
    QCOMPARE(CountLines(log, "StatusRequest: ETX received, awaiting Checksum."), 2);
    QCOMPARE(CountLines(log, "Incorrect CheckSum"), 0);
    QCOMPARE(CountLines(log, "TimeOut receiving Status"), 0);
    const int ticks = watch.LongestRunInStep(200);
    QVERIFY2(ticks >= 6, qPrintable(QString("block took only %1 ticks").arg(ticks)));
    CheckTrueState(program, watch, 30);
    Evidence("status blocks assembled over up to " + std::to_string(ticks) +
             " ticks; 5001 PAGED, 5002 ABSENT, no checksum or time-out errors");
}

// The slave is killed while its status block is half sent (its pty closes as
// an unplugged adapter would): the port is reported lost, the call ends
// "ERROR", and a Save after the slave is back reopens the port.
void FaultMatrix::slaveVanishesMidBlock() {
    test::TempDir dir;
    const fs::path link = dir.path() / "ttyESPA";
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--split", "20,250", "--script", "6001=PAGED"}, link));
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), link.string());
    DumpOnFailure dump(dataDir, &slave);
    const std::string savedHash = Sha256Of(SettingsPath(dataDir));
    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 8000));

    program.EnterCall("6001", "vanishing");
    QVERIFY(WaitUntil(
        [&] {
            return program.Core().espa.EspaState == 200 &&
                   program.Core().espa.StatusBlock.size() >= 4;
        },
        20000));
    const std::size_t received = program.Core().espa.StatusBlock.size();
    slave.Kill();
    QVERIFY(WaitUntil([&] { return !program.PortProblem().isEmpty(); }, 5000));
    const std::string problem = program.PortProblem().toStdString();
    QVERIFY(program.ScreenLogHas("STATUS: Serial port lost: "));
    program.ShortenTimeOut(RowOf(program, "6001"), 10);
    QVERIFY(WaitForState(program, "6001", "ERROR", 15000));
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkFailed; }, 25000));

    // The adapter is back (a new slave on the same link); Save reopens it.
    SlaveProcess again(dir.path());
    QVERIFY(again.Start({"--script", "6002=PAGED"}, link));
    program.SaveInSettingsWindow();
    QVERIFY(program.MessageBoxes().empty());
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 10000));
    QVERIFY(program.PortProblem().isEmpty());
    program.EnterCall("6002", "back again");
    QVERIFY(WaitForState(program, "6002", "PAGED", 15000));
    QCOMPARE(watch.FinalStateOf("6001"), std::string("ERROR"));
    QCOMPARE(Sha256Of(SettingsPath(dataDir)), savedHash);
    CheckTrueState(program, watch, 100);
    Evidence("killed after " + std::to_string(received) + " block bytes; shown: \"" + problem +
             "\"; 6001 ERROR, link failed; after Save 6002 PAGED; espa.set " +
             savedHash.substr(0, 12) + " unchanged");
}

// The device does not exist at start; it appears and Save opens it.
void FaultMatrix::deviceMissingThenSave() {
    test::TempDir dir;
    const fs::path link = dir.path() / "ttyESPA";
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), link.string());
    DumpOnFailure dump(dataDir, nullptr);
    const std::string savedHash = Sha256Of(SettingsPath(dataDir));
    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QCOMPARE(program.MessageBoxes().size(), std::size_t{1});
    QCOMPARE(program.MessageBoxes()[0],
             std::string("Zelvano: Error setting Comport!\r\nCheck settings"));
    QVERIFY(program.ScreenLogHas("Error opening ComPort:  1"));
    const std::string problem = program.PortProblem().toStdString();
    QVERIFY(!problem.empty());
    QCOMPARE(program.Core().espa.EspaState, std::int16_t{0});
    // The operator may queue a call meanwhile; nothing can deliver it yet.
    program.EnterCall("7001", "waiting for the port");
    RunFor(1500);
    QCOMPARE(program.RowState(0), QString(""));
    QCOMPARE(program.Core().CallBuffer[0].Status, std::string("NEW"));

    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--script", "7001=PAGED"}, link));
    program.SaveInSettingsWindow();
    QCOMPARE(program.MessageBoxes().size(), std::size_t{1});
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 10000));
    QVERIFY(WaitForState(program, "7001", "PAGED", 20000));
    QVERIFY(program.PortProblem().isEmpty());
    QCOMPARE(Sha256Of(SettingsPath(dataDir)), savedHash);
    CheckTrueState(program, watch, 30);
    Evidence("start: \"Error setting Comport!\", shown \"" + problem +
             "\"; after Save: link OK, 7001 " + Join(watch.StatesOf("7001")) +
             "; espa.set unchanged");
}

// Another process holds the device: refused with its reason, and opened by a
// Save once that process is gone.
void FaultMatrix::deviceInUse() {
    test::TempDir dir;
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--script", "8001=PAGED"}));
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), slave.Pty());
    DumpOnFailure dump(dataDir, &slave);
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
                 {"--hold-port", QString::fromStdString(slave.Pty())});
    QVERIFY(holder.waitForStarted(10000));
    QVERIFY(WaitUntil(
        [&] { return holder.bytesAvailable() > 0 || holder.state() == QProcess::NotRunning; },
        10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("HOLDING"));

    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QCOMPARE(program.MessageBoxes().size(), std::size_t{1});
    QVERIFY(program.ScreenLogHas("Error opening ComPort:  1"));
    const std::string problem = program.PortProblem().toStdString();
    QVERIFY(!problem.empty());
    QCOMPARE(holder.state(), QProcess::Running);

    // The holder dies without cleaning up, as a crashed program would.
    holder.kill();
    QVERIFY(holder.waitForFinished(5000));
    program.SaveInSettingsWindow();
    QCOMPARE(program.MessageBoxes().size(), std::size_t{1});
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 10000));
    program.EnterCall("8001", "free again");
    QVERIFY(WaitForState(program, "8001", "PAGED", 20000));
    CheckTrueState(program, watch, 30);
    Evidence("refused while held: \"" + problem +
             "\"; holder killed -9, Save opened the port, 8001 PAGED");
}

// The program directory is read-only: no log folder, a Save that cannot be
// written leaves espa.set as it was, and the program works on.
void FaultMatrix::readOnlyProgramDir() {
    test::TempDir dir;
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--script", "9001=PAGED", "--script", "9002=PAGED"}));
    const fs::path dataDir = MakeProgramDir(dir);
    WriteSetup(dataDir, BaseSettings(), slave.Pty());
    DumpOnFailure dump(dataDir, &slave);
    const std::string savedHash = Sha256Of(SettingsPath(dataDir));
    Mount mount;
    std::string how = "read-only bind mount";
    // Without the right to mount, file modes do it for an ordinary user.
    struct Writable {
        fs::path dir;
        ~Writable() {
            std::error_code ec;
            fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
            fs::permissions(SettingsPath(dir), fs::perms::owner_write, fs::perm_options::add, ec);
        }
    } writable{dataDir};
    if (!mount.ReadOnlyBind(dataDir)) {
        how = "mode 0555 (no mount: " + mount.Error() + ")";
        fs::permissions(SettingsPath(dataDir), fs::perms::owner_write, fs::perm_options::remove);
        fs::permissions(dataDir, fs::perms::owner_write | fs::perms::group_write,
                        fs::perm_options::remove);
    }
    if (std::ofstream(dataDir / "probe"))
        QSKIP(qPrintable(QString::fromStdString("cannot make the directory read-only: " + how)));
    Evidence("program directory made read-only by " + how);

    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QVERIFY(program.MessageBoxes().empty());
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 8000));
    program.EnterCall("9001", "read-only");
    QVERIFY(WaitForState(program, "9001", "PAGED", 20000));
    QVERIFY(program.ScreenLogHas("STATUS: Call from ScreenPosition: 0 is now: PAGED"));
    QVERIFY(!fs::exists(dataDir / "Log"));

    program.SaveInSettingsWindow(ChooseInterval(9));
    QVERIFY(program.MessageBoxes().empty());
    QCOMPARE(program.Core().settings.CheckInterval, std::int16_t{9});
    QCOMPARE(Sha256Of(SettingsPath(dataDir)), savedHash);
    QVERIFY(!fs::exists(dataDir / "espa.set.tmp"));
    program.EnterCall("9002", "after the save");
    QVERIFY(WaitForState(program, "9002", "PAGED", 20000));
    QCOMPARE(program.LinkText(), kLinkOk);
    CheckTrueState(program, watch, 30);
    Evidence("no Log folder, screen log goes on; Save kept espa.set " + savedHash.substr(0, 12) +
             " whole and ran on the new record; 9001, 9002 PAGED");
}

// The log files' disk is full (a 64 KB tmpfs as the program directory, filled
// up): lines are lost for the files only, a Save keeps the old espa.set whole.
void FaultMatrix::fullDiskForLogs() {
    test::TempDir dir;
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({"--script", "10001=PAGED", "--script", "10002=PAGED"}));
    const fs::path dataDir = MakeProgramDir(dir);
    Mount mount;
    const bool mounted = mount.Tmpfs(dataDir, "64k");
    Settings settings = BaseSettings();
    settings.Logfile = 3;
    WriteSetup(dataDir, settings, slave.Pty());
    DumpOnFailure dump(dataDir, &slave);
    const std::string savedHash = Sha256Of(SettingsPath(dataDir));
    // Today's day files exist already, their last 4 KB page nearly full, so
    // they fill up within the first lines of the run.
    std::string earlier;
    while (earlier.size() < 3500)
        earlier += "00:00:00 an earlier line\r\n";
    const fs::path log = DayLogPath(dataDir, "Log");
    const fs::path trace = DayLogPath(dataDir, "DebugLog");
    for (const fs::path& file : {log, trace}) {
        fs::create_directories(file.parent_path());
        test::WriteFileBytes(file, earlier);
    }
    // Without a mount, a file-size limit stands in for the full disk.
    rlimit oldLimit{};
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    if (mounted) {
        FillDisk(dataDir, 0);
    } else {
        const rlimit tiny{4096, oldLimit.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        Evidence("no tmpfs (" + mount.Error() + "): 4 KB file-size limit instead");
    }
    struct Restore {
        rlimit limit;
        void (*handler)(int);
        ~Restore() {
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, handler);
        }
    } restore{oldLimit, oldSignal};

    Program program(dataDir);
    Watch watch(program);
    program.Start();
    QVERIFY(program.MessageBoxes().empty());
    QVERIFY(WaitUntil([&] { return program.LinkText() == kLinkOk; }, 8000));
    program.EnterCall("10001", "full disk");
    QVERIFY(WaitForState(program, "10001", "PAGED", 20000));
    QVERIFY(program.ScreenLogHas("STATUS: Call from ScreenPosition: 0 is now: PAGED"));
    if (mounted)
        QCOMPARE(FreeBytes(dataDir), 0ULL);
    // The files are full: the line on the screen never reached the file, the
    // earlier lines are all there, and what did reach it is whole lines.
    const auto logSize = fs::file_size(log);
    const auto traceSize = fs::file_size(trace);
    QCOMPARE(CountLines(log, "is now: PAGED"), 0);
    QVERIFY(logSize <= 4096 && traceSize <= 4096);
    for (const fs::path& file : {log, trace}) {
        QVERIFY(test::ReadFileBytes(file).starts_with(earlier));
        QCOMPARE(BrokenLines(file), 0);
    }

    program.SaveInSettingsWindow(ChooseInterval(9));
    QVERIFY(program.MessageBoxes().empty());
    QCOMPARE(program.Core().settings.CheckInterval, std::int16_t{9});
    const std::string afterSave = Sha256Of(SettingsPath(dataDir));
    if (mounted) {
        QCOMPARE(afterSave, savedHash);
    } else {
        // The small file fits under the limit: the new record is written whole.
        Settings expected = settings;
        expected.CheckInterval = 9;
        QCOMPARE(test::ReadFileBytes(SettingsPath(dataDir)), FormatSettings(expected));
    }
    QVERIFY(!fs::exists(dataDir / "espa.set.tmp"));
    program.EnterCall("10002", "still full");
    QVERIFY(WaitForState(program, "10002", "PAGED", 20000));
    QVERIFY(program.ScreenLogHas("STATUS: Call from ScreenPosition: 1 is now: PAGED"));
    QCOMPARE(fs::file_size(log), logSize);
    CheckTrueState(program, watch, 30);
    Evidence(std::string(mounted ? "disk full (0 bytes free)" : "file-size limit") +
             ", files stopped at " + std::to_string(logSize) + " B (Log) and " +
             std::to_string(traceSize) + " B (DebugLog), earlier lines kept, whole lines only; " +
             "PAGED on the screen, not in the file; " + "espa.set after Save " +
             afterSave.substr(0, 12) + (afterSave == savedHash ? " = old" : " = new") +
             ", whole; 10001, 10002 PAGED");
}

// kill -9 at random moments while espa.set is being written, by a loop over
// WriteSettingsFile and by the real Save of the settings window: the file is
// always the old or the new one, whole.
void FaultMatrix::killDuringSave() {
    test::TempDir dir;
    const fs::path dataDir = MakeProgramDir(dir);
    const fs::path file = SettingsPath(dataDir);
    const std::string a = FormatSettings(SavedRecordA());
    const std::string b = FormatSettings(SavedRecordB());
    QRandomGenerator random(20240607);
    const std::set<std::string> expected{"espa.set", "espa.set.tmp", "comports.cfg", "Log"};

    auto killAtRandom = [&](const QStringList& args, const char* ready, int maxDelayMs, int rounds,
                            int& asA, int& asB, int& strays) {
        for (int round = 0; round < rounds; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), args);
            QVERIFY(child.waitForStarted(10000));
            QVERIFY(WaitUntil(
                [&] { return child.canReadLine() || child.state() != QProcess::Running; }, 10000));
            QCOMPARE(child.readLine().trimmed(), QByteArray(ready));
            QTest::qSleep(static_cast<int>(random.bounded(maxDelayMs + 1)));
            child.kill();
            QVERIFY(child.waitForFinished(5000));
            const std::string now = test::ReadFileBytes(file);
            QVERIFY2(now == a || now == b,
                     qPrintable("torn espa.set after round " + QString::number(round) + ": " +
                                QByteArray::fromStdString(now).toHex()));
            (now == a ? asA : asB) += 1;
            strays += static_cast<int>(Strays(dataDir, expected).size());
        }
    };

    test::WriteFileBytes(file, a);
    int loopA = 0, loopB = 0, loopStrays = 0;
    killAtRandom({"--write-loop", QString::fromStdString(file.string())}, "WRITING", 25, 120, loopA,
                 loopB, loopStrays);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(loopA > 0 && loopB > 0, "the kills never fell between the two records");
    QCOMPARE(loopStrays, 0);

    // The real Save, over a port that opens.
    SlaveProcess slave(dir.path());
    QVERIFY(slave.Start({}));
    WriteSetup(dataDir, SavedRecordA(), slave.Pty());
    int saveA = 0, saveB = 0, saveStrays = 0;
    killAtRandom({"--save-loop", QString::fromStdString(dataDir.string())}, "SAVING", 300, 12,
                 saveA, saveB, saveStrays);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(saveStrays, 0);
    // The program starts from what the killed Save left.
    Program program(dataDir);
    program.Start();
    const Settings read = program.Core().settings;
    QVERIFY(read.CheckInterval == kIntervalA || read.CheckInterval == kIntervalB);
    QCOMPARE(FormatSettings(read), test::ReadFileBytes(file));
    Evidence("WriteSettingsFile killed 120x: old/new " + std::to_string(loopA) + "/" +
             std::to_string(loopB) +
             ", torn 0; settings-window Save killed 12x: " + std::to_string(saveA) + "/" +
             std::to_string(saveB) + ", torn 0; no stray files; restart reads CheckInterval " +
             std::to_string(read.CheckInterval));
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-loop") == 0)
        return WriteLoop(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--hold-port") == 0) {
        QCoreApplication application(argc, argv);
        return HoldPort(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--save-loop") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication application(argc, argv);
        return SaveLoop(argv[2]);
    }
    QApplication application(argc, argv);
    FaultMatrix matrix;
    return QTest::qExec(&matrix, argc, argv);
}

#include "FaultMatrixTest.moc"
