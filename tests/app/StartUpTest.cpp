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

}  // namespace
}  // namespace zelvano::test
