// One rig for the tests over a pseudo-terminal: espa-slave in its own process
// on a pty it creates, the real QSerialPort adapter at the other end, and
// engine ticks given by hand.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <functional>
#include <string>

#include "serial/QtSerialLine.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

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

// Engine ticks by hand, as the 100 ms timer gives them but without its idle
// time: after each tick the written bytes go out and the slave has up to
// kAnswerMs to answer. Runs tick() until done() holds (true) or max ticks ran.
inline constexpr int kAnswerMs = 40;
inline bool RunTicks(QtSerialLine& line, const std::function<void()>& tick,
                     const std::function<bool()>& done, int max) {
    for (int i = 0; i < max && !done(); ++i) {
        tick();
        WaitUntil([&] { return line.BytesWaiting() != 0; }, kAnswerMs);
    }
    return done();
}

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

}  // namespace zelvano::proc
