// zelvano-timing: runs the real main window over the QSerialPort adapter
// (the program directory holds espa.set and comports.cfg, as for the product)
// and measures its 100 ms tick from outside the window:
//   zelvano-timing DIR ticks SECONDS LABEL   tick period, jitter and cost
//   zelvano-timing DIR paged COUNT LABEL     Call -> "PAGED" against the
//                                            fewest ticks the protocol needs
//   zelvano-timing - sleep SECONDS LABEL     the same figures for a bare
//                                            sleeping loop (no Qt, no window)
//   zelvano-timing - floor SECONDS LABEL     idle CPU of a bare Qt window
//                                            with three idle timers
// Results are printed as one line of key=value pairs for the script.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <numeric>
#include <string>

#include "InstantSlave.h"
#include "Stats.h"
#include "TickProbe.h"
#include "app/MainWindow.h"
#include "buffer/BufferDisplay.h"
#include "common/Clock.h"
#include "espa/EngineSteps.h"
#include "serial/QtSerialLine.h"
#include "windows/CallWindow.h"

namespace zelvano::perf {
namespace {

constexpr double kTickMs = 100.0;
constexpr int kWarmUpMs = 3000;

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void PrintSummary(const char* key, const std::optional<Summary>& s) {
    if (!s)
        return;
    std::printf(" %s_median_ms=%.3f %s_p99_ms=%.3f %s_max_ms=%.3f", key, s->median, key, s->p99,
                key, s->max);
}

std::size_t CountOver(const std::vector<double>& intervals, double limitMs) {
    return static_cast<std::size_t>(
        std::count_if(intervals.begin(), intervals.end(),
                      [&](double v) { return std::fabs(v - kTickMs) > limitMs; }));
}

// The five intervals farthest from 100 ms, with the cost of the tick that
// closed each: a late tick after a cheap one was held up outside the tick.
void PrintWorst(const std::vector<double>& intervals, const std::vector<double>& costs) {
    std::vector<std::size_t> order(intervals.size());
    std::iota(order.begin(), order.end(), 0);
    const std::size_t shown = std::min<std::size_t>(5, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<long>(shown), order.end(),
                      [&](std::size_t a, std::size_t b) {
                          return std::fabs(intervals[a] - kTickMs) >
                                 std::fabs(intervals[b] - kTickMs);
                      });
    for (std::size_t i = 0; i < shown; ++i) {
        const std::size_t at = order[i];
        std::fprintf(stderr,
                     "interval %zu: %.3f ms (previous tick took %.3f ms, this one %.3f ms)\n",
                     at + 1, intervals[at], costs[at], costs[at + 1]);
    }
}

// How long the event loop works between two waits: a tick can only be late
// when something else holds the one thread at its due time.
class BusyWatch {
  public:
    BusyWatch() {
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake,
                         [this] { awake_ = Clock::now(); });
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] {
            if (recording_ && awake_ != Clock::time_point{})
                busy_.push_back(Ms(Clock::now() - awake_));
        });
    }
    void SetRecording(bool on) { recording_ = on; }
    const std::vector<double>& busy() const { return busy_; }

  private:
    bool recording_ = false;
    Clock::time_point awake_{};
    std::vector<double> busy_;
};

// Records tick start and end times for a while, then prints period, jitter
// (distance from 100 ms) and the cost of a tick.
class TicksRun {
  public:
    TicksRun(TickProbe& probe, TickProbe& led, TickProbe& buffer, int seconds, std::string label)
        : probe_(probe), led_(led), buffer_(buffer), seconds_(seconds), label_(std::move(label)) {}

    void Start() {
        QTimer::singleShot(kWarmUpMs, [this] {
            for (TickProbe* p : {&probe_, &led_, &buffer_})
                p->SetRecording(true);
            busy_.SetRecording(true);
            QTimer::singleShot(seconds_ * 1000, [this] { Finish(); });
        });
    }

  private:
    void Finish() {
        for (TickProbe* p : {&probe_, &led_, &buffer_})
            p->SetRecording(false);
        busy_.SetRecording(false);
        const std::vector<double> intervals = IntervalsMs(probe_.starts());
        std::vector<double> costs;
        for (std::size_t i = 0; i < probe_.ends().size(); ++i)
            costs.push_back(Ms(probe_.ends()[i] - probe_.starts()[i]));
        const auto period = Summarize(intervals);
        std::printf("ticks label=%s seconds=%d n=%zu", label_.c_str(), seconds_,
                    period ? period->count : 0);
        if (period)
            std::printf(" interval_mean_ms=%.3f interval_min_ms=%.3f", period->mean, period->min);
        PrintSummary("interval", period);
        PrintSummary("dev", Summarize(Deviations(intervals, kTickMs)));
        PrintSummary("cost", Summarize(costs));
        std::printf(" over_2ms=%zu over_10ms=%zu\n", CountOver(intervals, 2),
                    CountOver(intervals, 10));
        PrintWorst(intervals, costs);
        PrintCost("LedTimer", led_);
        PrintCost("TmrBuffer", buffer_);
        if (const auto busy = Summarize(busy_.busy())) {
            std::fprintf(
                stderr, "event loop busy between waits: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                busy->median, busy->p99, busy->max);
        }
        std::fflush(stdout);
        QCoreApplication::exit(period ? 0 : 1);
    }

    static void PrintCost(const char* name, const TickProbe& probe) {
        std::vector<double> costs;
        for (std::size_t i = 0; i < probe.ends().size(); ++i)
            costs.push_back(Ms(probe.ends()[i] - probe.starts()[i]));
        if (const auto s = Summarize(costs))
            std::fprintf(stderr, "%s handler: median %.3f ms, max %.3f ms\n", name, s->median,
                         s->max);
    }

    TickProbe& probe_;
    TickProbe& led_;
    TickProbe& buffer_;
    BusyWatch busy_;
    int seconds_;
    std::string label_;
};

// Enters calls through the call window, one at a time, each pressed right
// after a tick while the engine waits in its scheduler, and times each until
// its row shows a finished state. The protocol minimum is the tick count the
// same engine state needs with a slave that answers at once.
class PagedRun {
  public:
    PagedRun(MainWindow& window, TickProbe& probe, int count, std::string label)
        : window_(window), probe_(probe), count_(count), label_(std::move(label)) {
        probe_.SetAfterTick([this] { AfterTick(); });
    }

  private:
    enum class Phase { Settle, Armed, Waiting, Done };

    struct Result {
        double wallMs;
        long ticks;
        int minimumTicks;
        std::string state;
    };

    void AfterTick() {
        switch (phase_) {
            case Phase::Settle:
                if (--settleTicks_ <= 0)
                    OpenCallWindow();
                break;
            case Phase::Armed:
                if (window_.app().espa.EspaState == engine::kScheduler &&
                    window_.app().espa.LineOk == 1)
                    PressCall();
                break;
            case Phase::Waiting:
                ++ticks_;
                CheckRow();
                break;
            case Phase::Done:
                break;
        }
    }

    void OpenCallWindow() {
        window_.CallPager_Click();
        CallWindow* call = window_.callWindow();
        call->findChild<QLineEdit*>("TextAdres")->setText(QString::number(1000 + results_.size()));
        call->findChild<QLineEdit*>("TextAlfa")->setText("Timing run");
        phase_ = Phase::Armed;
    }

    void PressCall() {
        QPushButton* button = window_.callWindow()->findChild<QPushButton*>("CmdCall");
        pressed_ = Clock::now();
        button->click();
        App& app = window_.app();
        snapshot_ = EngineSnapshot{app.espa, app.settings, app.CallBuffer, app.nextCallId};
        ticks_ = 0;
        phase_ = Phase::Waiting;
    }

    void CheckRow() {
        const QString state = window_.findChild<QLabel*>("LabReturnedStatus_0")->text();
        const std::string status = window_.app().CallBuffer[0].Status;
        if (status == "NEW" || status == "QUEUE") {
            if (ticks_ > 900)
                Fail("a call stayed " + status + " for 900 ticks");
            return;
        }
        const double wall = Ms(Clock::now() - pressed_);
        const int minimum = MinimumTicks(snapshot_, 0).value_or(-1);
        results_.push_back({wall, ticks_, minimum, state.toStdString()});
        std::fprintf(stderr, "call %zu: %s after %.1f ms, %ld ticks, minimum %d ticks\n",
                     results_.size(), state.toStdString().c_str(), wall, ticks_, minimum);
        LabReturnedStatus_DblClick(window_.app(), 0);  // the operator clears the row
        if (static_cast<int>(results_.size()) == count_) {
            Finish();
            return;
        }
        settleTicks_ = 3 + static_cast<int>(results_.size() * 7 % 11);  // vary the scan phase
        phase_ = Phase::Settle;
    }

    void Fail(const std::string& why) {
        phase_ = Phase::Done;
        std::fprintf(stderr, "zelvano-timing: %s\n", why.c_str());
        QCoreApplication::exit(1);
    }

    void Finish() {
        phase_ = Phase::Done;
        std::vector<double> walls, ratios;
        int paged = 0;
        int onMinimum = 0;
        long extraTicks = 0;
        for (const Result& r : results_) {
            walls.push_back(r.wallMs);
            if (r.minimumTicks > 0)
                ratios.push_back(r.wallMs / (r.minimumTicks * kTickMs));
            paged += r.state == "PAGED" ? 1 : 0;
            onMinimum += r.ticks == r.minimumTicks ? 1 : 0;
            extraTicks = std::max(extraTicks, r.ticks - r.minimumTicks);
        }
        const auto wall = Summarize(walls);
        const auto ratio = Summarize(ratios);
        std::printf("paged label=%s n=%zu paged=%d on_minimum=%d extra_ticks_max=%ld",
                    label_.c_str(), results_.size(), paged, onMinimum, extraTicks);
        PrintSummary("wall", wall);
        if (ratio)
            std::printf(" ratio_median=%.4f ratio_max=%.4f", ratio->median, ratio->max);
        std::printf("\n");
        std::fflush(stdout);
        QCoreApplication::exit(paged == count_ && ratio ? 0 : 1);
    }

    MainWindow& window_;
    TickProbe& probe_;
    int count_;
    std::string label_;
    Phase phase_ = Phase::Settle;
    int settleTicks_ = kWarmUpMs / 100;
    Clock::time_point pressed_{};
    long ticks_ = 0;
    EngineSnapshot snapshot_;
    std::vector<Result> results_;
};

// The same figures for a bare loop sleeping to each 100 ms mark: what the
// machine itself delivers to a process that wakes ten times a second.
int SleepBaseline(int seconds, const std::string& label) {
    std::vector<Clock::time_point> starts;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int i = 0; i <= seconds * 10; ++i) {
        next.tv_nsec += 100'000'000;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
        }
        starts.push_back(Clock::now());
    }
    const std::vector<double> intervals = IntervalsMs(starts);
    const auto period = Summarize(intervals);
    std::printf("sleep label=%s seconds=%d n=%zu", label.c_str(), seconds, intervals.size());
    PrintSummary("interval", period);
    PrintSummary("dev", Summarize(Deviations(intervals, kTickMs)));
    std::printf(" over_2ms=%zu over_10ms=%zu\n", CountOver(intervals, 2), CountOver(intervals, 10));
    return 0;
}

// CPU time this process (all its threads) has used, in nanoseconds.
double OwnCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// The idle CPU of a bare Qt program with a shown window and the main window's
// three timers doing nothing: the floor under the product's own idle figure.
int QtFloor(int argc, char* argv[], int seconds, const std::string& label) {
    QApplication application(argc, argv);
    QWidget window;
    window.resize(670, 660);
    window.show();
    QTimer timers[3];
    const int intervals[3] = {100, 250, 1000};
    for (int i = 0; i < 3; ++i) {
        QObject::connect(&timers[i], &QTimer::timeout, [] {});
        timers[i].start(intervals[i]);
    }
    timers[0].setTimerType(Qt::PreciseTimer);
    double start = 0;
    QTimer::singleShot(kWarmUpMs, [&start] { start = OwnCpuNs(); });
    QTimer::singleShot(kWarmUpMs + seconds * 1000, [&] {
        const double percent = (OwnCpuNs() - start) / 1e7 / seconds;
        std::printf("floor label=%s seconds=%d cpu_percent=%.3f\n", label.c_str(), seconds,
                    percent);
        QCoreApplication::quit();
    });
    return QApplication::exec();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zelvano-timing DIR ticks SECONDS LABEL\n"
                 "       zelvano-timing DIR paged COUNT LABEL\n"
                 "       zelvano-timing - sleep SECONDS LABEL\n"
                 "       zelvano-timing - floor SECONDS LABEL\n");
    return 2;
}

}  // namespace
}  // namespace zelvano::perf

int main(int argc, char* argv[]) {
    using namespace zelvano;
    using namespace zelvano::perf;
    if (argc != 5)
        return Usage();
    const std::filesystem::path dir = argv[1];
    const std::string mode = argv[2];
    const int amount = std::atoi(argv[3]);
    if ((mode != "ticks" && mode != "paged" && mode != "sleep" && mode != "floor") || amount <= 0)
        return Usage();
    if (mode == "floor")
        return QtFloor(argc, argv, amount, argv[4]);
    if (mode == "sleep")
        return SleepBaseline(amount, argv[4]);

    QApplication application(argc, argv);
    SystemClock clock;
    QtSerialLine line(dir);
    MainWindow window(clock, line, dir);
    bool portFailed = false;
    window.SetMessageBoxHandler([&portFailed](const std::string& text, const std::string&) {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        portFailed = true;
        return MessageAnswer::Ok;
    });
    window.SetBeepHandler([] {});
    window.SetQuitHandler([] {});
    window.Form_Load();
    if (portFailed)
        return 1;
    window.show();

    TickProbe probe(window.findChild<QTimer*>("TmrAfhandel"));
    TickProbe led(window.findChild<QTimer*>("LedTimer"));
    TickProbe buffer(window.findChild<QTimer*>("TmrBuffer"));
    std::unique_ptr<TicksRun> ticks;
    std::unique_ptr<PagedRun> paged;
    if (mode == "ticks") {
        ticks = std::make_unique<TicksRun>(probe, led, buffer, amount, argv[4]);
        ticks->Start();
    } else {
        paged = std::make_unique<PagedRun>(window, probe, amount, argv[4]);
        QTimer::singleShot(amount * 30'000 + 60'000, [] {
            std::fprintf(stderr, "zelvano-timing: out of time\n");
            QCoreApplication::exit(1);
        });
    }
    const int rc = QApplication::exec();
    window.close();
    return rc;
}
