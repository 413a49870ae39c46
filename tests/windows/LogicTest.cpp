// The call window's and the settings window's rules without the windows: the
// fields a form gives, what the next opening shows, the auto-repeat step, the
// record to lists and back, and the buffer tick.
#include <gtest/gtest.h>

#include <sstream>

#include "app/MainTicks.h"
#include "app/StartUp.h"
#include "buffer/CallBuffer.h"
#include "settings/SettingsForm.h"
#include "support/TestApp.h"
#include "windows/CallEntry.h"

namespace zelvano {
namespace {

struct Started : test::TestApp {
    Started() { StartUp(app); }
    int Occupied() const {
        int n = 0;
        for (const CallBufferEntry& e : app.CallBuffer)
            n += e.IsFree() ? 0 : 1;
        return n;
    }
    // Runs buffer-tick repeat steps; the ticks after which the buffer grew.
    std::vector<int> TicksThatQueued(int ticks) {
        std::vector<int> queued;
        for (int tick = 1; tick <= ticks; ++tick) {
            const int before = Occupied();
            AutoRepeatStep(app);
            if (Occupied() > before)
                queued.push_back(tick);
        }
        return queued;
    }
    CallForm Call(std::int16_t autoRepeat, const std::string& address = "1234") {
        CallForm form = LoadCallForm(app);
        form.address = address;
        form.autoRepeat = autoRepeat;
        CmdCall_Click(app, form);
        return form;
    }
};

// Address|Bleep|Alfa|Priority|NrOfTx|CallType of a queued call.
std::string Sent(const CallBufferEntry& e) {
    return e.Address + "|" + e.Bleep + "|" + e.Alfa + "|" + e.Priority + "|" + e.NrOfTx + "|" +
           e.CallType;
}

// address|alfa|bleep|priority|callType|nrOfTx|autoRepeat|nrOfTx enabled of a form.
std::string Shown(const CallForm& f) {
    std::ostringstream out;
    out << f.address << "|" << f.alfa << "|" << f.bleep << "|" << f.priority << "|" << f.callType
        << "|" << f.nrOfTx << "|" << f.autoRepeat << "|" << f.nrOfTxEnabled;
    return out.str();
}

TEST(CallEntry, FieldsSentAndShownAtTheNextOpening) {
    struct Case {
        std::int16_t emulatie;
        CallForm form;
        const char* sent;
        const char* next;
    };
    const Case cases[] = {
        // Typed over (-1): "1" is sent, no selection is shown again.
        {1, {"9", "t", -1, -1, -1, -1, 0}, "9|1|t|1|1|1", "9|t|-1|-1|-1|-1|0|1"},
        {1, {"555", "Hello", 12, 1, 2, 3, 3}, "555|C|Hello|1|3|2", "555|Hello|12|1|2|3|3|1"},
        {1, {"5", "", 15, 3, 3, 1, 6}, "5|F||3|1|3", "5||15|3|3|1|6|1"},
        // Without an address the design texts come back.
        {1,
         {"", "only with an address", 1, 3, 3, 1, 0},
         "|1|only with an address|3|1|3",
         "1234|Enter AlfaText|1|3|3|1|0|1"},
        // The disabled list of a Philips line still gives its digit.
        {0, {"7", "p", 1, 3, 3, 2, 0}, "7|1|p|3|2|3", "7|p|1|3|3|2|0|0"},
    };
    for (const Case& c : cases) {
        Started t;
        t.app.settings.Emulatie = c.emulatie;
        CmdCall_Click(t.app, c.form);
        EXPECT_EQ(Sent(t.app.CallBuffer[0]), c.sent);
        EXPECT_EQ(t.app.CallBuffer[0].Status, "NEW");
        EXPECT_EQ(t.view.lastBuffer[0].Address, c.form.address);  // the rows are redrawn
        EXPECT_EQ(Shown(LoadCallForm(t.app)), c.next) << c.sent;
    }
    Started t;  // stored values outside the lists leave no selection
    t.app.LastCall = {"1", 16, "x", 4, -1, "4"};
    t.app.autoRepeat.AutoRepeatChoice = 7;
    EXPECT_EQ(Shown(LoadCallForm(t.app)), "1|x|-1|-1|-1|-1|-1|0");
}

TEST(CallEntry, RepeatPeriodFollowsTheChoice) {
    for (std::int16_t choice = 1; choice <= 6; ++choice) {
        Started t;
        t.Call(choice);
        EXPECT_TRUE(StopButtonEnabled(t.app));
        EXPECT_EQ(t.TicksThatQueued(20 * choice), (std::vector<int>{10 * choice, 20 * choice}));
    }
}

TEST(CallEntry, RepeatSendsTheRememberedCallAsItStandsWhenDue) {
    Started t;
    CallForm form = LoadCallForm(t.app);
    form.autoRepeat = 1;
    form.bleep = 15;
    form.nrOfTx = -1;
    CmdCall_Click(t.app, form);
    t.app.LastCall.Address = "999";
    t.TicksThatQueued(10);
    EXPECT_EQ(Sent(t.app.CallBuffer[1]), "999|F|Enter AlfaText|3|-1|3");  // "-1" as remembered
}

TEST(CallEntry, CallWithANewPeriodRestartsTheRepeat) {
    Started t;
    t.Call(1);
    t.TicksThatQueued(5);
    t.Call(2, "42");
    EXPECT_EQ(t.TicksThatQueued(20), (std::vector<int>{20}));
    EXPECT_EQ(t.app.CallBuffer[2].Address, "42");
}

TEST(CallEntry, CallWithoutAPeriodOrStopEndsTheRepeat) {
    for (const std::int16_t end : {0, -1, 99}) {  // 99: the Stop button
        Started t;
        t.Call(1);
        if (end == 99)
            CmdStopAutoCall_Click(t.app);
        else
            t.Call(end);
        EXPECT_FALSE(StopButtonEnabled(t.app)) << end;
        EXPECT_TRUE(t.TicksThatQueued(30).empty()) << end;
        EXPECT_EQ(t.Occupied(), end == 99 ? 1 : 2);
    }
}

TEST(CallEntry, RepeatCountdown) {
    const struct {
        std::int16_t countdown;
        bool due;
        std::int16_t after;
    } cases[] = {{5, false, 4}, {1, true, 30}, {0, true, 30}, {-1, false, -1}, {-300, false, -300}};
    for (const auto& c : cases) {
        Started t;
        t.app.autoRepeat = {3, 1, c.countdown};
        t.app.LastCall.Address = "1";
        AutoRepeatStep(t.app);
        EXPECT_EQ(t.Occupied(), c.due ? 1 : 0) << c.countdown;
        EXPECT_EQ(t.app.autoRepeat.AutoRepeatCountdown, c.after) << c.countdown;
    }
}

TEST(MainTicks, BufferTickRunsTheTimeOutsBeforeTheRepeat) {
    test::TestApp t;
    AddCall(t.app, "1", "1", "old", "3", "1", "3");
    t.app.CallBuffer[0].TimeOutCount = 1;
    t.app.LastCall = {"2", 1, "again", 3, 3, "1"};
    t.app.autoRepeat = {1, 1, 1};
    TmrBuffer_Timer(t.app);
    EXPECT_EQ(t.app.CallBuffer[0].Status, "ERROR");
    EXPECT_EQ(t.app.CallBuffer[1].Status, "NEW");
    EXPECT_EQ(t.app.CallBuffer[1].TimeOutCount, 60);  // queued after: its count is whole
    EXPECT_EQ(t.app.autoRepeat.AutoRepeatCountdown, 10);
}

TEST(SettingsForm, RecordToListsAndBack) {
    using Single = std::array<std::int16_t, kSingleComboCount>;
    using Items = std::array<std::int16_t, kEspaTransCount>;
    // Lists in window order: emulation, port, speed, parity, bits, stop bits,
    // handshake, line check, status check, log, interval.
    const Single fallbacks{0, 1, 1, 1, 1, 1, 0, 0, 0, 0, -1};
    const struct {
        Settings record;
        Single single;
        Items items;
        bool tick;
        Settings saved;
    } cases[] = {
        // The last entry of every list survives the round trip.
        {{7, 5, 7, 2, 1, 1, 2, 1, 2, 3, 20, {6, 5, 4, 3, 2, 1}, 1},
         {5, 7, 7, 2, 1, 1, 2, 1, 2, 3, 20},
         {6, 5, 4, 3, 2, 1},
         true,
         {7, 5, 7, 2, 1, 1, 2, 1, 2, 3, 20, {6, 5, 4, 3, 2, 1}, 1}},
        // Just past the end, or below 0: the fallback is shown and then stored.
        {{8, 6, 8, 3, 2, 2, 3, 2, 3, 4, 21, {7, 7, 7, 7, 7, 7}, 5},
         fallbacks,
         {},
         true,
         {1, 0, 1, 1, 1, 1, 0, 0, 0, 0, -1, {}, 1}},
        {{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, {-1, -1, -1, -1, -1, -1}, 0},
         fallbacks,
         {},
         false,
         {1, 0, 1, 1, 1, 1, 0, 0, 0, 0, -1, {}, 0}},
    };
    for (const auto& c : cases) {
        const SettingsSelection shown = UpdateCombo(c.record);
        EXPECT_EQ(shown.single, c.single);
        EXPECT_EQ(shown.espaTrans, c.items);
        EXPECT_EQ(shown.variableEspaString, c.tick);
        EXPECT_TRUE(ComboToSettings(shown) == c.saved);
    }
    // A list without a selected entry stores -1.
    SettingsSelection none;
    none.single.fill(-1);
    none.espaTrans.fill(-1);
    const Settings minus{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, {-1, -1, -1, -1, -1, -1}, 0};
    EXPECT_TRUE(ComboToSettings(none) == minus);
}

}  // namespace
}  // namespace zelvano
