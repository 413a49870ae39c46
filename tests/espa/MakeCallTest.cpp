// The make-call job: select, call block, ACK; retries and give-ups.
#include <gtest/gtest.h>

#include "EngineRig.h"

namespace zelvano::test {
namespace {

constexpr const char* kHelloBlock =
    "01 31 02 31 1F 31 32 33 1E 32 1F 48 45 4C 4C 4F 1E 33 1F 31 1E 34 1F 33 1E 35 1F 32 03 5C";

// The worked example call: Address 123, Alfa HELLO, NrOfTx 2, the rest empty.
void AddHello(EngineRig& rig) {
    AddCall(rig.app, "123", "", "HELLO", "", "2", "");
}

TEST(MakeCall, DeliversTheCallAndTheAckTurnsItQueue) {
    EngineRig rig;
    rig.app.settings.CallStatusCheck = 2;
    rig.StartWithGoodLine();  // ends on tick 8
    AddHello(rig);
    rig.SkipLog();
    const int redraws = rig.view.showCallBufferCount;
    RunTranscript(rig, {
                           {0, "", 10, "04"},
                           {0, "", 15, "31 05 32 05"},
                           {0, "06", 17, kHelloBlock},  // one tick after the ACK was read
                       });
    EXPECT_EQ(rig.app.espa.EspaTimer, 50);
    rig.Feed("06");
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.Status(0), "QUEUE");
    EXPECT_EQ(rig.app.espa.EspaState, 20);
    // The row shows "QUEUE" at once, not only at some later redraw.
    EXPECT_EQ(rig.view.showCallBufferCount, redraws + 1);
    EXPECT_EQ(rig.view.lastBuffer[0].Status, "QUEUE");
    EXPECT_EQ(rig.NewLog(), (std::vector<std::string>{
                                "MakeCall: sequence started, 1 ENQ 2 ENQ sent.",
                                "MakeCall: ACK received, sent call (SOH1).",
                                "MakeCall: Sent Call (SOH1).",
                                "MakeCall: Sent Call, ACK received (SOH1).",
                            }));
    // With CallStatusCheck 2 the next scan ends the call's road.
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.Status(0), "NO STATUS");
    EXPECT_EQ(rig.view.showCallBufferCount, redraws + 2);
    EXPECT_EQ(rig.view.lastBuffer[0].Status, "NO STATUS");
}

TEST(MakeCall, NakToEveryBlockSendsFourBlocksThenGivesUp) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    AddHello(rig);
    rig.SkipLog();
    RunTranscript(rig, {
                           {0, "", 10, "04"},
                           {0, "", 15, "31 05 32 05"},
                           {0, "06", 17, kHelloBlock},
                           {0, "15", 19, "04"},  // NAK read on 18, retry from step 30
                           {0, "", 24, "31 05 32 05"},
                           {0, "06", 26, kHelloBlock},
                           {0, "15", 28, "04"},
                           {0, "", 33, "31 05 32 05"},
                           {0, "06", 35, kHelloBlock},
                           {0, "15", 37, "04"},
                           {0, "", 42, "31 05 32 05"},
                           {0, "06", 44, kHelloBlock},
                       });
    rig.Feed("15");
    EXPECT_EQ(rig.TickHex(), "");  // tick 45: give up, the rest of the wait runs on
    EXPECT_EQ(rig.Status(0), "ERROR");
    // The operator sees the give-up at once: no later redraw may ever come.
    EXPECT_EQ(rig.view.lastBuffer[0].Status, "ERROR");
    EXPECT_EQ(rig.app.espa.EspaState, 10);
    EXPECT_EQ(rig.app.espa.EspaTimer, 49);
    EXPECT_EQ(rig.NextSend(), "04");
    EXPECT_EQ(rig.tick, 94);
    const std::string nak = "ERROR: No ACK on transmitted ESPA, but: %d 21";
    EXPECT_EQ(rig.NewLog(), (std::vector<std::string>{
                                nak, nak, nak, nak, "ERROR: Failed 3 times, recheck ESPA slave."}));
}

TEST(MakeCall, SelectAnsweredByEotIsRefusedAndGivesUpWithPauseOfFive) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    AddHello(rig);
    rig.SkipLog();
    RunTranscript(rig, {
                           {0, "", 10, "04"},
                           {0, "", 15, "31 05 32 05"},
                           {0, "04", 17, "04"},
                           {0, "", 22, "31 05 32 05"},
                           {0, "04", 24, "04"},
                           {0, "", 29, "31 05 32 05"},
                           {0, "04", 31, "04"},
                           {0, "", 36, "31 05 32 05"},
                           {0, "04", 42, "04"},  // gave up on 37; line check after 5 ticks
                       });
    EXPECT_EQ(rig.Status(0), "ERROR");
    EXPECT_EQ(rig.app.espa.EspaState, 11);
    const std::string refused =
        "ERROR: At Transfer CallToEspaSlave: No ACK after 1ENQ, 2 ENQ received: &d 4";
    EXPECT_EQ(rig.NewLog(),
              (std::vector<std::string>{refused, refused, refused, refused,
                                        "ERROR: 3 times failure, recheck ESPA slave"}));
}

TEST(MakeCall, SilentSelectTimesOutAfterTwentyTicks) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    AddHello(rig);
    rig.SkipLog();
    RunTranscript(rig, {
                           {0, "", 10, "04"},
                           {0, "", 15, "31 05 32 05"},
                           {0, "", 36, "04"},  // time-out on 35, retry at step 30
                           {0, "", 41, "31 05 32 05"},
                       });
    EXPECT_EQ(rig.app.espa.RetryCount, 2);
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{"ERROR: After sending 1 ENQ 2 ENQ no ACK received."});
}

// The block time-out retries through the scheduler, which finds the call
// still "NEW" and starts over with three retries.
TEST(MakeCall, UnansweredBlockIsSentAgainWithRetriesReset) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    AddHello(rig);
    rig.SkipLog();
    RunTranscript(rig, {
                           {0, "", 10, "04"},
                           {0, "", 15, "31 05 32 05"},
                           {0, "06", 17, kHelloBlock},
                           {0, "", 69, "04"},  // time-out on 67, scheduler on 68
                       });
    EXPECT_EQ(rig.app.espa.RetryCount, 3);
    EXPECT_EQ(rig.Status(0), "NEW");
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{"ERROR: TimeOut receiving ACK from ESPA slave"});
}

TEST(MakeCall, BytesAfterTheSelectAckAnswerTheBlock) {
    EngineRig rig;
    rig.app.settings.CallStatusCheck = 2;
    rig.StartWithGoodLine();
    AddHello(rig);
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    rig.Feed("06 06");
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.TickHex(), kHelloBlock);  // no ClearInput before the block
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.Status(0), "QUEUE");
}

TEST(MakeCall, CharacterWithoutSingleByteCodeFailsTheCallBeforeSoh) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    AddCall(rig.app, "7", "1", "\xE2\x98\xBA smile", "", "1", "3");
    rig.SkipLog();
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    rig.Feed("06");
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.TickHex(), "");  // step 40: nothing at all goes out
    EXPECT_EQ(rig.Status(0), "ERROR");
    EXPECT_EQ(rig.app.espa.EspaState, 10);
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{"ERROR: Transfer of SOH1 failed, recheck ESPA slave."});
    EXPECT_EQ(rig.NextSend(), "04");
    EXPECT_EQ(rig.tick, 22);  // 5 ticks after the failure on 17
}

TEST(MakeCall, PortFailureDuringBlockFailsTheCall) {
    EngineRig rig(1);
    rig.StartWithGoodLine();
    AddHello(rig);
    rig.SkipLog();
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}});
    rig.Feed("06");
    rig.Tick();
    rig.line.failIo = true;
    rig.Tick();
    EXPECT_EQ(rig.Status(0), "ERROR");
    EXPECT_EQ(rig.app.espa.EspaState, 10);
    EXPECT_EQ(rig.app.espa.EspaTimer, 5);
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{"ERROR: Transfer of SOH1 failed, recheck ESPA slave."});
}

}  // namespace
}  // namespace zelvano::test
