// zelvano-timing: the figures of docs/PERFORMANCE.md that need the program
// itself, as key=value lines for scripts/measure-timing.sh:
//   DIR ticks SECONDS LABEL  the main window's 100 ms tick (DIR: espa.set, comports.cfg)
//   DIR paged COUNT LABEL    Call -> "PAGED" against the protocol minimum
//   - sleep SECONDS LABEL    a bare loop sleeping to each 100 ms mark
//   - trace TICKS LABEL      the status-block drain of 576 bytes at log levels 2 and 3
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <numeric>

#include "app/MainWindow.h"
#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"
#include "serial/PortLine.h"
#include "support/TestApp.h"
#include "windows/BufferDisplay.h"
#include "windows/CallWindow.h"

namespace zelvano {
namespace {

double NowMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(now).count();
}

// " KEY_mean_ms=.. KEY_median_ms=.. KEY_p99_ms=.. KEY_max_ms=.." (nearest rank).
void Print(const char* key, std::vector<double> v, const char* end = "") {
    std::sort(v.begin(), v.end());
    const auto at = [&](double p) { return v[std::max(1.0, std::ceil(p * v.size())) - 1]; };
    if (!v.empty())
        std::printf(" %s_mean_ms=%.3f %s_median_ms=%.3f %s_p99_ms=%.3f %s_max_ms=%.3f", key,
                    std::accumulate(v.begin(), v.end(), 0.0) / v.size(), key, at(0.5), key,
                    at(0.99), key, v.back());
    std::printf("%s", end);
}

// The intervals between start times and their distance from 100 ms.
void PrintTicks(const char* what, const std::string& label, const std::vector<double>& starts) {
    std::vector<double> intervals, deviations;
    for (std::size_t i = 1; i < starts.size(); ++i) {
        intervals.push_back(starts[i] - starts[i - 1]);
        deviations.push_back(std::fabs(intervals.back() - 100));
    }
    std::printf("%s label=%s n=%zu", what, label.c_str(), intervals.size());
    Print("interval", intervals);
    Print("dev", deviations);
}

// The status block for pager `address`, state digit 3, with its check character.
std::vector<std::uint8_t> StatusBlock(const std::string& address) {
    const std::string body =
        "2\x02"
        "1\x1F" +
        address +
        "\x1E"
        "7\x1F"
        "3\x03";
    const std::string block = "\x01" + body + static_cast<char>(BlockCheck(body));
    return {block.begin(), block.end()};
}

// Ticks until call 0 leaves NEW and QUEUE on a copy of the engine whose slave
// answers each wait as soon as it begins; -1 beyond 2000 ticks.
int MinimumTicks(PagingCore& from) {
    test::EngineRig t(0);  // the count does not depend on logging
    t.settings = from.CurrentSettings();
    t.settings.logLevel = 0;
    t.calls.Add(from.Calls()[0]);  // the call just pressed, the only one
    t.State() = from.Engine();
    t.State().callId = 0;
    for (int tick = 1, last = -1; tick <= 2000; ++tick) {
        const Step step = t.State().step;
        if (static_cast<int>(step) != std::exchange(last, static_cast<int>(step))) {
            switch (step) {
                case Step::LineCheckAnswer:
                case Step::MakeCallSelectAnswer:
                case Step::MakeCallBlockAnswer:
                case Step::StatusCallSelectAnswer:
                case Step::StatusCallBlockAnswer:
                    t.line.Feed({ACK});
                    break;
                case Step::StatusPollAnswer:
                    t.line.Feed({'1', ENQ});
                    break;
                case Step::StatusBlock:
                    t.line.Feed(StatusBlock(t.calls.At(0).address));
                    break;
                default:
                    break;
            }
        }
        t.Tick();
        const CallState state = t.calls.At(0).state;
        if (state != CallState::New && state != CallState::Queue)
            return tick;
    }
    return -1;
}

// Single ticks of the status-block step draining one tick's worth of bytes at
// 57600 bit/s (576), real clock and DebugLog files, on the fake line and on
// QSerialPort over a pty.
int Trace(int ticks, const std::string& label) {
    const auto block = StatusBlock(std::string(576 - StatusBlock("").size(), '7'));
    test::FakeSerialLine fake;
    fake.open = true;
    int master = -1, slave = -1;
    char name[256] = {};
    test::TempDir dir;
    PortLine qt(dir.path());
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    test::WriteFileBytes(dir.path() / "comports.cfg", std::string("COM1=") + name);
    if (!qt.SetPortNumber(1) || !qt.SetLineSettings({57600}) || !qt.Open())
        return 1;
    for (SerialLine* line : {static_cast<SerialLine*>(&fake), static_cast<SerialLine*>(&qt)}) {
        const auto feed = [&] {
            if (line == &fake)
                return fake.Feed(block), true;
            const double deadline = NowMs() + 2000;
            if (::write(master, block.data(), block.size()) != ssize_t(block.size()))
                return false;
            while (qt.BytesWaiting() < int(block.size()) && NowMs() < deadline)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return qt.BytesWaiting() == int(block.size());
        };
        for (const std::int16_t level : {2, 3}) {
            SystemClock clock;
            PagingCore core{*line, clock, dir.path() / std::to_string(level)};
            Settings settings;
            settings.logLevel = level;
            core.UseSettings(settings);
            EngineState& engine = test::CoreAccess::Engine(core);
            std::vector<double> took;
            for (int i = 0; i < ticks && feed(); ++i) {
                std::tie(engine.step, engine.timer) = std::tuple(Step::StatusBlock, 100);
                engine.statusBlock.clear();
                const double start = NowMs();
                core.Tick();
                if (engine.step == Step::StatusCheckChar)
                    took.push_back(NowMs() - start);
                line->DiscardInput();  // the check character
            }
            std::printf("trace label=%s line=%s level=%d n=%zu", label.c_str(),
                        line == &fake ? "fake" : "qt", level, took.size());
            Print("tick", took, "\n");
        }
    }
    return 0;
}

}  // namespace
}  // namespace zelvano

int main(int argc, char* argv[]) {
    using namespace zelvano;
    const std::string mode = argc == 5 ? argv[2] : "", label = argc == 5 ? argv[4] : "";
    const int amount = argc == 5 ? std::atoi(argv[3]) : 0;
    if (amount <= 0 || std::string(" ticks paged sleep trace ").find(" " + mode + " ") > 99) {
        std::fprintf(stderr, "usage: zelvano-timing DIR|- ticks|paged|sleep|trace N LABEL\n");
        return 2;
    }
    if (mode == "sleep") {
        std::vector<double> starts;
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int i = 0; i <= amount * 10; ++i) {
            next.tv_sec += (next.tv_nsec += 100'000'000) / 1'000'000'000;
            next.tv_nsec %= 1'000'000'000;
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
            }
            starts.push_back(NowMs());
        }
        PrintTicks("sleep", label, starts);
        return std::printf("\n"), 0;
    }
    if (mode == "trace") {
        QCoreApplication application(argc, argv);
        return Trace(amount, label);
    }
    QApplication application(argc, argv);
    QTimer::singleShot(amount * 30'000 + 60'000, [] { QCoreApplication::exit(1); });  // a hang
    SystemClock clock;
    PortLine line(argv[1]);
    MainWindow window(clock, line, argv[1]);
    window.SetMessageBoxHandler([](const std::string& text, const std::string&) {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        std::exit(1);  // no figures without a working port and data folder
        return MessageAnswer::Ok;
    });
    window.Start();
    window.show();
    PagingCore& core = window.core();
    // Each engine tick is stamped at its start by an event filter (before
    // any slot) and at its end by a slot connected after the window's own.
    QTimer* tmr = window.findChild<QTimer*>("EngineTick");
    struct Filter : QObject {
        double start = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Timer)
                start = NowMs();
            return false;
        }
    } filter;
    tmr->installEventFilter(&filter);
    bool recording = false;
    std::vector<double> starts, costs, walls, ratios;
    // Calls entered through the call window, each pressed right after a tick
    // while the engine waits in its scheduler, timed until the row is done.
    int settle = 30, ticks = 0, minimum = 0, paged = 0,
        onMinimum = 0;  // settle 0: press; -1: under way
    double pressedMs = 0;
    const auto afterTick = [&] {
        const CallState state = core.Calls()[0].state;
        const std::string status(StateText(state));
        if (settle > 0 && --settle == 0) {
            window.OpenCallWindow();
            window.callWindow()
                ->findChild<QLineEdit*>("TextAdres")
                ->setText(QString::number(1000 + walls.size()));
            window.callWindow()->findChild<QLineEdit*>("TextAlfa")->setText("Timing run");
        } else if (settle == 0 && core.Engine().step == Step::Scheduler &&
                   core.Link() == LinkState::Up) {
            window.callWindow()->findChild<QPushButton*>("CmdCall")->click();
            pressedMs = NowMs();
            std::tie(minimum, ticks, settle) = std::tuple(MinimumTicks(core), 0, -1);
        } else if (settle < 0 && ++ticks && state != CallState::New && state != CallState::Queue) {
            walls.push_back(NowMs() - pressedMs);
            ratios.push_back(walls.back() / (minimum * 100.0));
            paged += window.findChild<QLabel*>("LabReturnedStatus_0")->text() == "PAGED";
            onMinimum += ticks == minimum;
            std::fprintf(stderr, "call %zu: %s after %.1f ms, %d ticks, minimum %d ticks\n",
                         walls.size(), status.c_str(), walls.back(), ticks, minimum);
            core.Remove(0);                                        // the operator clears the row
            settle = 3 + static_cast<int>(walls.size() * 7 % 11);  // vary the scan phase
            if (static_cast<int>(walls.size()) < amount)
                return;
            std::printf("paged label=%s n=%d paged=%d on_minimum=%d ratio_max=%.4f", label.c_str(),
                        amount, paged, onMinimum, *std::max_element(ratios.begin(), ratios.end()));
            Print("wall", walls, "\n");
            QCoreApplication::exit(paged == amount && minimum > 0 ? 0 : 1);
        }
    };
    QObject::connect(tmr, &QTimer::timeout, [&] {
        if (recording)
            starts.push_back(filter.start), costs.push_back(NowMs() - filter.start);
        if (mode == "paged")
            afterTick();
    });
    QTimer::singleShot(3000, [&] { recording = mode == "ticks"; });  // after a warm-up
    QTimer::singleShot(3000 + amount * 1000, [&] {
        if (mode != "ticks")
            return;
        PrintTicks("ticks", label, starts);
        Print("cost", costs, "\n");
        QCoreApplication::exit(starts.size() < 2);
    });
    return QApplication::exec();
}
