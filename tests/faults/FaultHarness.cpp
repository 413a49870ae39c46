#include "FaultHarness.h"

#include <sys/mount.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "log/Log.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsWindow.h"
#include "support/TestApp.h"
#include "windows/CallWindow.h"

namespace zelvano::faults {

namespace fs = std::filesystem;

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qSleep(5);
    }
    return true;
}

void RunFor(int ms) {
    WaitUntil([] { return false; }, ms);
}

void Evidence(const std::string& text) {
    std::printf("EVIDENCE: %s\n", text.c_str());
    std::fflush(stdout);
}

// ---- espa-slave ------------------------------------------------------------

SlaveProcess::~SlaveProcess() {
    Stop();
}

bool SlaveProcess::Start(const QStringList& options, const fs::path& link) {
    const fs::path ready = workDir_ / "slave.ready";
    std::error_code ignored;
    fs::remove(ready, ignored);
    QStringList args = options;
    args << "--pty-file" << QString::fromStdString(ready.string()) << "--seed"
         << "7";
    if (!link.empty())
        args << "--link" << QString::fromStdString(link.string());
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(ESPA_SLAVE_PATH, args);
    if (!process_.waitForStarted(10000))
        return false;
    const bool up = WaitUntil(
        [&] {
            const std::string path = test::ReadFileBytes(ready);
            return !path.empty() && path.back() == '\n';
        },
        10000);
    if (!up)
        return false;
    pty_ = test::ReadFileBytes(ready);
    pty_.pop_back();
    return true;
}

void SlaveProcess::Kill() {
    if (!Running())
        return;
    process_.kill();
    process_.waitForFinished(5000);
    Output();
}

void SlaveProcess::Stop() {
    if (!Running())
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    Output();
}

std::string SlaveProcess::Output() {
    output_ += process_.readAll().toStdString();
    return output_;
}

int SlaveProcess::CountInOutput(const std::string& text) {
    const std::string all = Output();
    int count = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        ++count;
    return count;
}

// ---- the program -------------------------------------------------------------

Settings BaseSettings() {
    Settings settings;
    settings.Emulatie = 1;
    settings.BaudRate = 4;
    settings.Bits = 1;
    settings.Logfile = 2;
    settings.CheckInterval = 19;
    return settings;
}

void WriteSetup(const fs::path& dataDir, const Settings& settings, const std::string& device) {
    test::WriteFileBytes(SettingsPath(dataDir), FormatSettings(settings));
    test::WriteFileBytes(dataDir / "comports.cfg", "COM1=" + device + "\n");
}

Program::Program(fs::path dataDir) : dataDir_(std::move(dataDir)) {
    line_ = std::make_unique<QtSerialLine>(dataDir_);
    window_ = std::make_unique<MainWindow>(clock_, *line_, dataDir_);
    window_->SetMessageBoxHandler([this](const std::string& text, const std::string& title) {
        boxes_.push_back(title + ": " + text);
        return MessageAnswer::Ok;
    });
    window_->SetBeepHandler([] {});
    window_->SetQuitHandler([] {});
}

Program::~Program() {
    window_->close();
    window_.reset();
    line_.reset();
}

void Program::Start() {
    window_->Form_Load();
    window_->show();
}

QString Program::LinkText() {
    return window_->findChild<QLabel*>("LabLink")->text();
}

QString Program::RowState(int row) {
    return window_->findChild<QLabel*>(QString("LabReturnedStatus_%1").arg(row))->text();
}

QString Program::RowAddress(int row) {
    return window_->findChild<QLabel*>(QString("LabAdres_%1").arg(row))->text();
}

QString Program::PortProblem() {
    return window_->findChild<QGroupBox*>("FrmCommunicatie")->toolTip();
}

std::vector<std::string> Program::ScreenLog() {
    std::vector<std::string> lines;
    for (int i = 0; i < 10; ++i) {
        const auto* box = window_->findChild<QLineEdit*>(QString("Text2_%1").arg(i));
        if (box != nullptr && !box->text().isEmpty())
            lines.push_back(box->text().toStdString());
    }
    return lines;
}

bool Program::ScreenLogHas(const std::string& text) {
    for (const std::string& line : ScreenLog()) {
        if (line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

void Program::EnterCall(const QString& address, const QString& text) {
    window_->CallPager_Click();
    CallWindow* call = window_->callWindow();
    call->findChild<QLineEdit*>("TextAdres")->setText(address);
    call->findChild<QLineEdit*>("TextAlfa")->setText(text);
    QTest::mouseClick(call->findChild<QPushButton*>("CmdCall"), Qt::LeftButton);
    QCoreApplication::processEvents();
}

void Program::SaveInSettingsWindow(const std::function<void(SettingsWindow&)>& edit) {
    window_->Instellingen_Click();
    SettingsWindow* settings = window_->settingsWindow();
    QTest::mouseClick(settings->findChild<QPushButton*>("CmdWijzigen"), Qt::LeftButton);
    if (edit)
        edit(*settings);
    QTest::mouseClick(settings->findChild<QPushButton*>("CmdSave"), Qt::LeftButton);
    QCoreApplication::processEvents();
}

void Program::ShortenTimeOut(int row, int seconds) {
    auto& entry = Core().CallBuffer[static_cast<std::size_t>(row)];
    if (entry.TimeOutCount > seconds)
        entry.TimeOutCount = static_cast<std::int16_t>(seconds);
}

// ---- the watcher -------------------------------------------------------------

Watch::Watch(Program& program) : program_(program) {
    sinceLast_.start();
    QObject::connect(&sampler_, &QTimer::timeout, [this] { Sample(); });
    sampler_.start(20);
    // Connected after the window's own handler, so it sees the tick's result.
    auto* engine = program_.Window().findChild<QTimer*>("TmrAfhandel");
    QObject::connect(engine, &QTimer::timeout, [this] { OnEngineTick(); });
}

void Watch::Sample() {
    longestPauseMs_ = std::max(longestPauseMs_, sinceLast_.restart());
    const CallBufferArray& buffer = program_.Core().CallBuffer;
    for (int row = 0; row < kCallBufferSize; ++row) {
        const CallBufferEntry& entry = buffer[static_cast<std::size_t>(row)];
        if (entry.IsFree())
            continue;
        CallHistory& history = calls_[entry.CallId];
        history.address = entry.Address;
        if (history.states.empty() || history.states.back() != entry.Status)
            history.states.push_back(entry.Status);
    }
}

void Watch::OnEngineTick() {
    ++ticks_;
    const int step = program_.Core().espa.EspaState;
    currentRun_ = step == currentStep_ ? currentRun_ + 1 : 1;
    currentStep_ = step;
    runs_[step] = std::max(runs_[step], currentRun_);
    // After a tick that applied a status the rows were redrawn: each shown
    // state must be the buffer's ("NEW" shows as an empty cell).
    const CallBufferArray& buffer = program_.Core().CallBuffer;
    for (int row = 0; row < kCallBufferSize; ++row) {
        const std::string& state = buffer[static_cast<std::size_t>(row)].Status;
        const bool redrawnHere = state != "QUEUE" && state != "ERROR";
        const std::string shown = program_.RowState(row).toStdString();
        if (redrawnHere && shown != (state == "NEW" ? "" : state))
            ++mismatches_;
    }
}

std::vector<std::string> Watch::StatesOf(const std::string& address) {
    Sample();
    for (const auto& [id, history] : calls_) {
        if (history.address == address)
            return history.states;
    }
    return {};
}

std::string Watch::FinalStateOf(const std::string& address) {
    const auto states = StatesOf(address);
    return states.empty() ? "" : states.back();
}

int Watch::LongestRunInStep(int step) const {
    const auto found = runs_.find(step);
    return found == runs_.end() ? 0 : found->second;
}

bool Watch::AllSettled() {
    Sample();
    for (const CallBufferEntry& entry : program_.Core().CallBuffer) {
        if (entry.Status == "NEW" || entry.Status == "QUEUE")
            return false;
    }
    return true;
}

std::string Watch::Summary() const {
    std::string text;
    for (const auto& [id, history] : calls_) {
        text += (text.empty() ? "" : "; ") + history.address + " ";
        for (std::size_t i = 0; i < history.states.size(); ++i)
            text += (i == 0 ? "" : ">") + history.states[i];
    }
    return text;
}

bool Watch::Alive(int minTicks) const {
    // A hang shows as a long pause of the event loop; a dead engine as no ticks.
    return longestPauseMs_ < 1500 && ticks_ >= minTicks;
}

// ---- files ---------------------------------------------------------------------

std::string Sha256Of(const fs::path& file) {
    const std::string bytes = test::ReadFileBytes(file);
    if (bytes.empty() && !fs::exists(file))
        return "missing";
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string ShortHash(const fs::path& file) {
    return Sha256Of(file).substr(0, 12);
}

fs::path DayLogPath(const fs::path& dataDir, const char* folder) {
    SystemClock clock;
    return dataDir / folder / DayFileName(clock.Now());
}

int CountLines(const fs::path& file, const std::string& text) {
    std::ifstream in(file, std::ios::binary);
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

namespace {

// The last count lines of text.
std::string Tail(const std::string& text, int count) {
    std::size_t at = text.size();
    for (int lines = 0; at > 0 && lines <= count; --at) {
        if (text[at - 1] == '\n')
            ++lines;
    }
    return text.substr(at);
}

}  // namespace

DumpOnFailure::~DumpOnFailure() {
    if (!QTest::currentTestFailed())
        return;
    std::printf("---- day log (tail)\n%s",
                Tail(test::ReadFileBytes(DayLogPath(dataDir_, "Log")), 40).c_str());
    if (slave_ != nullptr)
        std::printf("---- espa-slave (tail)\n%s", Tail(slave_->Output(), 60).c_str());
    std::fflush(stdout);
}

// ---- mounts --------------------------------------------------------------------

Mount::~Mount() {
    for (auto at = mounted_.rbegin(); at != mounted_.rend(); ++at) {
        if (::umount2(at->c_str(), 0) != 0)
            ::umount2(at->c_str(), MNT_DETACH);
    }
}

bool Mount::Tmpfs(const fs::path& where, const std::string& size) {
    const std::string options = "size=" + size + ",mode=0755";
    if (::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    mounted_.push_back(where);
    return true;
}

bool Mount::ReadOnlyBind(const fs::path& where) {
    if (::mount(where.c_str(), where.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    mounted_.push_back(where);
    if (::mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace zelvano::faults
