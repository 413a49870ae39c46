// The LED tick and the buffer tick of the main window.
#include <gtest/gtest.h>

#include "app/MainTicks.h"
#include "buffer/CallBuffer.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

TEST(MainTicksLink, LookByLineOk) {
    const LinkLook ok{CellColor::ButtonFace(), CellColor::Rgb(0, 0, 0), "ESPA Slave OK"};
    const LinkLook error{CellColor::Rgb(255, 0, 0), CellColor::Rgb(255, 255, 255),
                         "ERROR connecting ESPA Slave"};
    struct Case {
        std::int16_t lineOk;
        std::optional<LinkLook> look;
    };
    const Case cases[] = {{-1, std::nullopt}, {-7, std::nullopt}, {1, ok}, {0, error}, {2, error}};
    for (const Case& c : cases) {
        EXPECT_EQ(LinkLookFor(c.lineOk), c.look) << c.lineOk;
    }
}

TEST(MainTicksLed, SingleByteShowsOneTickOnThenOff) {
    test::TestApp t;
    t.app.activity.TxdActive = true;
    t.app.activity.RxdActive = true;

    LedLook first = LedTimer_Timer(t.app);
    EXPECT_EQ(first.tx, kTxOn);
    EXPECT_EQ(first.rx, kRxOn);
    EXPECT_TRUE(t.app.activity.TxdActive);
    EXPECT_TRUE(t.app.activity.TxdLedPhase);

    LedLook second = LedTimer_Timer(t.app);
    EXPECT_EQ(second.tx, kTxOff);
    EXPECT_EQ(second.rx, kRxOff);
    EXPECT_FALSE(t.app.activity.TxdActive);
    EXPECT_FALSE(t.app.activity.TxdLedPhase);
    EXPECT_FALSE(t.app.activity.RxdActive);

    LedLook third = LedTimer_Timer(t.app);
    EXPECT_FALSE(third.tx.has_value());
    EXPECT_FALSE(third.rx.has_value());
}

TEST(MainTicksLed, BurstBlinksAndEndsDark) {
    test::TestApp t;
    std::vector<CellColor> painted;
    for (int tick = 0; tick < 6; ++tick) {
        t.app.activity.RxdActive = true;  // bytes keep coming
        painted.push_back(*LedTimer_Timer(t.app).rx);
    }
    EXPECT_EQ(painted, (std::vector<CellColor>{kRxOn, kRxOff, kRxOn, kRxOff, kRxOn, kRxOff}));
    EXPECT_FALSE(LedTimer_Timer(t.app).rx.has_value());
    EXPECT_FALSE(LedTimer_Timer(t.app).tx.has_value());
}

TEST(MainTicksLed, LinesFollowCtsAndRts) {
    struct Case {
        bool open, cts, rts;
        CellColor ctsLook, rtsLook;
    };
    const Case cases[] = {
        {true, true, false, kLineOn, kLineOff},
        {true, false, true, kLineOff, kLineOn},
        {false, true, false, kLineOff, kLineOff},  // CTS reads off while closed
    };
    for (const Case& c : cases) {
        test::TestApp t;
        t.line.open = c.open;
        t.line.cts = c.cts;
        t.line.rts = c.rts;
        const LedLook look = LedTimer_Timer(t.app);
        EXPECT_EQ(look.cts, c.ctsLook);
        EXPECT_EQ(look.rts, c.rtsLook);
    }
}

TEST(MainTicksLed, LinkIsLeftAloneUntilKnown) {
    test::TestApp t;
    t.app.espa.LineOk = -1;
    EXPECT_FALSE(LedTimer_Timer(t.app).link.has_value());
    t.app.espa.LineOk = 0;
    ASSERT_TRUE(LedTimer_Timer(t.app).link.has_value());
    EXPECT_EQ(LedTimer_Timer(t.app).link->caption, "ERROR connecting ESPA Slave");
}

TEST(MainTicksBuffer, TimeOutsRunBeforeTheRepeat) {
    test::TestApp t;
    AddCall(t.app, "1", "1", "old", "3", "1", "3");
    t.app.CallBuffer[0].TimeOutCount = 1;
    t.app.LastCall = {"2", 1, "again", 3, 3, "1"};
    t.app.autoRepeat = {1, 1, 1};

    TmrBuffer_Timer(t.app);

    EXPECT_EQ(t.app.CallBuffer[0].Status, "ERROR");
    EXPECT_EQ(t.app.CallBuffer[1].Address, "2");
    EXPECT_EQ(t.app.CallBuffer[1].Status, "NEW");
    // Queued after the time-outs ran: its count is still whole.
    EXPECT_EQ(t.app.CallBuffer[1].TimeOutCount, 60);
    EXPECT_EQ(t.app.autoRepeat.AutoRepeatCountdown, 10);
}

TEST(MainTicksBuffer, SixtyTicksTurnAnUnansweredCallToError) {
    test::TestApp t;
    AddCall(t.app, "1", "1", "", "3", "1", "3");
    for (int tick = 1; tick < 60; ++tick) {
        TmrBuffer_Timer(t.app);
    }
    EXPECT_EQ(t.app.CallBuffer[0].Status, "NEW");
    TmrBuffer_Timer(t.app);
    EXPECT_EQ(t.app.CallBuffer[0].Status, "ERROR");
}

}  // namespace
}  // namespace zelvano
