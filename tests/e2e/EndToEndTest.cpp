// The engine over the real QSerialPort adapter and a pseudo-terminal, against
// espa-slave in its own process: each case notes the tick on which each state
// was reached and checks the exchange from both ends.
#include <gtest/gtest.h>

#include <map>

#include "common/Text.h"
#include "faults/ProcessRig.h"

namespace zelvano::proc {
namespace {

// A tick late now and then is a busy machine (an answer later than
// kAnswerMs), not the protocol.
constexpr int kSlackTicks = 2;

// The program over the real adapter, ticked by hand; it notes the first
// tick on which each state of row 0, engine step and line state showed.
// Start-up's call of the engine is tick 0.
struct Rig {
    bool Start(const QStringList& options, std::int16_t callStatusCheck) {
        Settings settings = LineSettings();
        settings.CheckInterval = 0;
        settings.CallStatusCheck = callStatusCheck;
        if (!slave.Start(dir.path(), options))
            return false;
        WriteSetup(dir.path(), settings, slave.pty);
        program = std::make_unique<Program>(dir.path());
        return Run([] { return true; }, 0) && program->boxes.empty();
    }
    bool Run(const std::function<bool()>& done, int max) {
        return program->Run(
            [&] {
                const App& app = program->Core();
                statusTick.try_emplace(app.CallBuffer[0].Status, program->ticks);
                stepTick.try_emplace(app.espa.EspaState, program->ticks);
                lineOkTick.try_emplace(app.espa.LineOk, program->ticks);
                return done();
            },
            max);
    }
    int LogCount(const std::string& text) {
        return Count(AnsiToUtf8(test::ReadFileBytes(DayLog(dir.path(), "Log"))), text);
    }
    std::string Story() {
        std::string story = "ticks:";
        for (const auto& [status, at] : statusTick)
            story += " " + status + "@" + std::to_string(at);
        return story + "\nslave:\n" + slave.Output();
    }

    test::TempDir dir;
    Slave slave;
    std::unique_ptr<Program> program;
    std::map<std::string, int> statusTick;
    std::map<int, int> stepTick, lineOkTick;
};

struct CallCase {
    const char* name;
    QStringList options;
    std::int16_t callStatusCheck;  // 0: a status call block before each poll
    std::string address, final;
    int queueTicks;  // ticks from the pick to QUEUE, -1: never QUEUE
    int finalTicks;  // ... to the final state; negative: at least that many
    std::vector<std::pair<std::string, int>> log, slaveSaw;  // text, how often
};

const CallCase kCalls[] = {
    // Pick, EOT, 5 ticks, select, ACK, block, ACK: QUEUE. Then EOT, 5 ticks,
    // select, ACK, SOH 3 block, ACK, EOT, 5 ticks, poll, '1' ENQ, ACK, status
    // block, check character, ACK.
    {"StatusCallThenPaged",
     {"--script", "DEFAULT=PAGED"},
     0,
     "1234",
     "PAGED",
     9,
     30,
     {{"STATUS: Call from ScreenPosition: 0 is now: PAGED", 1}},
     {{"<- call block: 1=1234 2=Hello 3=1 4=3 5=1 6=3 BCC ok", 1},
      {"<- status call block: 1=1234", 1},
      {"status PAGED for call 1234 delivered", 1}}},
    // Polls only: QUEUE reported (12 ticks), two polls answered EOT (8 each),
    // PAGED reported (12).
    {"DefaultScriptHoldsTwoPolls",
     {},
     1,
     "555",
     "PAGED",
     9,
     49,
     {{"STATUS: Call from ScreenPosition: 0 is now: QUEUE", 1},
      {"StatusRequest: No info available (yet). Retry later.", 2}},
     {{"nothing yet", 2}}},
    // Four rounds of EOT, 5 ticks, select, ACK, block, NAK.
    {"NakEveryBlockEndsInError",
     {"--nak-block", "always"},
     0,
     "4321",
     "ERROR",
     -1,
     36,
     {{"ERROR: No ACK on transmitted ESPA, but: %d 21", 4},
      {"ERROR: Failed 3 times, recheck ESPA slave.", 1}},
     {{"-> NAK (--nak-block)", 4}}},
    // Noise before the first answer, a wrong check character on the first
    // status block and every status block in three pieces: two status
    // requests after the make call, and still PAGED.
    {"RecoversFromNoiseBadCheckAndSplitBlocks",
     {"--script", "DEFAULT=PAGED", "--noise", "first=1", "--bad-bcc", "first=1", "--split", "3,60"},
     1,
     "99",
     "PAGED",
     9,
     -34,
     {{"ERROR: Incorrect CheckSum received. Expected: ", 1},
      {"StatusRequest: Checksum received and OK.", 1}},
     {{"-> noise (--noise)", 1}, {"[piece 3 of 3", 2}}},
};
void PrintTo(const CallCase& c, std::ostream* out) {
    *out << c.name;
}

class EndToEnd : public testing::TestWithParam<CallCase> {};

TEST_P(EndToEnd, Call) {
    const CallCase& c = GetParam();
    Rig rig;
    ASSERT_TRUE(rig.Start(c.options, c.callStatusCheck));
    ASSERT_TRUE(rig.Run([&] { return rig.program->Core().espa.LineOk == 1; }, 60)) << rig.Story();
    rig.program->EnterCall(QString::fromStdString(c.address));
    const int called = rig.program->ticks;
    rig.stepTick.clear();
    const std::string& state = rig.program->Core().CallBuffer[0].Status;
    ASSERT_TRUE(rig.Run([&] { return state != "NEW" && state != "QUEUE"; }, 200)) << rig.Story();
    EXPECT_EQ(state, c.final) << rig.Story();
    // The scheduler takes the call within one scan delay.
    ASSERT_EQ(rig.stepTick.count(30), 1u) << rig.Story();
    const int picked = rig.stepTick[30];
    EXPECT_LE(picked - called, 11 + kSlackTicks) << rig.Story();
    auto expectTicks = [&](const std::string& status, int expected) {
        const int actual = rig.statusTick.count(status) ? rig.statusTick[status] - picked : -1;
        EXPECT_GE(actual, std::abs(expected)) << status << "\n" << rig.Story();
        EXPECT_TRUE(expected < 0 || actual <= expected + kSlackTicks) << status << " " << actual;
    };
    if (c.queueTicks >= 0)
        expectTicks("QUEUE", c.queueTicks);
    else
        EXPECT_EQ(rig.statusTick.count("QUEUE"), 0u) << rig.Story();
    expectTicks(c.final, c.finalTicks);
    for (const auto& [text, times] : c.log)
        EXPECT_EQ(rig.LogCount(text), times) << text;
    for (const auto& [text, times] : c.slaveSaw)
        EXPECT_EQ(rig.slave.Count(text), times) << text << "\n" << rig.Story();
    EXPECT_TRUE(rig.slave.Stop()) << rig.Story();
}

INSTANTIATE_TEST_SUITE_P(Slave, EndToEnd, testing::ValuesIn(kCalls),
                         [](const auto& info) { return std::string(info.param.name); });

// A slave that never answers: tick 1 EOT, tick 6 the select, 20 ticks of
// waiting, and the line check fails.
TEST(EndToEndLineCheck, SilentSlaveFailsTheLineCheck) {
    Rig rig;
    ASSERT_TRUE(rig.Start({"--silent"}, 0));
    rig.Run([] { return false; }, 30);
    EXPECT_EQ(rig.lineOkTick, (std::map<int, int>{{-1, 0}, {0, 26}})) << rig.Story();
    EXPECT_GE(rig.slave.Count("<- '1' ENQ '2' ENQ (select)"), 1) << rig.Story();
    EXPECT_EQ(rig.slave.Count("-> "), 0) << rig.Story();
    EXPECT_TRUE(rig.slave.Stop()) << rig.Story();
}

}  // namespace
}  // namespace zelvano::proc
