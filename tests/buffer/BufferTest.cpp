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
            out += (out.empty() ? "" : " ") + e.address + ":" + e.Status + ":" +
                   std::to_string(e.timeOutCount);
    }
    return out;
}

// Adds calls c0, c1... in the given states ('_' for a blank), with counts left.
std::vector<std::string> Fill(TestApp& t, const std::string& states, std::int16_t count = 60) {
    std::istringstream in(states);
    std::vector<std::string> out;
    for (std::string state; in >> state;) {
        std::replace(state.begin(), state.end(), '_', ' ');
        AddCall(t.app, "c" + std::to_string(out.size()), "1", "", "3", "1", "3");
        t.app.CallBuffer[out.size()].Status = state;
        t.app.CallBuffer[out.size()].timeOutCount = count;
        out.push_back(state);
    }
    ShowCallBuffer(t.app);
    return out;
}

std::string LastLog(const TestApp& t) {
    const std::int16_t n = t.app.screenLog.LogLineCount;
    return n > 0 ? t.app.screenLog.LogLines[n - 1].substr(9) : "";
}

TEST(CallBuffer, AddCallStoresTheFieldsAndLogsTheFilledOnes) {
    const std::array<const char*, 7> rows[] = {
        // address, bleep, alfa, priority, nrOfTx, callType, log line
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
            TestApp t;
            t.app.settings.logLevel = level;
            t.app.nextCallId = 0;  // 0 marks a free position: skipped
            AddCall(t.app, r[0], r[1], r[2], r[3], r[4], r[5]);
            const Call& e = t.app.CallBuffer[0];
            EXPECT_EQ(e.address + e.bleep + e.text + e.priority + e.transmissions + e.callType,
                      std::string(r[0]) + r[1] + r[2] + r[3] + r[4] + r[5]);
            EXPECT_EQ(Dump(t.app.CallBuffer), std::string(r[0]) + ":NEW:60");
            EXPECT_EQ(e.id, 1u);
            EXPECT_EQ(Dump(t.view.lastBuffer), Dump(t.app.CallBuffer));
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
        TestApp t;
        const std::vector<std::string> states = Fill(t, list, 17);
        t.app.settings.logLevel = 1;
        AddCall(t.app, "new", "1", "", "3", "1", "3");
        std::string want;  // the others move up with their states and counts
        for (std::size_t i = 0; i < 10; ++i) {
            if (i != removed)
                want += "c" + std::to_string(i) + ":" + states[i] + ":17 ";
        }
        EXPECT_EQ(Dump(t.app.CallBuffer), want + "new:NEW:60");
        const std::string gone = states[removed];
        const bool dropped = gone != "PAGED" && gone != "ABSENT" && gone != "TERMINATED";
        EXPECT_EQ(t.app.screenLog.LogLines[0].substr(9),
                  dropped ? "STATUS: Buffer full, call dropped for Pager: [c0]"
                          : "STATUS: Call to Buffer for Pager: [new] Bleep: [1] NrOfTx: [1] "
                            "Priority: [3] Calltype: [3]");
        EXPECT_EQ(t.app.screenLog.LogLineCount, dropped ? 2 : 1);
    }
}

TEST(CallBuffer, RemovalClosesTheGapAndLeavesTheRedrawToTheCaller) {
    TestApp t;
    Fill(t, "NEW NEW QUEUE");
    t.app.CallBuffer[2].timeOutCount = 42;
    const std::uint32_t idOfC2 = t.app.CallBuffer[2].id;
    const int redraws = t.view.showCallBufferCount;
    DeleteCall(t.app, 1);
    EXPECT_EQ(Dump(t.app.CallBuffer), "c0:NEW:60 c2:QUEUE:42");
    EXPECT_EQ(t.app.CallBuffer[1].id, idOfC2);
    for (std::int16_t outside : {-1, 10, 32767, -32768}) {
        DeleteCall(t.app, outside);
        ClearCallEntry(t.app, outside);
    }
    EXPECT_EQ(t.view.showCallBufferCount, redraws);
    AddCall(t.app, "d", "1", "", "3", "1", "3");
    EXPECT_EQ(Dump(t.app.CallBuffer), "c0:NEW:60 c2:QUEUE:42 d:NEW:60");
    ClearCallEntry(t.app, 0);  // leaves a gap: only DeleteCall closes one
    EXPECT_EQ(Dump(t.app.CallBuffer), "c2:QUEUE:42 d:NEW:60");
    TestApp full;
    Fill(full, "NEW NEW NEW NEW NEW NEW NEW NEW NEW NEW");
    DeleteCall(full.app, 9);
    EXPECT_EQ(Dump(full.app.CallBuffer).size(), 9 * 10 - 1u);  // c0..c8 unmoved
    EXPECT_EQ(Dump(full.app.CallBuffer).substr(80), "c8:NEW:60");
    ClearCallBuffer(full.app);
    // SoundState looks at the buffer first: only the idle engine is left to report.
    EXPECT_EQ(SoundState(full.app).substr(0, 8), "step 0, ");
}

TEST(CallBuffer, TimeOutOnTheSixtiethTickForNewAndQueueOnly) {
    for (const char* state : {"NEW", "QUEUE", "PAGED", "ABSENT", "BUSY", "TERMINATED",
                              "SPEECHPAGED", "ERROR", "NO_STATUS"}) {
        for (std::int16_t level : {1, 0}) {
            TestApp t;
            t.app.settings.logLevel = level;
            const std::string word = Fill(t, std::string("PAGED PAGED PAGED ") + state)[3];
            const int redraws = t.view.showCallBufferCount, lines = t.app.screenLog.LogLineCount;
            Call& e = t.app.CallBuffer[3];
            e.delivered = word == "QUEUE";  // accepted by the slave: its state is unknown
            t.view.lastBuffer = {};
            for (int tick = 0; tick < 59; ++tick)
                CheckBufferTimeOuts(t.app);
            EXPECT_EQ(e.Status + std::to_string(e.timeOutCount), word + "1");
            CheckBufferTimeOuts(t.app);
            const bool out = word == "NEW" || word == "QUEUE";
            const std::string given = word == "QUEUE" ? "NO STATUS" : "ERROR";
            EXPECT_EQ(e.Status + std::to_string(e.timeOutCount), out ? given + "0" : word + "1");
            EXPECT_EQ(t.view.showCallBufferCount, redraws + (out ? 1 : 0));
            EXPECT_EQ(t.view.lastBuffer[3].Status, out ? given : "");
            EXPECT_EQ(t.app.screenLog.LogLineCount > lines ? LastLog(t) : "",
                      out && level ? "Bufferpositie:  3 TimeOut." : "");
        }
    }
    // The count is never restarted: a call back in "QUEUE" after its time is
    // given up on the next tick.
    TestApp t;
    Fill(t, "NEW NEW", 11);
    for (int tick = 0; tick < 10; ++tick)
        CheckBufferTimeOuts(t.app);
    EXPECT_EQ(Dump(t.app.CallBuffer), "c0:NEW:1 c1:NEW:1");
    t.app.CallBuffer[0].Status = "BUSY";
    for (int tick = 0; tick < 30; ++tick)
        CheckBufferTimeOuts(t.app);
    t.app.CallBuffer[0].Status = "QUEUE";
    CheckBufferTimeOuts(t.app);
    EXPECT_EQ(Dump(t.app.CallBuffer), "c0:ERROR:0 c1:ERROR:0");
}

TEST(BufferDisplay, StateCellsAndWhatADoubleClickRemoves) {
    const CellColor text = CellColor::WindowText(), face = CellColor::ButtonFace();
    const CellColor white = CellColor::Rgb(255, 255, 255), blue = CellColor::Rgb(0, 0, 192);
    const CellColor red = CellColor::Rgb(192, 0, 0), yellow = CellColor::Rgb(255, 255, 0);
    const struct {
        const char* status;
        const char* caption;
        CellColor fore, back;
        bool tip, removable;
    } rows[] = {
        {"NEW", "", text, face, false, false},
        {"PAGED", "PAGED", white, blue, true, true},
        {"ABSENT", "ABSENT", white, red, true, true},
        {"QUEUE", "QUEUE", text, yellow, true, true},
        {"TERMINATED", "TERMINATED", white, red, true, true},
        {"NO STATUS", "NO STATUS", white, blue, true, true},
        {"ERROR", "ERROR", text, face, false, true},
        {"BUSY", "BUSY", text, face, false, false},
        {"SPEECHPAGED", "SPEECHPAGED", text, face, false, false},
        {"paged", "paged", text, face, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.status);
        const StateCell cell = StateCellFor(r.status);
        EXPECT_EQ(cell.caption, r.caption);
        EXPECT_TRUE(cell.text == r.fore && cell.background == r.back);
        EXPECT_EQ(cell.toolTip, r.tip ? "DoubleClick here to delete this entry." : "");
        TestApp t;
        std::string word = r.status;
        std::replace(word.begin(), word.end(), ' ', '_');
        Fill(t, "PAGED " + word + " ERROR");
        LabReturnedStatus_DblClick(t.app, 1);  // c2 moves in and is not examined again
        EXPECT_EQ(Dump(t.view.lastBuffer),
                  r.removable ? "c0:PAGED:60 c2:ERROR:60"
                              : "c0:PAGED:60 c1:" + std::string(r.status) + ":60 c2:ERROR:60");
        EXPECT_EQ(t.view.beeps, r.removable ? 1 : 0);
    }
    TestApp t;
    Fill(t, "NEW");
    const int redraws = t.view.showCallBufferCount;
    LabReturnedStatus_DblClick(t.app, 5);  // an empty row beeps
    LabReturnedStatus_DblClick(t.app, -1);
    LabReturnedStatus_DblClick(t.app, 10);
    EXPECT_EQ(t.view.beeps, 1);
    EXPECT_EQ(Dump(t.app.CallBuffer), "c0:NEW:60");
    EXPECT_EQ(t.view.showCallBufferCount, redraws + 1);
}

}  // namespace
}  // namespace zelvano::test
