// The operator's explanation of why a port could not be opened or was lost:
// the device and the reason in one line.
#pragma once

#include <string>
#include <string_view>

namespace zelvano {

enum class PortProblem {
    NoSuchPortNumber,  // not 1..8
    BadLineSettings,   // the line settings text cannot be used
    NotFound,          // no such device
    NoPermission,      // the user may not open the device
    InUse,             // another program holds it
    Lost,              // unplugged or hung up while open
    Other,             // whatever the serial library reported
};

// "<device>: <reason>", the library's own text (detail) added where it helps.
// A permission problem names the dialout group, the usual cure on Linux.
std::string DescribePortProblem(std::string_view device, PortProblem problem,
                                std::string_view detail);

}  // namespace zelvano
