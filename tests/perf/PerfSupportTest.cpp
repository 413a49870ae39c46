// The measurement helpers: the statistics, the prompt slave and the protocol
// minimum the Call -> "PAGED" time is held against.
#include <gtest/gtest.h>

#include "InstantSlave.h"
#include "Stats.h"

namespace zelvano::perf {
namespace {

struct SummaryCase {
    const char* name;
    std::vector<double> values;
    Summary expected;
};

TEST(PerfStats, SummarizeTable) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i);
    const SummaryCase cases[] = {
        {"one value", {5}, {1, 5, 5, 5, 5, 5}},
        {"odd count, unsorted", {3, 1, 2}, {3, 1, 2, 2, 3, 3}},
        {"even count takes the middle pair", {4, 1, 3, 2}, {4, 1, 2.5, 2.5, 4, 4}},
        {"p99 of 1..100 is 99", hundred, {100, 1, 50.5, 50.5, 99, 100}},
        {"one outlier in 100 stays out of p99",
         [] {
             std::vector<double> v(99, 100.0);
             v.push_back(250.0);
             return v;
         }(),
         {100, 100, 101.5, 100, 100, 250}},
    };
    for (const SummaryCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto s = Summarize(c.values);
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->count, c.expected.count);
        EXPECT_DOUBLE_EQ(s->min, c.expected.min);
        EXPECT_DOUBLE_EQ(s->mean, c.expected.mean);
        EXPECT_DOUBLE_EQ(s->median, c.expected.median);
        EXPECT_DOUBLE_EQ(s->p99, c.expected.p99);
        EXPECT_DOUBLE_EQ(s->max, c.expected.max);
    }
}

TEST(PerfStats, NoSamplesNoSummary) {
    EXPECT_FALSE(Summarize({}).has_value());
    EXPECT_EQ(Percentile({}, 99), 0);
    EXPECT_TRUE(IntervalsMs({std::chrono::steady_clock::now()}).empty());
}

TEST(PerfStats, IntervalsAndDeviations) {
    using namespace std::chrono;
    const steady_clock::time_point t0{};
    const std::vector<double> intervals = IntervalsMs(
        {t0, t0 + milliseconds(100), t0 + microseconds(201500), t0 + milliseconds(299)});
    ASSERT_EQ(intervals.size(), 3u);
    EXPECT_DOUBLE_EQ(intervals[0], 100.0);
    EXPECT_DOUBLE_EQ(intervals[1], 101.5);
    EXPECT_DOUBLE_EQ(intervals[2], 97.5);
    EXPECT_EQ(Deviations(intervals, 100.0), (std::vector<double>{0.0, 1.5, 2.5}));
}

TEST(InstantSlave, StatusBlockIsTheWellKnownPagedBlock) {
    EXPECT_EQ(test::ToHex(StatusBlockFor("123", '3')), "01 32 02 31 1F 31 32 33 1E 37 1F 33 03 28");
}

// A call entered while the line is good; CheckCountdown far off unless a case
// sets it.
EngineSnapshot CallEntered(std::int16_t callStatusCheck) {
    EngineSnapshot s;
    s.settings.Emulatie = 1;
    s.settings.CallStatusCheck = callStatusCheck;
    s.settings.CheckInterval = 19;
    s.espa.EspaState = 20;
    s.espa.LineOk = 1;
    s.espa.CheckCountdown = 15;
    CallBufferEntry& call = s.buffer[0];
    call.Address = "4321";
    call.Alfa = "Timing";
    call.Bleep = "1";
    call.Priority = "1";
    call.CallType = "1";
    call.NrOfTx = "3";
    call.Status = "NEW";
    call.TimeOutCount = 60;
    call.CallId = 1;
    s.nextCallId = 2;
    return s;
}

TEST(InstantSlave, MinimumTicksFollowTheSequence) {
    struct Case {
        const char* name;
        std::int16_t callStatusCheck;
        std::int16_t scanDelay;
        std::int16_t checkCountdown;
        std::int16_t step;
        std::int16_t espaTimer;
        int ticks;
    };
    // Scan 1, make call 9 (EOT, 5 to the select, ACK, block, ACK), scan 1,
    // status call 9, status request 11 (EOT, 5 to the poll, '1', ENQ, block,
    // check character, accept): 31 ticks; 22 without the status call.
    const Case cases[] = {
        {"scan at once, status call and request", 0, 0, 15, 20, 0, 31},
        {"scan at once, status request only", 1, 0, 15, 20, 0, 22},
        {"five ticks of scan delay first", 0, 5, 15, 20, 0, 36},
        {"line check due during the scan delay", 0, 5, 0, 20, 0, 39},
        {"line check awaiting its answer", 0, 0, 15, 15, 12, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineSnapshot s = CallEntered(c.callStatusCheck);
        s.espa.ScanDelay = c.scanDelay;
        s.espa.CheckCountdown = c.checkCountdown;
        s.espa.EspaState = c.step;
        s.espa.EspaTimer = c.espaTimer;
        EXPECT_EQ(MinimumTicks(s, 0), c.ticks);
    }
}

TEST(InstantSlave, CallWithoutStatusCheckEndsAtTheNextScan) {
    EngineSnapshot s = CallEntered(2);
    EXPECT_EQ(MinimumTicks(s, 0), 11);
}

TEST(InstantSlave, EngineNotStartedNeverFinishes) {
    EngineSnapshot s = CallEntered(0);
    s.espa.EspaState = 0;
    EXPECT_FALSE(MinimumTicks(s, 0, 500).has_value());
}

}  // namespace
}  // namespace zelvano::perf
