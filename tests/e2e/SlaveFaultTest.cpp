// Misbehaviour on demand: when each fault strikes and what it does to the line.
#include <gtest/gtest.h>

#include "SlaveTestSupport.h"

namespace zelvano::slave::test {
namespace {

const std::string kAck = Wire("06");
const std::string kNak = Wire("15");
const std::string kEot = Wire("04");

FaultRule Rule(const std::string& text) {
    std::string error;
    const auto rule = ParseFaultRule(text, error);
    EXPECT_TRUE(rule.has_value()) << text << ": " << error;
    return rule.value_or(FaultRule{});
}

SlaveConfig With(Fault fault, const std::string& when, SlaveConfig config = {}) {
    config.Rule(fault) = Rule(when);
    return config;
}

TEST(FaultRuleTest, ParsesEveryForm) {
    using M = FaultRule::Mode;
    const struct {
        const char* text;
        M mode;
        int count;
        double chance;
    } cases[] = {
        {"always", M::Always, 0, 0},   {"never", M::Never, 0, 0},
        {"every=3", M::Every, 3, 0},   {"first=2", M::First, 2, 0},
        {"after=5", M::After, 5, 0},   {"prob=0.25", M::Chance, 0, 0.25},
        {"prob=1", M::Chance, 0, 1.0}, {"40%", M::Chance, 0, 0.40},
        {"0%", M::Chance, 0, 0.0},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto rule = ParseFaultRule(c.text, error);
        ASSERT_TRUE(rule.has_value()) << c.text << ": " << error;
        EXPECT_EQ(rule->mode, c.mode) << c.text;
        EXPECT_EQ(rule->count, c.count) << c.text;
        EXPECT_DOUBLE_EQ(rule->chance, c.chance) << c.text;
    }
}

TEST(FaultRuleTest, RejectsMalformedForms) {
    for (const char* text : {"", "Always", "every=0", "every=-1", "every=x", "first=", "prob=1.5",
                             "prob=-0.1", "101%", "%", "sometimes", "every=3x", "prob= 0.5"}) {
        std::string error;
        EXPECT_FALSE(ParseFaultRule(text, error).has_value()) << text;
        EXPECT_NE(error.find("bad WHEN"), std::string::npos) << text;
    }
}

TEST(FaultRuleTest, CountingRulesStrikeOnTheRightOccasions) {
    const struct {
        const char* text;
        const char* pattern;  // occasions 1..8, x = strikes
    } cases[] = {
        {"always", "xxxxxxxx"},  {"never", "........"},   {"every=3", "..x..x.."},
        {"every=1", "xxxxxxxx"}, {"first=2", "xx......"}, {"after=5", ".....xxx"},
        {"prob=0", "........"},  {"prob=1", "xxxxxxxx"},
    };
    for (const auto& c : cases) {
        std::mt19937 rng(1);
        std::string pattern;
        for (long occasion = 1; occasion <= 8; ++occasion)
            pattern += Strikes(Rule(c.text), occasion, rng) ? 'x' : '.';
        EXPECT_EQ(pattern, c.pattern) << c.text;
    }
}

TEST(FaultRuleTest, ChanceStrikesAboutAsOftenAsAsked) {
    std::mt19937 rng(12345);
    const FaultRule rule = Rule("30%");
    int strikes = 0;
    for (long occasion = 1; occasion <= 10'000; ++occasion)
        strikes += Strikes(rule, occasion, rng) ? 1 : 0;
    EXPECT_GT(strikes, 2'800);
    EXPECT_LT(strikes, 3'200);
}

TEST(FaultRuleTest, DescriptionsAreReadable) {
    EXPECT_EQ(DescribeFaultRule(Rule("every=2")), "every 2nd time");
    EXPECT_EQ(DescribeFaultRule(Rule("every=3")), "every 3rd time");
    EXPECT_EQ(DescribeFaultRule(Rule("every=11")), "every 11th time");
    EXPECT_EQ(DescribeFaultRule(Rule("every=21")), "every 21st time");
    EXPECT_EQ(DescribeFaultRule(Rule("first=4")), "the first 4 times");
    EXPECT_EQ(DescribeFaultRule(Rule("25%")), "25% of the time");
}

TEST(SlaveFaultTest, SelectFaults) {
    const struct {
        Fault fault;
        const char* when;
        const char* answers;  // to four selects: A ACK, N NAK, - nothing
    } cases[] = {
        {Fault::NakSelect, "always", "NNNN"},
        {Fault::NakSelect, "every=2", "ANAN"},
        {Fault::IgnoreSelect, "first=1", "-AAA"},
        {Fault::IgnoreSelect, "after=2", "AA--"},
    };
    for (const auto& c : cases) {
        Harness h(With(c.fault, c.when));
        std::string answers;
        for (int i = 0; i < 4; ++i) {
            const std::string answer = h.SendHex("31 05 32 05");
            answers += answer == kAck ? 'A' : answer == kNak ? 'N' : answer.empty() ? '-' : '?';
        }
        EXPECT_EQ(answers, c.answers) << c.when;
    }
}

TEST(SlaveFaultTest, IgnoringWinsOverNak) {
    SlaveConfig config = With(Fault::NakSelect, "always");
    config.Rule(Fault::IgnoreSelect) = Rule("every=2");
    Harness h(config);
    EXPECT_EQ(h.SendHex("31 05 32 05"), kNak);
    EXPECT_EQ(h.SendHex("31 05 32 05"), "");
    EXPECT_EQ(h.LogCount("(--ignore-select: no answer)"), 1);
    EXPECT_EQ(h.LogCount("-> NAK (--nak-select)"), 1);
}

TEST(SlaveFaultTest, RefusedOrIgnoredBlocksDoNotTakeTheCall) {
    for (const Fault fault : {Fault::NakBlock, Fault::IgnoreBlock}) {
        Harness h(With(fault, "first=1"));
        const std::string refused = fault == Fault::NakBlock ? kNak : "";
        EXPECT_EQ(h.Send(CallBlock("66")), refused);
        EXPECT_TRUE(h.slave.Calls().empty());
        EXPECT_EQ(h.Send(StatusCallBlock("66")), kAck);  // the second good block is taken
        EXPECT_EQ(h.slave.Calls().size(), 1u);
    }
}

TEST(SlaveFaultTest, NakEveryBlockCountsCallAndStatusCallBlocks) {
    Harness h(With(Fault::NakBlock, "every=2"));
    EXPECT_EQ(h.Send(CallBlock("1")), kAck);
    EXPECT_EQ(h.Send(StatusCallBlock("1")), kNak);
    EXPECT_EQ(h.Send(StatusCallBlock("1")), kAck);
    EXPECT_EQ(h.Send(Frame('1',
                           "1\x1F"
                           "2\x04")),
              "");  // broken block: no occasion
    EXPECT_EQ(h.Send(CallBlock("2")), kNak);
}

TEST(SlaveFaultTest, EotPollKeepsTheStatusAndItsHoldCount) {
    SlaveConfig config = With(Fault::EotPoll, "first=2", WithScript("*=1:PAGED"));
    Harness h(config);
    h.Send(CallBlock("3"));
    EXPECT_EQ(h.SendHex("32 05"), kEot);  // fault
    EXPECT_EQ(h.SendHex("32 05"), kEot);  // fault
    EXPECT_EQ(h.slave.Calls()[0].holdLeft, 1);
    EXPECT_EQ(h.SendHex("32 05"), kEot);  // the script's own hold
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("3", '3')));
    EXPECT_EQ(h.LogCount("EOT (--eot-poll)"), 2);
}

TEST(SlaveFaultTest, IgnoredPollAnswersNothing) {
    Harness h(With(Fault::IgnorePoll, "always", WithScript("*=PAGED")));
    h.Send(CallBlock("3"));
    EXPECT_EQ(h.SendHex("32 05"), "");
    EXPECT_FALSE(h.slave.Calls()[0].Finished());
}

TEST(SlaveFaultTest, BadCheckCharacterIsWrongAndTheReportStaysDue) {
    Harness h(With(Fault::BadBcc, "first=1", WithScript("*=PAGED")));
    h.Send(CallBlock("123"));
    ASSERT_EQ(h.SendHex("32 05"), Wire("31 05"));
    const std::string bad = h.SendHex("06");
    const std::string good = StatusBlockFor("123", '3');
    ASSERT_EQ(bad.size(), good.size());
    EXPECT_EQ(bad.substr(0, bad.size() - 1), good.substr(0, good.size() - 1));
    EXPECT_NE(bad.back(), good.back());
    EXPECT_EQ(h.LogCount("(--bad-bcc, right one 0x28)"), 1);
    h.SendHex("04");  // the master refuses it silently and starts over
    EXPECT_EQ(HexOf(h.Report()), HexOf(good));
}

TEST(SlaveFaultTest, NoiseComesBeforeTheAnswer) {
    Harness h(With(Fault::Noise, "always"));
    for (int i = 0; i < 20; ++i) {
        const std::string answer = h.SendHex("31 05 32 05");
        ASSERT_GE(answer.size(), 2u);
        ASSERT_LE(answer.size(), 4u);
        EXPECT_EQ(answer.back(), kAck[0]);
    }
    EXPECT_EQ(h.LogCount("-> noise (--noise)"), 20);
}

TEST(SlaveFaultTest, SilentAnswersNothingButStillListens) {
    SlaveConfig config = WithScript("*=PAGED");
    config.silent = true;
    Harness h(config);
    EXPECT_EQ(h.SendHex("31 05 32 05"), "");
    EXPECT_EQ(h.Send(CallBlock("5")), "");
    EXPECT_EQ(h.SendHex("32 05"), "");
    EXPECT_EQ(h.LogCount("<- call block: 1=5"), 1);
    EXPECT_EQ(h.LogCount("(silent: no answer)"), 3);
    EXPECT_TRUE(h.slave.Calls().empty());
}

TEST(SlaveTimingTest, SlowAnswersFallDueAfterTheDelay) {
    SlaveConfig config;
    config.delayMinMs = config.delayMaxMs = 250;
    Harness h(config);
    EXPECT_EQ(h.SendHex("31 05 32 05"), "");
    EXPECT_EQ(h.slave.NextWakeMs(), h.now + 250);
    EXPECT_EQ(h.Advance(249), "");
    EXPECT_EQ(h.Advance(1), kAck);
    EXPECT_FALSE(h.slave.NextWakeMs().has_value());
}

TEST(SlaveTimingTest, RandomDelaysNeverReorderAnswers) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        SlaveConfig config;
        config.delayMinMs = 0;
        config.delayMaxMs = 500;
        config.seed = seed;
        Harness h(config);
        h.SendHex("31 05 32 05");  // ACK after 0..500 ms
        h.now += 1;
        h.Send(Wire("01 31 02 31 1F 31 03 00"));  // NAK after 0..500 ms
        h.now += 1;
        h.SendHex("32 05");  // EOT after 0..500 ms
        EXPECT_EQ(HexOf(h.Advance(600)), "06 15 04") << "seed " << seed;
    }
}

TEST(SlaveTimingTest, SplitStatusBlockGoesOutInPiecesApart) {
    SlaveConfig config = WithScript("*=PAGED");
    config.splitPieces = 3;
    config.splitGapMs = 100;
    Harness h(config);
    h.Send(CallBlock("123"));
    ASSERT_EQ(h.SendHex("32 05"), Wire("31 05"));
    const std::string first = h.SendHex("06");
    const std::string second = h.Advance(100);
    EXPECT_EQ(h.Advance(99), "");
    const std::string third = h.Advance(1);
    EXPECT_FALSE(first.empty());
    EXPECT_FALSE(second.empty());
    EXPECT_FALSE(third.empty());
    EXPECT_EQ(HexOf(first + second + third), HexOf(StatusBlockFor("123", '3')));
    EXPECT_EQ(h.SendHex("06"), kEot);
    EXPECT_TRUE(h.slave.Calls()[0].Finished());
}

TEST(SlaveTimingTest, SameSeedSameRun) {
    const auto run = [](std::uint32_t seed) {
        SlaveConfig config = With(Fault::NakSelect, "50%");
        config.Rule(Fault::Noise) = Rule("20%");
        config.seed = seed;
        Harness h(config);
        std::string all;
        for (int i = 0; i < 64; ++i)
            all += h.SendHex("31 05 32 05");
        return all;
    };
    EXPECT_EQ(run(7), run(7));
    EXPECT_NE(run(7), run(8));
}

}  // namespace
}  // namespace zelvano::slave::test
