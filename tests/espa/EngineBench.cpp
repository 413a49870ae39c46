// Engine ticks per second against the fake line at log level 0, with a
// scripted slave that accepts every call and reports it "PAGED".
#include <benchmark/benchmark.h>

#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

// Answers at once: ACK to selects, line checks and blocks, '1' ENQ to a poll,
// a status block after the master's ACK to its ENQ.
class ScriptedSlave {
  public:
    explicit ScriptedSlave(FakeSerialLine& line) : line_(line) {
        const std::string body =
            "2\x02"
            "1\x1F"
            "123\x1E"
            "7\x1F"
            "3\x03";
        const std::string block = "\x01" + body + static_cast<char>(BlockCheck(body));
        statusBlock_.assign(block.begin(), block.end());
    }

    void React() {
        if (line_.written.empty())
            return;
        const std::vector<std::uint8_t>& w = line_.written;
        const std::uint8_t last = w.back();
        if (last == ENQ && w.size() >= 2 && w[w.size() - 2] == '2' &&
            !(w.size() >= 4 && w[w.size() - 4] == '1')) {
            line_.Feed({'1', ENQ});
            selected_ = true;
        } else if (last == ENQ) {
            line_.Feed({ACK});
        } else if (w.front() == SOH) {
            line_.Feed({ACK});
        } else if (last == ACK && selected_) {
            line_.Feed(statusBlock_);
            selected_ = false;
        }
        line_.written.clear();  // keeps its capacity
    }

  private:
    FakeSerialLine& line_;
    std::vector<std::uint8_t> statusBlock_;
    bool selected_ = false;
};

// Keeps calls flowing: finished calls are removed and new ones added.
void KeepCallsFlowing(App& app, long& delivered) {
    if (app.CallBuffer[0].Status == "PAGED") {
        DeleteCall(app, 0);
        ++delivered;
    }
    if (app.CallBuffer[2].IsFree())
        AddCall(app, "123", "1", "HELLO", "1", "1", "3");
}

void BM_EngineTicksWithCallsFlowing(benchmark::State& state) {
    TestApp t;
    t.line.open = true;
    t.app.settings.Logfile = 0;
    t.app.settings.Emulatie = 1;
    t.app.settings.CallStatusCheck = static_cast<std::int16_t>(state.range(0));
    t.app.settings.CheckInterval = 20;
    ScriptedSlave slave(t.line);
    long delivered = 0;
    HandleEspa(t.app, 10);
    for (auto _ : state) {
        HandleEspa(t.app, 0);
        slave.React();
        KeepCallsFlowing(t.app, delivered);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["ticks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["paged"] = static_cast<double>(delivered);
}
BENCHMARK(BM_EngineTicksWithCallsFlowing)->Arg(0)->Arg(1);

void BM_EngineTicksIdleLine(benchmark::State& state) {
    TestApp t;
    t.line.open = true;
    t.app.settings.CheckInterval = 20;
    ScriptedSlave slave(t.line);
    HandleEspa(t.app, 10);
    for (auto _ : state) {
        HandleEspa(t.app, 0);
        slave.React();
    }
    state.counters["ticks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EngineTicksIdleLine);

void BM_BuildEspaData(benchmark::State& state) {
    Settings settings;
    settings.Emulatie = 4;
    CallBufferEntry call;
    call.Address = "123456";
    call.Alfa = "Room 12 needs assistance, please come";
    call.Bleep = "1";
    call.Priority = "2";
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildEspaData(settings, call));
}
BENCHMARK(BM_BuildEspaData);

}  // namespace
}  // namespace zelvano::test
