// The call and settings windows' rules without the windows: fields sent, what
// the next opening shows, the auto-repeat step, the record to lists and back.
#include <gtest/gtest.h>

#include "app/StartUp.h"
#include "support/TestApp.h"
#include "windows/CallEntry.h"
#include "windows/SettingsForm.h"

namespace zelvano {
namespace {

struct Started : test::TestCore {
    Started() { core.Start(); }
    // The calls queued: Address|Bleep|Alfa|Priority|NrOfTx|CallType each.
    std::string Sent() const {
        std::string out;
        for (const Call& e : core.Calls())
            out += e.IsFree() ? ""
                              : e.address + "|" + e.bleep + "|" + e.text + "|" + e.priority + "|" +
                                    e.transmissions + "|" + e.callType + " ";
        return out;
    }
    // Buffer-tick repeat steps; the ticks after which a call was queued.
    std::vector<int> Queued(int ticks) {
        std::vector<int> queued;
        for (int tick = 1; tick <= ticks; ++tick)
            if (const std::string before = Sent(); (RepeatStep(core, console), Sent() != before))
                queued.push_back(tick);
        return queued;
    }
    void Place(std::int16_t autoRepeat, std::string address = "1") {
        PlaceCall(core, console, {address, "a", 1, 3, 3, 1, autoRepeat});
    }
    Console console;
};

// address|alfa|bleep|priority|callType|nrOfTx|autoRepeat|nrOfTx enabled
std::string Shown(const CallForm& f) {
    std::string out = f.address + "|" + f.text;
    for (int v : std::initializer_list<int>{f.bleep, f.priority, f.callType, f.transmissions,
                                            f.autoRepeat, int{f.transmissionsEnabled}})
        out += "|" + std::to_string(v);
    return out;
}

TEST(CallEntry, FieldsSentAndShownAtTheNextOpening) {
    const struct {
        std::int16_t emulation;
        CallForm form;
        const char *sent, *next;
    } cases[] = {
        // A list without an entry (-1): refused, nothing sent or remembered.
        {1, {"9", "t", 1, -1, 3, 1, 0}, "", "1234|Enter AlfaText|1|3|3|1|0|1"},
        {1, {"5", "", 15, 3, 3, 1, 6}, "5|F||3|1|3 ", "5||15|3|3|1|6|1"},
        // Without an address the design texts come back.
        {1, {"", "t", 1, 3, 3, 1, 0}, "|1|t|3|1|3 ", "1234|Enter AlfaText|1|3|3|1|0|1"},
        // The disabled list of a Philips line still gives its digit.
        {0, {"7", "p", 1, 3, 3, 2, 0}, "7|1|p|3|2|3 ", "7|p|1|3|3|2|0|0"},
    };
    for (const auto& c : cases) {
        Started t;
        Settings settings;
        settings.emulation = c.emulation;
        PlaceCall(t.core, t.console, c.form);
        EXPECT_EQ(t.Sent(), c.sent);
        EXPECT_EQ(Shown(LoadCallForm(t.console, settings)), c.next) << c.sent;
    }
}

TEST(CallEntry, AutoRepeat) {
    for (std::int16_t choice = 1; choice <= 6; ++choice) {  // every 10 s times the choice
        Started t;
        t.Place(choice);
        EXPECT_EQ(t.Queued(20 * choice), (std::vector<int>{10 * choice, 20 * choice}));
    }
    for (const int end : {0, -1, 9}) {  // a Call without a period ends it, as does Stop (9)
        Started t;
        t.Place(1);
        end == 9 ? StopRepeat(t.console) : t.Place(std::int16_t(end), "2");
        EXPECT_FALSE(t.console.repeat.active) << end;
        EXPECT_TRUE(t.Queued(30).empty()) << end;
    }
    Started t;  // a new period starts afresh; the remembered call is sent as it stands
    t.Place(1);
    t.Queued(5);
    PlaceCall(t.core, t.console, {"2", "b", 15, 1, 2, 2, 2});
    t.console.last.address = "3";
    EXPECT_EQ(t.Queued(20), (std::vector<int>{20}));
    EXPECT_EQ(t.Sent(), "1|1|a|3|1|3 2|F|b|1|2|2 3|F|b|1|2|2 ");
}

TEST(SettingsForm, RecordToListsAndBack) {
    // The last entry of every list (window order: emulation, port, speed,
    // parity, bits, stop bits, handshake, line check, status check, log,
    // interval) is shown and survives the round trip.
    const Settings last{7, 5, 7, 2, 1, 1, 2, 1, 2, 3, 20, {6, 5, 4, 3, 2, 1}, 1};
    EXPECT_EQ(UpdateCombo(last).single,
              (std::array<std::int16_t, 11>{5, 7, 7, 2, 1, 1, 2, 1, 2, 3, 20}));
    EXPECT_TRUE(ComboToSettings(UpdateCombo(last)) == last);
    // Just past the end, or below 0: the fallback is shown and then stored.
    const Settings fallback{1, 0, 1, 1, 1, 1, 0, 0, 0, 0, -1, {}, 1};
    for (const Settings& outside :
         {Settings{8, 6, 8, 3, 2, 2, 3, 2, 3, 4, 21, {7, 7, 7, 7, 7, 7}, 5},
          Settings{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, {-1, -1, -1, -1, -1, -1}, -1}})
        EXPECT_TRUE(ComboToSettings(UpdateCombo(outside)) == fallback);
    SettingsSelection none;  // no selected entry stores -1; an unticked box 0
    none.single.fill(-1);
    none.blockFields.fill(-1);
    EXPECT_TRUE(
        ComboToSettings(none) ==
        Settings({-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, {-1, -1, -1, -1, -1, -1}, 0}));
}

}  // namespace
}  // namespace zelvano
