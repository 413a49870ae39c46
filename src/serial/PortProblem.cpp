#include "serial/PortProblem.h"

namespace zelvano {
namespace {

std::string_view ReasonText(PortProblem problem) {
    switch (problem) {
        case PortProblem::NoSuchPortNumber:
            return "not a port number 1 to 8";
        case PortProblem::BadLineSettings:
            return "unusable line settings";
        case PortProblem::NotFound:
            return "no such device";
        case PortProblem::NoPermission:
            return "permission denied; the user must be in the dialout group "
                   "(sudo usermod -aG dialout $USER, then log in again)";
        case PortProblem::InUse:
            return "in use by another program";
        case PortProblem::Lost:
            return "device lost (unplugged or hung up)";
        case PortProblem::Other:
            return "";
    }
    return "";
}

}  // namespace

std::string DescribePortProblem(std::string_view device, PortProblem problem,
                                std::string_view detail) {
    std::string out(device);
    out += ": ";
    const std::string_view reason = ReasonText(problem);
    out += reason;
    if (detail.empty()) {
        if (reason.empty())
            out += "unknown error";
    } else if (reason.empty()) {
        out += detail;
    } else {
        out += " (";
        out += detail;
        out += ')';
    }
    return out;
}

}  // namespace zelvano
