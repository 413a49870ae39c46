// One rig for the tests over a pseudo-terminal: espa-slave in its own process
// on a pty it creates, and the real main window over the real QSerialPort
// adapter at the other end, ticked by hand.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "serial/QtSerialLine.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"
#include "windows/TypeableCombo.h"

namespace zelvano::proc {

namespace fs = std::filesystem;

// Turns the event loop until done() or ms have passed; true when done.
inline bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

inline int Count(const std::string& all, const std::string& text) {
    int count = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        ++count;
    return count;
}

inline constexpr int kAnswerMs = 40;

// espa-slave in its own process, on a pseudo-terminal it creates.
class Slave {
  public:
    ~Slave() { Stop(); }
    // Starts it in dir and waits for its path file (pty holds the path).
    bool Start(const fs::path& dir, QStringList options, const fs::path& link = {}) {
        pathFile_ = dir / "slave.pty";
        link_ = link;
        fs::remove(pathFile_);
        options << "--pty-file" << QString::fromStdString(pathFile_.string()) << "--seed"
                << "7";
        if (!link.empty())
            options << "--link" << QString::fromStdString(link.string());
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(ESPA_SLAVE_PATH, options);
        const bool up = WaitUntil(
            [&] {
                pty = test::ReadFileBytes(pathFile_);
                return pty.ends_with('\n');
            },
            10000);
        pty = pty.substr(0, pty.size() - 1);
        return up;
    }
    // SIGKILL: the pseudo-terminal goes with it, as an unplugged adapter.
    void Kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    // SIGTERM; true when it ended with 0 and removed its path file and link.
    bool Stop() {
        if (process_.state() == QProcess::NotRunning)
            return clean_;
        process_.terminate();
        clean_ = process_.waitForFinished(5000) && process_.exitStatus() == QProcess::NormalExit &&
                 process_.exitCode() == 0 && !fs::exists(pathFile_) &&
                 (link_.empty() || !fs::is_symlink(link_));
        process_.kill();
        return clean_;
    }
    const std::string& Output() { return output_ += process_.readAll().toStdString(); }
    // Lets the slave's last lines come in first.
    int Count(const std::string& text) {
        WaitUntil([] { return false; }, 20);
        return proc::Count(Output(), text);
    }
    std::string pty;

  private:
    QProcess process_;
    fs::path pathFile_, link_;
    std::string output_;
    bool clean_ = false;
};

// COM1 at 9600,N,8,1, log level 2, a line check every 2 s.
inline Settings LineSettings() {
    Settings settings;
    settings.Emulatie = 1;
    settings.BaudRate = 4;
    settings.Bits = 1;
    settings.Logfile = 2;
    settings.CheckInterval = 19;
    return settings;
}

// espa.set from settings and a comports.cfg that maps COM1 to device.
inline void WriteSetup(const fs::path& dataDir, const Settings& settings,
                       const std::string& device) {
    test::WriteFileBytes(SettingsPath(dataDir), FormatSettings(settings));
    test::WriteFileBytes(dataDir / "comports.cfg", "COM1=" + device + "\n");
}

inline fs::path DayLog(const fs::path& dataDir, const char* folder) {
    SystemClock clock;
    return dataDir / folder / DayFileName(clock.Now());
}

// The real main window over the real adapter and clock, loaded and shown
// with its timers stopped: the test ticks it. After each tick it notes the
// states each call went through (by its identity), rows that disagree with
// the buffer and the longest tick.
class Program {
  public:
    explicit Program(const fs::path& dataDir) : line_(dataDir), window_(clock_, line_, dataDir) {
        window_.SetMessageBoxHandler([this](const std::string& text, const std::string& title) {
            boxes.push_back(title + ": " + text);
            return MessageAnswer::Ok;
        });
        window_.SetBeepHandler([] {});
        window_.SetQuitHandler([] {});
        window_.Form_Load();
        window_.show();
        for (QTimer* timer : window_.findChildren<QTimer*>())
            timer->stop();
    }
    ~Program() { window_.close(); }
    App& Core() { return window_.app(); }

    // Engine ticks by hand, as the 100 ms timer gives them but without its
    // idle time: after each tick the written bytes go out and the slave has
    // up to kAnswerMs to answer. The buffer timer runs every 10th tick. Runs
    // until done() holds (true) or max ticks ran.
    bool Run(const std::function<bool()>& done, int max) {
        QElapsedTimer took;
        auto tick = [&] {
            took.start();
            window_.TmrAfhandel_Timer();
            if (++ticks % 10 == 0)
                window_.TmrBuffer_Timer();
            window_.LedTimer_Timer();
            Sample();
            // "NEW" shows as an empty cell; "QUEUE" and "ERROR" may wait for
            // the redraw of the next tick.
            for (int row = 0; row < kCallBufferSize; ++row) {
                const std::string& state = Core().CallBuffer[static_cast<std::size_t>(row)].Status;
                mismatches += state != "QUEUE" && state != "ERROR" &&
                              State(row).toStdString() != (state == "NEW" ? "" : state);
            }
            run_ = Core().espa.EspaState == 200 ? run_ + 1 : 0;
            longestInStatusBlock = std::max(longestInStatusBlock, run_);
        };
        for (int i = 0; i < max && !done(); ++i) {
            tick();
            WaitUntil([&] { return line_.BytesWaiting() != 0; }, kAnswerMs);
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
        for (int row = 0; row < kCallBufferSize; ++row) {
            if (Address(row) == address)
                return row;
        }
        return -1;
    }
    std::string Problem() {
        return window_.findChild<QGroupBox*>("FrmCommunicatie")->toolTip().toStdString();
    }
    bool ScreenLogHas(const std::string& text) {
        for (const auto* box : window_.findChildren<QLineEdit*>(QRegularExpression("^Text2_"))) {
            if (box->text().toStdString().find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    // A call entered in the call window; its time-out shortened to seconds.
    void EnterCall(const QString& address, int seconds = 60) {
        window_.CallPager_Click();
        window_.callWindow()->findChild<QLineEdit*>("TextAdres")->setText(address);
        window_.callWindow()->findChild<QLineEdit*>("TextAlfa")->setText("Hello");
        window_.callWindow()->findChild<QPushButton*>("CmdCall")->click();
        auto& entry = Core().CallBuffer[static_cast<std::size_t>(RowOf(address))];
        entry.TimeOutCount = static_cast<std::int16_t>(std::min<int>(entry.TimeOutCount, seconds));
        Sample();
    }
    // Settings window: Change, an optional interval choice, Save.
    void Save(int interval = -1) {
        window_.Instellingen_Click();
        SettingsWindow* settings = window_.settingsWindow();
        settings->findChild<QPushButton*>("CmdWijzigen")->click();
        if (interval >= 0)
            settings->findChild<TypeableCombo*>("ComboDeviceCheckInterval")
                ->SetPosition(static_cast<std::int16_t>(interval));
        settings->findChild<QPushButton*>("CmdSave")->click();
    }

    // "NEW>QUEUE>PAGED" for the call to address.
    std::string States(const std::string& address) {
        Sample();
        for (const auto& [id, call] : calls_) {
            if (call.first == address)
                return call.second;
        }
        return "";
    }
    bool AllSettled() {
        for (const CallBufferEntry& entry : Core().CallBuffer) {
            if (entry.Status == "NEW" || entry.Status == "QUEUE")
                return false;
        }
        return true;
    }
    std::string Summary() {
        std::string text;
        for (const auto& [id, call] : calls_)
            text += (text.empty() ? "" : "; ") + call.first + " " + call.second;
        return text;
    }

    std::vector<std::string> boxes;
    int ticks = 0, mismatches = 0;
    qint64 longestTickMs = 0;
    int longestInStatusBlock = 0;  // most ticks in a row spent receiving a status block

  private:
    void Sample() {
        for (const CallBufferEntry& entry : Core().CallBuffer) {
            if (entry.IsFree())
                continue;
            auto& [address, states] = calls_[entry.CallId];
            address = entry.Address;
            if (states.substr(states.rfind('>') + 1) != entry.Status)
                states += (states.empty() ? "" : ">") + entry.Status;
        }
    }

    SystemClock clock_;
    QtSerialLine line_;
    MainWindow window_;
    std::map<std::uint32_t, std::pair<std::string, std::string>> calls_;
    int run_ = 0;
};

}  // namespace zelvano::proc
