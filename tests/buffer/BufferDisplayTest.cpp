#include <gtest/gtest.h>

#include <string>

#include "buffer/BufferDisplay.h"
#include "buffer/CallBuffer.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::TestApp;

const CellColor kText = CellColor::WindowText();
const CellColor kFace = CellColor::ButtonFace();
const CellColor kWhite = CellColor::Rgb(255, 255, 255);
const CellColor kBlue = CellColor::Rgb(0, 0, 192);
const CellColor kRed = CellColor::Rgb(192, 0, 0);
const CellColor kYellow = CellColor::Rgb(255, 255, 0);
constexpr const char* kTip = "DoubleClick here to delete this entry.";

TEST(StateCell, LookOfEveryState) {
    const struct {
        const char* status;
        const char* caption;
        CellColor text;
        CellColor background;
        const char* tip;
    } cases[] = {
        {"NEW", "", kText, kFace, ""},
        {"PAGED", "PAGED", kWhite, kBlue, kTip},
        {"ABSENT", "ABSENT", kWhite, kRed, kTip},
        {"QUEUE", "QUEUE", kText, kYellow, kTip},
        {"TERMINATED", "TERMINATED", kWhite, kRed, kTip},
        {"NO STATUS", "NO STATUS", kWhite, kBlue, kTip},
        {"", "", kText, kFace, ""},
        {"BUSY", "BUSY", kText, kFace, ""},
        {"SPEECHPAGED", "SPEECHPAGED", kText, kFace, ""},
        {"ERROR", "ERROR", kText, kFace, ""},
        {"paged", "paged", kText, kFace, ""},
    };
    for (const auto& c : cases) {
        const StateCell cell = StateCellFor(c.status);
        EXPECT_EQ(cell.caption, c.caption) << c.status;
        EXPECT_TRUE(cell.text == c.text) << c.status;
        EXPECT_TRUE(cell.background == c.background) << c.status;
        EXPECT_EQ(cell.toolTip, c.tip) << c.status;
    }
}

// Which states a double-click removes, and what it costs: one beep, the
// removal and one redraw; or nothing at all.
TEST(DoubleClick, RemovesOnlyTheStatesThatAllowIt) {
    const struct {
        const char* status;
        bool removed;
    } cases[] = {
        {"ABSENT", true},     {"PAGED", true},     {"QUEUE", true},
        {"TERMINATED", true}, {"NO STATUS", true}, {"ERROR", true},
        {"NEW", false},       {"BUSY", false},     {"SPEECHPAGED", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(CanRemoveByDoubleClick(c.status), c.removed);

        TestApp t;
        AddCall(t.app, "a", "1", "", "3", "1", "3");
        AddCall(t.app, "b", "1", "", "3", "1", "3");
        AddCall(t.app, "c", "1", "", "3", "1", "3");
        t.app.CallBuffer[1].Status = c.status;
        const int shows = t.view.showCallBufferCount;

        LabReturnedStatus_DblClick(t.app, 1);
        EXPECT_EQ(t.view.beeps, c.removed ? 1 : 0);
        EXPECT_EQ(t.view.showCallBufferCount, shows + (c.removed ? 1 : 0));
        EXPECT_EQ(t.app.CallBuffer[1].Address, c.removed ? "c" : "b");
        EXPECT_EQ(t.app.CallBuffer[2].Address, c.removed ? "" : "c");
        if (c.removed) {
            EXPECT_EQ(t.view.lastBuffer[1].Address, "c");
        }
    }
}

TEST(DoubleClick, CallMovedIntoTheRowIsNotExaminedAgain) {
    TestApp t;
    for (const char* a : {"c0", "c1", "c2", "c3", "c4"})
        AddCall(t.app, a, "1", "", "3", "1", "3");
    t.app.CallBuffer[3].Status = "PAGED";
    t.app.CallBuffer[4].Status = "ERROR";
    LabReturnedStatus_DblClick(t.app, 3);
    EXPECT_EQ(t.view.beeps, 1);
    EXPECT_EQ(t.app.CallBuffer[3].Address, "c4");
    EXPECT_EQ(t.app.CallBuffer[3].Status, "ERROR");
    EXPECT_EQ(t.view.lastBuffer[3].Status, "ERROR");
    EXPECT_EQ(t.app.CallBuffer[4].Status, "");
}

TEST(DoubleClick, EmptyRowBeepsAndChangesNothing) {
    TestApp t;
    AddCall(t.app, "a", "1", "", "3", "1", "3");
    const CallBufferArray before = t.app.CallBuffer;
    LabReturnedStatus_DblClick(t.app, 5);
    EXPECT_EQ(t.view.beeps, 1);
    EXPECT_EQ(t.app.CallBuffer[0].Address, "a");
    EXPECT_EQ(t.app.CallBuffer[0].CallId, before[0].CallId);
    EXPECT_EQ(t.app.CallBuffer[0].Status, "NEW");
}

TEST(DoubleClick, RowOutsideTheBufferIsIgnored) {
    for (std::int16_t row : {-1, 10}) {
        TestApp t;
        AddCall(t.app, "a", "1", "", "3", "1", "3");
        const int shows = t.view.showCallBufferCount;
        LabReturnedStatus_DblClick(t.app, row);
        EXPECT_EQ(t.view.beeps, 0) << row;
        EXPECT_EQ(t.view.showCallBufferCount, shows) << row;
        EXPECT_EQ(t.app.CallBuffer[0].Address, "a") << row;
    }
}

}  // namespace
}  // namespace zelvano
