// One line's paging service: the port, the paging core on the shared driver,
// the journal and the desk, started and stopped as one. The front doors (HTTP,
// MQTT, the local socket) reach the desk through Service().
#pragma once

#include <QObject>
#include <filesystem>
#include <memory>
#include <string>

#include "common/Clock.h"
#include "driver/Driver.h"
#include "paging/PagingCore.h"
#include "serial/PortLine.h"
#include "service/CallService.h"

namespace zelvano::service {

struct HostConfig {
    std::filesystem::path stateDir;  // the journal, comports.cfg and the Log/ folders
    Settings settings;               // the line's settings
    std::string device;              // a device or tcp:// that every port number stands for
    bool lineNamed = true;           // false: nothing is opened, nothing is paged
    ServiceLimits limits;
};

class ServiceHost : public QObject, public PagingEvents {
    Q_OBJECT
  public:
    explicit ServiceHost(HostConfig config, QObject* parent = nullptr);
    ~ServiceHost() override;

    // Opens the journal, resumes its unfinished calls, opens the port and
    // starts the ticks; false with the reason when the journal cannot be used.
    bool Start(std::string& error);
    // Closes the port; the journal keeps every call for the next start.
    void Stop();

    CallService& Service() { return *service_; }
    PagingCore& Core() { return core_; }

    // The log lines go to standard error, where systemd's journal keeps them.
    void LogChanged(const ScreenLines& lines) override;

  private:
    HostConfig config_;
    SystemClock clock_;
    PortLine line_;
    PagingCore core_;
    Driver driver_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<CallService> service_;
};

}  // namespace zelvano::service
