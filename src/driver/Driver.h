// Drives the paging core on the Qt event loop: the 100 ms engine tick and the
// 1 s tick (time-outs, then the front end's own second, then the line watch).
// The windows, zelvano-call and the service all use it.
#pragma once

#include <QObject>
#include <QTimer>

#include "paging/PagingCore.h"

namespace zelvano {

class Driver : public QObject {
    Q_OBJECT
  public:
    explicit Driver(PagingCore& core, QObject* parent = nullptr);

    // The ticks run from now on.
    void Start();
    void Stop();
    bool Running() const { return engineTimer_.isActive(); }

    // What each timer runs (a test ticks by hand).
    void EngineTick();
    void SecondTick();

  signals:
    // After each engine tick.
    void Ticked();
    // Once a second, after the time-outs and before the line watch.
    void Second();

  private:
    PagingCore& core_;
    QTimer engineTimer_;
    QTimer secondTimer_;
};

}  // namespace zelvano
