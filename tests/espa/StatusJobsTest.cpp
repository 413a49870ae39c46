// The status call, the status request and the scheduler's choice of job.
#include <gtest/gtest.h>

#include "EngineRig.h"
#include "espa/EspaFormat.h"

namespace zelvano::test {
namespace {

constexpr const char* kPagedBlock = "01 32 02 31 1F 31 32 33 1E 37 1F 33 03 28";

// A good line and one call at position 0 that the slave has accepted.
void QueuedCall(EngineRig& rig, const std::string& address = "123") {
    rig.StartWithGoodLine();  // ends on tick 8
    rig.Add(address);
    rig.app.CallBuffer[0].Status = "QUEUE";
    rig.app.espa.RetryCount = 3;
    rig.SkipLog();
}

std::string StatusCallBlockHex(EngineRig& rig, int position) {
    const std::string body = "3\x02" + BuildEspaData(rig.app, static_cast<std::int16_t>(position));
    const std::string block = "\x01" + body + static_cast<char>(BlockCheck(body));
    return ToHex(std::vector<std::uint8_t>(block.begin(), block.end()));
}

TEST(StatusJobs, StatusCallThenStatusRequestMakeTheCallPaged) {
    EngineRig rig;
    QueuedCall(rig);
    const std::string block = StatusCallBlockHex(rig, 0);
    RunTranscript(rig, {
                           {0, "", 10, "04"},
                           {0, "", 15, "31 05 32 05"},
                           {0, "06", 17, block.c_str()},
                           {0, "06", 19, "04"},
                           {0, "", 24, "32 05"},
                           {0, "31 05", 26, "06"},
                           {0, kPagedBlock, 29, "06"},  // ETX on 27, check on 28
                       });
    EXPECT_EQ(rig.Status(0), "PAGED");
    EXPECT_EQ(rig.view.lastBuffer[0].Status, "PAGED");
    EXPECT_EQ(rig.app.espa.EspaState, 20);
    EXPECT_EQ(rig.NewLog(), (std::vector<std::string>{
                                "StatusCall: 1 ENQ 2 ENQ sent.",
                                "StatusCall: ACK received on Poll (1 ENQ, 2 ENQ).",
                                "StatusCall: Sent StatusCall (SOH3).",
                                "StatusCall: ACK received on StatusCall (SOH3).",
                                "StatusRequest: 2 ENQ sent.",
                                "StatusRequest: '1' received on reversed poll.",
                                "StatusRequest: ENQ received on reversed poll, ACK sent.",
                                "StatusRequest: ETX received, awaiting Checksum.",
                                "StatusRequest: Checksum received and OK.",
                                "StatusRequest: Status received, ACK sent.",
                                "STATUS: Call from ScreenPosition: 0 is now: PAGED",
                            }));
}

TEST(StatusJobs, LevelOneLogsOnlyTheNewState) {
    EngineRig rig(1);
    rig.app.settings.CallStatusCheck = 1;
    QueuedCall(rig);
    RunTranscript(rig, {{0, "", 10, "04"},
                        {0, "", 15, "32 05"},
                        {0, "31 05", 17, "06"},
                        {0, kPagedBlock, 20, "06"}});
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{"STATUS: Call from ScreenPosition: 0 is now: PAGED"});
}

TEST(StatusJobs, WrongCheckCharacterIsNotAcknowledgedAndTheRequestRepeats) {
    for (std::int16_t statusCheck : {0, 1}) {
        EngineRig rig(1);
        rig.app.settings.CallStatusCheck = 1;
        QueuedCall(rig);
        RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "32 05"}, {0, "31 05", 17, "06"}});
        rig.app.settings.CallStatusCheck = statusCheck;
        rig.Feed("01 32 02 31 1F 31 32 33 1E 37 1F 33 03 29");
        EXPECT_EQ(rig.TickHex(), "");
        EXPECT_EQ(rig.TickHex(), "");  // the check character: no ACK
        EXPECT_EQ(rig.app.espa.EspaState, 20);
        EXPECT_EQ(rig.TickHex(), "");  // scheduler starts over
        EXPECT_EQ(rig.app.espa.EspaState, statusCheck == 0 ? 100 : 150);
        EXPECT_EQ(rig.TickHex(), "04");
        EXPECT_EQ(rig.Status(0), "QUEUE");
        EXPECT_EQ(rig.NewLog(),
                  std::vector<std::string>{
                      "ERROR: Incorrect CheckSum received. Expected: 40 Received: 41"});
    }
}

TEST(StatusJobs, CommTechSkipsStatusCallAndIgnoresTheCheckCharacter) {
    EngineRig rig(2);
    rig.app.settings.Emulatie = 5;
    QueuedCall(rig);
    rig.app.settings.Logfile = 1;
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.app.espa.EspaState, 150);
    EXPECT_EQ(rig.NewLog(), std::vector<std::string>{
                                "Not using SOH3 with CommTechWireLess. Is not implemented there."});
    rig.app.settings.Logfile = 2;
    RunTranscript(rig, {{0, "", 10, "04"},
                        {0, "", 15, "32 05"},
                        {0, "31 05", 17, "06"},
                        {0, "01 32 02 31 1F 31 32 33 1E 37 1F 34 03 99", 20, "06"}});
    EXPECT_EQ(rig.Status(0), "ABSENT");
    const auto log = rig.NewLog();
    EXPECT_NE(
        std::find(log.begin(), log.end(),
                  "StatusRequest: PATCH Commtech IGNORE checksum. Expected: 47 Received: 153"),
        log.end());
    for (const auto& line : rig.view.allLines)
        EXPECT_EQ(line.find("StatusCall"), std::string::npos);
}

TEST(StatusJobs, StatusBlockOverSeveralTicks) {
    EngineRig rig;
    rig.app.settings.CallStatusCheck = 1;
    QueuedCall(rig);
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "32 05"}, {0, "31 05", 17, "06"}});
    const char* pieces[] = {"01 32", "02 31 1F", "", "31 32 33 1E", "37 1F 33", "", "03"};
    for (const char* piece : pieces) {
        rig.Feed(piece);
        EXPECT_EQ(rig.TickHex(), "");
        EXPECT_EQ(rig.app.espa.EspaState, *piece == '0' && piece[1] == '3' ? 210 : 200) << piece;
    }
    rig.Feed("28");
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.TickHex(), "06");
    EXPECT_EQ(rig.Status(0), "PAGED");
}

TEST(StatusJobs, StatusBlockLimitCountsHundredTicksFromTheAck) {
    EngineRig rig(1);
    rig.app.settings.CallStatusCheck = 1;
    QueuedCall(rig);
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "32 05"}, {0, "31 05", 17, "06"}});
    rig.Feed("01 32 02 31");
    for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(rig.TickHex(), "");
        EXPECT_EQ(rig.app.espa.EspaState, 200);
    }
    rig.Tick();  // tick 117: 100 ticks after the ACK
    EXPECT_EQ(rig.app.espa.EspaState, 20);
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{"ERROR: TimeOut receiving Status from Slave. Terminated."});
}

TEST(StatusJobs, EotAbortsDriveRetryCountBelowZeroThenNextFailureGivesUp) {
    EngineRig rig(2);
    rig.app.settings.CallStatusCheck = 1;
    QueuedCall(rig);
    rig.app.espa.RetryCount = 1;
    int tick = 9;
    for (int abort = 0; abort < 3; ++abort) {
        RunTranscript(rig, {{0, "", tick + 1, "04"},
                            {0, "", tick + 6, "32 05"},
                            {0, "31 05", tick + 8, "06"},
                            {0, "01 32 02 31 04", tick + 9, "04"}});
        EXPECT_EQ(rig.app.espa.RetryCount, 1 - abort - 1);
        EXPECT_EQ(rig.app.espa.EspaState, 20);
        EXPECT_EQ(rig.Status(0), "QUEUE");
        tick += 10;
    }
    EXPECT_EQ(rig.CountLog("StatusRequest: EOT received while receiving status. Aborted."), 3);
    rig.app.settings.Logfile = 1;
    RunTranscript(rig, {{0, "", tick + 1, "04"}, {0, "", tick + 6, "32 05"}});
    rig.SkipLog();
    rig.Feed("41");
    rig.Tick();
    EXPECT_EQ(rig.Status(0), "ERROR");
    EXPECT_EQ(rig.app.espa.EspaState, 10);
    EXPECT_EQ(rig.NewLog(),
              (std::vector<std::string>{"After Poll&Select expected '1', but received: (&dec)  65",
                                        "ERROR: Failed 3 times, recheck ESPA slave"}));
}

TEST(StatusJobs, PollAnsweredByEotEndsQuietlyAndPollsAgain) {
    EngineRig rig(2);
    rig.app.settings.CallStatusCheck = 1;
    QueuedCall(rig);
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "32 05"}, {0, "04", 18, "04"}});
    EXPECT_EQ(rig.Status(0), "QUEUE");
    EXPECT_EQ(rig.app.espa.RetryCount, 3);
    EXPECT_EQ(rig.NewLog(),
              (std::vector<std::string>{"StatusRequest: 2 ENQ sent.",
                                        "StatusRequest: No info available (yet). Retry later."}));
}

TEST(StatusJobs, LateEnqIsATimeOut) {
    EngineRig rig(1);
    rig.app.settings.CallStatusCheck = 1;
    QueuedCall(rig);
    RunTranscript(rig, {{0, "", 10, "04"}, {0, "", 15, "32 05"}});
    rig.Feed("31");
    rig.Tick();  // tick 16: '1', 20 ticks for the ENQ
    for (int i = 0; i < 19; ++i)
        EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.app.espa.EspaState, 180);
    rig.Tick();
    EXPECT_EQ(rig.app.espa.EspaState, 20);
    rig.Feed("05");
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{"ERROR: TimeOut receiving 1 ENQ from Slave. Terminated."});
}

TEST(Scheduler, FirstQueueOrNewPositionWinsAndQueueRunsItsStatusJob) {
    EngineRig rig(4);
    rig.StartWithGoodLine();
    for (const char* a : {"10", "11", "12", "13"})
        rig.Add(a);
    rig.app.CallBuffer[0].Status = "PAGED";
    rig.app.CallBuffer[1].Status = "QUEUE";
    rig.app.CallBuffer[2].Status = "ERROR";
    rig.app.espa.RetryCount = 2;
    rig.SkipLog();
    rig.Tick();
    EXPECT_EQ(rig.app.espa.EspaState, 100);
    EXPECT_EQ(rig.app.espa.EspaPosition, 1);
    EXPECT_EQ(rig.app.espa.RetryCount, 2);  // not reset for a status job
    EXPECT_EQ(rig.NewLog(), std::vector<std::string>{"CallStatus is QUEUE for Position:  1"});
    const std::string block = StatusCallBlockHex(rig, 1);
    RunTranscript(rig,
                  {{0, "", 10, "04"}, {0, "", 15, "31 05 32 05"}, {0, "06", 17, block.c_str()}});
    rig.app.CallBuffer[1].Status = "BUSY";
    rig.app.espa.EspaState = 20;
    rig.SkipLog();
    rig.Tick();
    EXPECT_EQ(rig.app.espa.EspaState, 30);
    EXPECT_EQ(rig.app.espa.EspaPosition, 3);
    EXPECT_EQ(rig.app.espa.RetryCount, 3);
    EXPECT_EQ(rig.NewLog(), std::vector<std::string>{"CallStatus is NEW for Position:  3"});
}

TEST(Scheduler, StatusCheckKindDecidesTheJob) {
    struct Case {
        std::int16_t emulatie, statusCheck;
        std::int16_t step;
        const char* state;
    };
    const Case cases[] = {
        {1, 0, 100, "QUEUE"}, {1, 1, 150, "QUEUE"},    {5, 0, 150, "QUEUE"},
        {5, 1, 150, "QUEUE"}, {1, 2, 20, "NO STATUS"}, {5, 2, 20, "NO STATUS"},
        {1, 3, 20, "ERROR"},  {1, -1, 20, "ERROR"},
    };
    for (const Case& c : cases) {
        EngineRig rig(1);
        rig.app.settings.Emulatie = c.emulatie;
        rig.app.settings.CallStatusCheck = c.statusCheck;
        rig.app.settings.CheckInterval = 100;
        rig.StartWithGoodLine();
        rig.Add("1");
        rig.app.CallBuffer[0].Status = "QUEUE";
        const int redraws = rig.view.showCallBufferCount;
        rig.Tick();
        EXPECT_EQ(rig.app.espa.EspaState, c.step) << c.emulatie << "/" << c.statusCheck;
        EXPECT_EQ(rig.Status(0), c.state) << c.emulatie << "/" << c.statusCheck;
        EXPECT_EQ(rig.view.showCallBufferCount, redraws + (c.step == 20 ? 1 : 0));
        // A call that left "QUEUE" is not looked at again.
        for (int i = 0; i < 30 && c.step == 20; ++i)
            EXPECT_EQ(rig.TickHex(), "");
    }
}

TEST(Scheduler, IdleBufferIsScannedEveryElevenTicks) {
    EngineRig rig;
    rig.app.settings.CheckInterval = 1000;
    rig.app.settings.CallStatusCheck = 2;
    rig.StartWithGoodLine();
    rig.Tick();  // tick 9: empty scan
    EXPECT_EQ(rig.app.espa.ScanDelay, 10);
    rig.Add("1");
    EXPECT_EQ(rig.NextSend(), "04");
    EXPECT_EQ(rig.tick, 21);  // scan on 20, make call from 21
}

TEST(Scheduler, LineCheckWaitsWhileCallsArePending) {
    EngineRig rig;
    rig.app.settings.CallStatusCheck = 1;
    rig.app.settings.CheckInterval = 0;
    QueuedCall(rig);
    // The slave never has a status: the call is polled over and over.
    for (int i = 0; i < 300; ++i) {
        const std::string sent = rig.TickHex();
        EXPECT_NE(sent, "31 05 32 05") << "tick " << rig.tick;
        if (sent == "32 05")
            rig.Feed("04");
    }
    // Once the call is no longer pending, the line check follows the current job.
    rig.app.CallBuffer[0].Status = "BUSY";
    bool checked = false;
    for (int i = 0; i < 100 && !checked; ++i) {
        const std::string sent = rig.TickHex();
        checked = sent == "31 05 32 05";
        if (sent == "32 05")
            rig.Feed("04");
    }
    EXPECT_TRUE(checked);
}

}  // namespace
}  // namespace zelvano::test
