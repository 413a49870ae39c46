// The ten positions: adding, making room, removing, time-outs, and the rows.
#include <gtest/gtest.h>

#include <sstream>

#include "buffer/CallBuffer.h"
#include "support/TestApp.h"
#include "windows/BufferDisplay.h"

namespace zelvano::test {
namespace {

// "address:STATE:count" of every occupied position.
std::string Dump(const CallArray& buffer) {
    std::string out;
    for (const Call& e : buffer) {
        if (!e.IsFree())
            out += (out.empty() ? "" : " ") + e.address + ":" + std::string(StateText(e.state)) +
                   ":" + std::to_string(e.timeOutCount);
    }
    return out;
}

// Adds calls c0, c1... in the given states ('_' for a blank), with counts left.
std::vector<std::string> Fill(EngineRig& t, const std::string& states, std::int16_t count = 60) {
    std::istringstream in(states);
    std::vector<std::string> out;
    for (std::string state; in >> state;) {
        std::replace(state.begin(), state.end(), '_', ' ');
        const int position = static_cast<int>(out.size());
        t.calls.Add(CallRequest{"c" + std::to_string(position), "", "1", "3", "3", "1"});
        t.calls.SetState(position, StateNamed(state));
        t.calls.At(position).timeOutCount = count;
        out.push_back(state);
    }
    return out;
}

std::string LastLog(const EngineRig& t) {
    return t.events.allLines.empty() ? "" : t.events.allLines.back();
}

TEST(CallBuffer, AddStoresTheFieldsAndLogsTheFilledOnes) {
    const std::array<const char*, 7> rows[] = {
        // address, bleep, text, priority, transmissions, call type, log line
        {"1234", "B", "Hello", "2", "3", "1",
         "[1234] Alfa: [Hello] Bleep: [B] NrOfTx: [3] Priority: [2] Calltype: [1]"},
        {"1234", "1", "", "3", "1", "3",
         "[1234] Bleep: [1] NrOfTx: [1] Priority: [3] Calltype: [3]"},
        {"", "", "", "", "", "", "[]"},
        {"7", "", "x", "", "2", "", "[7] Alfa: [x] NrOfTx: [2]"},
        {"", "F", "", "0", "", "0", "[] Bleep: [F] Priority: [0] Calltype: [0]"},
    };
    for (const auto& r : rows) {
        for (std::int16_t level : {1, 0}) {
            EngineRig t(level);
            EXPECT_EQ(t.calls.Add(CallRequest{r[0], r[2], r[1], r[3], r[5], r[4]}), 1u);
            const Call& e = t.calls.At(0);
            EXPECT_EQ(e.address + e.bleep + e.text + e.priority + e.transmissions + e.callType,
                      std::string(r[0]) + r[1] + r[2] + r[3] + r[4] + r[5]);
            EXPECT_EQ(Dump(t.calls.Calls()), std::string(r[0]) + ":NEW:60");
            ASSERT_EQ(t.events.changes.size(), 1u);
            EXPECT_TRUE(t.events.changes[0].id == 1 && t.events.changes[0].to == CallState::New);
            EXPECT_EQ(LastLog(t),
                      level ? std::string("STATUS: Call to Buffer for Pager: ") + r[6] : "");
        }
    }
}

// A full buffer gives up its first finished call, else the oldest whatever
// its state (logged); the new call lands at position 9.
TEST(CallBuffer, FullBufferMakesRoom) {
    const std::pair<const char*, std::size_t> rows[] = {
        {"NEW NEW QUEUE NEW NEW NEW NEW NEW NEW NEW", 0},
        {"NEW QUEUE ERROR BUSY PAGED NEW NEW ABSENT NEW NEW", 4},
        {"ERROR ERROR ERROR ERROR ERROR ERROR ERROR ERROR ERROR ERROR", 0},
        {"QUEUE BUSY SPEECHPAGED NO_STATUS ERROR NEW QUEUE BUSY ERROR TERMINATED", 9},
        {"ABSENT PAGED NEW NEW NEW NEW NEW NEW NEW NEW", 0},
        {"BUSY SPEECHPAGED NO_STATUS QUEUE ERROR BUSY NO_STATUS QUEUE SPEECHPAGED ERROR", 0},
    };
    for (const auto& [list, removed] : rows) {
        EngineRig t(0);
        const std::vector<std::string> states = Fill(t, list, 17);
        t.settings.logLevel = 1;
        const std::uint32_t goneId = t.calls.At(static_cast<int>(removed)).id;
        t.calls.Add(CallRequest{"new", "", "1", "3", "3", "1"});
        std::string want;  // the others move up with their states and counts
        for (std::size_t i = 0; i < 10; ++i) {
            if (i != removed)
                want += "c" + std::to_string(i) + ":" + states[i] + ":17 ";
        }
        EXPECT_EQ(Dump(t.calls.Calls()), want + "new:NEW:60");
        const std::string gone = states[removed];
        const bool dropped = gone != "PAGED" && gone != "ABSENT" && gone != "TERMINATED";
        EXPECT_EQ(t.events.allLines.front(),
                  dropped ? "STATUS: Buffer full, call dropped for Pager: [c0]"
                          : "STATUS: Call to Buffer for Pager: [new] Bleep: [1] NrOfTx: [1] "
                            "Priority: [3] Calltype: [3]");
        EXPECT_EQ(t.events.allLines.size(), dropped ? 2u : 1u);
        // The call given up is told as gone.
        const CallChange& left = t.events.changes[t.events.changes.size() - 2];
        EXPECT_TRUE(left.id == goneId && left.to == CallState::Free);
    }
}

TEST(CallBuffer, RemovalClosesTheGap) {
    EngineRig t;
    Fill(t, "NEW NEW QUEUE");
    t.calls.At(2).timeOutCount = 42;
    const std::uint32_t idOfC2 = t.calls.At(2).id;
    t.calls.Remove(1);
    EXPECT_EQ(Dump(t.calls.Calls()), "c0:NEW:60 c2:QUEUE:42");
    EXPECT_EQ(t.calls.At(1).id, idOfC2);
    const std::size_t told = t.events.changes.size();
    for (int outside : {-1, 10, 32767, -32768})
        t.calls.Remove(outside);
    EXPECT_EQ(t.events.changes.size(), told);
    t.calls.Add(CallRequest{"d", "", "1", "3", "3", "1"});
    EXPECT_EQ(Dump(t.calls.Calls()), "c0:NEW:60 c2:QUEUE:42 d:NEW:60");
    EngineRig full;
    Fill(full, "NEW NEW NEW NEW NEW NEW NEW NEW NEW NEW");
    full.calls.Remove(9);
    EXPECT_EQ(Dump(full.calls.Calls()).size(), 9 * 10 - 1u);  // c0..c8 unmoved
    EXPECT_EQ(Dump(full.calls.Calls()).substr(80), "c8:NEW:60");
    full.calls.Clear();
    // SoundState looks at the buffer first: only the idle engine is left to report.
    EXPECT_EQ(SoundState(full.calls.Calls(), full.State()).substr(0, 8), "step 0, ");
}

TEST(CallBuffer, TimeOutOnTheSixtiethTickForNewAndQueueOnly) {
    for (const char* state : {"NEW", "QUEUE", "PAGED", "ABSENT", "BUSY", "TERMINATED",
                              "SPEECHPAGED", "ERROR", "NO_STATUS"}) {
        for (std::int16_t level : {1, 0}) {
            EngineRig t(level);
            const std::string word = Fill(t, std::string("PAGED PAGED PAGED ") + state)[3];
            const std::size_t changes = t.events.changes.size();
            const std::size_t lines = t.events.allLines.size();
            Call& e = t.calls.At(3);
            e.delivered = word == "QUEUE";  // accepted by the slave: its state is unknown
            for (int tick = 0; tick < 59; ++tick)
                t.calls.CheckTimeOuts();
            const auto now = [&e] {
                return std::string(StateText(e.state)) + std::to_string(e.timeOutCount);
            };
            EXPECT_EQ(now(), word + "1");
            t.calls.CheckTimeOuts();
            const bool out = word == "NEW" || word == "QUEUE";
            const std::string given = word == "QUEUE" ? "NO STATUS" : "ERROR";
            EXPECT_EQ(now(), out ? given + "0" : word + "1");
            EXPECT_EQ(t.events.changes.size(), changes + (out ? 1 : 0));
            EXPECT_EQ(t.events.changes.back().expired, out);
            EXPECT_EQ(t.events.allLines.size() > lines ? LastLog(t) : "",
                      out && level ? "Bufferpositie:  3 TimeOut." : "");
        }
    }
    // The count is never restarted: a call back in "QUEUE" after its time is
    // given up on the next tick.
    EngineRig t;
    Fill(t, "NEW NEW", 11);
    for (int tick = 0; tick < 10; ++tick)
        t.calls.CheckTimeOuts();
    EXPECT_EQ(Dump(t.calls.Calls()), "c0:NEW:1 c1:NEW:1");
    t.calls.SetState(0, CallState::Busy);
    for (int tick = 0; tick < 30; ++tick)
        t.calls.CheckTimeOuts();
    t.calls.SetState(0, CallState::Queue);
    t.calls.CheckTimeOuts();
    EXPECT_EQ(Dump(t.calls.Calls()), "c0:ERROR:0 c1:ERROR:0");
}

TEST(BufferDisplay, StateCellsAndWhatADoubleClickRemoves) {
    const CellColor text = CellColor::WindowText(), face = CellColor::ButtonFace();
    const CellColor white = CellColor::Rgb(255, 255, 255), blue = CellColor::Rgb(0, 0, 192);
    const CellColor red = CellColor::Rgb(192, 0, 0), yellow = CellColor::Rgb(255, 255, 0);
    const struct {
        CallState state;
        const char* caption;
        CellColor fore, back;
        bool tip, removable;
    } rows[] = {
        {CallState::New, "", text, face, false, false},
        {CallState::Paged, "PAGED", white, blue, true, true},
        {CallState::Absent, "ABSENT", white, red, true, true},
        {CallState::Queue, "QUEUE", text, yellow, true, true},
        {CallState::Terminated, "TERMINATED", white, red, true, true},
        {CallState::NoStatus, "NO STATUS", white, blue, true, true},
        {CallState::Error, "ERROR", text, face, false, true},
        {CallState::Busy, "BUSY", text, face, false, false},
        {CallState::SpeechPaged, "SPEECHPAGED", text, face, false, false},
        {CallState::Free, "", text, face, false, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(StateText(r.state));
        const StateCell cell = StateCellFor(r.state);
        EXPECT_EQ(cell.caption, r.caption);
        EXPECT_TRUE(cell.text == r.fore && cell.background == r.back);
        EXPECT_EQ(cell.toolTip, r.tip ? "DoubleClick here to delete this entry." : "");
        EXPECT_EQ(CanRemoveByDoubleClick(r.state), r.removable);
    }
}

}  // namespace
}  // namespace zelvano::test
