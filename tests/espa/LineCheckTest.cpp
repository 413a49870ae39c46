// The start request, the periodic line check and LineOk.
#include <gtest/gtest.h>

#include "EngineRig.h"

namespace zelvano::test {
namespace {

TEST(LineCheck, StartSendsEotThenPollFiveTicksLaterAndEotAfterAck) {
    EngineRig rig;
    rig.app.settings.CheckInterval = 7;
    EXPECT_EQ(rig.TickHex(10), "");  // the start request itself
    EXPECT_EQ(rig.app.espa.EspaState, 10);
    RunTranscript(rig, {
                           {0, "", 2, "04"},
                           {0, "", 7, "31 05 32 05"},
                           {0, "06", 8, "04"},
                       });
    EXPECT_EQ(rig.app.espa.LineOk, 1);
    EXPECT_EQ(rig.app.espa.EspaState, 20);
    EXPECT_EQ(rig.app.espa.CheckCountdown, 7);
    EXPECT_EQ(rig.app.espa.ScanDelay, 0);
    EXPECT_EQ(rig.line.discardCount, 1);  // ClearInput before the poll
    EXPECT_EQ(rig.NewLog(), (std::vector<std::string>{"Test ESPA connection 1 ENQ 2 ENQ sent.",
                                                      "Test ESPA connection ACK received -> OK!"}));
}

TEST(LineCheck, PollOnlyKindAcceptsEotOrAck) {
    struct Case {
        const char* answer;
        const char* message;
    };
    const Case cases[] = {{"04", "Test ESPA connection EOT received -> OK!"},
                          {"06", "Test ESPA connection ACK received -> OK!"}};
    for (const Case& c : cases) {
        EngineRig rig;
        rig.app.settings.LineCheck = 1;
        rig.Tick(10);
        RunTranscript(rig, {{0, "", 2, "04"}, {0, "", 7, "32 05"}, {0, c.answer, 8, "04"}});
        EXPECT_EQ(rig.app.espa.LineOk, 1) << c.answer;
        EXPECT_EQ(rig.NewLog(),
                  (std::vector<std::string>{"Test ESPA connection 2 ENQ sent.", c.message}));
    }
}

TEST(LineCheck, WrongByteDoesNotEndTheCheckEarly) {
    EngineRig rig;
    rig.Tick(10);
    RunTranscript(rig, {{0, "", 2, "04"}, {0, "", 7, "31 05 32 05"}});
    rig.Feed("15");
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.app.espa.EspaState, 15);
    EXPECT_EQ(rig.app.espa.LineOk, 0);
    RunTranscript(rig, {{3, "06", 12, "04"}});
    EXPECT_EQ(rig.app.espa.LineOk, 1);
}

TEST(LineCheck, SilentSlaveIsCheckedAgainEvery75Ticks) {
    EngineRig rig(1);
    rig.Tick(10);
    RunTranscript(rig, {
                           {0, "", 2, "04"},
                           {0, "", 7, "31 05 32 05"},
                           {0, "", 77, "04"},  // time-out on tick 27, then a 50-tick pause
                           {0, "", 82, "31 05 32 05"},
                           {0, "", 152, "04"},
                       });
    EXPECT_EQ(rig.app.espa.LineOk, 0);
    // -1 -> 0 says nothing: the time-out message needs a good line before.
    EXPECT_TRUE(rig.NewLog().empty());
}

// At level 1 only changes of LineOk are reported.
TEST(LineCheck, LevelOneReportsOnlyChanges) {
    EngineRig rig(1);
    rig.app.settings.CheckInterval = 3;
    rig.Tick(10);
    RunTranscript(rig, {{0, "", 2, "04"}, {0, "", 7, "31 05 32 05"}, {0, "06", 8, "04"}});
    EXPECT_EQ(rig.NewLog(), std::vector<std::string>{"Test ESPA connection -> OK!"});
    // Countdown 3 runs out on tick 11: the next check starts on tick 12.
    RunTranscript(rig, {{0, "", 12, "04"}, {0, "", 17, "31 05 32 05"}, {0, "06", 18, "04"}});
    EXPECT_TRUE(rig.NewLog().empty());
    RunTranscript(rig, {{0, "", 22, "04"}, {0, "", 27, "31 05 32 05"}});
    rig.Feed("15");
    rig.Tick();
    EXPECT_EQ(rig.NewLog(), std::vector<std::string>{"Test ESPA connection -> ERROR."});
    EXPECT_EQ(rig.app.espa.LineOk, 0);
    rig.Feed("15");
    rig.Tick();
    EXPECT_TRUE(rig.NewLog().empty());  // already failed
    RunTranscript(rig, {{0, "", 97, "04"}, {0, "", 102, "31 05 32 05"}, {0, "06", 103, "04"}});
    EXPECT_EQ(rig.NewLog(), std::vector<std::string>{"Test ESPA connection -> OK!"});
    RunTranscript(rig, {{0, "", 107, "04"}, {0, "", 112, "31 05 32 05"}, {0, "", 182, "04"}});
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{
                  "Test ESPA connection -> TimeOut receiving data from slave device."});
    EXPECT_EQ(rig.app.espa.LineOk, 0);
}

TEST(LineCheck, LevelZeroLogsNothingAndLevelTwoEveryCheck) {
    for (std::int16_t level : {0, 2}) {
        EngineRig rig(level);
        rig.app.settings.CheckInterval = 0;
        rig.Tick(10);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(rig.NextSend(), "04");
            EXPECT_EQ(rig.NextSend(), "31 05 32 05");
            rig.Feed("06");
            EXPECT_EQ(rig.NextSend(), "04");
        }
        EXPECT_EQ(rig.CountLog("Test ESPA connection ACK received -> OK!"), level == 2 ? 3 : 0);
        EXPECT_EQ(rig.view.allLines.size(), level == 2 ? 6u : 0u);
    }
}

TEST(LineCheck, SlaveWithDataOnPollOnlyGoesToTheStatusRequest) {
    EngineRig rig(1);
    rig.app.settings.LineCheck = 1;
    rig.app.espa.EspaTimer = 0;
    rig.Tick(10);
    RunTranscript(rig, {{0, "", 2, "04"}, {0, "", 7, "32 05"}});
    rig.Feed("31");
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.app.espa.EspaState, 180);
    EXPECT_EQ(rig.app.espa.LineOk, -1);     // unchanged
    EXPECT_EQ(rig.app.espa.EspaTimer, 19);  // the poll's reply time keeps running
    EXPECT_EQ(rig.NewLog(),
              std::vector<std::string>{
                  "Test ESPA connection antwoord 1 op Poll, dus er zijn gegevens..."});
}

TEST(LineCheck, UnknownKindSendsNoPollAndIgnoresBytes) {
    EngineRig rig;
    rig.app.settings.LineCheck = 2;
    rig.Tick(10);
    EXPECT_EQ(rig.NextSend(), "04");
    for (int i = 0; i < 10; ++i) {
        rig.Feed("06");
        EXPECT_EQ(rig.TickHex(), "");
    }
    EXPECT_EQ(rig.app.espa.EspaState, 15);
    EXPECT_EQ(rig.app.espa.LineOk, -1);
    EXPECT_EQ(rig.NewLog(), std::vector<std::string>{"Test ESPA connection 2 ENQ sent."});
}

TEST(HandleEspa, IdleUntilStartRequest) {
    EngineRig rig;
    rig.app.espa.EspaTimer = 3;
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.app.espa.EspaState, 0);
    EXPECT_EQ(rig.app.espa.EspaTimer, 0);
    rig.Tick(10);
    EXPECT_EQ(rig.app.espa.EspaState, 10);
}

TEST(HandleEspa, StartRequestOutsideIdleIsAnOrdinaryTick) {
    EngineRig plain, requested;
    for (EngineRig* rig : {&plain, &requested}) {
        rig->StartWithGoodLine();
        rig->app.espa.ScanDelay = 4;
        rig->app.espa.CheckCountdown = 9;
    }
    plain.Tick(0);
    requested.Tick(10);
    EXPECT_EQ(requested.app.espa.EspaState, 20);
    EXPECT_EQ(requested.app.espa.ScanDelay, plain.app.espa.ScanDelay);
    EXPECT_EQ(requested.app.espa.CheckCountdown, plain.app.espa.CheckCountdown);
}

TEST(HandleEspa, UnknownStepIsLoggedAndAnsweredWithLineCheck) {
    for (std::int16_t step : {1, 12, 99, 221, -5}) {
        EngineRig rig(1);
        rig.app.espa.EspaState = step;
        EXPECT_EQ(rig.TickHex(), "");
        EXPECT_EQ(rig.app.espa.EspaState, 10);
        EXPECT_EQ(rig.NewLog(), std::vector<std::string>{"Zelvano software in default."});
        EXPECT_EQ(rig.TickHex(), "04");
    }
}

TEST(HandleEspa, TimersCountDownButNeverBelowZero) {
    EngineRig rig;
    rig.app.espa.EspaState = 10;
    rig.app.espa.EspaTimer = 2;
    rig.app.espa.CheckCountdown = 1;
    EXPECT_EQ(rig.TickHex(), "");
    EXPECT_EQ(rig.app.espa.EspaTimer, 1);
    EXPECT_EQ(rig.app.espa.CheckCountdown, 0);
    EXPECT_EQ(rig.TickHex(), "04");
    EXPECT_EQ(rig.app.espa.CheckCountdown, 0);
}

}  // namespace
}  // namespace zelvano::test
