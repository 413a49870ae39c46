// One rig for the tests over a pseudo-terminal: espa-slave as its own
// process, the engine or the whole main window over the real QSerialPort
// adapter, ticked by hand, and the files they leave.
#pragma once

#include <QProcess>
#include <QString>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "common/Clock.h"
#include "serial/QtSerialLine.h"
#include "settings/Settings.h"

namespace zelvano::proc {

namespace fs = std::filesystem;

// Turns the event loop until done() or ms have passed; true when done.
bool WaitUntil(const std::function<bool()>& done, int ms);
// How often text occurs in all.
int Count(const std::string& all, const std::string& text);
// A line of evidence for the fault matrix table.
void Evidence(const std::string& text);

// espa-slave in its own process, on a pseudo-terminal it creates.
class Slave {
  public:
    ~Slave() { Stop(); }
    // Starts it in dir with options and waits for its path file.
    bool Start(const fs::path& dir, QStringList options, const fs::path& link = {});
    // SIGKILL: the pseudo-terminal goes with it, as an unplugged adapter.
    void Kill();
    // SIGTERM; true when it ended with 0 and removed its path file and link.
    bool Stop();
    const std::string& Output();
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
Settings LineSettings();
// espa.set from settings and a comports.cfg that maps COM1 to device.
void WriteSetup(const fs::path& dataDir, const Settings& settings, const std::string& device);
// Lines of a file that contain text.
int CountLines(const fs::path& file, const std::string& text);
std::string Sha256Of(const fs::path& file);
// Today's day file in folder ("Log", "DebugLog").
fs::path DayLog(const fs::path& dataDir, const char* folder);

// Engine ticks by hand, as the 100 ms timer gives them but without its idle
// time: after each tick the written bytes go out and the slave has up to
// kAnswerMs to answer. Runs tick() until done() holds (true) or max ticks ran.
inline constexpr int kAnswerMs = 40;
bool RunTicks(QtSerialLine& line, const std::function<void()>& tick,
              const std::function<bool()>& done, int max);

// The real main window over the real adapter and clock, its timers stopped:
// the test ticks it. After each tick it records the states each call went
// through (by its identity), rows that disagree with the buffer, the longest
// tick and the longest run of ticks in each engine step.
class Program {
  public:
    explicit Program(fs::path dataDir);
    ~Program();
    // Form_Load and show, then the timers stop.
    void Start();
    // Ticks (engine; buffer every 10th) until done() holds or max ticks ran.
    bool Run(const std::function<bool()>& done, int max);
    bool RunUntilState(const QString& address, const QString& state, int max);
    App& Core() { return window_->app(); }

    QString LinkText();
    QString RowState(int row);
    QString RowAddress(int row);
    int RowOf(const QString& address);
    QString PortProblem();
    bool ScreenLogHas(const std::string& text);
    // A call entered in the call window.
    void EnterCall(const QString& address, const QString& text);
    // Settings window: Change, an optional edit, Save.
    void Save(const std::function<void(SettingsWindow&)>& edit = {});
    void ChooseIntervalAndSave(int position);
    // Lets a call's buffer time-out fall within the case.
    void ShortenTimeOut(const QString& address, int seconds);

    // "NEW>QUEUE>PAGED" for the call to address.
    std::string States(const std::string& address);
    // No call left "NEW" or "QUEUE".
    bool AllSettled();
    // "1001 NEW>ERROR; ..."
    std::string Summary();
    int LongestRunInStep(int step) const;

    std::vector<std::string> boxes;
    int ticks = 0;
    qint64 longestTickMs = 0;
    int mismatches = 0;

  private:
    void Sample();

    fs::path dataDir_;
    SystemClock clock_;
    std::unique_ptr<QtSerialLine> line_;
    std::unique_ptr<MainWindow> window_;
    std::map<std::uint32_t, std::pair<std::string, std::vector<std::string>>> calls_;
    std::map<int, int> runs_;
    int step_ = -1, run_ = 0;
};

// A mount made for a case and undone when it ends.
class Mount {
  public:
    ~Mount();
    bool Tmpfs(const fs::path& where, const std::string& size);
    bool ReadOnlyBind(const fs::path& where);
    std::string error;

  private:
    std::vector<fs::path> mounted_;
};

}  // namespace zelvano::proc
