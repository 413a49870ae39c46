// The simulator's protocol object, driven byte by byte with a hand-moved clock.
#include <gtest/gtest.h>

#include "SlaveTestSupport.h"

namespace zelvano::slave::test {
namespace {

const std::string kAck = Wire("06");
const std::string kNak = Wire("15");
const std::string kEot = Wire("04");
const std::string kOneEnq = Wire("31 05");

TEST(SlaveLineTest, SelectIsAcknowledgedAndEotAnswersNothing) {
    Harness h;
    EXPECT_EQ(h.SendHex("04"), "");
    EXPECT_EQ(h.SendHex("31 05 32 05"), kAck);
    EXPECT_EQ(h.LogCount("<- EOT"), 1);
    EXPECT_EQ(h.LogCount("<- '1' ENQ '2' ENQ (select)"), 1);
    EXPECT_EQ(h.LogCount("-> ACK"), 1);
}

TEST(SlaveLineTest, SelectSplitOverReadsIsStillOneSelect) {
    Harness h;
    EXPECT_EQ(h.SendHex("31"), "");
    EXPECT_EQ(h.SendHex("05 32"), "");
    EXPECT_EQ(h.SendHex("05"), kAck);
    EXPECT_EQ(h.LogCount("(select)"), 1);
    EXPECT_EQ(h.LogCount("(poll)"), 0);
}

TEST(SlaveLineTest, PollWithNothingToReportIsAnsweredWithEot) {
    Harness h;
    EXPECT_EQ(h.SendHex("32 05"), kEot);
    EXPECT_EQ(h.LogCount("-> EOT (nothing to report)"), 1);
}

TEST(SlaveLineTest, UnexpectedBytesAreShownAndChangeNothing) {
    Harness h;
    EXPECT_EQ(h.SendHex("41 39 42 33 05"), "");  // noise, a lone digit, '3' ENQ
    EXPECT_EQ(h.LogCount("<- unexpected: 'A' '9' 'B'"), 1);
    EXPECT_EQ(h.LogCount("'3' ENQ (unknown station"), 1);
    EXPECT_EQ(h.SendHex("31 05 04 32 05"), kEot);  // an interrupted select, then a poll
    EXPECT_EQ(h.LogCount("no '2' ENQ followed"), 1);
    EXPECT_EQ(h.SendHex("06"), "");  // an ACK nobody waits for
    EXPECT_EQ(h.LogCount("ACK (not expected"), 1);
}

TEST(SlaveBlockTest, TheMastersCallBlockIsAcknowledgedAndTakenOn) {
    Harness h;
    // Address 123, HELLO, defaults, two transmissions: check character 0x5C.
    const std::string block = Wire(
        "01 31 02 31 1F 31 32 33 1E 32 1F 48 45 4C 4C 4F 1E 33 1F 31 1E 34 1F 33 1E 35 1F 32 "
        "03 5C");
    ASSERT_EQ(h.SendHex("31 05 32 05"), kAck);
    EXPECT_EQ(h.Send(block), kAck);
    ASSERT_EQ(h.slave.Calls().size(), 1u);
    EXPECT_EQ(h.slave.Calls()[0].address, "123");
    EXPECT_EQ(h.slave.Calls()[0].script, DefaultStatusScript());
    EXPECT_EQ(h.LogCount("<- call block: 1=123 2=HELLO 3=1 4=3 5=2 BCC ok"), 1);
    EXPECT_EQ(h.LogCount("call 123 received; reports: QUEUE, 2 polls EOT, PAGED"), 1);
}

TEST(SlaveBlockTest, BadBlocksAreRefusedWithNak) {
    const struct {
        const char* name;
        std::string block;
        const char* logged;
    } cases[] = {
        {"wrong check character", Wire("01 31 02 31 1F 31 32 33 03 31"),
         "BCC wrong (got 0x31, expected 0x2E)"},
        {"unknown header",
         Frame('7',
               "1\x1F"
               "5\x03"),
         "<- unknown block"},
        {"no STX", Wire("01 31 31 1F 35 03 29"), "<- unknown block"},
    };
    for (const auto& c : cases) {
        Harness h;
        h.SendHex("31 05 32 05");
        EXPECT_EQ(h.Send(c.block), kNak) << c.name;
        EXPECT_TRUE(h.slave.Calls().empty()) << c.name;
        EXPECT_EQ(h.LogCount(c.logged), 1) << c.name;
    }
}

TEST(SlaveBlockTest, BlockBrokenOffByEotIsDroppedAndTheLineGoesOn) {
    Harness h;
    const std::string block = CallBlock("42");
    EXPECT_EQ(h.Send(block.substr(0, 6)), "");
    EXPECT_EQ(h.SendHex("04"), "");
    EXPECT_EQ(h.LogCount("block broken off after 5 bytes"), 1);
    EXPECT_EQ(h.SendHex("31 05 32 05"), kAck);
    EXPECT_EQ(h.Send(block), kAck);
    EXPECT_EQ(h.slave.Calls().size(), 1u);
}

TEST(SlaveBlockTest, UnfinishedBlockIsDroppedAfterTheReplyTimeout) {
    SlaveConfig config;
    config.replyTimeoutMs = 500;
    Harness h(config);
    h.Send(CallBlock("42").substr(0, 8));
    EXPECT_EQ(h.slave.NextWakeMs(), h.now + 500);
    EXPECT_EQ(h.Advance(499), "");
    EXPECT_EQ(h.LogCount("block unfinished"), 0);
    EXPECT_EQ(h.Advance(1), "");
    EXPECT_EQ(h.LogCount("block unfinished after 500 ms"), 1);
    EXPECT_EQ(h.SendHex("31 05 32 05"), kAck);  // bytes are read as units again
}

TEST(SlaveBlockTest, RepeatedCallBlockOfAnUnfinishedCallIsNoNewCall) {
    Harness h;
    h.Send(CallBlock("42"));
    EXPECT_EQ(h.Send(CallBlock("42")), kAck);
    EXPECT_EQ(h.slave.Calls().size(), 1u);
    EXPECT_EQ(h.LogCount("repeat of a known call"), 1);
    h.Send(CallBlock("42", "other text"));
    EXPECT_EQ(h.slave.Calls().size(), 2u);
}

TEST(SlaveReportTest, PagedReportIsTheBlockTheMasterExpects) {
    Harness h(WithScript("DEFAULT=PAGED"));
    h.Send(CallBlock("123"));
    const std::string block = h.Report();
    // SOH '2' STX '1' US 123 RS '7' US '3' ETX and the check character 0x28.
    EXPECT_EQ(HexOf(block), "01 32 02 31 1F 31 32 33 1E 37 1F 33 03 28");
    EXPECT_EQ(ParseCallStatus(block.substr(1, block.size() - 3)), "PAGED");
    EXPECT_TRUE(h.slave.Calls()[0].Finished());
    EXPECT_EQ(h.LogCount("status PAGED for call 123 delivered (no more reports)"), 1);
    EXPECT_EQ(h.LogCount("-> status block: 1=123 7=3 (PAGED) BCC 0x28"), 1);
    EXPECT_EQ(h.SendHex("32 05"), kEot);  // nothing more to say
}

TEST(SlaveReportTest, EveryStateNameReachesTheMasterAsItsWord) {
    const char* names[] = {"BUSY", "QUEUE", "PAGED", "ABSENT", "TERMINATED", "SPEECHPAGED"};
    for (const char* name : names) {
        Harness h(WithScript(std::string("*=") + name));
        h.Send(CallBlock("9"));
        const std::string block = h.Report();
        ASSERT_GE(block.size(), 3u) << name;
        EXPECT_EQ(block.back(), static_cast<char>(BlockCheck(block.substr(1, block.size() - 2))))
            << name;
        EXPECT_EQ(ParseCallStatus(block.substr(1, block.size() - 3)), name);
    }
}

TEST(SlaveReportTest, DefaultScriptReportsQueueThenHoldsTwoPollsThenPaged) {
    Harness h;
    h.Send(CallBlock("55"));
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("55", '2')));
    EXPECT_EQ(h.SendHex("32 05"), kEot);
    EXPECT_EQ(h.SendHex("32 05"), kEot);
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("55", '3')));
    EXPECT_EQ(h.SendHex("32 05"), kEot);
    EXPECT_EQ(h.LogCount("nothing yet, 1 more polls to hold"), 1);
    EXPECT_EQ(h.LogCount("nothing yet, 0 more polls to hold"), 1);
}

TEST(SlaveReportTest, BarePollsServeTheOldestCallWithSomethingLeft) {
    Harness h(WithScript("DEFAULT=PAGED"));
    h.Send(CallBlock("111"));
    h.Send(CallBlock("222"));
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("111", '3')));
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("222", '3')));
    EXPECT_EQ(h.SendHex("32 05"), kEot);
}

TEST(SlaveReportTest, StatusCallBlockNamesTheCallTheNextPollIsAbout) {
    SlaveConfig config = WithScript("111=1:BUSY");
    std::string error;
    ASSERT_TRUE(AddScriptOption(config.scripts, "222=ABSENT", error)) << error;
    Harness h(config);
    h.Send(CallBlock("111"));
    h.Send(CallBlock("222"));
    EXPECT_EQ(h.Send(StatusCallBlock("222")), kAck);
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("222", '4')));
    // Asked about 111, which holds one poll before BUSY.
    h.Send(StatusCallBlock("111"));
    EXPECT_EQ(h.SendHex("32 05"), kEot);
    h.Send(StatusCallBlock("111"));
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("111", '1')));
}

TEST(SlaveReportTest, AskedAboutAFinishedCallItRepeatsTheLastState) {
    Harness h(WithScript("DEFAULT=ABSENT"));
    h.Send(CallBlock("7"));
    h.Report();
    EXPECT_EQ(h.SendHex("32 05"), kEot);  // a bare poll has nothing new
    h.Send(StatusCallBlock("7"));
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("7", '4')));
    EXPECT_EQ(h.LogCount("ABSENT, again"), 1);
}

TEST(SlaveReportTest, UnknownCallNamedByAStatusCallBlockIsTakenOn) {
    Harness h(WithScript("DEFAULT=SPEECHPAGED"));
    EXPECT_EQ(h.Send(StatusCallBlock("321")), kAck);
    ASSERT_EQ(h.slave.Calls().size(), 1u);
    EXPECT_EQ(h.LogCount("status asked for unknown call 321; taking it on"), 1);
    EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("321", '7')));
}

TEST(SlaveReportTest, ScriptNoneNeverReports) {
    Harness h(WithScript("500=NONE"));
    h.Send(CallBlock("500"));
    EXPECT_EQ(h.SendHex("32 05"), kEot);
    h.Send(StatusCallBlock("500"));
    EXPECT_EQ(h.SendHex("32 05"), kEot);
}

TEST(SlaveReportTest, AReportTheMasterDidNotTakeIsOfferedAgain) {
    const struct {
        const char* name;
        std::string afterOneEnq;  // the master's answer to '1' ENQ
        std::string afterBlock;   // and to the status block
        std::int64_t wait;        // time passing before the next poll
    } cases[] = {
        {"NAK to the block", Wire("06"), Wire("15"), 0},
        {"EOT to the block", Wire("06"), Wire("04"), 0},
        {"EOT to the select", Wire("04"), "", 0},
        {"no answer to the block", Wire("06"), "", 3000},
        {"no answer to the select", "", "", 3000},
    };
    for (const auto& c : cases) {
        Harness h(WithScript("*=PAGED"));
        h.Send(CallBlock("8"));
        ASSERT_EQ(h.SendHex("32 05"), kOneEnq) << c.name;
        h.Send(c.afterOneEnq);
        h.Send(c.afterBlock);
        h.Advance(c.wait);
        EXPECT_FALSE(h.slave.Calls()[0].Finished()) << c.name;
        EXPECT_EQ(h.SendHex("06"), "") << c.name;  // a late ACK sends nothing
        EXPECT_EQ(HexOf(h.Report()), HexOf(StatusBlockFor("8", '3'))) << c.name;
        EXPECT_TRUE(h.slave.Calls()[0].Finished()) << c.name;
    }
}

TEST(SlaveReportTest, ReplyTimeoutCountsFromTheAnswer) {
    SlaveConfig config = WithScript("*=PAGED");
    config.replyTimeoutMs = 1000;
    config.delayMinMs = config.delayMaxMs = 200;
    Harness h(config);
    h.Send(CallBlock("8"));
    h.Advance(200);
    h.SendHex("32 05");
    EXPECT_EQ(h.Advance(200), kOneEnq);
    EXPECT_EQ(h.Advance(999), "");  // 999 ms after '1' ENQ went out: still waiting
    h.SendHex("06");
    EXPECT_EQ(HexOf(h.Advance(200)), HexOf(StatusBlockFor("8", '3')));
}

TEST(SlaveCallListTest, CallsWithoutNewsAreForgotten) {
    SlaveConfig config;
    config.forgetAfterMs = 10'000;
    Harness h(config);
    h.Send(CallBlock("1"));
    h.Advance(5'000);
    h.Send(CallBlock("2"));
    EXPECT_EQ(h.slave.NextWakeMs(), h.now + 5'000);
    h.Advance(5'000);
    ASSERT_EQ(h.slave.Calls().size(), 1u);
    EXPECT_EQ(h.slave.Calls()[0].address, "2");
    h.SendHex("32 05");  // a poll about call 2 is news for it
    h.Advance(9'999);
    EXPECT_EQ(h.slave.Calls().size(), 1u);
    h.Advance(1);
    EXPECT_TRUE(h.slave.Calls().empty());
}

TEST(SlaveCallListTest, TheListOfCallsIsBounded) {
    Harness h;
    for (std::size_t i = 0; i <= EspaSlave::kMaxCalls; ++i)
        h.Send(CallBlock(std::to_string(1000 + i)));
    ASSERT_EQ(h.slave.Calls().size(), EspaSlave::kMaxCalls);
    EXPECT_EQ(h.slave.Calls().front().address, "1001");
    EXPECT_EQ(h.LogCount("forgot call 1000"), 1);
}

TEST(SlaveCallListTest, OverlongBlockIsBrokenOff) {
    Harness h;
    h.Send(Wire("01 31 02") + std::string(EspaSlave::kMaxBlockBytes, 'x'));
    EXPECT_EQ(h.LogCount("block broken off"), 1);
    EXPECT_EQ(h.SendHex("31 05 32 05"), kAck);
}

}  // namespace
}  // namespace zelvano::slave::test
