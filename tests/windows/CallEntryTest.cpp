// The call window's logic: list entries, field conversions, the Call and Stop
// buttons, the remembered call and the auto-repeat step.
#include <gtest/gtest.h>

#include "app/StartUp.h"
#include "support/TestApp.h"
#include "windows/AboutText.h"
#include "windows/CallEntry.h"

namespace zelvano {
namespace {

int OccupiedPositions(const App& app) {
    int count = 0;
    for (const CallBufferEntry& entry : app.CallBuffer) {
        count += entry.IsFree() ? 0 : 1;
    }
    return count;
}

struct Started : test::TestApp {
    Started() { StartUp(app); }
};

TEST(CallEntryLists, EntriesAreTheWindowsTexts) {
    struct Case {
        const std::vector<std::string>& list;
        std::size_t size;
        std::size_t position;
        const char* text;
    };
    const Case cases[] = {
        {BleepEntries(), 16, 0, "0 = reserved"},
        {BleepEntries(), 16, 1, "1 = bleeppattern 1"},
        {BleepEntries(), 16, 2, "2 = bleeppattern 2"},
        {BleepEntries(), 16, 3, "3"},
        {BleepEntries(), 16, 9, "9"},
        {BleepEntries(), 16, 10, "A"},
        {BleepEntries(), 16, 15, "F"},
        {PriorityEntries(), 4, 1, "1 = Emergency"},
        {PriorityEntries(), 4, 3, "3 = Normal"},
        {CallTypeEntries(), 4, 1, "1 = Reset (cancel) Call"},
        {CallTypeEntries(), 4, 3, "3 = Standard (code) Call"},
        {NrOfTxEntries(), 4, 1, "1 = 1 transmission"},
        {NrOfTxEntries(), 4, 3, "3 = 3 transmissions"},
        {AutoRepeatEntries(), 7, 0, "No AutoRepeat call"},
        {AutoRepeatEntries(), 7, 1, "AutoRepeat every 10secs"},
        {AutoRepeatEntries(), 7, 6, "AutoRepeat every 60secs"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.list.size(), c.size) << c.text;
        EXPECT_EQ(c.list[c.position], c.text);
    }
}

TEST(CallEntryFields, PositionsBecomeCallFields) {
    struct Case {
        std::int16_t position;
        const char* hex;
        const char* decimal;
        const char* remembered;
    };
    const Case cases[] = {
        {-1, "1", "1", "-1"}, {0, "0", "0", "0"},    {3, "3", "3", "3"},
        {9, "9", "9", "9"},   {10, "A", "10", "10"}, {15, "F", "15", "15"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HexField(c.position), c.hex) << c.position;
        EXPECT_EQ(DecimalField(c.position), c.decimal) << c.position;
        EXPECT_EQ(RememberedNrOfTx(c.position), c.remembered) << c.position;
    }
}

TEST(CallEntryLoad, FirstOpeningShowsTheStartDefaults) {
    Started t;
    const CallForm form = LoadCallForm(t.app);
    EXPECT_EQ(form.address, "1234");
    EXPECT_EQ(form.alfa, "Enter AlfaText");
    EXPECT_EQ(form.bleep, 1);
    EXPECT_EQ(form.callType, 3);
    EXPECT_EQ(form.priority, 3);
    EXPECT_EQ(form.nrOfTx, 1);
    EXPECT_EQ(form.autoRepeat, 0);
}

TEST(CallEntryLoad, TransmissionsListIsOffForPhilipsOnly) {
    for (std::int16_t emulatie = 0; emulatie < 6; ++emulatie) {
        Started t;
        t.app.settings.Emulatie = emulatie;
        EXPECT_EQ(LoadCallForm(t.app).nrOfTxEnabled, emulatie != 0) << emulatie;
    }
}

TEST(CallEntryLoad, StoredValuesOutsideTheListsLeaveNoSelection) {
    Started t;
    t.app.LastCall.BleepIndex = 16;
    t.app.LastCall.PriorityIndex = -1;
    t.app.LastCall.CallTypeIndex = 4;
    t.app.LastCall.NrOfTx = "-1";
    t.app.autoRepeat.AutoRepeatChoice = -1;
    const CallForm form = LoadCallForm(t.app);
    EXPECT_EQ(form.bleep, -1);
    EXPECT_EQ(form.priority, -1);
    EXPECT_EQ(form.callType, -1);
    EXPECT_EQ(form.nrOfTx, -1);
    EXPECT_EQ(form.autoRepeat, -1);
}

TEST(CallEntryCall, DefaultsOfAFirstOpeningAreQueued) {
    Started t;
    const int redraws = t.view.showCallBufferCount;
    CmdCall_Click(t.app, LoadCallForm(t.app));

    const CallBufferEntry& call = t.app.CallBuffer[0];
    EXPECT_EQ(call.Address, "1234");
    EXPECT_EQ(call.Alfa, "Enter AlfaText");
    EXPECT_EQ(call.Bleep, "1");
    EXPECT_EQ(call.Priority, "3");
    EXPECT_EQ(call.CallType, "3");
    EXPECT_EQ(call.NrOfTx, "1");
    EXPECT_EQ(call.Status, "NEW");
    EXPECT_EQ(OccupiedPositions(t.app), 1);
    EXPECT_GT(t.view.showCallBufferCount, redraws);
    EXPECT_EQ(t.view.lastBuffer[0].Address, "1234");
    EXPECT_EQ(t.app.autoRepeat.AutoRepeatActive, 0);
}

TEST(CallEntryCall, CallIsRememberedForTheNextOpening) {
    Started t;
    CallForm form = LoadCallForm(t.app);
    form.address = "555";
    form.alfa = "Hello";
    form.bleep = 12;
    form.priority = 1;
    form.autoRepeat = 3;
    CmdCall_Click(t.app, form);

    EXPECT_EQ(t.app.CallBuffer[0].Bleep, "C");
    EXPECT_EQ(t.app.LastCall.Address, "555");
    EXPECT_EQ(t.app.LastCall.BleepIndex, 12);
    EXPECT_EQ(t.app.LastCall.NrOfTx, "1");
    const CallForm again = LoadCallForm(t.app);
    EXPECT_EQ(again.address, "555");
    EXPECT_EQ(again.alfa, "Hello");
    EXPECT_EQ(again.bleep, 12);
    EXPECT_EQ(again.priority, 1);
    EXPECT_EQ(again.autoRepeat, 3);
}

TEST(CallEntryCall, EmptyAddressIsSentAndTheDesignTextsComeBack) {
    Started t;
    CallForm form = LoadCallForm(t.app);
    form.address = "";
    form.alfa = "kept only with an address";
    CmdCall_Click(t.app, form);
    EXPECT_EQ(t.app.CallBuffer[0].Address, "");
    EXPECT_EQ(t.app.CallBuffer[0].Status, "NEW");
    const CallForm again = LoadCallForm(t.app);
    EXPECT_EQ(again.address, "1234");
    EXPECT_EQ(again.alfa, "Enter AlfaText");
}

TEST(CallEntryCall, AnEmptyTextIsKeptWithAnAddress) {
    Started t;
    CallForm form = LoadCallForm(t.app);
    form.address = "77";
    form.alfa = "";
    CmdCall_Click(t.app, form);
    EXPECT_EQ(LoadCallForm(t.app).alfa, "");
}

TEST(CallEntryCall, TypedOverListsGiveOne) {
    Started t;
    CallForm form = LoadCallForm(t.app);
    form.bleep = -1;
    form.priority = -1;
    form.callType = -1;
    form.nrOfTx = -1;
    CmdCall_Click(t.app, form);
    const CallBufferEntry& call = t.app.CallBuffer[0];
    EXPECT_EQ(call.Bleep, "1");
    EXPECT_EQ(call.Priority, "1");
    EXPECT_EQ(call.CallType, "1");
    EXPECT_EQ(call.NrOfTx, "1");
    EXPECT_EQ(t.app.LastCall.NrOfTx, "-1");
    EXPECT_EQ(t.app.LastCall.PriorityIndex, -1);
    EXPECT_EQ(LoadCallForm(t.app).nrOfTx, -1);
}

TEST(CallEntryCall, DisabledTransmissionsListStillGivesItsDigit) {
    Started t;
    t.app.settings.Emulatie = 0;
    CallForm form = LoadCallForm(t.app);
    form.nrOfTx = 2;
    CmdCall_Click(t.app, form);
    EXPECT_EQ(t.app.CallBuffer[0].NrOfTx, "2");
}

// Runs buffer-tick repeat steps and records after which ticks the buffer grew.
std::vector<int> TicksThatQueued(App& app, int ticks) {
    std::vector<int> queued;
    for (int tick = 1; tick <= ticks; ++tick) {
        const int before = OccupiedPositions(app);
        AutoRepeatStep(app);
        if (OccupiedPositions(app) > before) {
            queued.push_back(tick);
        }
    }
    return queued;
}

TEST(CallEntryRepeat, EveryTenSecondsUntilStopped) {
    Started t;
    CallForm form = LoadCallForm(t.app);
    form.autoRepeat = 1;
    CmdCall_Click(t.app, form);
    EXPECT_EQ(OccupiedPositions(t.app), 1);
    EXPECT_TRUE(StopButtonEnabled(t.app));

    EXPECT_EQ(TicksThatQueued(t.app, 25), (std::vector<int>{10, 20}));
    EXPECT_EQ(t.app.CallBuffer[1].Address, "1234");
    EXPECT_EQ(t.app.CallBuffer[2].Status, "NEW");

    CmdStopAutoCall_Click(t.app);
    EXPECT_FALSE(StopButtonEnabled(t.app));
    EXPECT_EQ(t.app.autoRepeat.AutoRepeatChoice, 1);  // shown again at the next opening
    EXPECT_TRUE(TicksThatQueued(t.app, 30).empty());
    EXPECT_EQ(OccupiedPositions(t.app), 3);  // calls already queued stay
}

TEST(CallEntryRepeat, PeriodFollowsTheChoice) {
    for (std::int16_t choice = 1; choice <= 6; ++choice) {
        Started t;
        CallForm form = LoadCallForm(t.app);
        form.autoRepeat = choice;
        CmdCall_Click(t.app, form);
        EXPECT_EQ(TicksThatQueued(t.app, 10 * choice), (std::vector<int>{10 * choice})) << choice;
    }
}

TEST(CallEntryRepeat, RepeatSendsTheRememberedCallAsItStandsWhenDue) {
    Started t;
    CallForm form = LoadCallForm(t.app);
    form.autoRepeat = 1;
    form.bleep = 15;
    form.nrOfTx = -1;
    CmdCall_Click(t.app, form);
    t.app.LastCall.Address = "999";
    TicksThatQueued(t.app, 10);
    const CallBufferEntry& repeat = t.app.CallBuffer[1];
    EXPECT_EQ(repeat.Address, "999");
    EXPECT_EQ(repeat.Bleep, "F");
    EXPECT_EQ(repeat.NrOfTx, "-1");  // the remembered text, unchanged
    EXPECT_EQ(repeat.Priority, "3");
    EXPECT_EQ(repeat.CallType, "3");
}

TEST(CallEntryRepeat, CallWithANewPeriodRestartsTheRepeat) {
    Started t;
    CallForm form = LoadCallForm(t.app);
    form.autoRepeat = 1;
    CmdCall_Click(t.app, form);
    TicksThatQueued(t.app, 5);
    form.autoRepeat = 2;
    form.address = "42";
    CmdCall_Click(t.app, form);
    EXPECT_EQ(t.app.autoRepeat.AutoRepeatCountdown, 20);
    EXPECT_EQ(TicksThatQueued(t.app, 20), (std::vector<int>{20}));
    EXPECT_EQ(t.app.CallBuffer[2].Address, "42");
}

TEST(CallEntryRepeat, CallWithoutAPeriodEndsARunningRepeat) {
    for (const std::int16_t noPeriod : {std::int16_t{0}, std::int16_t{-1}}) {
        Started t;
        CallForm form = LoadCallForm(t.app);
        form.autoRepeat = 1;
        CmdCall_Click(t.app, form);
        form.autoRepeat = noPeriod;
        CmdCall_Click(t.app, form);
        EXPECT_EQ(t.app.autoRepeat.AutoRepeatActive, 0) << noPeriod;
        EXPECT_FALSE(StopButtonEnabled(t.app));
        EXPECT_TRUE(TicksThatQueued(t.app, 30).empty()) << noPeriod;
        EXPECT_EQ(OccupiedPositions(t.app), 2);
    }
}

TEST(CallEntryRepeat, CountdownRules) {
    struct Case {
        std::int16_t countdown;
        bool due;
        std::int16_t after;
    };
    const Case cases[] = {
        {5, false, 4}, {1, true, 30}, {0, true, 30}, {-1, false, -1}, {-300, false, -300},
    };
    for (const Case& c : cases) {
        Started t;
        t.app.autoRepeat = {3, 1, c.countdown};
        t.app.LastCall.Address = "1";
        AutoRepeatStep(t.app);
        EXPECT_EQ(OccupiedPositions(t.app), c.due ? 1 : 0) << c.countdown;
        EXPECT_EQ(t.app.autoRepeat.AutoRepeatCountdown, c.after) << c.countdown;
    }
}

TEST(CallEntryRepeat, NothingHappensWhileOff) {
    Started t;
    t.app.autoRepeat = {1, 0, 0};
    EXPECT_TRUE(TicksThatQueued(t.app, 20).empty());
    EXPECT_EQ(t.app.autoRepeat.AutoRepeatCountdown, 0);
}

TEST(AboutText, VersionCaption) {
    EXPECT_EQ(VersionCaption(3, 5), "Software version: 3.5");
    EXPECT_EQ(VersionCaption(3, 12), "Software version: 3.12");
    EXPECT_EQ(VersionCaption(3, 0), "Software version: 3.0");
    EXPECT_EQ(ProgramVersionCaption(),
              VersionCaption(ZELVANO_VERSION_MAJOR, ZELVANO_VERSION_MINOR));
}

}  // namespace
}  // namespace zelvano
