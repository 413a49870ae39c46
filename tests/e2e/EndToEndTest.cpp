// The program over the real adapter against espa-slave: each exchange checked
// from both ends, with its ticks. (The fault matrix adds a silent slave and
// NAK to every block, with their ticks.)
#include <gtest/gtest.h>

#include "faults/ProcessRig.h"

namespace zelvano::proc {
namespace {

// Pick, EOT, 5 ticks, select, ACK, block, ACK: QUEUE. Then EOT, 5 ticks,
// select, ACK, SOH 3 block, ACK, EOT, 5 ticks, poll, '1' ENQ, ACK, status
// block, check character, ACK: PAGED.
TEST(EndToEnd, StatusCallThenPaged) {
    Case c;
    Play(c, {.options = {"--script", "DEFAULT=PAGED"},
             .calls = {{"1234", "NEW>QUEUE>PAGED"}},
             .log = {{"STATUS: Call from ScreenPosition: 0 is now: PAGED", 1}},
             .slaveSaw = {{"<- call block: 1=1234 2=Hello 3=1 4=3 5=1 6=3 BCC ok", 1},
                          {"<- status call block: 1=1234", 1},
                          {"status PAGED for call 1234 delivered", 1}},
             .queueTicks = 9,
             .finalTicks = 30,
             .checkInterval = 0});
}

// Polls only; noise before the first answer, a wrong check character on the
// first status block and every status block in three pieces: two status
// requests after the make call, and still PAGED.
TEST(EndToEnd, RecoversFromNoiseBadCheckAndSplitBlocks) {
    Case c;
    Play(c, {.options = {"--script", "DEFAULT=PAGED", "--noise", "first=1", "--bad-bcc", "first=1",
                         "--split", "3,60"},
             .calls = {{"99", "NEW>QUEUE>PAGED"}},
             .log = {{"ERROR: Incorrect CheckSum received. Expected: ", 1},
                     {"StatusRequest: Checksum received and OK.", 1}},
             .slaveSaw = {{"-> noise (--noise)", 1}, {"[piece 3 of 3", 2}},
             .queueTicks = 9,
             .finalTicks = -34,
             .callStatusCheck = 1,
             .checkInterval = 0});
}

// A paging system that takes calls but gives no status (refuses the '3' block
// with '1' NAK EOT, split over ticks; EOT to every poll), default settings:
// every call is sent before any is asked about, and each the slave accepted
// ends "NO STATUS" (only the first one asked with SOH3); one it refuses ends
// "ERROR".
TEST(EndToEnd, StatusLessSlaveEveryCallSentNoneFailed) {
    const std::string hint = "STATUS: ESPA slave refuses status calls (SOH3)";
    for (const QString textless : {"", "5003"}) {
        Case c;
        std::vector<std::pair<QString, std::string>> calls;
        for (const QString address : {"5001", "5002", "5003", "5004", "5005"})
            calls.emplace_back(address, address == textless ? "NEW>ERROR" : "NEW>QUEUE>NO STATUS");
        Play(c, {.options = {"--profile", "status-less", "--refuse-delay", "300",
                             "--refuse-empty-text", "--split", "2,20"},
                 .calls = calls,
                 .log = {{hint, 1}, {"Slave answered: '1' NAK EOT", 1}, {"No more status", 1}},
                 .slaveSaw = {{"<- call block: ", textless.isEmpty() ? 5 : 8}},
                 .textless = textless});
    }
}

// A burst of five calls against a slave that reports status: all PAGED.
TEST(EndToEnd, BurstOfFiveAllPaged) {
    Case c;
    std::vector<std::pair<QString, std::string>> calls;
    for (const QString address : {"7001", "7002", "7003", "7004", "7005"})
        calls.emplace_back(address, "NEW>QUEUE>PAGED");
    Play(c,
         {.options = {"--script", "DEFAULT=PAGED"}, .calls = calls, .log = {{"is now: PAGED", 5}}});
}

// COM1=tcp://127.0.0.1:PORT against espa-slave --listen: a call reaches
// PAGED; the slave stopped and started again on the same port, the line comes
// back by itself (no Save, no box) and a call entered meanwhile is delivered.
TEST(EndToEnd, OverTheNetworkSurvivesASlaveRestart) {
    Case c;
    const QStringList paged = {"--script", "DEFAULT=PAGED", "--listen"};
    ASSERT_TRUE(c.slave.Start(c.dir.path(), paged + QStringList{"127.0.0.1:0"}));
    const std::string hostPort = c.slave.pty;
    WriteSetup(c.data, LineSettings(), "tcp://" + hostPort);
    Program& p = c.Open();
    ASSERT_TRUE(p.LinkIs("ESPA Slave OK", 200));
    p.EnterCall("8001");
    EXPECT_TRUE(p.RunUntil("8001", "PAGED", 200));
    ASSERT_TRUE(c.slave.Stop());
    ASSERT_TRUE(p.Run([&] { return !p.Problem().empty(); }, 50));
    EXPECT_TRUE(p.ScreenLogHas("STATUS: Serial port lost: tcp://"));
    EXPECT_TRUE(p.LinkIs("ERROR connecting ESPA Slave", 1));
    p.EnterCall("8002");
    p.Run([] { return false; }, 40);
    EXPECT_EQ(p.States("8002"), "NEW");  // waits for the line, not failed
    Slave again;
    ASSERT_TRUE(again.Start(c.dir.path(), paged + QStringList{QString::fromStdString(hostPort)}));
    EXPECT_TRUE(p.RunUntil("8002", "PAGED", 200));
    EXPECT_EQ(p.States("8002"), "NEW>QUEUE>PAGED");
    EXPECT_TRUE(p.boxes.empty());
    EXPECT_EQ(c.LogLines("STATUS: Serial port available."), 2);  // at start-up and when back
    EXPECT_EQ(p.Problem(), "");
}

}  // namespace
}  // namespace zelvano::proc
