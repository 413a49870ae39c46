// Start-up order, the port error box, quit and the window height.
#include <gtest/gtest.h>

#include "app/StartUp.h"
#include "buffer/CallBuffer.h"
#include "espa/AfhandelEspa.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

void WriteSettingsFor(TestApp& t, const Settings& s) {
    WriteFileBytes(SettingsPath(t.dir.path()), FormatSettings(s));
}

// Screen-log texts without their time.
std::vector<std::string> ScreenTexts(const TestApp& t) {
    std::vector<std::string> out;
    for (int i = 0; i < t.app.screenLog.LogLineCount; ++i) {
        out.push_back(t.app.screenLog.LogLines[static_cast<std::size_t>(i)].substr(9));
    }
    return out;
}

TEST(StartUp, MissingPortShowsOneBoxAndLeavesTheHandlerIdle) {
    TestApp t;
    Settings s;
    s.Logfile = 1;
    WriteSettingsFor(t, s);
    t.line.failOpen = true;
    StartUp(t.app);
    ASSERT_EQ(t.view.messageBoxes.size(), 1u);
    EXPECT_EQ(t.view.messageBoxes[0].text, "Error setting Comport!\r\nCheck settings");
    EXPECT_EQ(t.view.messageBoxes[0].title, "Zelvano");
    EXPECT_EQ(ScreenTexts(t), (std::vector<std::string>{"Comport closed by software.",
                                                        "Error opening ComPort:  1"}));
    EXPECT_EQ(t.app.espa.EspaState, 0);
    for (int i = 0; i < 100; ++i)
        HandleEspa(t.app, 0);
    EXPECT_TRUE(t.line.TakeWritten().empty());
    EXPECT_EQ(t.app.espa.EspaState, 0);
    EXPECT_EQ(t.app.espa.LineOk, -1);
}

TEST(StartUp, WorkingPortAtLevelZeroWritesNothingAndStartsTheLineCheck) {
    TestApp t;  // no espa.set: all settings 0
    StartUp(t.app);
    EXPECT_TRUE(t.view.messageBoxes.empty());
    EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
    EXPECT_EQ(t.view.showLogLinesCount, 1);  // the emptied screen log only
    EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "Log"));
    EXPECT_EQ(t.view.windowHeight, 6705);
    EXPECT_EQ(t.line.portNumber, 1);
    EXPECT_EQ(t.line.lineSettings, "300,N,7,1");
    EXPECT_EQ(t.app.espa.EspaState, 10);
    HandleEspa(t.app, 0);
    EXPECT_EQ(ToHex(t.line.TakeWritten()), "04");
    EXPECT_FALSE(std::filesystem::exists(SettingsPath(t.dir.path())));
}

TEST(StartUp, StepsRunInOrderFromAnyEarlierState) {
    TestApp t;
    Settings s;
    s.Compoort = 2;
    s.BaudRate = 4;
    s.Bits = 1;
    s.Logfile = 2;
    WriteSettingsFor(t, s);
    // Leftovers that start-up must clear or keep.
    t.app.settings.Logfile = 0;
    AddCall(t.app, "1", "1", "old", "", "1", "3");
    t.app.screenLog.LogLines[3] = "old line";
    t.app.screenLog.LogLineCount = 4;
    t.app.espa.LineOk = 1;
    t.app.espa.CheckCountdown = 40;
    t.app.espa.EspaState = 150;
    t.app.autoRepeat.AutoRepeatActive = 1;
    t.app.autoRepeat.AutoRepeatChoice = 2;
    t.line.open = true;

    StartUp(t.app);

    for (const CallBufferEntry& e : t.app.CallBuffer)
        EXPECT_TRUE(e.IsFree() && e.Alfa.empty());
    EXPECT_EQ(t.view.windowHeight, 9930);  // height after the settings were read
    const auto texts = ScreenTexts(t);
    ASSERT_EQ(texts.size(), 2u);  // nothing but the port lines since the log was emptied
    EXPECT_EQ(texts[0], "Comport closed by software.");
    EXPECT_EQ(texts[1], "Com: 3 opened for ESPA emulation with: 9600,N,8,1");
    EXPECT_EQ(t.line.closeCount, 1);
    EXPECT_EQ(t.line.openCount, 1);
    EXPECT_EQ(t.line.portNumber, 3);
    EXPECT_EQ(t.app.espa.LineOk, -1);
    EXPECT_EQ(t.app.espa.CheckCountdown, 0);
    EXPECT_EQ(t.app.espa.EspaState, 10);
    EXPECT_EQ(t.app.LastCall.Address, "");
    EXPECT_EQ(t.app.LastCall.BleepIndex, 1);
    EXPECT_EQ(t.app.LastCall.Alfa, "");
    EXPECT_EQ(t.app.LastCall.PriorityIndex, 3);
    EXPECT_EQ(t.app.LastCall.CallTypeIndex, 3);
    EXPECT_EQ(t.app.LastCall.NrOfTx, "1");
    EXPECT_EQ(t.app.autoRepeat.AutoRepeatActive, 0);
    EXPECT_EQ(t.app.autoRepeat.AutoRepeatChoice, 2);
}

TEST(InitState, EmptiesBufferAndScreenLogAndResetsTheLink) {
    TestApp t;
    AddCall(t.app, "1", "1", "x", "", "1", "3");
    t.app.screenLog.LogLines.fill("design-time text");
    t.app.screenLog.LogLineCount = 10;
    t.app.espa = ProtocolState{};
    t.app.espa.EspaState = 45;
    t.app.espa.LineOk = 0;
    t.app.espa.CheckCountdown = -3;
    InitState(t.app);
    EXPECT_TRUE(t.app.CallBuffer[0].IsFree());
    EXPECT_EQ(t.app.CallBuffer[0].CallId, 0u);
    EXPECT_EQ(t.view.logLines, (std::array<std::string, 10>{}));
    EXPECT_EQ(t.app.screenLog.LogLines, (std::array<std::string, 10>{}));
    EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
    EXPECT_EQ(t.app.espa.EspaState, 0);
    EXPECT_EQ(t.app.espa.LineOk, -1);
    EXPECT_EQ(t.app.espa.CheckCountdown, 0);
}

TEST(ApplyWindowHeight, FollowsTheLogLevel) {
    const std::pair<std::int16_t, int> cases[] = {{-1, 6705}, {0, 6705}, {1, 9930},
                                                  {2, 9930},  {3, 9930}, {4, 9930}};
    for (const auto& [level, height] : cases) {
        TestApp t;
        t.app.settings.Logfile = level;
        ApplyWindowHeight(t.app);
        EXPECT_EQ(t.view.windowHeight, height) << level;
    }
}

TEST(Quit, OkClosesThePortCancelChangesNothing) {
    for (MessageAnswer answer : {MessageAnswer::Ok, MessageAnswer::Cancel}) {
        TestApp t;
        t.line.open = true;
        t.app.espa.EspaState = 20;
        t.view.nextAnswer = answer;
        const bool end = Einde_Click(t.app);
        ASSERT_EQ(t.view.messageBoxes.size(), 1u);
        EXPECT_EQ(t.view.messageBoxes[0].text, "You want to quit the program?");
        EXPECT_EQ(t.view.messageBoxes[0].title, "Zelvano");
        const bool ok = answer == MessageAnswer::Ok;
        EXPECT_EQ(end, ok);
        EXPECT_EQ(t.line.open, !ok);
        EXPECT_EQ(t.line.closeCount, ok ? 1 : 0);
        EXPECT_EQ(t.app.espa.EspaState, 20);
    }
}

TEST(FormTerminate, ClosesThePortWithoutAsking) {
    TestApp t;
    t.line.open = true;
    Form_Terminate(t.app);
    EXPECT_FALSE(t.line.open);
    EXPECT_TRUE(t.view.messageBoxes.empty());
}

}  // namespace
}  // namespace zelvano::test
