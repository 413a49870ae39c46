// Start-up: state emptied, settings read, window height, port opened, line check asked for.
#include <gtest/gtest.h>

#include <sstream>

#include "app/StartUp.h"
#include "buffer/CallBuffer.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

TEST(StartUp, StepsRunInOrderFromAnyEarlierState) {
    TestApp t;
    WriteFileBytes(SettingsPath(t.dir.path()),
                   FormatSettings({2, 0, 4, 0, 1, 0, 0, 0, 0, 2, 0, {}, 0}));
    AddCall(t.app, "1", "1", "old", "", "1", "3");  // leftovers to clear or keep
    t.app.screenLog.LogLines.fill("design-time text");
    t.app.screenLog.LogLineCount = 10;
    t.app.espa.EspaState = 150;
    t.app.espa.LineOk = 1;
    t.app.espa.CheckCountdown = 40;
    t.app.autoRepeat = {2, 1, 5};
    t.line.open = true;
    StartUp(t.app);
    // The buffer emptied, the height from the settings just read, two port
    // lines only, closed and opened once, the start request (a line check)
    // with the link unknown, the call window's defaults, no repeat running.
    const ProtocolState& e = t.app.espa;
    const LastCallRecord& l = t.app.LastCall;
    std::ostringstream got;
    got << t.app.CallBuffer[0].IsFree() << " " << t.view.windowHeight << " "
        << t.app.screenLog.LogLineCount << " " << t.line.closeCount << t.line.openCount << " "
        << e.EspaState << " " << e.LineOk << " " << e.CheckCountdown << " " << l.address << "|"
        << l.text << "|" << l.transmissions << "|" << l.BleepIndex << l.PriorityIndex
        << l.CallTypeIndex << " " << t.app.autoRepeat.AutoRepeatActive
        << t.app.autoRepeat.AutoRepeatChoice;
    EXPECT_EQ(got.str(), "1 9930 2 11 10 -1 0 ||1|133 02");
}

TEST(StartUp, WorkingPortAtLevelZeroWritesNothingAndStartsTheLineCheck) {
    TestApp t;  // no espa.set: all settings 0
    StartUp(t.app);
    EXPECT_EQ(t.view.messageBoxes.size() + t.app.screenLog.LogLineCount, 0u);
    EXPECT_EQ(t.view.showLogLinesCount, 1);  // the emptied screen log only
    EXPECT_EQ(std::to_string(t.line.portNumber) + " " + t.line.lineSettings + " " +
                  std::to_string(t.view.windowHeight),
              "1 300,N,7,1 6705");
    EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "Log") ||
                 std::filesystem::exists(SettingsPath(t.dir.path())));
    t.app.settings.logLevel = -1;
    ApplyWindowHeight(t.app);
    EXPECT_EQ(t.view.windowHeight, 6705);
}

}  // namespace
}  // namespace zelvano::test
