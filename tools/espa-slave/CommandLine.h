// The simulator's command line: options, their checks and the help text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "SlaveConfig.h"

namespace zelvano::slave {

// How to reach the master: a serial device, or (no device) a pseudo-terminal.
struct PortOptions {
    std::string device;
    int baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    bool rtsCts = false;
};

// --listen: serve one master over TCP instead of a pty or device.
struct ListenAddress {
    std::string host = "127.0.0.1";  // a name, or a numeric address without brackets
    int port = 0;                    // 0: a free port the system picks
};

struct Options {
    PortOptions port;
    std::optional<ListenAddress> listen;
    std::string linkPath;  // symlink to the pty (or device)
    std::string ptyFile;   // file that receives the path (or HOST:PORT)
    SlaveConfig slave;
    std::optional<std::uint32_t> seed;  // none: drawn at start and printed
    bool quiet = false;
    bool help = false;
    bool refuseDelayGiven = false;  // for the check that --refuse-delay has a refusal to time
};

struct ParseResult {
    std::optional<Options> options;
    std::string error;  // set when options is empty
};

// args without the program name, parsed by getopt_long.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The full --help text.
std::string HelpText();

// Lines that sum up the settings in force, printed at start.
std::vector<std::string> DescribeOptions(const Options& options);

}  // namespace zelvano::slave
