// Ends the program cleanly on SIGTERM, SIGINT and SIGHUP (a desktop logout, a
// system shutdown, Ctrl+C in a terminal): the handler only writes a byte to a
// pipe, and the event loop then closes any open box and calls the given action,
// which closes the main window like its close box does. The port is closed by the program, so a
// serial device is not left in exclusive use, and the log says so.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace zelvano {

class QuitOnSignal : public QObject {
    Q_OBJECT
  public:
    explicit QuitOnSignal(std::function<void()> action, QObject* parent = nullptr);
    ~QuitOnSignal() override;

    // True once a signal has arrived (also while the action has not run yet).
    bool Requested() const;

  private:
    void OnSignal();

    std::function<void()> action_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zelvano
