// The engine's heaviest tick while the line is busy: step 200 draining one
// tick's worth of bytes at 57600 bit/s (5760 bytes/s, 576 per 100 ms tick),
// each byte read and, at log level 3, traced to the DebugLog day file with
// its own open, append and close. Real clock, real files; the line is the
// fake one (the core's own cost) or QSerialPort on a pseudo-terminal.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "InstantSlave.h"
#include "Stats.h"
#include "common/Clock.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"

#ifdef ZELVANO_BENCH_QT
#include <pty.h>
#include <unistd.h>

#include <QCoreApplication>

#include "serial/QtSerialLine.h"
#endif

namespace zelvano::perf {
namespace {

constexpr std::size_t kBytesPerTick = 576;
constexpr int kTicks = 300;

// A status block of exactly one tick's worth of bytes: SOH, the records with a
// long pager address, ETX and the check character.
std::vector<std::uint8_t> BusyStatusBlock() {
    const std::size_t frame = StatusBlockFor("", '3').size();
    return StatusBlockFor(std::string(kBytesPerTick - frame, '7'), '3');
}

void ArmStatusBlockStep(App& app) {
    app.espa.EspaState = engine::kStatusBlock;
    app.espa.EspaTimer = 100;
    app.espa.StatusBlock.clear();
}

// Times single ticks of step 200; `feed` puts the block on the line first.
void TimeDrainTicks(benchmark::State& state, App& app, const std::function<bool()>& feed) {
    std::vector<double> ms;
    for (auto _ : state) {
        ArmStatusBlockStep(app);
        if (!feed()) {
            state.SkipWithError("the block did not arrive");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        HandleEspa(app, 0);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (app.espa.EspaState != engine::kStatusCheckChar) {
            state.SkipWithError("the tick did not drain the block");
            return;
        }
        state.SetIterationTime(took.count());
        ms.push_back(took.count() * 1000);
        app.port.DiscardInput();  // the check character
    }
    if (const auto s = Summarize(ms)) {
        state.counters["median_ms"] = s->median;
        state.counters["p99_ms"] = s->p99;
        state.counters["max_ms"] = s->max;
    }
    state.counters["bytes"] = static_cast<double>(kBytesPerTick);
}

void BM_BusyTickFakeLine(benchmark::State& state) {
    test::FakeView view;
    SystemClock clock;
    test::FakeSerialLine line;
    test::TempDir dir;
    App app{view, clock, line, dir.path()};
    line.open = true;
    app.settings.Logfile = static_cast<std::int16_t>(state.range(0));
    const std::vector<std::uint8_t> block = BusyStatusBlock();
    TimeDrainTicks(state, app, [&] {
        line.Feed(block);
        return true;
    });
}
BENCHMARK(BM_BusyTickFakeLine)
    ->Arg(2)
    ->Arg(3)
    ->Iterations(kTicks)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

#ifdef ZELVANO_BENCH_QT
// Waits (running the event loop, as between two ticks) until n bytes wait.
bool AwaitBytes(SerialLine& line, int n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (line.BytesWaiting() < n) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void BM_BusyTickQtPty(benchmark::State& state) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("openpty failed");
        return;
    }
    test::TempDir dir;
    test::WriteFileBytes(dir.path() / "comports.cfg", std::string("COM1=") + name + "\n");
    QtSerialLine line(dir.path());
    test::FakeView view;
    SystemClock clock;
    App app{view, clock, line, dir.path()};
    app.settings.Logfile = static_cast<std::int16_t>(state.range(0));
    if (!line.SetPortNumber(1) || !line.SetLineSettings("57600,N,8,1") || !line.Open()) {
        state.SkipWithError(line.LastError().c_str());
        ::close(slave);
        ::close(master);
        return;
    }
    const std::vector<std::uint8_t> block = BusyStatusBlock();
    TimeDrainTicks(state, app, [&] {
        if (::write(master, block.data(), block.size()) != static_cast<ssize_t>(block.size()))
            return false;
        return AwaitBytes(line, static_cast<int>(block.size()));
    });
    line.Close();
    ::close(slave);
    ::close(master);
}
BENCHMARK(BM_BusyTickQtPty)
    ->Arg(2)
    ->Arg(3)
    ->Iterations(kTicks)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace zelvano::perf

int main(int argc, char** argv) {
#ifdef ZELVANO_BENCH_QT
    QCoreApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
