// Start-up: the state emptied, the settings read, the window height, the port
// opened and the first line check asked for, the call window's defaults.
#include <gtest/gtest.h>

#include "app/StartUp.h"
#include "buffer/CallBuffer.h"
#include "espa/AfhandelEspa.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

TEST(StartUp, StepsRunInOrderFromAnyEarlierState) {
    TestApp t;
    WriteFileBytes(SettingsPath(t.dir.path()),
                   FormatSettings({2, 0, 4, 0, 1, 0, 0, 0, 0, 2, 0, {}, 0}));
    // Leftovers that start-up must clear or keep.
    AddCall(t.app, "1", "1", "old", "", "1", "3");
    t.app.screenLog.LogLines.fill("design-time text");
    t.app.screenLog.LogLineCount = 10;
    t.app.espa.EspaState = 150;
    t.app.espa.LineOk = 1;
    t.app.espa.CheckCountdown = 40;
    t.app.autoRepeat = {2, 1, 5};
    t.line.open = true;
    StartUp(t.app);
    EXPECT_TRUE(t.app.CallBuffer[0].IsFree() && t.app.CallBuffer[0].Alfa.empty());
    EXPECT_EQ(t.view.windowHeight, 9930);  // from the settings just read
    // Nothing but the port lines since the log was emptied.
    EXPECT_EQ(t.app.screenLog.LogLineCount, 2);
    EXPECT_EQ(t.view.logLines[0].substr(9) + "|" + t.view.logLines[1].substr(9) + "|" +
                  t.view.logLines[2],
              "Comport closed by software.|Com: 3 opened for ESPA emulation with: 9600,N,8,1|");
    // Closed and opened once; the start request (a line check), the link unknown.
    const ProtocolState& espa = t.app.espa;
    EXPECT_EQ(std::to_string(t.line.closeCount) + std::to_string(t.line.openCount) + " " +
                  std::to_string(espa.EspaState) + " " + std::to_string(espa.LineOk) + " " +
                  std::to_string(espa.CheckCountdown),
              "11 10 -1 0");
    // The call window's defaults; a repeat no longer runs, its choice stays.
    const LastCallRecord& last = t.app.LastCall;
    EXPECT_EQ(last.Address + "|" + last.Alfa + "|" + last.NrOfTx + "|" +
                  std::to_string(last.BleepIndex) + std::to_string(last.PriorityIndex) +
                  std::to_string(last.CallTypeIndex) + "|" +
                  std::to_string(t.app.autoRepeat.AutoRepeatActive) +
                  std::to_string(t.app.autoRepeat.AutoRepeatChoice),
              "||1|133|02");
}

TEST(StartUp, WorkingPortAtLevelZeroWritesNothingAndStartsTheLineCheck) {
    TestApp t;  // no espa.set: all settings 0
    StartUp(t.app);
    EXPECT_TRUE(t.view.messageBoxes.empty());
    EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
    EXPECT_EQ(t.view.showLogLinesCount, 1);  // the emptied screen log only
    EXPECT_EQ(std::to_string(t.line.portNumber) + " " + t.line.lineSettings, "1 300,N,7,1");
    HandleEspa(t.app, 0);
    EXPECT_EQ(ToHex(t.line.TakeWritten()), "04");
    EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "Log"));
    EXPECT_FALSE(std::filesystem::exists(SettingsPath(t.dir.path())));
    for (const auto& [level, height] : {std::pair{0, 6705}, {-1, 6705}, {1, 9930}, {4, 9930}}) {
        t.app.settings.Logfile = static_cast<std::int16_t>(level);
        if (level != 0)
            ApplyWindowHeight(t.app);
        EXPECT_EQ(t.view.windowHeight, height) << level;
    }
}

}  // namespace
}  // namespace zelvano::test
