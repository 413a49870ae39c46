// The engine over the real QSerialPort adapter and a pseudo-terminal against
// espa-slave in its own process: the exchange checked from both ends, with
// the tick on which each state was reached.
#include <gtest/gtest.h>

#include "faults/ProcessRig.h"

namespace zelvano::proc {
namespace {

struct CallCase {
    const char* name;
    Played run;
};

const CallCase kCalls[] = {
    // Pick, EOT, 5 ticks, select, ACK, block, ACK: QUEUE. Then EOT, 5 ticks,
    // select, ACK, SOH 3 block, ACK, EOT, 5 ticks, poll, '1' ENQ, ACK, status
    // block, check character, ACK.
    {"StatusCallThenPaged",
     {{"--script", "DEFAULT=PAGED"},
      {{"1234", "NEW>QUEUE>PAGED"}},
      {{"STATUS: Call from ScreenPosition: 0 is now: PAGED", 1}},
      {{"<- call block: 1=1234 2=Hello 3=1 4=3 5=1 6=3 BCC ok", 1},
       {"<- status call block: 1=1234", 1},
       {"status PAGED for call 1234 delivered", 1}},
      9,
      30,
      0,
      0}},
    // Polls only: QUEUE reported (12 ticks), two polls answered EOT (8 each),
    // PAGED reported (12).
    {"DefaultScriptHoldsTwoPolls",
     {{},
      {{"555", "NEW>QUEUE>PAGED"}},
      {{"STATUS: Call from ScreenPosition: 0 is now: QUEUE", 1},
       {"StatusRequest: No info available (yet). Retry later.", 2}},
      {{"nothing yet", 2}},
      9,
      49,
      1,
      0}},
    // Four rounds of EOT, 5 ticks, select, ACK, block, NAK.
    {"NakEveryBlockEndsInError",
     {{"--nak-block", "always"},
      {{"4321", "NEW>ERROR"}},
      {{"ERROR: No ACK on transmitted ESPA, but: %d 21", 4},
       {"ERROR: Failed 3 times, recheck ESPA slave.", 1}},
      {{"-> NAK (--nak-block)", 4}},
      0,
      36,
      0,
      0}},
    // Noise before the first answer, a wrong check character on the first
    // status block and every status block in three pieces: two status
    // requests after the make call, and still PAGED.
    {"RecoversFromNoiseBadCheckAndSplitBlocks",
     {{"--script", "DEFAULT=PAGED", "--noise", "first=1", "--bad-bcc", "first=1", "--split",
       "3,60"},
      {{"99", "NEW>QUEUE>PAGED"}},
      {{"ERROR: Incorrect CheckSum received. Expected: ", 1},
       {"StatusRequest: Checksum received and OK.", 1}},
      {{"-> noise (--noise)", 1}, {"[piece 3 of 3", 2}},
      9,
      -34,
      1,
      0}},
};
void PrintTo(const CallCase& c, std::ostream* out) {
    *out << c.name;
}

class EndToEnd : public testing::TestWithParam<CallCase> {};

TEST_P(EndToEnd, Call) {
    Case c;
    Play(c, GetParam().run);
    EXPECT_TRUE(c.slave.Stop()) << "no clean stop on SIGTERM, or its path file left behind";
}

INSTANTIATE_TEST_SUITE_P(Slave, EndToEnd, testing::ValuesIn(kCalls),
                         [](const auto& info) { return std::string(info.param.name); });

// A slave that never answers: tick 1 EOT, tick 6 the select, 20 ticks of
// waiting, and the line check fails.
TEST(EndToEndLineCheck, SilentSlaveFailsTheLineCheck) {
    Case c;
    Settings settings = LineSettings();
    settings.CheckInterval = 0;
    c.StartSlave({"--silent"}, false, settings);
    Program& p = c.Open();
    std::map<int, int> lineOkTick;
    p.Run(
        [&] {
            lineOkTick.try_emplace(p.Core().espa.LineOk, p.ticks);
            return false;
        },
        30);
    EXPECT_EQ(lineOkTick, (std::map<int, int>{{-1, 0}, {0, 26}})) << c.slave.Output();
    EXPECT_GE(c.slave.Count("<- '1' ENQ '2' ENQ (select)"), 1);
    EXPECT_EQ(c.slave.Count("-> "), 0);
    EXPECT_TRUE(c.slave.Stop());
}

}  // namespace
}  // namespace zelvano::proc
