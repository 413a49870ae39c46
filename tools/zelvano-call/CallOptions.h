// The command line of zelvano-call: the call, the line and how long to wait,
// checked completely before anything is opened or sent.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "LineOptions.h"
#include "settings/Settings.h"

namespace zelvano::call {

// Exit codes, one per outcome family; scripts rely on them, so they never change.
enum ExitCode : int {
    kExitPaged = 0,          // PAGED or SPEECHPAGED (or the --wait point reached)
    kExitAbsent = 10,        // delivered, the pager is absent
    kExitBusy = 11,          // delivered, the pager is busy
    kExitTerminated = 12,    // delivered, the call was ended by the paging system
    kExitNoStatus = 20,      // delivered, no state could be had
    kExitError = 30,         // the paging system refused the call, or it failed
    kExitNoAnswer = 40,      // the line check went unanswered, nothing delivered in time
    kExitUsage = 64,         // bad arguments (sysexits EX_USAGE)
    kExitPortUnusable = 74,  // the port cannot be opened or reached
    kExitSignal = 128,       // + the signal's number: 129 SIGHUP, 130 SIGINT, 143 SIGTERM
};

enum class WaitFor { None, Accepted, Final };

struct CallOptions {
    std::string port;          // "COMn", a device or "tcp://HOST:PORT"; empty: espa.set's
    std::string settingsFile;  // empty: espa.set in the data folder
    // Settings fields the command line sets (field, list position).
    std::vector<std::pair<std::int16_t Settings::*, std::int16_t>> overrides;
    std::string address;
    std::string text;
    // Call fields as positions of the call window's lists (= their codes).
    std::int16_t bleep = 1;
    std::int16_t callType = 3;
    std::int16_t priority = 3;
    std::int16_t transmissions = 1;
    WaitFor wait = WaitFor::Final;
    int timeoutSeconds = 90;
    bool noService = false;    // never through a running zelvanod
    bool serviceOnly = false;  // only through a running zelvanod
    bool json = false;
    bool quiet = false;
    bool help = false;
};

struct ParsedOptions {
    CallOptions options;
    std::string error;  // empty when the command line is good
};

// The arguments after the program name, parsed by QCommandLineParser. Every
// value is checked: an address or text holding a character that cannot go on
// the line, or a text longer than a call's, is refused by name. help and json
// are set even when the rest is refused.
ParsedOptions ParseCallOptions(const std::vector<std::string>& args);

using ::zelvano::ComPortNumber;  // from LineOptions.h

// The --help text.
std::string HelpText();

}  // namespace zelvano::call
