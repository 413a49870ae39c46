// The engine with the real QSerialPort adapter over a pseudo-terminal, against
// espa-slave running as its own process. Ticks come from a 100 ms timer, as
// in the program; each test notes on which tick each state was reached.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/App.h"
#include "app/StartUp.h"
#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "log/Log.h"
#include "serial/Datacom.h"
#include "serial/QtSerialLine.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::FakeClock;
using test::FakeView;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// A tick late now and then is the machine, not the protocol: a busy host may
// hold the other process back for a tick or two.
constexpr int kSlackTicks = 6;

// espa-slave in its own process on a pseudo-terminal it creates.
class SlaveProcess {
  public:
    ~SlaveProcess() { Stop(); }

    // Starts it and waits for the path file; the pty path, or "" on failure.
    std::string Start(const std::filesystem::path& dir, QStringList args) {
        const auto pathFile = dir / "slave.pty";
        pathFile_ = pathFile;
        args << "--pty-file" << QString::fromStdString(pathFile.string()) << "--seed"
             << "1";
        process_.setProgram(ESPA_SLAVE_PATH);
        process_.setArguments(args);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start();
        if (!process_.waitForStarted(5000))
            return "";
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 5000) {
            std::string path = ReadFileBytes(pathFile);
            if (!path.empty() && path.back() == '\n') {
                path.pop_back();
                return path;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return "";
    }

    // SIGTERM, as an operator's kill would; true when it ended cleanly.
    bool Stop() {
        if (process_.state() == QProcess::NotRunning)
            return stoppedCleanly_;
        process_.terminate();
        const bool ended = process_.waitForFinished(5000);
        if (!ended)
            process_.kill();
        output_ += process_.readAll().toStdString();
        stoppedCleanly_ = ended && process_.exitStatus() == QProcess::NormalExit &&
                          process_.exitCode() == 0 && !std::filesystem::exists(pathFile_);
        return stoppedCleanly_;
    }

    // What it printed so far.
    const std::string& Output() {
        output_ += process_.readAll().toStdString();
        return output_;
    }
    // Turns the event loop until the slave has printed text (it may still be
    // taking in the master's last byte); false if it never did.
    bool WaitFor(const std::string& text) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 3000) {
            if (OutputCount(text) > 0)
                return true;
            // The main loop, not just this process: the adapter's queued
            // bytes go out from there.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return OutputCount(text) > 0;
    }
    int OutputCount(const std::string& text) {
        int count = 0;
        const std::string& all = Output();
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++count;
        return count;
    }

  private:
    QProcess process_;
    std::filesystem::path pathFile_;
    std::string output_;
    bool stoppedCleanly_ = false;
};

Settings LineSettings(std::int16_t callStatusCheck) {
    Settings s;
    s.Compoort = 0;  // COM1, mapped to the pty through comports.cfg
    s.Emulatie = 1;
    s.BaudRate = 4;  // 9600,N,8,1
    s.Parity = 0;
    s.Bits = 1;
    s.StopBits = 0;
    s.HandShake = 0;
    s.LineCheck = 0;
    s.CallStatusCheck = callStatusCheck;
    s.Logfile = 2;  // screen and day file
    s.CheckInterval = 0;
    return s;
}

// The program's core over the real adapter, ticked by a 100 ms timer.
class Rig {
  public:
    // Starts the slave with args, points COM1 at it and runs start-up.
    bool Start(const QStringList& args, const Settings& settings) {
        const std::string pty = slave.Start(dir.path(), args);
        if (pty.empty())
            return false;
        WriteFileBytes(dir.path() / "comports.cfg", "COM1=" + pty + "\n");
        if (!WriteSettingsFile(SettingsPath(dir.path()), settings))
            return false;
        StartUp(app);
        Note();
        return app.port.IsOpen() && view.messageBoxes.empty();
    }

    // Ticks until done() holds or maxTicks more ticks have run; true when done.
    bool RunUntil(const std::function<bool()>& done, int maxTicks) {
        if (done())
            return true;
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(100);
        const int last = tick + maxTicks;
        bool reached = false;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            ++tick;
            HandleEspa(app, 0);
            if (tick % 10 == 0)
                CheckBufferTimeOuts(app);  // the one-second buffer timer
            Note();
            reached = done();
            if (reached || tick >= last)
                loop.quit();
        });
        timer.start();
        loop.exec();
        return reached;
    }

    // The first tick on which position 0 showed the state, -1 if never.
    int TickOf(const std::string& status) const {
        const auto it = firstStatusTick.find(status);
        return it == firstStatusTick.end() ? -1 : it->second;
    }

    // The first tick on which the engine was in the step, -1 if never.
    int TickOfStep(std::int16_t step) const {
        const auto it = firstStepTick.find(step);
        return it == firstStepTick.end() ? -1 : it->second;
    }

    // Lines of today's log file that contain text.
    int LogCount(const std::string& text) const {
        const std::string log =
            AnsiToUtf8(ReadFileBytes(dir.path() / "Log" / DayFileName(clock.now)));
        int count = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }

    void AddTestCall(const std::string& address) {
        AddCall(app, address, "1", "Hello", "", "1", "3");
        callAddedTick = tick;
    }

    std::string Status() const { return app.CallBuffer[0].Status; }

    // A readable account of the run for a failing assertion.
    std::string Story() {
        std::string story = "ticks:";
        for (const auto& [status, at] : firstStatusTick)
            story += " " + status + "@" + std::to_string(at);
        story += "\nslave:\n" + slave.Output();
        return story;
    }

    TempDir dir;
    FakeView view;
    FakeClock clock;
    QtSerialLine line{dir.path()};
    App app{view, clock, line, dir.path()};
    SlaveProcess slave;
    int tick = 0;  // start-up's call of the engine is tick 0
    int callAddedTick = -1;
    std::map<std::string, int> firstStatusTick;
    std::map<std::int16_t, int> firstStepTick;
    std::map<std::int16_t, int> lineOkTick;

  private:
    void Note() {
        firstStatusTick.try_emplace(app.CallBuffer[0].Status, tick);
        if (callAddedTick >= 0)
            firstStepTick.try_emplace(app.espa.EspaState, tick);
        lineOkTick.try_emplace(app.espa.LineOk, tick);
    }
};

void ExpectTickNear(int actual, int expected, const std::string& what, Rig& rig) {
    EXPECT_GE(actual, expected) << what << "\n" << rig.Story();
    EXPECT_LE(actual, expected + kSlackTicks) << what << "\n" << rig.Story();
    std::printf("%s on tick %d (protocol: %d)\n", what.c_str(), actual, expected);
}

// With the status call block before each poll, a slave that reports PAGED at
// once: the make call and the status exchange take their fixed tick counts.
TEST(EndToEndTest, CallGoesNewQueuePagedWithStatusCallBlock) {
    Rig rig;
    ASSERT_TRUE(rig.Start({"--script", "DEFAULT=PAGED"}, LineSettings(0)));
    ASSERT_TRUE(rig.RunUntil([&] { return rig.app.espa.LineOk == 1; }, 60)) << rig.Story();
    rig.AddTestCall("1234");
    ASSERT_TRUE(rig.RunUntil([&] { return rig.Status() != "NEW" && rig.Status() != "QUEUE"; }, 120))
        << rig.Story();
    EXPECT_EQ(rig.Status(), "PAGED") << rig.Story();

    // The scheduler takes the call within one scan delay.
    const int picked = rig.TickOfStep(30);
    ASSERT_GE(picked, 0) << rig.Story();
    EXPECT_LE(picked - rig.callAddedTick, 11 + kSlackTicks) << rig.Story();
    // EOT, 5 ticks, select, ACK, block, ACK.
    ExpectTickNear(rig.TickOf("QUEUE") - picked, 9, "QUEUE after the pick", rig);
    // Scan, EOT, 5 ticks, select, ACK, SOH 3 block, ACK, EOT, 5 ticks, poll,
    // '1', ENQ, status block, check character, ACK.
    ExpectTickNear(rig.TickOf("PAGED") - picked, 30, "PAGED after the pick", rig);

    EXPECT_EQ(rig.LogCount("STATUS: Call from ScreenPosition: 0 is now: PAGED"), 1);
    EXPECT_EQ(rig.slave.OutputCount("<- call block: 1=1234 2=Hello 3=1 4=3 5=1 BCC ok"), 1)
        << rig.Story();
    EXPECT_EQ(rig.slave.OutputCount("<- status call block: 1=1234"), 1) << rig.Story();
    EXPECT_TRUE(rig.slave.WaitFor("status PAGED for call 1234 delivered")) << rig.Story();
    EXPECT_TRUE(rig.slave.Stop()) << rig.Story();
}

// Polls only, with the default script: QUEUE is reported, two polls are
// answered with EOT, then PAGED.
TEST(EndToEndTest, DefaultScriptHoldsTwoPollsBeforePaged) {
    Rig rig;
    ASSERT_TRUE(rig.Start({}, LineSettings(1)));
    ASSERT_TRUE(rig.RunUntil([&] { return rig.app.espa.LineOk == 1; }, 60)) << rig.Story();
    rig.AddTestCall("555");
    ASSERT_TRUE(
        rig.RunUntil([&] { return rig.Status() == "PAGED" || rig.Status() == "ERROR"; }, 150))
        << rig.Story();
    EXPECT_EQ(rig.Status(), "PAGED") << rig.Story();
    const int picked = rig.TickOfStep(30);
    ASSERT_GE(picked, 0) << rig.Story();
    ExpectTickNear(rig.TickOf("QUEUE") - picked, 9, "QUEUE after the pick", rig);
    // Report QUEUE (12 ticks), two polls answered EOT (8 each), report PAGED (12).
    ExpectTickNear(rig.TickOf("PAGED") - picked, 49, "PAGED after the pick", rig);
    EXPECT_EQ(rig.LogCount("STATUS: Call from ScreenPosition: 0 is now: QUEUE"), 1);
    EXPECT_EQ(rig.LogCount("StatusRequest: No info available (yet). Retry later."), 2);
    EXPECT_EQ(rig.slave.OutputCount("nothing yet"), 2) << rig.Story();
    EXPECT_TRUE(rig.slave.Stop()) << rig.Story();
}

// A slave that refuses every block: one try and three retries, then "ERROR".
TEST(EndToEndTest, SlaveRefusingEveryBlockEndsTheCallInError) {
    Rig rig;
    ASSERT_TRUE(rig.Start({"--nak-block", "always"}, LineSettings(0)));
    ASSERT_TRUE(rig.RunUntil([&] { return rig.app.espa.LineOk == 1; }, 60)) << rig.Story();
    rig.AddTestCall("4321");
    ASSERT_TRUE(rig.RunUntil([&] { return rig.Status() == "ERROR"; }, 120)) << rig.Story();
    const int picked = rig.TickOfStep(30);
    ASSERT_GE(picked, 0) << rig.Story();
    EXPECT_EQ(rig.TickOf("QUEUE"), -1);
    // Four rounds of EOT, 5 ticks, select, ACK, block, NAK.
    ExpectTickNear(rig.TickOf("ERROR") - picked, 36, "ERROR after the pick", rig);
    EXPECT_EQ(rig.LogCount("ERROR: No ACK on transmitted ESPA, but: %d 21"), 4);
    EXPECT_EQ(rig.LogCount("ERROR: Failed 3 times, recheck ESPA slave."), 1);
    EXPECT_EQ(rig.slave.OutputCount("-> NAK (--nak-block)"), 4) << rig.Story();
    EXPECT_TRUE(rig.slave.Stop()) << rig.Story();
}

// Noise before the first answer, the first status block with a wrong check
// character and every status block in three pieces over several ticks: the
// master recovers from each and the call still ends "PAGED".
TEST(EndToEndTest, MasterRecoversFromNoiseBadCheckAndSplitBlocks) {
    Rig rig;
    ASSERT_TRUE(rig.Start({"--script", "DEFAULT=PAGED", "--noise", "first=1", "--bad-bcc",
                           "first=1", "--split", "3,150"},
                          LineSettings(1)));
    ASSERT_TRUE(rig.RunUntil([&] { return rig.app.espa.LineOk == 1; }, 60)) << rig.Story();
    rig.AddTestCall("99");
    ASSERT_TRUE(
        rig.RunUntil([&] { return rig.Status() == "PAGED" || rig.Status() == "ERROR"; }, 150))
        << rig.Story();
    EXPECT_EQ(rig.Status(), "PAGED") << rig.Story();
    EXPECT_EQ(rig.LogCount("ERROR: Incorrect CheckSum received. Expected: "), 1) << rig.Story();
    EXPECT_EQ(rig.LogCount("StatusRequest: Checksum received and OK."), 1);
    EXPECT_EQ(rig.slave.OutputCount("-> noise (--noise)"), 1) << rig.Story();
    EXPECT_EQ(rig.slave.OutputCount("[piece 3 of 3"), 2) << rig.Story();
    // Two status requests, each waiting for the pieces, after the make call.
    const int picked = rig.TickOfStep(30);
    EXPECT_GT(rig.TickOf("PAGED") - picked, 2 * 12 + 9) << rig.Story();
    EXPECT_TRUE(rig.slave.Stop()) << rig.Story();
}

// A slave that never answers: the first line check runs into its time-out
// and the link is reported as failed.
TEST(EndToEndTest, SilentSlaveFailsTheLineCheck) {
    Rig rig;
    ASSERT_TRUE(rig.Start({"--silent"}, LineSettings(0)));
    rig.RunUntil([] { return false; }, 40);
    // Tick 1 EOT, tick 6 the poll, 20 ticks of waiting.
    EXPECT_EQ(rig.lineOkTick.count(-1), 1u);
    EXPECT_EQ(rig.lineOkTick[0], 26) << rig.Story();
    EXPECT_EQ(rig.lineOkTick.count(1), 0u) << rig.Story();
    EXPECT_EQ(rig.app.espa.LineOk, 0);
    EXPECT_GE(rig.slave.OutputCount("<- '1' ENQ '2' ENQ (select)"), 1) << rig.Story();
    EXPECT_EQ(rig.slave.OutputCount("-> "), 0) << rig.Story();
    EXPECT_TRUE(rig.slave.Stop()) << rig.Story();
}

// The master closes and reopens its port (a Save in the settings window): the
// slave's pty stays usable and the next call goes through.
TEST(EndToEndTest, SlaveSurvivesTheMasterReopeningThePort) {
    Rig rig;
    ASSERT_TRUE(rig.Start({"--script", "DEFAULT=PAGED"}, LineSettings(1)));
    ASSERT_TRUE(rig.RunUntil([&] { return rig.app.espa.LineOk == 1; }, 60)) << rig.Story();
    CloseComPort(rig.app);
    const Settings& s = rig.app.settings;
    ASSERT_EQ(
        OpenComPort(rig.app, s.Compoort, s.BaudRate, s.Parity, s.Bits, s.StopBits, s.HandShake), 1);
    rig.AddTestCall("77");
    ASSERT_TRUE(
        rig.RunUntil([&] { return rig.Status() == "PAGED" || rig.Status() == "ERROR"; }, 120))
        << rig.Story();
    EXPECT_EQ(rig.Status(), "PAGED") << rig.Story();
    EXPECT_TRUE(rig.slave.Stop()) << rig.Story();
}

}  // namespace
}  // namespace zelvano

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
