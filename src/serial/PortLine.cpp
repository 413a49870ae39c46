#include "serial/PortLine.h"

#include "serial/PortMap.h"
#include "serial/PortProblem.h"

namespace zelvano {

PortLine::PortLine(std::filesystem::path dataDir)
    : dataDir_(std::move(dataDir)), serial_(dataDir_) {}

bool PortLine::SetPortNumber(int number) {
    const std::string device = pinned_.empty() ? DeviceForPort(dataDir_, number) : pinned_;
    const bool tcp = IsTcpDevice(device);
    // Never two lines open: leaving one kind of line closes it.
    if (tcp != tcp_active_)
        Active().Close();
    device_ = device;
    tcp_active_ = tcp;
    if (tcp)
        return tcp_.SetPortNumber(number) && tcp_.SetDevice(device);
    if (pinned_.empty())
        return serial_.SetPortNumber(number);
    return serial_.SetPortNumber(number) && serial_.SetDevice(device);
}

}  // namespace zelvano
