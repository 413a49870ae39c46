#include "ServiceHost.h"

#include <QDateTime>
#include <cstdio>

namespace zelvano::service {

ServiceHost::ServiceHost(HostConfig config, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      line_(config_.stateDir),
      core_(line_, clock_, config_.stateDir),
      driver_(core_) {
    core_.Subscribe(*this);
}

ServiceHost::~ServiceHost() {
    Stop();
}

bool ServiceHost::Start(std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(config_.stateDir, ec);
    journal_ = Journal::Open(config_.stateDir / "journal.db", error);
    if (!journal_)
        return false;
    service_ = std::make_unique<CallService>(core_, *journal_, config_.limits,
                                             [] { return QDateTime::currentMSecsSinceEpoch(); });
    core_.Subscribe(*service_);
    connect(&driver_, &Driver::Ticked, this, [this] { service_->Tick(); });
    connect(&driver_, &Driver::Second, this, [this] { service_->Second(); });
    const int resumed = service_->Resume();
    if (resumed > 0)
        core_.Log("STATUS: Journal: " + std::to_string(resumed) + " calls to send again.");
    if (!config_.lineNamed) {
        // A new install pages nothing until the administrator names a line.
        core_.Log("STATUS: No line configured: calls are kept until one is named.");
        driver_.Start();
        return true;
    }
    if (!config_.device.empty())
        line_.PinDevice(config_.device);
    core_.UseSettings(config_.settings);
    core_.Reopen();
    driver_.Start();
    return true;
}

void ServiceHost::Stop() {
    if (!driver_.Running())
        return;
    driver_.Stop();
    core_.Stop();
}

void ServiceHost::LogChanged(const ScreenLines& lines) {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (!line->empty()) {
            std::fprintf(stderr, "%s\n", line->c_str());
            return;
        }
    }
}

}  // namespace zelvano::service
