// Engine ticks per second against the fake line at log level 0 (the "engine
// ticks/s" figure), with a slave that answers at once: ACK to selects, line
// checks and blocks, '1' ENQ to a poll, then a status block saying "PAGED".
#include <benchmark/benchmark.h>

#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

void RunEngine(benchmark::State& state, bool callsFlowing, std::int64_t statusCheck) {
    TestApp t;
    t.line.open = true;
    t.app.settings.Emulatie = 1;
    t.app.settings.CallStatusCheck = static_cast<std::int16_t>(statusCheck);
    t.app.settings.CheckInterval = 20;
    const std::vector<std::uint8_t> paged = Hex("01 32 02 31 1F 31 32 33 1E 37 1F 33 03 28");
    std::vector<std::uint8_t>& w = t.line.written;
    bool selected = false;
    long delivered = 0;
    HandleEspa(t.app, 10);
    for (auto _ : state) {
        HandleEspa(t.app, 0);
        if (w.empty()) {
        } else if (w.back() == ENQ && w.size() >= 2 && w[w.size() - 2] == '2' &&
                   !(w.size() >= 4 && w[w.size() - 4] == '1')) {
            t.line.Feed({'1', ENQ});
            selected = true;
        } else if (w.back() == ENQ || w.front() == SOH) {
            t.line.Feed({ACK});
        } else if (w.back() == ACK && selected) {
            t.line.Feed(paged);
            selected = false;
        }
        w.clear();  // keeps its capacity
        if (callsFlowing && t.app.CallBuffer[0].Status == "PAGED") {
            DeleteCall(t.app, 0);
            ++delivered;
        }
        if (callsFlowing && t.app.CallBuffer[2].IsFree())
            AddCall(t.app, "123", "1", "HELLO", "1", "1", "3");
    }
    state.counters["ticks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["paged"] = static_cast<double>(delivered);
}

void BM_EngineTicksWithCallsFlowing(benchmark::State& state) {
    RunEngine(state, true, state.range(0));
}
BENCHMARK(BM_EngineTicksWithCallsFlowing)->Arg(0)->Arg(1);

void BM_EngineTicksIdleLine(benchmark::State& state) {
    RunEngine(state, false, 0);
}
BENCHMARK(BM_EngineTicksIdleLine);

}  // namespace
}  // namespace zelvano::test
