// Watches a QTimer from outside: the time each of its ticks starts (before
// any slot runs) and ends (after the slots connected before the probe), so
// the program under test stays as it is.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <vector>

class QTimer;

namespace zelvano::perf {

class TickProbe : public QObject {
    Q_OBJECT
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Call after the timer's own handler has been connected.
    explicit TickProbe(QTimer* timer);

    // Called at the end of every tick, after the timer's own handler.
    void SetAfterTick(std::function<void()> handler) { afterTick_ = std::move(handler); }
    // Starts or stops keeping the start and end times.
    void SetRecording(bool on) { recording_ = on; }

    const std::vector<TimePoint>& starts() const { return starts_; }
    const std::vector<TimePoint>& ends() const { return ends_; }
    long ticks() const { return ticks_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void TickEnded();

    QTimer* timer_;
    std::function<void()> afterTick_;
    bool recording_ = false;
    long ticks_ = 0;
    TimePoint pendingStart_{};
    std::vector<TimePoint> starts_;
    std::vector<TimePoint> ends_;
};

}  // namespace zelvano::perf
