// Hands SIGTERM, SIGINT and SIGHUP (a desktop logout, a shutdown, Ctrl+C, a
// script's timeout) to the event loop: the handler only writes the signal's
// number to a socket pair, and the loop then calls the action with it, so the
// port is closed and the log says so rather than the process dying mid-exchange.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace zelvano {

class SignalWatch : public QObject {
    Q_OBJECT
  public:
    explicit SignalWatch(std::function<void(int signal)> action, QObject* parent = nullptr);
    ~SignalWatch() override;

    // True once a signal has arrived (also while the action has not run yet).
    bool Requested() const;

  private:
    void OnSignal();

    std::function<void(int)> action_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zelvano
