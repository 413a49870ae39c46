// The pieces of the fault matrix: espa-slave as its own process, the real
// main window over the real QSerialPort adapter in a program directory, a
// watcher that records what the operator sees, and file evidence.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "common/Clock.h"
#include "serial/QtSerialLine.h"
#include "settings/Settings.h"

namespace zelvano::faults {

// Spins the event loop until done() or the time is up; true when done.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
// Lets the event loop run for a while.
void RunFor(int ms);

// One line of evidence for the matrix table, printed as it is found.
void Evidence(const std::string& text);

// espa-slave in its own process, on a pseudo-terminal it creates.
class SlaveProcess {
  public:
    explicit SlaveProcess(std::filesystem::path workDir) : workDir_(std::move(workDir)) {}
    ~SlaveProcess();

    // Starts it with extra options and waits until its port is ready.
    bool Start(const QStringList& options, const std::filesystem::path& link = {});
    // SIGKILL: the pseudo-terminal goes with it, as an unplugged adapter.
    void Kill();
    void Stop();
    bool Running() const { return process_.state() != QProcess::NotRunning; }

    const std::string& Pty() const { return pty_; }
    // Everything it printed so far.
    std::string Output();
    int CountInOutput(const std::string& text);

  private:
    std::filesystem::path workDir_;
    QProcess process_;
    std::string pty_;
    std::string output_;
};

// The settings every case starts from: a working line at 9600,N,8,1, log
// level 2 and a line check every 2 s.
Settings BaseSettings();

// The real main window, serial adapter and clock over a program directory.
class Program {
  public:
    explicit Program(std::filesystem::path dataDir);
    ~Program();

    // Form_Load (StartUp, timers) and show.
    void Start();
    MainWindow& Window() { return *window_; }
    App& Core() { return window_->app(); }

    // The texts the operator sees.
    QString LinkText();
    QString RowState(int row);
    QString RowAddress(int row);
    QString PortProblem();
    std::vector<std::string> ScreenLog();
    bool ScreenLogHas(const std::string& text);
    const std::vector<std::string>& MessageBoxes() const { return boxes_; }

    // A call through the call window, as the operator enters one.
    void EnterCall(const QString& address, const QString& text);
    // Settings window: Change, an optional edit, Save; the window stays open.
    void SaveInSettingsWindow(const std::function<void(SettingsWindow&)>& edit = {});

    // Lets the buffer time-out of a waiting call fall within the case: the
    // call is treated as if it had waited longer already.
    void ShortenTimeOut(int row, int seconds);

  private:
    std::filesystem::path dataDir_;
    SystemClock clock_;
    std::unique_ptr<QtSerialLine> line_;
    std::unique_ptr<MainWindow> window_;
    std::vector<std::string> boxes_;
};

// Watches the program while a case runs: the states every call went through
// (by its identity, so a state on the wrong call shows), the shown row against
// the buffer, the engine ticks and the longest pause of the event loop.
class Watch {
  public:
    explicit Watch(Program& program);

    struct CallHistory {
        std::string address;
        std::vector<std::string> states;  // each change once, in order
    };
    const std::map<std::uint32_t, CallHistory>& Calls() const { return calls_; }
    // Both take a fresh sample first, so a change of this very moment counts.
    std::vector<std::string> StatesOf(const std::string& address);
    std::string FinalStateOf(const std::string& address);

    int EngineTicks() const { return ticks_; }
    qint64 LongestPauseMs() const { return longestPauseMs_; }
    // The most engine ticks in a row that ended in one step.
    int LongestRunInStep(int step) const;
    // Rows whose caption disagreed with their buffer state after a redraw.
    int DisplayMismatches() const { return mismatches_; }

    // No call left "NEW" or "QUEUE".
    bool AllSettled();
    // "1001 NEW>QUEUE>PAGED; ..." for the evidence.
    std::string Summary() const;
    // The event loop kept turning and the engine kept ticking.
    bool Alive(int minTicks) const;

  private:
    void Sample();
    void OnEngineTick();

    Program& program_;
    QTimer sampler_;
    QElapsedTimer sinceLast_;
    qint64 longestPauseMs_ = 0;
    int ticks_ = 0;
    int mismatches_ = 0;
    std::map<int, int> runs_;  // step -> longest run
    int currentStep_ = -1;
    int currentRun_ = 0;
    std::map<std::uint32_t, CallHistory> calls_;
};

// Files.
std::string Sha256Of(const std::filesystem::path& file);
std::string ShortHash(const std::filesystem::path& file);
std::filesystem::path DayLogPath(const std::filesystem::path& dataDir, const char* folder);
int CountLines(const std::filesystem::path& file, const std::string& text);
void WriteSetup(const std::filesystem::path& dataDir, const Settings& settings,
                const std::string& device);

// Prints the tail of the day log and of the slave's output when the case
// fails, so a failing row of the matrix carries its own story.
class DumpOnFailure {
  public:
    DumpOnFailure(std::filesystem::path dataDir, SlaveProcess* slave)
        : dataDir_(std::move(dataDir)), slave_(slave) {}
    ~DumpOnFailure();

  private:
    std::filesystem::path dataDir_;
    SlaveProcess* slave_;
};

// A mount made for a case and undone when it ends.
class Mount {
  public:
    ~Mount();
    bool Tmpfs(const std::filesystem::path& where, const std::string& size);
    bool ReadOnlyBind(const std::filesystem::path& where);
    const std::string& Error() const { return error_; }

  private:
    std::vector<std::filesystem::path> mounted_;
    std::string error_;
};

}  // namespace zelvano::faults
