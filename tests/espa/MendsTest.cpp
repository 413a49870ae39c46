// A job follows its call when removals shift the buffer; line-check status
// blocks only land on the call last served; a negative interval still checks
// the line; values with control characters are never framed.
#include <gtest/gtest.h>

#include "EngineRig.h"
#include "buffer/BufferDisplay.h"

namespace zelvano::test {
namespace {

// Occupied positions run unbroken from 0 and no free position holds a state.
void ExpectUnbrokenRun(const EngineRig& rig) {
    bool freeSeen = false;
    for (int i = 0; i < kCallBufferSize; ++i) {
        const CallBufferEntry& e = rig.app.CallBuffer[static_cast<std::size_t>(i)];
        if (e.IsFree()) {
            freeSeen = true;
            EXPECT_TRUE(e.Address.empty() && e.CallId == 0) << "position " << i;
        } else {
            EXPECT_FALSE(freeSeen) << "gap before position " << i;
        }
    }
}

TEST(JobFollowsItsCall, AckLandsOnTheCallAfterAnEarlierCallWasRemoved) {
    EngineRig rig;
    rig.app.settings.CallStatusCheck = 2;
    rig.StartWithGoodLine();
    rig.Add("111");
    rig.app.CallBuffer[0].Status = "PAGED";
    rig.Add("222");
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    rig.Feed("06");
    rig.Tick();
    EXPECT_NE(rig.TickHex(), "");            // the block for 222 went out
    LabReturnedStatus_DblClick(rig.app, 0);  // 222 moves to position 0
    rig.Feed("06");
    rig.Tick();
    EXPECT_EQ(rig.app.CallBuffer[0].Address, "222");
    EXPECT_EQ(rig.Status(0), "QUEUE");
    EXPECT_EQ(rig.Status(1), "");
    EXPECT_EQ(rig.app.espa.EspaPosition, 0);
    ExpectUnbrokenRun(rig);
}

TEST(JobFollowsItsCall, StatusOfARemovedCallIsDropped) {
    EngineRig rig(1);
    rig.app.settings.CallStatusCheck = 1;
    rig.StartWithGoodLine();
    rig.Add("111");
    rig.Add("222");
    rig.app.CallBuffer[0].Status = "QUEUE";
    rig.app.CallBuffer[1].Status = "BUSY";
    rig.SkipLog();
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "32 05"}, {0, "31 05", 17, "06"}});
    LabReturnedStatus_DblClick(rig.app, 0);  // the served call goes, 222 moves up
    rig.Feed("01 32 02 37 1F 33 03 28");
    rig.Tick();
    rig.Tick();
    EXPECT_EQ(rig.TickHex(), "06");  // the block is still acknowledged
    EXPECT_EQ(rig.Status(0), "BUSY");
    EXPECT_EQ(rig.Status(1), "");
    EXPECT_TRUE(rig.NewLog().empty());
    ExpectUnbrokenRun(rig);
}

TEST(JobFollowsItsCall, GiveUpOfARemovedCallWritesNoState) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    rig.Add("111");
    rig.app.CallBuffer[0].Status = "QUEUE";
    rig.app.espa.RetryCount = 0;
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    LabReturnedStatus_DblClick(rig.app, 0);
    rig.Feed("15");
    rig.Tick();
    EXPECT_EQ(rig.app.espa.EspaState, 10);
    for (int i = 0; i < kCallBufferSize; ++i)
        EXPECT_EQ(rig.Status(i), "") << i;
}

// A full buffer of "NEW" calls drops the oldest, which the make call serves.
TEST(JobFollowsItsCall, CallDroppedDuringItsSelectIsGivenUpQuietly) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    for (int i = 0; i < kCallBufferSize; ++i)
        rig.Add(std::to_string(100 + i));
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    rig.Add("999");  // drops 100, the served call
    rig.SkipLog();
    rig.Feed("06");
    rig.Tick();
    EXPECT_EQ(rig.TickHex(), "");  // no block for a call that is gone
    EXPECT_EQ(rig.app.espa.EspaState, 20);
    EXPECT_TRUE(rig.NewLog().empty());
    EXPECT_EQ(rig.Status(0), "NEW");
    rig.Tick();
    EXPECT_EQ(rig.app.espa.EspaState, 30);  // the next call, 101, now at position 0
    EXPECT_EQ(rig.app.espa.EspaCallId, rig.app.CallBuffer[0].CallId);
}

TEST(JobFollowsItsCall, StatusCallBlockForARemovedCallIsNotSent) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    rig.Add("111");
    rig.app.CallBuffer[0].Status = "QUEUE";
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    LabReturnedStatus_DblClick(rig.app, 0);
    rig.Feed("06");
    rig.Tick();
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.app.espa.EspaState, 20);
    ExpectUnbrokenRun(rig);
}

// LineCheck 1: '1' on the poll brings a status block for the position last
// served; it lands only while that position holds the call last served.
struct LineCheckStatusCase {
    const char* name;
    bool removeServed;  // the call last served was removed before the check
    bool anyJob;        // a job has run before
    const char* expectPosition0;
};

TEST(LineCheckStatus, AppliedOnlyToTheCallLastServed) {
    const LineCheckStatusCase cases[] = {
        {"still there", false, true, "ABSENT"},
        {"removed, another call moved in", true, true, "BUSY"},
        {"no job yet", false, false, "BUSY"},
    };
    for (const auto& c : cases) {
        EngineRig rig(1);
        rig.app.settings.LineCheck = 1;
        rig.app.settings.CheckInterval = 0;
        rig.Add("111");
        rig.Add("222");
        rig.app.CallBuffer[0].Status = "PAGED";
        rig.app.CallBuffer[1].Status = "BUSY";
        if (c.anyJob)
            rig.app.espa.EspaCallId = rig.app.CallBuffer[0].CallId;
        if (!c.anyJob)
            rig.app.CallBuffer[0].Status = "BUSY";
        if (c.removeServed)
            LabReturnedStatus_DblClick(rig.app, 0);
        rig.app.espa.EspaPosition = 0;
        rig.Tick(10);
        RunTranscript(rig, {{0, "", 2, "04"}, {0, "", 7, "32 05"}, {0, "31 05", 9, "06"}});
        rig.SkipLog();
        rig.Feed("01 32 02 37 1F 34 03 2F");
        rig.Tick();
        rig.Tick();
        EXPECT_EQ(rig.TickHex(), "06") << c.name;  // received and acknowledged either way
        EXPECT_EQ(rig.Status(0), c.expectPosition0) << c.name;
        const bool applied = std::string(c.expectPosition0) == "ABSENT";
        EXPECT_EQ(rig.NewLog().size(), applied ? 1u : 0u) << c.name;
        ExpectUnbrokenRun(rig);
    }
}

TEST(NegativeCheckInterval, PeriodicLineCheckStillRuns) {
    EngineRig rig;
    rig.app.settings.CheckInterval = -1;
    rig.StartWithGoodLine();  // tick 8
    EXPECT_EQ(rig.app.espa.CheckCountdown, -1);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(rig.NextSend(30), "04") << round;
        EXPECT_EQ(rig.NextSend(), "31 05 32 05");
        rig.Feed("06");
        EXPECT_EQ(rig.NextSend(), "04");
    }
}

TEST(ControlCharacterInValue, CallBlockIsNotSentAndCallFails) {
    const char* values[] = {"HEL\x03LO",
                            "A\x1E"
                            "B",
                            "\x01", "tab\there", "cr\r"};
    for (const char* alfa : values) {
        EngineRig rig(1);
        rig.StartWithGoodLine();
        rig.Add("123", alfa);
        rig.SkipLog();
        RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
        rig.Feed("06");
        rig.Tick();
        EXPECT_EQ(rig.TickHex(), "");  // not even SOH
        EXPECT_EQ(rig.Status(0), "ERROR");
        EXPECT_EQ(rig.app.espa.EspaState, 10);
        EXPECT_EQ(rig.NewLog(),
                  std::vector<std::string>{"ERROR: Transfer of SOH1 failed, recheck ESPA slave."});
        EXPECT_EQ(rig.NextSend(), "04");
        EXPECT_EQ(rig.tick, 22);
    }
}

TEST(ControlCharacterInValue, StatusCallBlockIsNotSentAndCallFails) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    AddCall(rig.app, "12\x05", "1", "x", "", "1", "3");
    rig.app.CallBuffer[0].Status = "QUEUE";
    rig.SkipLog();
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    rig.Feed("06");
    rig.Tick();
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.Status(0), "ERROR");
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{
                  "ERROR: Transmission of StatusRequest SOH3 failed. Recheck ESPA slave."});
    EXPECT_EQ(rig.TickHex(), "04");  // line check at once
}

TEST(EotAbort, RetryCountStopsAtTheSixteenBitFloor) {
    EngineRig rig;
    rig.app.espa.EspaState = 200;
    rig.app.espa.EspaTimer = 10;
    rig.app.espa.RetryCount = -32768;
    rig.Feed("04");
    EXPECT_EQ(rig.TickHex(), "04");
    EXPECT_EQ(rig.app.espa.RetryCount, -32768);
}

TEST(TimedOutCall, LateAckDoesNotReviveIt) {
    EngineRig rig;
    rig.app.settings.CallStatusCheck = 2;
    rig.StartWithGoodLine();
    rig.Add("111");
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    rig.Feed("06");
    rig.Tick();
    EXPECT_NE(rig.TickHex(), "");  // the block went out
    // The buffer gives the call up while the slave is still thinking.
    rig.app.CallBuffer[0].TimeOutCount = 1;
    CheckBufferTimeOuts(rig.app);
    ASSERT_EQ(rig.Status(0), "ERROR");
    rig.Feed("06");
    rig.Tick();
    EXPECT_EQ(rig.Status(0), "ERROR");
    // Nothing is left for the scheduler: the call is never polled again.
    for (int i = 0; i < 30; ++i)
        rig.Tick();
    EXPECT_EQ(rig.Status(0), "ERROR");
    EXPECT_NE(rig.app.espa.EspaState, 100);
    EXPECT_NE(rig.app.espa.EspaState, 150);
}

}  // namespace
}  // namespace zelvano::test
