// zelvano-call: one pager call from a script (an alarm system, a site test),
// on the same core and lines as the zelvano program, without windows.
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <fstream>

#include "CallOptions.h"
#include "CallRun.h"
#include "app/DataDir.h"
#include "app/StartUp.h"
#include "common/Clock.h"
#include "serial/PortLine.h"
#include "settings/SettingsFile.h"

#ifndef ZELVANO_INSTALL_BINDIR
#define ZELVANO_INSTALL_BINDIR ""
#endif

namespace {

using namespace zelvano;
namespace fs = std::filesystem;

void Warn(const call::CallOptions& options, const std::string& text) {
    if (!options.quiet)
        std::fprintf(stderr, "zelvano-call: %s\n", text.c_str());
}

// The data folder the zelvano program chooses (the folder of a portable copy,
// else $XDG_DATA_HOME/zelvano), so both share espa.set, comports.cfg and logs.
fs::path DataDir(const call::CallOptions& options) {
    QString userDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!QDir::isAbsolutePath(userDir))
        userDir = QDir::homePath() + "/.local/share/" + QCoreApplication::applicationName();
    const DataDirChoice choice = ChooseDataDir(
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString(),
        QFile::encodeName(userDir).toStdString(), SystemProgramDirs(ZELVANO_INSTALL_BINDIR));
    if (!choice.problem.empty())
        Warn(options, "data folder " + choice.dir.string() + ": " + choice.problem);
    return choice.dir;
}

// espa.set or the named file, then the options on top; false when the named
// file cannot be read.
bool LoadSettings(App& app, PortLine& line, const call::CallOptions& options) {
    if (options.settingsFile.empty()) {
        ReadSettings(app);
        if (!fs::exists(SettingsPath(app.dataDir)))
            Warn(options,
                 "no espa.set in " + app.dataDir.string() +
                     ": the program's defaults apply (Com1 at 300,N,7,1, Philips, no log)");
    } else {
        std::error_code ec;
        if (!fs::is_regular_file(options.settingsFile, ec) ||
            !std::ifstream(options.settingsFile).good())
            return false;
        app.settings = ReadSettingsFile(options.settingsFile);
    }
    for (const auto& [field, value] : options.overrides)
        app.settings.*field = value;
    if (const int number = call::ComPortNumber(options.port))
        app.settings.Compoort = static_cast<std::int16_t>(number - 1);
    else if (!options.port.empty())
        line.PinDevice(options.port);
    return true;
}

int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int number) {
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP (Ctrl+C, a script's timeout, a closed terminal)
// end the run through the event loop, so the port is closed and the outcome
// printed rather than the process dying mid-exchange.
void EndRunOnSignals(call::CallRun& run) {
    if (::pipe(signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &run);
    QObject::connect(notifier, &QSocketNotifier::activated, &run, [&run] {
        unsigned char number = 0;
        if (::read(signalPipe[0], &number, 1) == 1)
            run.Interrupt(number);
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(number, &action, nullptr);
}

int Usage(const std::string& error) {
    std::fprintf(stderr, "zelvano-call: %s\nTry 'zelvano-call --help'.\n", error.c_str());
    return call::kExitUsage;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The raw bytes: text that is not UTF-8 is refused, never repaired.
    const std::vector<std::string> args(argv + 1, argv + argc);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("zelvano");  // the program's data folder
    const call::ParsedOptions parsed = call::ParseCallOptions(args);
    const call::CallOptions& options = parsed.options;
    if (options.help) {
        std::fputs(call::HelpText().c_str(), stdout);
        return 0;
    }
    if (!parsed.error.empty())
        return Usage(parsed.error);

    const fs::path dataDir = DataDir(options);
    call::HeadlessView view;
    view.quiet = options.quiet;
    SystemClock clock;
    PortLine line(dataDir);
    App app(view, clock, line, dataDir);
    view.log = &app.screenLog;
    InitState(app);
    if (!LoadSettings(app, line, options))
        return Usage("--settings: cannot read " + options.settingsFile);

    call::CallRun run(app, view, options);
    EndRunOnSignals(run);
    QTimer::singleShot(0, &run, &call::CallRun::Start);
    return QCoreApplication::exec();
}
