// The status-block drain writes its byte trace with one append per tick
// (the busy-line tick budget) and still leaves exactly the lines that one
// append per byte leaves, in the same order and day files.
#include <gtest/gtest.h>

#include "InstantSlave.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "espa/EngineSteps.h"
#include "log/Log.h"
#include "serial/ByteTransfer.h"

namespace zelvano::perf {
namespace {

namespace fs = std::filesystem;

// One second later at every reading, from 23:59:58 on 5 December 2026.
class SteppingClock : public Clock {
  public:
    LocalDateTime Now() override {
        LocalDateTime t{2026, 12, 5, 23, 59, 58};
        t.second += step_++;
        while (t.second >= 60) {
            t.second -= 60;
            if (++t.minute == 60) {
                t.minute = 0;
                if (++t.hour == 24) {
                    t.hour = 0;
                    ++t.day;
                }
            }
        }
        return t;
    }

  private:
    int step_ = 0;
};

struct Rig {
    test::FakeView view;
    test::FakeSerialLine line;
    test::TempDir dir;
    App app;

    explicit Rig(Clock& clock) : app(view, clock, line, dir.path()) {
        line.open = true;
        app.settings.Logfile = 3;
        app.espa.EspaState = engine::kStatusBlock;
        app.espa.EspaTimer = 100;
    }
    std::string DebugLog(const char* day) const {
        return test::ReadFileBytes(dir.path() / "DebugLog" / day);
    }
};

// The lines one TraceByte per received byte writes.
std::string TracedOneByOne(const std::vector<std::uint8_t>& bytes, Clock& clock, const char* day) {
    test::TestApp t;
    App app(t.view, clock, t.line, t.dir.path());
    app.settings.Logfile = 3;
    for (std::uint8_t b : bytes)
        TraceByte(app, b, 2);
    return test::ReadFileBytes(t.dir.path() / "DebugLog" / day);
}

TEST(HeldTrace, DrainLeavesTheSameLinesAsOneAppendPerByte) {
    test::FakeClock clock;
    // A block with an accented letter and controls, then the check character.
    std::vector<std::uint8_t> block = StatusBlockFor("12\xE9", '3');
    Rig rig(clock);
    rig.line.Feed(block);
    HandleEspa(rig.app, 0);
    EXPECT_EQ(rig.app.espa.EspaState, engine::kStatusCheckChar);
    block.pop_back();  // the check character waits for the next step
    const std::string expected = TracedOneByOne(block, clock, "05122026.log");
    EXPECT_EQ(rig.DebugLog("05122026.log"), expected);
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), static_cast<long>(block.size()));
}

TEST(HeldTrace, BlockOverSeveralTicksAppendsEachPiece) {
    test::FakeClock clock;
    const std::vector<std::uint8_t> block = StatusBlockFor("4321", '3');
    const std::size_t half = block.size() / 2;
    Rig rig(clock);
    rig.line.Feed({block.begin(), block.begin() + static_cast<long>(half)});
    HandleEspa(rig.app, 0);
    EXPECT_EQ(rig.app.espa.EspaState, engine::kStatusBlock);
    rig.line.Feed({block.begin() + static_cast<long>(half), block.end() - 1});
    HandleEspa(rig.app, 0);
    EXPECT_EQ(rig.app.espa.EspaState, engine::kStatusCheckChar);
    EXPECT_EQ(rig.DebugLog("05122026.log"),
              TracedOneByOne({block.begin(), block.end() - 1}, clock, "05122026.log"));
}

TEST(HeldTrace, SlaveAbortKeepsReceivedBeforeSentOrder) {
    test::FakeClock clock;
    Rig rig(clock);
    rig.line.Feed({SOH, '2', EOT});
    HandleEspa(rig.app, 0);
    EXPECT_EQ(rig.app.espa.EspaState, engine::kScheduler);
    EXPECT_EQ(test::ToHex(rig.line.written), "04");
    const std::string log = rig.DebugLog("05122026.log");
    const auto receivedSoh = log.find("RxD: " + std::string(18, ' ') + "[SOH] ");
    const auto receivedEot = log.find("RxD: " + std::string(18, ' ') + "[EOT] ");
    const auto sentEot = log.find("TxD: [EOT] ");
    ASSERT_NE(receivedSoh, std::string::npos);
    ASSERT_NE(receivedEot, std::string::npos);
    ASSERT_NE(sentEot, std::string::npos);
    EXPECT_LT(receivedSoh, receivedEot);
    EXPECT_LT(receivedEot, sentEot);
}

TEST(HeldTrace, DrainAcrossMidnightSplitsOverBothDayFiles) {
    SteppingClock clock;
    Rig rig(clock);
    rig.line.Feed({SOH, '2', STX, '1', ETX});
    HandleEspa(rig.app, 0);
    const std::string before = rig.DebugLog("05122026.log");
    const std::string after = rig.DebugLog("06122026.log");
    // 23:59:58 and 23:59:59 on the old day, the other three on the new one.
    EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 2);
    EXPECT_EQ(before.rfind("23:59:58 RxD: ", 0), 0u);
    EXPECT_NE(before.find("\r\n23:59:59 RxD: "), std::string::npos);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 3);
    EXPECT_EQ(after.rfind("00:00:00 RxD: ", 0), 0u);
    EXPECT_NE(after.find("\r\n00:00:02 RxD: " + std::string(18, ' ') + "[ETX] "),
              std::string::npos);
}

TEST(HeldTrace, BelowLevelThreeNothingIsTraced) {
    test::FakeClock clock;
    Rig rig(clock);
    rig.app.settings.Logfile = 2;
    rig.line.Feed(StatusBlockFor("4321", '3'));
    HandleEspa(rig.app, 0);
    EXPECT_EQ(rig.app.espa.EspaState, engine::kStatusCheckChar);
    EXPECT_FALSE(fs::exists(rig.dir.path() / "DebugLog"));
}

TEST(HeldTrace, EmptyHeldTraceWritesNoFile) {
    test::TestApp t;
    HeldTrace held;
    WriteHeldTrace(t.app, held);
    EXPECT_FALSE(fs::exists(t.dir.path() / "DebugLog"));
}

}  // namespace
}  // namespace zelvano::perf
