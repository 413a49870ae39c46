#include "ProcessRig.h"

#include <sys/mount.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "log/Log.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsWindow.h"
#include "support/TestApp.h"
#include "windows/CallWindow.h"
#include "windows/TypeableCombo.h"

namespace zelvano::proc {

bool WaitUntil(const std::function<bool()>& done, int ms) {
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

int Count(const std::string& all, const std::string& text) {
    int count = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        ++count;
    return count;
}

void Evidence(const std::string& text) {
    std::printf("EVIDENCE: %s\n", text.c_str());
    std::fflush(stdout);
}

// ---- espa-slave ------------------------------------------------------------

bool Slave::Start(const fs::path& dir, QStringList options, const fs::path& link) {
    pathFile_ = dir / "slave.pty";
    link_ = link;
    fs::remove(pathFile_);
    options << "--pty-file" << QString::fromStdString(pathFile_.string()) << "--seed" << "7";
    if (!link.empty())
        options << "--link" << QString::fromStdString(link.string());
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(ESPA_SLAVE_PATH, options);
    const bool up = WaitUntil(
        [&] {
            pty = test::ReadFileBytes(pathFile_);
            return !pty.empty() && pty.back() == '\n';
        },
        10000);
    if (up)
        pty.pop_back();
    return up;
}

void Slave::Kill() {
    process_.kill();
    process_.waitForFinished(5000);
    Output();
}

bool Slave::Stop() {
    if (process_.state() == QProcess::NotRunning)
        return clean_;
    process_.terminate();
    const bool ended = process_.waitForFinished(5000);
    if (!ended)
        process_.kill();
    Output();
    clean_ = ended && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0 &&
             !fs::exists(pathFile_) && (link_.empty() || !fs::is_symlink(link_));
    return clean_;
}

const std::string& Slave::Output() {
    output_ += process_.readAll().toStdString();
    return output_;
}

// ---- files -----------------------------------------------------------------

Settings LineSettings() {
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

int CountLines(const fs::path& file, const std::string& text) {
    std::ifstream in(file, std::ios::binary);
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

std::string Sha256Of(const fs::path& file) {
    if (!fs::exists(file))
        return "missing";
    return QCryptographicHash::hash(QByteArray::fromStdString(test::ReadFileBytes(file)),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

fs::path DayLog(const fs::path& dataDir, const char* folder) {
    SystemClock clock;
    return dataDir / folder / DayFileName(clock.Now());
}

// ---- ticks -----------------------------------------------------------------

bool RunTicks(QtSerialLine& line, const std::function<void()>& tick,
              const std::function<bool()>& done, int max) {
    for (int i = 0; i < max && !done(); ++i) {
        tick();
        WaitUntil([&] { return line.BytesWaiting() != 0; }, kAnswerMs);
    }
    return done();
}

// ---- the program -------------------------------------------------------------

Program::Program(fs::path dataDir) : dataDir_(std::move(dataDir)) {
    line_ = std::make_unique<QtSerialLine>(dataDir_);
    window_ = std::make_unique<MainWindow>(clock_, *line_, dataDir_);
    window_->SetMessageBoxHandler([this](const std::string& text, const std::string& title) {
        boxes.push_back(title + ": " + text);
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
    for (QTimer* timer : window_->findChildren<QTimer*>())
        timer->stop();
}

bool Program::Run(const std::function<bool()>& done, int max) {
    QElapsedTimer took;
    auto tick = [&] {
        took.start();
        window_->TmrAfhandel_Timer();
        if (++ticks % 10 == 0)
            window_->TmrBuffer_Timer();
        window_->LedTimer_Timer();
        Sample();
        // A row shows its buffer state after each tick ("NEW" as an empty
        // cell); "QUEUE" and "ERROR" may wait for the redraw of the next one.
        for (int row = 0; row < kCallBufferSize; ++row) {
            const std::string& state = Core().CallBuffer[static_cast<std::size_t>(row)].Status;
            const bool redrawn = state != "QUEUE" && state != "ERROR";
            mismatches += redrawn && RowState(row).toStdString() != (state == "NEW" ? "" : state);
        }
        const int step = Core().espa.EspaState;
        run_ = step == step_ ? run_ + 1 : 1;
        step_ = step;
        runs_[step] = std::max(runs_[step], run_);
    };
    auto timed = [&] {
        const bool reached = done();
        if (took.isValid())
            longestTickMs = std::max(longestTickMs, took.elapsed());
        return reached;
    };
    return RunTicks(*line_, tick, timed, max);
}

bool Program::RunUntilState(const QString& address, const QString& state, int max) {
    return Run([&] { return RowOf(address) >= 0 && RowState(RowOf(address)) == state; }, max);
}

void Program::Sample() {
    for (int row = 0; row < kCallBufferSize; ++row) {
        const CallBufferEntry& entry = Core().CallBuffer[static_cast<std::size_t>(row)];
        if (entry.IsFree())
            continue;
        auto& [address, states] = calls_[entry.CallId];
        address = entry.Address;
        if (states.empty() || states.back() != entry.Status)
            states.push_back(entry.Status);
    }
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

int Program::RowOf(const QString& address) {
    for (int row = 0; row < kCallBufferSize; ++row) {
        if (RowAddress(row) == address)
            return row;
    }
    return -1;
}

QString Program::PortProblem() {
    return window_->findChild<QGroupBox*>("FrmCommunicatie")->toolTip();
}

bool Program::ScreenLogHas(const std::string& text) {
    for (const auto* box : window_->findChildren<QLineEdit*>(QRegularExpression("^Text2_"))) {
        if (box->text().toStdString().find(text) != std::string::npos)
            return true;
    }
    return false;
}

void Program::EnterCall(const QString& address, const QString& text) {
    window_->CallPager_Click();
    CallWindow* call = window_->callWindow();
    call->findChild<QLineEdit*>("TextAdres")->setText(address);
    call->findChild<QLineEdit*>("TextAlfa")->setText(text);
    call->findChild<QPushButton*>("CmdCall")->click();
    Sample();
}

void Program::Save(const std::function<void(SettingsWindow&)>& edit) {
    window_->Instellingen_Click();
    SettingsWindow* settings = window_->settingsWindow();
    settings->findChild<QPushButton*>("CmdWijzigen")->click();
    if (edit)
        edit(*settings);
    settings->findChild<QPushButton*>("CmdSave")->click();
    QCoreApplication::processEvents();
}

void Program::ChooseIntervalAndSave(int position) {
    Save([position](SettingsWindow& window) {
        window.findChild<TypeableCombo*>("ComboDeviceCheckInterval")
            ->SetPosition(static_cast<std::int16_t>(position));
    });
}

void Program::ShortenTimeOut(const QString& address, int seconds) {
    auto& entry = Core().CallBuffer[static_cast<std::size_t>(RowOf(address))];
    entry.TimeOutCount = static_cast<std::int16_t>(std::min<int>(entry.TimeOutCount, seconds));
}

std::string Program::States(const std::string& address) {
    Sample();
    for (const auto& [id, call] : calls_) {
        if (call.first == address) {
            std::string text;
            for (const std::string& state : call.second)
                text += (text.empty() ? "" : ">") + state;
            return text;
        }
    }
    return "";
}

bool Program::AllSettled() {
    for (const CallBufferEntry& entry : Core().CallBuffer) {
        if (entry.Status == "NEW" || entry.Status == "QUEUE")
            return false;
    }
    return true;
}

std::string Program::Summary() {
    std::string text;
    for (const auto& [id, call] : calls_)
        text += (text.empty() ? "" : "; ") + call.first + " " + States(call.first);
    return text;
}

int Program::LongestRunInStep(int step) const {
    const auto found = runs_.find(step);
    return found == runs_.end() ? 0 : found->second;
}

// ---- mounts ------------------------------------------------------------------

Mount::~Mount() {
    for (auto at = mounted_.rbegin(); at != mounted_.rend(); ++at) {
        if (::umount2(at->c_str(), 0) != 0)
            ::umount2(at->c_str(), MNT_DETACH);
    }
}

bool Mount::Tmpfs(const fs::path& where, const std::string& size) {
    const std::string options = "size=" + size + ",mode=0755";
    if (::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    mounted_.push_back(where);
    return true;
}

bool Mount::ReadOnlyBind(const fs::path& where) {
    if (::mount(where.c_str(), where.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        error = std::strerror(errno);
        return false;
    }
    mounted_.push_back(where);
    if (::mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace zelvano::proc
