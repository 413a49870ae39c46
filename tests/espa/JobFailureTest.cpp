// Every failing exchange of the jobs: its log line, the retry step, and the
// give-up line when no retry is left.
#include <gtest/gtest.h>

#include "EngineRig.h"

namespace zelvano::test {
namespace {

struct Failure {
    std::int16_t step;
    const char* slave;  // "" = nothing comes: time-out
    const char* errorLine;
    std::int16_t retryStep;
    const char* giveUpLine;
    bool pauseFive;  // give-up sets EspaTimer 5
};

const Failure kFailures[] = {
    {37, "15", "ERROR: At Transfer CallToEspaSlave: No ACK after 1ENQ, 2 ENQ received: &d 21", 30,
     "ERROR: 3 times failure, recheck ESPA slave", true},
    {37, "", "ERROR: After sending 1 ENQ 2 ENQ no ACK received.", 30,
     "ERROR: 3 times fault, recheck ESPA slave.", true},
    {45, "15", "ERROR: No ACK on transmitted ESPA, but: %d 21", 30,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {45, "", "ERROR: TimeOut receiving ACK from ESPA slave", 20,
     "ERROR 3 times fault, recheck ESPA slave", false},
    {107, "15", "ERROR: No ACK received after Status Poll&Select, but &d 21", 20,
     "ERROR: Fault 3 times, recheck ESPA slave.", false},
    {107, "", "ERROR: TimeOut at receiving ACK after 1ENQ 2 ENQ Poll Select.", 20,
     "ERROR: Fault remains 3 times, recheck ESPA slave.", false},
    {110, "15", "ERROR: No ACK received at StatusRequest SOH3, but &d 21", 20,
     "ERROR: Failed 3 times to receive. Recheck ESPA slave.", false},
    {110, "", "ERROR: TimeOut receiving ACK.", 20, "ERROR: Failed 3 times, recheck ESPA slave.",
     false},
    {170, "41", "After Poll&Select expected '1', but received: (&dec)  65", 20,
     "ERROR: Failed 3 times, recheck ESPA slave", false},
    {170, "06", "After Poll&Select expected '1', but received: (&dec)  6", 20,
     "ERROR: Failed 3 times, recheck ESPA slave", false},
    {170, "", "ERROR: TimeOut receiving 1 ENQ from Slave. Terminated.", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {180, "32", "ERROR: After Poll&Select received no '2', but: &d 50", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {180, "", "ERROR: TimeOut receiving 1 ENQ from Slave. Terminated.", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {200, "", "ERROR: TimeOut receiving Status from Slave. Terminated.", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {210, "29", "ERROR: Incorrect CheckSum received. Expected: 40 Received: 41", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {210, "", "ERROR: TimeOut receiving Checksum. Terminated.", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
};

// A rig in the failing step, serving the call at position 1 of two.
void EnterStep(EngineRig& rig, const Failure& f, std::int16_t retries) {
    rig.Add("100");
    rig.Add("101");
    rig.app.CallBuffer[1].Status = "QUEUE";
    rig.app.espa.EspaPosition = 1;
    rig.app.espa.EspaCallId = rig.app.CallBuffer[1].CallId;
    rig.app.espa.RetryCount = retries;
    rig.app.espa.Bcc = 0x28;
    rig.app.espa.EspaState = f.step;
    // A byte is read before its time runs out; silence runs out on this tick.
    rig.app.espa.EspaTimer = *f.slave != '\0' ? 10 : 1;
    rig.Feed(f.slave);
    rig.SkipLog();
}

TEST(JobFailure, RetryGoesToTheNamedStepAndCostsOneRetry) {
    for (const Failure& f : kFailures) {
        EngineRig rig(1);
        EnterStep(rig, f, 2);
        EXPECT_EQ(rig.TickHex(), "") << f.errorLine;
        EXPECT_EQ(rig.app.espa.EspaState, f.retryStep) << f.errorLine;
        EXPECT_EQ(rig.app.espa.RetryCount, 1) << f.errorLine;
        EXPECT_EQ(rig.Status(1), "QUEUE") << f.errorLine;
        EXPECT_EQ(rig.NewLog(), std::vector<std::string>{f.errorLine});
    }
}

TEST(JobFailure, NoRetryLeftGivesUpToLineCheckWithCallInError) {
    for (std::int16_t retries : {0, -2}) {
        for (const Failure& f : kFailures) {
            EngineRig rig(1);
            EnterStep(rig, f, retries);
            const std::int16_t timerAfterTick =
                static_cast<std::int16_t>(rig.app.espa.EspaTimer - 1);
            EXPECT_EQ(rig.TickHex(), "") << f.errorLine;
            EXPECT_EQ(rig.app.espa.EspaState, 10) << f.errorLine;
            EXPECT_EQ(rig.app.espa.EspaTimer, f.pauseFive ? 5 : timerAfterTick) << f.errorLine;
            EXPECT_EQ(rig.app.espa.RetryCount, retries) << f.errorLine;
            EXPECT_EQ(rig.Status(1), "ERROR") << f.errorLine;
            EXPECT_EQ(rig.Status(0), "NEW") << f.errorLine;
            EXPECT_EQ(rig.NewLog(), (std::vector<std::string>{f.errorLine, f.giveUpLine}));
        }
    }
}

TEST(JobFailure, LevelZeroLogsNoFailure) {
    for (const Failure& f : kFailures) {
        EngineRig rig(0);
        EnterStep(rig, f, 0);
        rig.Tick();
        EXPECT_EQ(rig.Status(1), "ERROR") << f.errorLine;
        EXPECT_TRUE(rig.view.allLines.empty()) << f.errorLine;
        EXPECT_EQ(rig.view.showLogLinesCount, 0) << f.errorLine;
    }
}

// While the reply time runs and nothing comes, a step only waits.
TEST(JobFailure, WaitingStepsSendNothingUntilTheirTimeRunsOut) {
    for (const Failure& f : kFailures) {
        if (*f.slave != '\0')
            continue;  // the time-out rows
        EngineRig rig(1);
        EnterStep(rig, f, 2);
        rig.line.input.clear();
        rig.app.espa.EspaTimer = 5;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(rig.TickHex(), "") << f.errorLine;
        EXPECT_EQ(rig.app.espa.EspaState, f.step) << f.errorLine;
        rig.Tick();
        EXPECT_EQ(rig.app.espa.EspaState, f.retryStep) << f.errorLine;
    }
}

}  // namespace
}  // namespace zelvano::test
