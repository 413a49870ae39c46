// One rig for the tests over a pseudo-terminal: espa-slave in its own process
// on a pty it creates, and the real main window over the real QSerialPort
// adapter at the other end, ticked by hand.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "serial/PortLine.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"
#include "windows/TypeableCombo.h"

namespace zelvano::proc {

namespace fs = std::filesystem;

// Turns the event loop until done() or ms have passed; true when done.
inline bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() <= ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return done();
}

inline int Count(const std::string& all, const std::string& text) {
    int count = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        ++count;
    return count;
}

// espa-slave in its own process, on a pseudo-terminal it creates.
class Slave {
  public:
    ~Slave() { Stop(); }
    // Starts it in dir and waits for its path file (pty holds the path).
    bool Start(const fs::path& dir, QStringList options, const fs::path& link = {}) {
        pathFile_ = dir / "slave.pty";
        link_ = link;
        options << "--pty-file" << QString::fromStdString(pathFile_.string()) << "--seed"
                << "7";
        if (!link.empty())
            options << "--link" << QString::fromStdString(link.string());
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(ESPA_SLAVE_PATH, options);
        const bool up =
            WaitUntil([&] { return test::ReadFileBytes(pathFile_).ends_with('\n'); }, 9000);
        pty = test::ReadFileBytes(pathFile_);
        pty.pop_back();
        return up;
    }
    // SIGTERM; true when it ended with 0 and removed its path file and link.
    bool Stop() {
        if (process_.state() == QProcess::NotRunning)
            return false;
        process_.terminate();
        const bool clean = process_.waitForFinished(5000) && process_.exitCode() == 0 &&
                           process_.exitStatus() == QProcess::NormalExit &&
                           !fs::exists(pathFile_) && (link_.empty() || !fs::is_symlink(link_));
        process_.kill();
        return clean;
    }
    const std::string& Output() { return output_ += process_.readAll().toStdString(); }
    int Count(const std::string& text) {
        WaitUntil([] { return false; }, 20);
        return proc::Count(Output(), text);
    }
    std::string pty;

  private:
    QProcess process_;
    fs::path pathFile_, link_;
    std::string output_;
};

// COM1 at 9600,N,8,1, log level 2, a line check every 2 s.
inline Settings LineSettings() {
    Settings settings;
    settings.emulation = 1;
    settings.baudRate = 4;
    settings.dataBits = 1;
    settings.logLevel = 2;
    settings.checkInterval = 19;
    return settings;
}

// espa.set from settings and a comports.cfg that maps COM1 to device.
inline void WriteSetup(const fs::path& dir, const Settings& settings, const std::string& device) {
    test::WriteFileBytes(SettingsPath(dir), FormatSettings(settings));
    test::WriteFileBytes(dir / "comports.cfg", "COM1=" + device + "\n");
}

inline fs::path DayLog(const fs::path& dir, const char* folder = "Log") {
    SystemClock clock;
    return dir / folder / DayFileName(clock.Now());
}

// The real main window over the real adapter, its timers stopped: the test
// ticks it, and notes the states each call went through (by its identity),
// rows that disagree with the buffer and the longest tick.
class Program {
  public:
    explicit Program(const fs::path& dir) : line_(dir), window_(clock_, line_, dir) {
        window_.SetMessageBoxHandler([this](const std::string& text, const std::string& title) {
            boxes.push_back(title + ": " + text);
            return MessageAnswer::Ok;
        });
        window_.SetBeepHandler([] {});
        window_.SetQuitHandler([] {});
        window_.Start();
        window_.show();
        for (QTimer* timer : window_.findChildren<QTimer*>())
            timer->stop();
    }
    ~Program() { window_.close(); }
    PagingCore& Core() { return window_.core(); }

    // Engine ticks as the 100 ms timer gives them, without its idle time: the
    // slave has up to 40 ms to answer. Runs until done() holds (true).
    bool Run(const std::function<bool()>& done, int max) {
        for (int i = 0; i < max && !done(); ++i) {
            QElapsedTimer took;
            took.start();
            window_.driver().EngineTick();
            if (++ticks % 10 == 0)
                window_.driver().SecondTick();
            window_.LedTick();
            Sample();
            // "NEW" shows as an empty cell; "QUEUE" and "ERROR" may wait for
            // the redraw of the next tick.
            for (int row = 0; row < kCallBufferSize; ++row) {
                const CallState state = Core().Calls()[static_cast<std::size_t>(row)].state;
                const std::string word(StateText(state));
                mismatches += State(row).toStdString() != (state == CallState::New ? "" : word);
            }
            WaitUntil([&] { return line_.BytesWaiting() > 0; }, 40);
            longestTickMs = std::max(longestTickMs, took.elapsed());
        }
        return done();
    }
    bool RunUntil(const QString& address, const QString& state, int max = 100) {
        return Run([&] { return RowOf(address) >= 0 && State(RowOf(address)) == state; }, max);
    }
    bool LinkIs(const QString& text, int max = 80) {
        return Run([&] { return Label("LabLink") == text; }, max);
    }

    QString Label(const QString& name) { return window_.findChild<QLabel*>(name)->text(); }
    QString State(int row) { return Label(QString("LabReturnedStatus_%1").arg(row)); }
    QString Address(int row) { return Label(QString("LabAdres_%1").arg(row)); }
    int RowOf(const QString& address) {
        int row = 0;
        while (row < kCallBufferSize && Address(row) != address)
            ++row;
        return row < kCallBufferSize ? row : -1;
    }
    std::string Problem() {
        return window_.findChild<QGroupBox*>("FrmCommunicatie")->toolTip().toStdString();
    }
    // The screen log shows a line once the tick that wrote it is over.
    bool ScreenLogHas(const std::string& text) {
        const auto boxes = window_.findChildren<QLineEdit*>(QRegularExpression("^Text2_"));
        return Run(
            [&] {
                return std::ranges::any_of(boxes, [&](auto* box) {
                    return box->text().toStdString().find(text) != std::string::npos;
                });
            },
            4);
    }

    // A call entered in the call window, its time-out shortened to seconds.
    void EnterCall(const QString& address, int seconds = 60, const QString& text = "Hello") {
        window_.OpenCallWindow();
        window_.callWindow()->findChild<QLineEdit*>("TextAdres")->setText(address);
        window_.callWindow()->findChild<QLineEdit*>("TextAlfa")->setText(text);
        window_.callWindow()->findChild<QPushButton*>("CmdCall")->click();
        auto& entry = test::CoreAccess::Calls(Core()).At(RowOf(address));
        entry.timeOutCount = static_cast<std::int16_t>(std::min<int>(entry.timeOutCount, seconds));
        Sample();
    }
    // Settings window: Change, an optional interval choice, Save.
    void Save(int interval = -1) {
        window_.OpenSettings();
        SettingsWindow* settings = window_.settingsWindow();
        settings->findChild<QPushButton*>("CmdWijzigen")->click();
        if (interval >= 0)
            settings->findChild<TypeableCombo*>("ComboDeviceCheckInterval")
                ->SetPosition(static_cast<std::int16_t>(interval));
        settings->findChild<QPushButton*>("CmdSave")->click();
    }

    // "NEW>QUEUE>PAGED" for the call to address; without one, all calls.
    std::string States(const std::string& address = "") {
        Sample();
        std::string all;
        for (const auto& [id, call] : calls_) {
            if (call.first == address)
                return call.second;
            all += call.first + " " + call.second + "; ";
        }
        return address.empty() ? all : "";
    }
    bool AllSettled() {
        return std::ranges::none_of(Core().Calls(), [](const Call& entry) {
            return entry.state == CallState::New || entry.state == CallState::Queue;
        });
    }

    std::vector<std::string> boxes;
    int ticks = 0, mismatches = 0;
    qint64 longestTickMs = 0;

  private:
    void Sample() {
        for (const Call& entry : Core().Calls()) {
            if (entry.IsFree())
                continue;
            auto& [address, states] = calls_[entry.id];
            address = entry.address;
            const std::string word(StateText(entry.state));
            if (states.substr(states.rfind('>') + 1) != word)
                states += (states.empty() ? "" : ">") + word;
        }
    }

    SystemClock clock_;
    PortLine line_;
    MainWindow window_;
    std::map<std::uint32_t, std::pair<std::string, std::string>> calls_;
};

// One case's world: a program directory, the slave and the program.
struct Case {
    test::TempDir dir;
    fs::path data = dir.path() / "prog", link = dir.path() / "ttyESPA";
    Slave slave;
    std::unique_ptr<Program> program;
    std::string saved;  // espa.set before the fault

    Case() { fs::create_directories(data); }
    // Starts the slave and points COM1 at its pty (or at the link).
    void StartSlave(const QStringList& options, bool onLink = false,
                    const Settings& settings = LineSettings()) {
        EXPECT_TRUE(slave.Start(dir.path(), options, onLink ? link : fs::path()));
        WriteSetup(data, settings, onLink ? link.string() : slave.pty);
        saved = test::ReadFileBytes(SettingsPath(data));
    }
    Program& Open() { return *(program = std::make_unique<Program>(data)); }
    int LogLines(const std::string& text) { return Count(test::ReadFileBytes(DayLog(data)), text); }
    bool SavedFileKept() { return test::ReadFileBytes(SettingsPath(data)) == saved; }
};

// A slave with options against the program: calls and the states each goes
// through, lines in the day log and the slave's output with their counts,
// ticks from the pick of the first call to QUEUE and its end (<0: at least).
struct Played {
    QStringList options;
    std::vector<std::pair<QString, std::string>> calls;
    std::vector<std::pair<std::string, int>> log = {}, slaveSaw = {};
    int queueTicks = 0, finalTicks = 0;
    std::int16_t callStatusCheck = 0, checkInterval = 19;
    QString textless = {};  // the call entered without a text
};
inline Program& Play(Case& c, const Played& run) {
    Settings settings = LineSettings();
    settings.statusCheck = run.callStatusCheck;
    settings.checkInterval = run.checkInterval;
    c.StartSlave(run.options, false, settings);
    Program& p = c.Open();
    EXPECT_TRUE(p.boxes.empty());
    EXPECT_TRUE(p.LinkIs("ESPA Slave OK", 200));
    for (const auto& [address, states] : run.calls)
        p.EnterCall(address, 60, address == run.textless ? "" : "Hello");
    const int called = p.ticks;
    int picked = -1;
    std::map<std::string, int> firstTick;  // of each state of the first call
    EXPECT_TRUE(p.Run(
        [&] {
            if (picked < 0 && p.Core().Engine().step == Step::MakeCallStart)
                picked = p.ticks;
            firstTick.try_emplace(std::string(StateText(p.Core().Calls()[0].state)),
                                  p.ticks - picked);
            return p.AllSettled();
        },
        300));
    for (const auto& [address, states] : run.calls)
        EXPECT_EQ(p.States(address.toStdString()), states);
    for (const auto& [text, times] : run.log)
        EXPECT_EQ(c.LogLines(text), times) << text;
    for (const auto& [text, times] : run.slaveSaw)
        EXPECT_EQ(c.slave.Count(text), times) << text;
    // A tick late now and then is a busy machine, not the protocol.
    const std::string& states = run.calls[0].second;
    for (const auto& [state, ticks] : {std::pair{std::string("QUEUE"), run.queueTicks},
                                       {states.substr(states.rfind('>') + 1), run.finalTicks}}) {
        EXPECT_TRUE(ticks == 0 || (firstTick[state] >= std::abs(ticks) &&
                                   (ticks < 0 || firstTick[state] <= ticks + 2)))
            << state << " on tick " << firstTick[state] << " after the pick\n"
            << c.slave.Output();
    }
    // The scheduler takes a call within one scan delay.
    EXPECT_TRUE(picked >= called && picked - called <= 13) << picked - called;
    return p;
}

}  // namespace zelvano::proc
