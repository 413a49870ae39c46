// zelvano-call: one pager call from a script (an alarm system, a site test),
// on the same core and lines as the zelvano program, without windows.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <optional>

#include "CallOptions.h"
#include "CallRun.h"
#include "Outcome.h"
#include "RuntimeFolder.h"
#include "ServiceDoor.h"
#include "common/Clock.h"
#include "driver/ProgramDataDir.h"
#include "driver/SignalWatch.h"
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

// The data folder the zelvano program chooses, so both share espa.set,
// comports.cfg and logs.
fs::path DataDir(const call::CallOptions& options) {
    const DataDirChoice choice = ChooseProgramDataDir(ZELVANO_INSTALL_BINDIR);
    if (!choice.problem.empty())
        Warn(options, "data folder " + choice.dir.string() + ": " + choice.problem);
    return choice.dir;
}

// espa.set or the named file, then the options on top; the error when the
// named file cannot be read (as it is, or not at all).
std::string LoadSettings(PagingCore& core, PortLine& line, const call::CallOptions& options) {
    Settings settings;
    std::string problem;
    if (options.settingsFile.empty()) {
        const fs::path file = SettingsPath(core.DataDir());
        settings = ReadSettingsFile(file, &problem);
        if (!problem.empty())
            Warn(options, "espa.set not read, the program's defaults apply: " + problem);
        else if (!fs::exists(file))
            Warn(options,
                 "no espa.set in " + core.DataDir().string() +
                     ": the program's defaults apply (Com1 at 300,N,7,1, Philips, no log)");
    } else {
        settings = ReadSettingsFile(options.settingsFile, &problem);
        std::error_code ec;
        if (!problem.empty())
            return "--settings: " + problem;
        if (!fs::exists(options.settingsFile, ec))
            return "--settings: cannot read " + options.settingsFile;
    }
    for (const auto& [field, value] : options.overrides)
        settings.*field = value;
    if (const int number = call::ComPortNumber(options.port))
        settings.comPort = static_cast<std::int16_t>(number - 1);
    else if (!options.port.empty())
        line.PinDevice(options.port);
    core.UseSettings(settings);
    return {};
}

// The port the run pages on: --port, else espa.set's port number.
std::string RunPort(const PagingCore& core, const call::CallOptions& options) {
    if (!options.port.empty())
        return options.port;
    return "COM" + std::to_string(core.CurrentSettings().comPort + 1);
}

int Usage(const call::CallOptions& options, const std::string& error) {
    std::fprintf(stderr, "zelvano-call: %s\nTry 'zelvano-call --help'.\n", error.c_str());
    call::Outcome outcome;
    outcome.address = options.address;
    outcome.word = call::kBadArgumentsWord;
    outcome.code = call::kExitUsage;
    outcome.error = error;
    call::PrintOutcome(outcome, options.json);
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
        return Usage(options, parsed.error);

    const fs::path dataDir = DataDir(options);
    SystemClock clock;
    PortLine line(dataDir);
    PagingCore core(line, clock, dataDir);
    if (const std::string error = LoadSettings(core, line, options); !error.empty())
        return Usage(options, error);

    // A running zelvanod that owns the port takes the call; without one the
    // run opens the port itself.
    std::vector<fs::path> sockets;
    if (!options.noService)
        sockets = call::ServiceSockets(RuntimeFolder());
    std::optional<call::CallRun> run;
    call::ServiceDoor door(options, call::PortNames(RunPort(core, options), dataDir),
                           std::move(sockets), [&] {
                               run.emplace(core, options);
                               run->Start();
                           });
    // SIGINT, SIGTERM and SIGHUP (Ctrl+C, a script's timeout, a closed
    // terminal) end the run through the event loop, so the port is closed and
    // the outcome printed rather than the process dying mid-exchange.
    SignalWatch watch([&](int signal) {
        if (run)
            run->Interrupt(signal);
        else
            door.Interrupt(signal);
    });
    QTimer::singleShot(0, &door, &call::ServiceDoor::Start);
    return QCoreApplication::exec();
}
