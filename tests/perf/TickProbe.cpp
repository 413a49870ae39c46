#include "TickProbe.h"

#include <QTimer>
#include <QTimerEvent>

namespace zelvano::perf {

TickProbe::TickProbe(QTimer* timer) : QObject(timer), timer_(timer) {
    starts_.reserve(4096);
    ends_.reserve(4096);
    timer->installEventFilter(this);
    // Slots run in the order they were connected: this one after the handler.
    connect(timer, &QTimer::timeout, this, &TickProbe::TickEnded);
}

bool TickProbe::eventFilter(QObject* watched, QEvent* event) {
    if (watched == timer_ && event->type() == QEvent::Timer &&
        static_cast<QTimerEvent*>(event)->timerId() == timer_->timerId()) {
        pendingStart_ = std::chrono::steady_clock::now();
    }
    return false;
}

void TickProbe::TickEnded() {
    const TimePoint end = std::chrono::steady_clock::now();
    ++ticks_;
    if (recording_) {
        starts_.push_back(pendingStart_);
        ends_.push_back(end);
    }
    if (afterTick_)
        afterTick_();
}

}  // namespace zelvano::perf
