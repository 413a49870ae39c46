// The settings window's logic: list entries, record to lists with the
// fallback positions, lists to record, and Save.
#include <gtest/gtest.h>

#include "app/StartUp.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsForm.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

const SettingsCombo& Combo(const std::string& name) {
    for (const SettingsCombo& combo : SingleCombos()) {
        if (name == combo.name) {
            return combo;
        }
    }
    ADD_FAILURE() << "no list " << name;
    return SingleCombos().front();
}

int IndexOf(const std::string& name) {
    return static_cast<int>(&Combo(name) - &SingleCombos()[0]);
}

TEST(SettingsFormLists, EntriesAreTheWindowsTexts) {
    struct Case {
        const char* name;
        std::size_t size;
        const char* first;
        const char* last;
    };
    const Case cases[] = {
        {"ComboEmulatie", 6, "Philips", "CommTechWireLess"},
        {"ComboCom", 8, "Com1", "Com8"},
        {"ComboBaud", 8, "300", "57600"},
        {"ComboParity", 3, "N", "O"},
        {"ComboBits", 2, "7", "8"},
        {"ComboStop", 2, "1", "2"},
        {"ComboRtsCts", 3, "No HandShake", "RTS/CTS"},
        {"ComboLineCheck", 2, "LineCheck 1 ENQ 2 ENQ ", "LineCheck 2 ENQ only"},
        {"ComboStatusCheck", 3, "StatusCheck With SOH 3 before 2 ENQ", "StatusCheck None"},
        {"ComboLogfile", 4, "No Log enabled", "Debug to file & screen"},
        {"ComboDeviceCheckInterval", 21, "Check 100ms Interval", "Check 2100ms Interval"},
    };
    ASSERT_EQ(SingleCombos().size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const SettingsCombo& combo = SingleCombos()[i];  // window order
        EXPECT_STREQ(combo.name, c.name);
        ASSERT_EQ(combo.entries.size(), c.size) << c.name;
        EXPECT_EQ(combo.entries.front(), c.first) << c.name;
        EXPECT_EQ(combo.entries.back(), c.last) << c.name;
    }
    EXPECT_EQ(Combo("ComboRtsCts").entries[1], "No HandShake (RTS ACTIVE)");
    EXPECT_EQ(Combo("ComboLogfile").entries[2], "Extended Log to file & screen");
    EXPECT_EQ(Combo("ComboDeviceCheckInterval").entries[9], "Check 1000ms Interval");
    EXPECT_EQ(
        EspaTransEntries(),
        (std::vector<std::string>{"Not Used", "Address (1 US)", "Info (2 US)", "Bleep (3 US)",
                                  "CallType (4 US)", "Transmissions (5 US)", "Priority (6 US)"}));
}

TEST(SettingsFormUpdate, AllZeroRecordSelectsTheFirstEntries) {
    const SettingsSelection selection = UpdateCombo(Settings{});
    for (std::int16_t position : selection.single) {
        EXPECT_EQ(position, 0);
    }
    for (std::int16_t position : selection.espaTrans) {
        EXPECT_EQ(position, 0);
    }
    EXPECT_FALSE(selection.variableEspaString);
}

TEST(SettingsFormUpdate, ValuesOutsideTheListsShowTheFallback) {
    struct Case {
        const char* name;
        std::int16_t value;
        std::int16_t shown;
    };
    const Case cases[] = {
        {"ComboEmulatie", 6, 0},
        {"ComboEmulatie", -1, 0},
        {"ComboEmulatie", 5, 5},
        {"ComboCom", 8, 1},
        {"ComboCom", -1, 1},
        {"ComboCom", 7, 7},
        {"ComboBaud", 8, 1},
        {"ComboBaud", 300, 1},
        {"ComboParity", 3, 1},
        {"ComboBits", 2, 1},
        {"ComboStop", 2, 1},
        {"ComboRtsCts", 3, 0},
        {"ComboLineCheck", 2, 0},
        {"ComboStatusCheck", 3, 0},
        {"ComboLogfile", 4, 0},
        {"ComboLogfile", 3, 3},
        {"ComboDeviceCheckInterval", 20, 20},
        {"ComboDeviceCheckInterval", 21, -1},
        {"ComboDeviceCheckInterval", -1, -1},
    };
    for (const Case& c : cases) {
        Settings settings;
        settings.*Combo(c.name).field = c.value;
        EXPECT_EQ(UpdateCombo(settings).single[IndexOf(c.name)], c.shown)
            << c.name << " " << c.value;
    }
}

TEST(SettingsFormUpdate, EspaItemsAndTickBox) {
    Settings settings;
    settings.EspaSet = {1, 2, 6, 7, -1, 3};
    settings.EspaEnable = 5;
    const SettingsSelection selection = UpdateCombo(settings);
    EXPECT_EQ(selection.espaTrans, (std::array<std::int16_t, 6>{1, 2, 6, 0, 0, 3}));
    EXPECT_TRUE(selection.variableEspaString);
}

TEST(SettingsFormToSettings, PositionsAndNoSelection) {
    SettingsSelection selection = UpdateCombo(Settings{});
    selection.single[IndexOf("ComboBaud")] = 4;
    selection.single[IndexOf("ComboDeviceCheckInterval")] = -1;
    selection.single[IndexOf("ComboCom")] = -1;
    selection.espaTrans[2] = -1;
    selection.espaTrans[5] = 6;
    selection.variableEspaString = true;
    const Settings settings = ComboToSettings(selection);
    EXPECT_EQ(settings.BaudRate, 4);
    EXPECT_EQ(settings.CheckInterval, -1);
    EXPECT_EQ(settings.Compoort, -1);
    EXPECT_EQ(settings.EspaSet[2], -1);
    EXPECT_EQ(settings.EspaSet[5], 6);
    EXPECT_EQ(settings.EspaEnable, 1);
    selection.variableEspaString = false;
    EXPECT_EQ(ComboToSettings(selection).EspaEnable, 0);
}

TEST(SettingsFormToSettings, FallbackIsStoredWhenSavedUntouched) {
    Settings stored;
    stored.Compoort = 9;
    stored.BaudRate = 8;
    stored.CheckInterval = 21;
    const Settings saved = ComboToSettings(UpdateCombo(stored));
    EXPECT_EQ(saved.Compoort, 1);
    EXPECT_EQ(saved.BaudRate, 1);
    EXPECT_EQ(saved.CheckInterval, -1);
}

TEST(SettingsFormToSettings, RecordInsideTheListsSurvivesTheRoundTrip) {
    Settings settings;
    settings.Compoort = 7;
    settings.Emulatie = 5;
    settings.BaudRate = 7;
    settings.Parity = 2;
    settings.Bits = 1;
    settings.StopBits = 1;
    settings.HandShake = 2;
    settings.LineCheck = 1;
    settings.CallStatusCheck = 2;
    settings.Logfile = 3;
    settings.CheckInterval = 20;
    settings.EspaSet = {6, 5, 4, 3, 2, 1};
    settings.EspaEnable = 1;
    EXPECT_EQ(ComboToSettings(UpdateCombo(settings)), settings);
}

Settings WorkingSettings(std::int16_t logfile) {
    Settings settings;
    settings.BaudRate = 4;
    settings.Bits = 1;
    settings.Logfile = logfile;
    return settings;
}

TEST(SettingsFormSave, WritesTheFileSetsTheHeightAndReopensThePort) {
    for (const std::int16_t logfile : {std::int16_t{0}, std::int16_t{1}}) {
        test::TestApp t;
        const int opens = t.line.openCount;
        const int closes = t.line.closeCount;
        SaveSettings(t.app, WorkingSettings(logfile));
        EXPECT_EQ(t.app.settings, WorkingSettings(logfile));
        EXPECT_EQ(test::ReadFileBytes(SettingsPath(t.dir.path())),
                  FormatSettings(WorkingSettings(logfile)));
        EXPECT_EQ(t.view.windowHeight, logfile ? 9930 : 6705);
        EXPECT_EQ(t.line.closeCount, closes + 1);
        EXPECT_EQ(t.line.openCount, opens + 1);
        EXPECT_TRUE(t.line.IsOpen());
        EXPECT_EQ(t.line.lineSettings, "9600,N,8,1");
        EXPECT_TRUE(t.view.messageBoxes.empty());
        EXPECT_NE(t.app.espa.EspaState, 0) << "the start request starts a line check";
    }
}

TEST(SettingsFormSave, PortFailureShowsTheBoxAndStartsNothing) {
    test::TestApp t;
    t.line.failOpen = true;
    SaveSettings(t.app, WorkingSettings(1));
    ASSERT_EQ(t.view.messageBoxes.size(), 1u);
    EXPECT_EQ(t.view.messageBoxes[0].text, "Error setting Comport!\r\nCheck settings");
    EXPECT_EQ(t.view.messageBoxes[0].title, "Zelvano");
    EXPECT_EQ(t.app.espa.EspaState, 0);
    // The new values are kept and written all the same.
    EXPECT_EQ(t.app.settings, WorkingSettings(1));
    EXPECT_EQ(test::ReadFileBytes(SettingsPath(t.dir.path())), FormatSettings(WorkingSettings(1)));
}

}  // namespace
}  // namespace zelvano
