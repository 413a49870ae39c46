#include "SystemdNotify.h"

#include <systemd/sd-daemon.h>

namespace zelvano::service {

SystemdNotify::SystemdNotify(std::function<std::size_t()> waiting, QObject* parent)
    : QObject(parent), waiting_(std::move(waiting)) {
    const std::chrono::milliseconds interval = WatchdogInterval();
    if (interval.count() > 0) {
        // Half the interval, so one late turn of the event loop is not yet fatal.
        watchdog_.setInterval(interval / 2);
        connect(&watchdog_, &QTimer::timeout, this, [] { Send("WATCHDOG=1"); });
        watchdog_.start();
    }
}

std::chrono::milliseconds SystemdNotify::WatchdogInterval() const {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0)
        return std::chrono::milliseconds(0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(usec));
}

void SystemdNotify::Ready() {
    Send("READY=1");
}

void SystemdNotify::Stopping() {
    watchdog_.stop();
    Send("STOPPING=1");
}

void SystemdNotify::ShowStatus(const std::string& text) {
    if (text == shown_)
        return;
    shown_ = text;
    Send("STATUS=" + text);
}

void SystemdNotify::LineUpdated(const LineView& line) {
    link_ = line.link;
    ShowStatus(StatusText(link_, waiting_()));
}

void SystemdNotify::CallUpdated(const ServiceCall&) {
    ShowStatus(StatusText(link_, waiting_()));
}

std::string SystemdNotify::StatusText(LinkState link, std::size_t waiting) {
    const char* state = link == LinkState::Up ? "up" : link == LinkState::Down ? "down" : "unknown";
    return "Line " + std::string(state) + ", " + std::to_string(waiting) +
           (waiting == 1 ? " call waiting" : " calls waiting");
}

void SystemdNotify::Send(const std::string& message) {
    // Without $NOTIFY_SOCKET this returns 0 and sends nothing.
    sd_notify(0, message.c_str());
}

}  // namespace zelvano::service
