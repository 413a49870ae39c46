#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "buffer/CallBuffer.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::TestApp;

CallBufferEntry& At(TestApp& t, int position) {
    return t.app.CallBuffer[static_cast<std::size_t>(position)];
}

// Adds a call whose address names it; the other fields are fixed.
void AddNamed(TestApp& t, const std::string& address) {
    AddCall(t.app, address, "1", "", "3", "1", "3");
}

// Fills the buffer with calls "c0".."c9" in the given states.
void FillWithStates(TestApp& t, const std::array<const char*, 10>& states) {
    for (int i = 0; i < 10; ++i) {
        AddNamed(t, "c" + std::to_string(i));
        At(t, i).Status = states[static_cast<std::size_t>(i)];
    }
}

std::vector<std::string> Addresses(TestApp& t) {
    std::vector<std::string> out;
    for (const auto& e : t.app.CallBuffer)
        out.push_back(e.Address);
    return out;
}

bool IsClear(const CallBufferEntry& e) {
    return e.Address.empty() && e.Alfa.empty() && e.Bleep.empty() && e.Priority.empty() &&
           e.CallType.empty() && e.NrOfTx.empty() && e.Status.empty() && e.TimeOutCount == 0 &&
           e.CallId == 0;
}

// ---- AddCall ----------------------------------------------------------------

TEST(AddCall, FirstCallFillsPositionZero) {
    TestApp t;
    t.app.settings.Logfile = 1;
    AddCall(t.app, "1234", "B", "Hello", "2", "3", "1");

    const CallBufferEntry& e = At(t, 0);
    EXPECT_EQ(e.Address, "1234");
    EXPECT_EQ(e.Bleep, "B");
    EXPECT_EQ(e.Alfa, "Hello");
    EXPECT_EQ(e.Priority, "2");
    EXPECT_EQ(e.NrOfTx, "3");
    EXPECT_EQ(e.CallType, "1");
    EXPECT_EQ(e.Status, "NEW");
    EXPECT_EQ(e.TimeOutCount, 60);
    EXPECT_NE(e.CallId, 0u);
    for (int i = 1; i < 10; ++i)
        EXPECT_TRUE(IsClear(At(t, i))) << i;

    EXPECT_EQ(t.view.showCallBufferCount, 1);
    EXPECT_EQ(t.view.lastBuffer[0].Address, "1234");
    EXPECT_EQ(t.view.lastBuffer[0].Status, "NEW");
    EXPECT_EQ(t.app.screenLog.LogLines[0],
              "14:03:22 STATUS: Call to Buffer for Pager: [1234] Alfa: [Hello] Bleep: [B] NrOfTx: "
              "[3] Priority: [2] Calltype: [1]");
}

TEST(AddCall, LogLineLeavesOutEmptyFields) {
    const struct {
        const char* address;
        const char* bleep;
        const char* alfa;
        const char* priority;
        const char* nrOfTx;
        const char* callType;
        const char* line;
    } cases[] = {
        {"1234", "1", "Hello", "3", "1", "3",
         "STATUS: Call to Buffer for Pager: [1234] Alfa: [Hello] Bleep: [1] NrOfTx: [1] "
         "Priority: [3] Calltype: [3]"},
        {"1234", "1", "", "3", "1", "3",
         "STATUS: Call to Buffer for Pager: [1234] Bleep: [1] NrOfTx: [1] Priority: [3] "
         "Calltype: [3]"},
        {"", "", "", "", "", "", "STATUS: Call to Buffer for Pager: []"},
        {"7", "", "x", "", "2", "", "STATUS: Call to Buffer for Pager: [7] Alfa: [x] NrOfTx: [2]"},
        {"", "F", "", "0", "", "0",
         "STATUS: Call to Buffer for Pager: [] Bleep: [F] Priority: [0] Calltype: [0]"},
    };
    for (const auto& c : cases) {
        TestApp t;
        t.app.settings.Logfile = 1;
        AddCall(t.app, c.address, c.bleep, c.alfa, c.priority, c.nrOfTx, c.callType);
        EXPECT_EQ(t.app.screenLog.LogLines[0], std::string("14:03:22 ") + c.line);
        EXPECT_EQ(t.app.screenLog.LogLineCount, 1);
    }
}

TEST(AddCall, NothingLoggedAtLevelZero) {
    TestApp t;
    AddNamed(t, "1234");
    EXPECT_EQ(At(t, 0).Status, "NEW");
    EXPECT_EQ(t.view.showCallBufferCount, 1);
    EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
    EXPECT_EQ(t.view.showLogLinesCount, 0);
}

TEST(AddCall, CallsFillPositionsInOrderOfArrival) {
    TestApp t;
    for (int i = 0; i < 10; ++i)
        AddNamed(t, "c" + std::to_string(i));
    EXPECT_EQ(Addresses(t), (std::vector<std::string>{"c0", "c1", "c2", "c3", "c4", "c5", "c6",
                                                      "c7", "c8", "c9"}));
    EXPECT_EQ(t.view.showCallBufferCount, 10);
}

TEST(AddCall, EveryCallGetsItsOwnIdNeverZero) {
    TestApp t;
    t.app.nextCallId = UINT32_MAX;
    AddNamed(t, "a");
    AddNamed(t, "b");
    AddNamed(t, "c");
    EXPECT_EQ(At(t, 0).CallId, UINT32_MAX);
    EXPECT_EQ(At(t, 1).CallId, 1u);  // 0 is skipped: it marks a free position
    EXPECT_EQ(At(t, 2).CallId, 2u);
    EXPECT_EQ(At(t, 3).CallId, 0u);
}

// A full buffer gives up its first finished call, else the oldest call, and the
// new call lands at position 9.
TEST(AddCall, MakeRoomRules) {
    const struct {
        const char* name;
        std::array<const char*, 10> states;
        int removed;
        bool droppedLine;
    } cases[] = {
        {"none finished",
         {"NEW", "NEW", "QUEUE", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW"},
         0,
         true},
        {"PAGED before ABSENT",
         {"NEW", "QUEUE", "ERROR", "BUSY", "PAGED", "NEW", "NEW", "ABSENT", "NEW", "NEW"},
         4,
         false},
        {"all ERROR",
         {"ERROR", "ERROR", "ERROR", "ERROR", "ERROR", "ERROR", "ERROR", "ERROR", "ERROR", "ERROR"},
         0,
         true},
        {"TERMINATED last",
         {"QUEUE", "BUSY", "SPEECHPAGED", "NO STATUS", "ERROR", "NEW", "QUEUE", "BUSY", "ERROR",
          "TERMINATED"},
         9,
         false},
        {"ABSENT first",
         {"ABSENT", "PAGED", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW"},
         0,
         false},
        {"no finished among unusual states",
         {"BUSY", "SPEECHPAGED", "NO STATUS", "QUEUE", "ERROR", "BUSY", "NO STATUS", "QUEUE",
          "SPEECHPAGED", "ERROR"},
         0,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestApp t;
        FillWithStates(t, c.states);
        t.app.settings.Logfile = 1;
        At(t, 9).TimeOutCount = 17;  // a running count must move with its call
        AddNamed(t, "new");

        std::vector<std::string> expected;
        for (int i = 0; i < 10; ++i) {
            if (i != c.removed)
                expected.push_back("c" + std::to_string(i));
        }
        expected.push_back("new");
        EXPECT_EQ(Addresses(t), expected);
        for (int i = 0; i < 9; ++i) {
            const int from = i < c.removed ? i : i + 1;
            EXPECT_EQ(At(t, i).Status, c.states[static_cast<std::size_t>(from)]) << i;
        }
        EXPECT_EQ(At(t, 9).Status, "NEW");
        EXPECT_EQ(At(t, 9).TimeOutCount, 60);
        if (c.removed != 9) {
            EXPECT_EQ(At(t, 8).TimeOutCount, 17);
        }

        const std::string callLine =
            "14:03:22 STATUS: Call to Buffer for Pager: [new] Bleep: [1] "
            "NrOfTx: [1] Priority: [3] Calltype: [3]";
        if (c.droppedLine) {
            ASSERT_EQ(t.app.screenLog.LogLineCount, 2);
            EXPECT_EQ(t.app.screenLog.LogLines[0],
                      "14:03:22 STATUS: Buffer full, call dropped for Pager: [c0]");
            EXPECT_EQ(t.app.screenLog.LogLines[1], callLine);
        } else {
            ASSERT_EQ(t.app.screenLog.LogLineCount, 1);
            EXPECT_EQ(t.app.screenLog.LogLines[0], callLine);
        }
    }
}

TEST(AddCall, DroppedCallIsNotLoggedAtLevelZero) {
    TestApp t;
    FillWithStates(t, {"NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW"});
    AddNamed(t, "new");
    EXPECT_EQ(At(t, 0).Address, "c1");
    EXPECT_EQ(At(t, 9).Address, "new");
    EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
}

// ---- DeleteCall, ClearCallEntry, ClearCallBuffer -----------------------------

TEST(DeleteCall, ClosesTheGapKeepingStateCountAndId) {
    TestApp t;
    AddNamed(t, "a");
    AddNamed(t, "b");
    AddNamed(t, "c");
    At(t, 2).Status = "QUEUE";
    At(t, 2).TimeOutCount = 42;
    const std::uint32_t idOfC = At(t, 2).CallId;
    const int shows = t.view.showCallBufferCount;

    DeleteCall(t.app, 1);
    EXPECT_EQ(At(t, 0).Address, "a");
    EXPECT_EQ(At(t, 1).Address, "c");
    EXPECT_EQ(At(t, 1).Status, "QUEUE");
    EXPECT_EQ(At(t, 1).TimeOutCount, 42);
    EXPECT_EQ(At(t, 1).CallId, idOfC);
    EXPECT_TRUE(IsClear(At(t, 2)));
    EXPECT_EQ(t.view.showCallBufferCount, shows);  // the caller redraws

    AddNamed(t, "d");
    EXPECT_EQ(At(t, 2).Address, "d");
    EXPECT_NE(At(t, 2).CallId, idOfC);
}

TEST(DeleteCall, LastPositionOfAFullBufferOnlyClearsIt) {
    TestApp t;
    FillWithStates(t, {"NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "NEW", "PAGED"});
    DeleteCall(t.app, 9);
    EXPECT_EQ(Addresses(t),
              (std::vector<std::string>{"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", ""}));
    EXPECT_TRUE(IsClear(At(t, 9)));
}

TEST(DeleteCall, PositionsOutsideTheBufferChangeNothing) {
    for (std::int16_t position : {-1, 10, 32767, -32768}) {
        TestApp t;
        AddNamed(t, "a");
        AddNamed(t, "b");
        const CallBufferArray before = t.app.CallBuffer;
        DeleteCall(t.app, position);
        ClearCallEntry(t.app, position);
        EXPECT_EQ(Addresses(t)[0], "a");
        EXPECT_EQ(Addresses(t)[1], "b");
        EXPECT_EQ(t.app.CallBuffer[1].CallId, before[1].CallId);
    }
}

TEST(ClearCallEntry, EmptiesOnePosition) {
    TestApp t;
    AddCall(t.app, "a", "1", "text", "3", "1", "3");
    AddNamed(t, "b");
    ClearCallEntry(t.app, 0);
    EXPECT_TRUE(IsClear(At(t, 0)));
    EXPECT_EQ(At(t, 1).Address, "b");
}

TEST(ClearCallBuffer, EmptiesEveryPosition) {
    TestApp t;
    FillWithStates(t, {"NEW", "QUEUE", "PAGED", "ABSENT", "BUSY", "TERMINATED", "SPEECHPAGED",
                       "ERROR", "NO STATUS", "NEW"});
    const int shows = t.view.showCallBufferCount;
    ClearCallBuffer(t.app);
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(IsClear(At(t, i))) << i;
    EXPECT_EQ(t.view.showCallBufferCount, shows);
}

// ---- CheckBufferTimeOuts ----------------------------------------------------

void Ticks(TestApp& t, int count) {
    for (int i = 0; i < count; ++i)
        CheckBufferTimeOuts(t.app);
}

TEST(BufferTimeOut, NewCallBecomesErrorOnTheSixtiethTick) {
    for (std::int16_t level : {0, 1}) {
        SCOPED_TRACE("level " + std::to_string(level));
        TestApp t;
        t.app.settings.Logfile = level;
        AddNamed(t, "a");
        const int shows = t.view.showCallBufferCount;
        const int lines = t.app.screenLog.LogLineCount;

        Ticks(t, 59);
        EXPECT_EQ(At(t, 0).Status, "NEW");
        EXPECT_EQ(At(t, 0).TimeOutCount, 1);
        EXPECT_EQ(t.view.showCallBufferCount, shows);

        Ticks(t, 1);
        EXPECT_EQ(At(t, 0).Status, "ERROR");
        EXPECT_EQ(At(t, 0).TimeOutCount, 0);
        EXPECT_EQ(t.view.showCallBufferCount, shows + 1);
        EXPECT_EQ(t.view.lastBuffer[0].Status, "ERROR");
        if (level == 0) {
            EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
        } else {
            ASSERT_EQ(t.app.screenLog.LogLineCount, lines + 1);
            EXPECT_EQ(t.app.screenLog.LogLines[static_cast<std::size_t>(lines)],
                      "14:03:22 Bufferpositie:  0 TimeOut.");
        }

        Ticks(t, 5);  // an ERROR call stays as it is
        EXPECT_EQ(At(t, 0).Status, "ERROR");
        EXPECT_EQ(At(t, 0).TimeOutCount, 0);
        EXPECT_EQ(t.view.showCallBufferCount, shows + 1);
    }
}

TEST(BufferTimeOut, CountHeldAtOneWhileTheCallIsElsewhere) {
    TestApp t;
    t.app.settings.Logfile = 1;
    AddNamed(t, "a");
    Ticks(t, 29);
    At(t, 0).Status = "QUEUE";
    Ticks(t, 1);  // tick 30
    At(t, 0).Status = "BUSY";
    Ticks(t, 39);  // ticks 31..69
    EXPECT_EQ(At(t, 0).Status, "BUSY");
    EXPECT_EQ(At(t, 0).TimeOutCount, 1);
    At(t, 0).Status = "QUEUE";  // back at tick 70
    Ticks(t, 1);
    EXPECT_EQ(At(t, 0).Status, "ERROR");
    EXPECT_EQ(At(t, 0).TimeOutCount, 0);
}

TEST(BufferTimeOut, OnlyNewAndQueueAreGivenUp) {
    const struct {
        const char* status;
        bool givenUp;
    } cases[] = {
        {"NEW", true},          {"QUEUE", true},  {"PAGED", false},
        {"ABSENT", false},      {"BUSY", false},  {"TERMINATED", false},
        {"SPEECHPAGED", false}, {"ERROR", false}, {"NO STATUS", false},
    };
    for (const auto& c : cases) {
        TestApp t;
        t.app.settings.Logfile = 1;
        AddNamed(t, "a");
        At(t, 0).Status = c.status;
        Ticks(t, 100);
        EXPECT_EQ(At(t, 0).Status, c.givenUp ? "ERROR" : c.status) << c.status;
        EXPECT_EQ(At(t, 0).TimeOutCount, c.givenUp ? 0 : 1) << c.status;
        EXPECT_EQ(t.app.screenLog.LogLineCount, c.givenUp ? 2 : 1) << c.status;
    }
}

TEST(BufferTimeOut, EachPositionCountsFromItsOwnEntry) {
    TestApp t;
    t.app.settings.Logfile = 1;
    for (int i = 0; i < 4; ++i) {
        AddNamed(t, "c" + std::to_string(i));
        Ticks(t, 10);
    }
    // c0 entered 40 ticks ago, c3 10 ticks ago.
    EXPECT_EQ(At(t, 0).TimeOutCount, 20);
    EXPECT_EQ(At(t, 3).TimeOutCount, 50);
    Ticks(t, 49);  // c3 at its 59th tick, c0..c2 given up already
    EXPECT_EQ(At(t, 2).Status, "ERROR");
    EXPECT_EQ(At(t, 3).Status, "NEW");
    Ticks(t, 1);
    EXPECT_EQ(At(t, 3).Status, "ERROR");
    EXPECT_EQ(t.app.screenLog.LogLines[t.app.screenLog.LogLineCount - 1],
              "14:03:22 Bufferpositie:  3 TimeOut.");
    // Free positions keep a count of 0.
    EXPECT_EQ(At(t, 4).TimeOutCount, 0);
    EXPECT_EQ(At(t, 4).Status, "");
}

}  // namespace
}  // namespace zelvano
