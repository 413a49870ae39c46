// Start-up: state emptied, settings read, window height, port opened, line check asked for.
#include <gtest/gtest.h>

#include <sstream>

#include "app/StartUp.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

TEST(StartUp, StepsRunInOrderFromAnyEarlierState) {
    TestCore t;
    WriteFileBytes(SettingsPath(t.dir.path()),
                   FormatSettings({2, 0, 4, 0, 1, 0, 0, 0, 0, 2, 0, {}, 0}));
    t.core.Submit(CallRequest{"1", "old", "1", "", "3", "1"});  // a leftover to clear
    t.line.open = true;
    const PortOpen opened = t.core.Start();
    // The buffer emptied, two port lines only, closed and opened once, the
    // start request (a line check) with the link unknown.
    const EngineState& e = t.core.Engine();
    std::ostringstream got;
    got << (opened == PortOpen::Opened) << t.core.Calls()[0].IsFree() << " "
        << t.events.allLines.size() << " " << t.line.closeCount << t.line.openCount << " "
        << static_cast<int>(e.step) << " " << (e.link == LinkState::Unknown) << " "
        << e.checkCountdown << " " << WindowHeightTwips(t.core.CurrentSettings().logLevel);
    EXPECT_EQ(got.str(), "11 2 11 10 1 0 9930");
    EXPECT_EQ(t.events.portCaption, "Settings: Com:3 at 9600,N,8,1");
}

TEST(StartUp, WorkingPortAtLevelZeroWritesNothingAndStartsTheLineCheck) {
    TestCore t;  // no espa.set: all settings 0
    EXPECT_EQ(t.core.Start(), PortOpen::Opened);
    EXPECT_EQ(t.events.allLines.size(), 0u);
    EXPECT_EQ(t.events.logChanges, 1);  // the emptied screen log only
    EXPECT_EQ(std::to_string(t.line.portNumber) + " " + t.line.lineSettings + " " +
                  std::to_string(WindowHeightTwips(t.core.CurrentSettings().logLevel)),
              "1 300,N,7,1 6705");
    EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "Log") ||
                 std::filesystem::exists(SettingsPath(t.dir.path())));
    EXPECT_EQ(WindowHeightTwips(-1), 6705);
    t.line.failOpen = true;
    t.line.lastError = "/dev/ttyS0: no such device";
    EXPECT_EQ(t.core.Reopen(), PortOpen::Failed);
    EXPECT_EQ(t.events.portProblem, "/dev/ttyS0: no such device");
}

// Submit refuses what the line cannot carry and a text over the limit; Cancel
// takes back a call only until its block has gone out.
TEST(PagingCore, SubmitRefusesAndCancelTakesBackOnlyUnsentCalls) {
    TestCore t;
    t.core.Start();
    EXPECT_EQ(t.core.Submit({"3", "\xE6\x9C\xAC", "1", "3", "3", "1"}).refusal,
              "text: the character '\xE6\x9C\xAC' (U+672C) has no single-byte (Windows-1252) "
              "code and cannot be sent");
    const std::string text(kMaxCallTextLength, 'e');
    EXPECT_EQ(t.core.Submit({"3", text, "1", "3", "3", "1"}).refusal, "");
    EXPECT_EQ(t.core.Submit({"3", text + "e", "1", "3", "3", "1"}).refusal,
              "text: 1001 characters, more than the 1000 a call's text may have");
    t.core.Remove(0);
    const std::uint32_t first = t.core.Submit({"1", "a", "1", "3", "3", "1"}).id;
    const std::uint32_t second = t.core.Submit({"2", "b", "1", "3", "3", "1"}).id;
    EXPECT_TRUE(t.core.Cancel(first));
    EXPECT_FALSE(t.core.Cancel(first));  // gone
    EXPECT_TRUE(t.events.changes.back().id == first &&
                t.events.changes.back().to == CallState::Free);
    for (int i = 0; i < 60 && !t.core.Calls()[0].sent; ++i) {  // a slave that ACKs each select
        t.core.Tick();
        const std::vector<std::uint8_t> sent = t.line.TakeWritten();
        if (!sent.empty() && sent.back() == 0x05)
            t.line.Feed({0x06});
    }
    EXPECT_FALSE(t.core.Cancel(second));
    EXPECT_EQ(t.core.Calls()[0].id, second);
}

}  // namespace
}  // namespace zelvano::test
