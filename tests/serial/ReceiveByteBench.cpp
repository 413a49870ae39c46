// ReceiveByte with nothing waiting, the engine's most frequent call: through
// the fake line (the core's own cost) and through QSerialPort on an open
// pseudo-terminal.
#include <benchmark/benchmark.h>

#include "serial/ByteTransfer.h"
#include "support/TestApp.h"

#ifdef ZELVANO_BENCH_QT
#include <pty.h>
#include <unistd.h>

#include <QCoreApplication>

#include "serial/QtSerialLine.h"
#endif

namespace zelvano {
namespace {

void BM_ReceiveByteNothingWaitingFake(benchmark::State& state) {
    test::TestApp t;
    t.line.open = true;
    t.app.settings.Logfile = 3;
    for (auto _ : state)
        benchmark::DoNotOptimize(ReceiveByte(t.app));
}
BENCHMARK(BM_ReceiveByteNothingWaitingFake);

void BM_ReceiveByteOneWaitingFake(benchmark::State& state) {
    test::TestApp t;
    t.line.open = true;
    t.app.settings.Logfile = 1;  // no trace: the transfer alone
    for (auto _ : state) {
        t.line.input.push_back(0x06);
        benchmark::DoNotOptimize(ReceiveByte(t.app));
    }
}
BENCHMARK(BM_ReceiveByteOneWaitingFake);

#ifdef ZELVANO_BENCH_QT
void BM_ReceiveByteNothingWaitingQtPty(benchmark::State& state) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("openpty failed");
        return;
    }
    ::close(slave);
    test::TempDir dir;
    test::WriteFileBytes(dir.path() / "comports.cfg", std::string("COM1=") + name + "\n");
    QtSerialLine line(dir.path());
    test::FakeView view;
    test::FakeClock clock;
    App app{view, clock, line, dir.path()};
    app.settings.Logfile = 3;
    if (!line.SetPortNumber(1) || !line.SetLineSettings("9600,N,8,1") || !line.Open()) {
        state.SkipWithError(line.LastError().c_str());
        ::close(master);
        return;
    }
    QCoreApplication::processEvents();
    for (auto _ : state)
        benchmark::DoNotOptimize(ReceiveByte(app));
    line.Close();
    ::close(master);
}
BENCHMARK(BM_ReceiveByteNothingWaitingQtPty);
#endif

}  // namespace
}  // namespace zelvano

int main(int argc, char** argv) {
#ifdef ZELVANO_BENCH_QT
    QCoreApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
