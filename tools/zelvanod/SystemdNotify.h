// Tells systemd how the service is: READY=1 once it listens, a STATUS= line
// as the line and the queue change, WATCHDOG=1 at half the watchdog interval
// while the event loop turns, STOPPING=1 on the way out. Outside systemd
// (no $NOTIFY_SOCKET) every call does nothing.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>

#include "service/CallService.h"

namespace zelvano::service {

class SystemdNotify : public QObject, public ServiceEvents {
    Q_OBJECT

  public:
    // waiting: how many calls wait in front of the engine (the desk's figure).
    explicit SystemdNotify(std::function<std::size_t()> waiting, QObject* parent = nullptr);

    void Ready();
    void Stopping();
    // A STATUS= line of the caller's own ("No line configured"); sent when it
    // differs from the last one.
    void ShowStatus(const std::string& text);
    // The watchdog's ping interval; zero when systemd watches nothing.
    std::chrono::milliseconds WatchdogInterval() const;

    void LineUpdated(const LineView& line) override;
    void CallUpdated(const ServiceCall& call) override;

    // "Line up, 3 calls waiting"
    static std::string StatusText(LinkState link, std::size_t waiting);

  private:
    static void Send(const std::string& message);

    std::function<std::size_t()> waiting_;
    LinkState link_ = LinkState::Unknown;
    std::string shown_;  // the last STATUS= text sent
    QTimer watchdog_;
};

}  // namespace zelvano::service
