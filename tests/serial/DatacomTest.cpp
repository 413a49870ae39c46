#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serial/Datacom.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::ReadFileBytes;
using test::TestApp;

constexpr const char* kTime = "14:03:22 ";  // the FakeClock's time of day
constexpr const char* kCaptionBefore = "Serial Port: X";
constexpr const char* kToolTipBefore = "RTS status, click on text to change";

// The screen-log lines written so far, oldest first.
std::vector<std::string> Logged(const TestApp& t) {
    std::vector<std::string> out;
    for (int i = 0; i < t.app.screenLog.LogLineCount; ++i)
        out.push_back(t.app.screenLog.LogLines[i]);
    return out;
}

std::int16_t OpenDefault(TestApp& t, std::int16_t compoort = 0, std::int16_t handShake = 0) {
    return OpenComPort(t.app, compoort, 4, 0, 1, 0, handShake);
}

TEST(SettingsString, TableWithFallbacks) {
    const struct {
        std::int16_t baud, parity, bits, stop;
        const char* expected;
    } cases[] = {
        {4, 0, 1, 0, "9600,N,8,1"},
        {0, 0, 0, 0, "300,N,7,1"},
        {1, 1, 1, 1, "1200,E,8,2"},
        {2, 2, 2, 2, "2400,O,8,1"},
        {3, 3, 3, 3, "4800,N,8,1"},
        {5, 4, 4, 4, "19200,N,8,1"},
        {6, 5, 5, 5, "38400,N,8,1"},
        {7, 6, 6, 6, "57600,N,8,1"},
        {7, 7, 7, 7, "57600,N,8,1"},
        {8, 8, 8, 8, "9600,N,8,1"},
        {9, 1, 0, 1, "9600,E,7,2"},
        {-1, -1, -1, -1, "9600,N,8,1"},
        {32767, 32767, 32767, 32767, "9600,N,8,1"},
        {-32768, -32768, -32768, -32768, "9600,N,8,1"},
        {-4, 2, 0, 1, "9600,O,7,2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingsString(c.baud, c.parity, c.bits, c.stop), c.expected)
            << c.baud << ' ' << c.parity << ' ' << c.bits << ' ' << c.stop;
    }
}

TEST(OpenComPort, SetsEveryPortPropertyAndOpens) {
    TestApp t;
    t.app.settings.Logfile = 1;
    t.view.portProblem = "old problem";
    ASSERT_EQ(OpenComPort(t.app, 0, 1, 1, 0, 1, 0), 1);

    EXPECT_EQ(t.line.portNumber, 1);
    EXPECT_EQ(t.line.lineSettings, "1200,E,7,2");
    EXPECT_FALSE(t.line.dtr);
    EXPECT_FALSE(t.line.nullDiscard);
    EXPECT_FALSE(t.line.eofEnable);
    EXPECT_EQ(t.line.inputLen, 1);
    EXPECT_TRUE(t.line.open);
    EXPECT_EQ(t.line.openCount, 1);
    EXPECT_EQ(t.view.portCaption, "Settings: Com:1 at 1200,E,7,2");
    EXPECT_EQ(t.view.portProblem, "");
    EXPECT_EQ(Logged(t),
              std::vector<std::string>{std::string(kTime) +
                                       "Com: 1 opened for ESPA emulation with: 1200,E,7,2"});
}

TEST(OpenComPort, HandShakeTable) {
    const struct {
        std::int16_t handShake;
        FlowControl flow;
        bool rts;
        const char* toolTip;
    } cases[] = {
        {0, FlowControl::None, false, "RTS status, click here to change"},
        {1, FlowControl::None, true, ""},
        {2, FlowControl::RtsCts, true, ""},
        {3, FlowControl::RtsCts, true, ""},
        {-1, FlowControl::RtsCts, true, ""},
        {32767, FlowControl::RtsCts, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("handshake " + std::to_string(c.handShake));
        TestApp t;
        t.line.rts = !c.rts;
        ASSERT_EQ(OpenDefault(t, 0, c.handShake), 1);
        EXPECT_EQ(t.line.flow, c.flow);
        EXPECT_EQ(t.line.rts, c.rts);
        EXPECT_EQ(RtsState(t.app), c.rts ? 1 : -1);
        EXPECT_EQ(t.view.rtsToolTip, c.toolTip);
    }
}

TEST(OpenComPort, PortNumberInCaptionAndLogLine) {
    const struct {
        std::int16_t compoort;
        int port;
        const char* caption;
        const char* line;
    } cases[] = {
        {0, 1, "Settings: Com:1 at 9600,N,8,1",
         "Com: 1 opened for ESPA emulation with: 9600,N,8,1"},
        {3, 4, "Settings: Com:4 at 9600,N,8,1",
         "Com: 4 opened for ESPA emulation with: 9600,N,8,1"},
        {7, 8, "Settings: Com:8 at 9600,N,8,1",
         "Com: 8 opened for ESPA emulation with: 9600,N,8,1"},
    };
    for (const auto& c : cases) {
        TestApp t;
        t.app.settings.Logfile = 2;
        ASSERT_EQ(OpenDefault(t, c.compoort), 1);
        EXPECT_EQ(t.line.portNumber, c.port);
        EXPECT_EQ(t.view.portCaption, c.caption);
        const std::string line = std::string(kTime) + c.line;
        EXPECT_EQ(Logged(t), std::vector<std::string>{line});
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "05122026.log"), line + "\r\n");
    }
}

// Any refused step ends in the error line; caption and tool tip keep their texts.
TEST(OpenComPort, FailureAtAnyStep) {
    enum Step { SelectPort, LineSettings, Opening };
    const struct {
        Step step;
        std::int16_t compoort;
        const char* line;
        int opens;
    } cases[] = {
        {SelectPort, 8, "Error opening ComPort:  9", 0},
        {SelectPort, -2, "Error opening ComPort: -1", 0},
        {SelectPort, 32767, "Error opening ComPort:  32768", 0},
        {LineSettings, 0, "Error opening ComPort:  1", 0},
        {Opening, 0, "Error opening ComPort:  1", 1},
        {Opening, 5, "Error opening ComPort:  6", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TestApp t;
        t.app.settings.Logfile = 1;
        t.line.failSetPort = c.step == SelectPort;
        t.line.failSettings = c.step == LineSettings;
        t.line.failOpen = c.step == Opening;
        t.line.lastError = "/dev/ttyS0: permission denied; dialout";

        EXPECT_EQ(OpenDefault(t, c.compoort, 0), -1);
        EXPECT_EQ(t.line.openCount, c.opens);
        EXPECT_FALSE(t.line.open);
        EXPECT_EQ(Logged(t), std::vector<std::string>{std::string(kTime) + c.line});
        EXPECT_EQ(t.view.portCaption, kCaptionBefore);
        EXPECT_EQ(t.view.rtsToolTip, kToolTipBefore);
        EXPECT_EQ(t.view.portProblem, "/dev/ttyS0: permission denied; dialout");
    }
}

TEST(OpenComPort, ReopenAfterFailureClearsTheProblem) {
    TestApp t;
    t.line.failOpen = true;
    t.line.lastError = "/dev/ttyUSB0: no such device";
    ASSERT_EQ(OpenDefault(t), -1);
    EXPECT_EQ(t.view.portProblem, "/dev/ttyUSB0: no such device");
    t.line.failOpen = false;
    ASSERT_EQ(OpenDefault(t), 1);
    EXPECT_EQ(t.view.portProblem, "");
}

TEST(CloseComPort, LogsOnlyWhenClosed) {
    const struct {
        std::int16_t level;
        bool failClose;
        bool logged;
    } cases[] = {
        {1, false, true}, {3, false, true}, {0, false, false}, {1, true, false}, {3, true, false},
    };
    for (const auto& c : cases) {
        TestApp t;
        t.app.settings.Logfile = c.level;
        t.line.open = true;
        t.line.failClose = c.failClose;
        CloseComPort(t.app);
        EXPECT_EQ(t.line.closeCount, 1);
        const std::vector<std::string> expected =
            c.logged ? std::vector<std::string>{std::string(kTime) + "Comport closed by software."}
                     : std::vector<std::string>{};
        EXPECT_EQ(Logged(t), expected) << "level " << c.level << " failClose " << c.failClose;
    }
}

TEST(ControlLines, CtsAndRtsAreOneOrMinusOne) {
    TestApp t;
    EXPECT_EQ(CtsState(t.app), -1);  // closed: off, whatever the line says
    t.line.cts = true;
    EXPECT_EQ(CtsState(t.app), -1);
    ASSERT_EQ(OpenDefault(t, 0, 1), 1);
    EXPECT_EQ(CtsState(t.app), 1);
    t.line.cts = false;
    EXPECT_EQ(CtsState(t.app), -1);
    EXPECT_EQ(RtsState(t.app), 1);
    t.line.rts = false;
    EXPECT_EQ(RtsState(t.app), -1);
}

TEST(LabLinkStatusClick, TogglesRtsOnlyWithoutHandShake) {
    TestApp t;
    t.app.settings.Logfile = 1;
    t.app.settings.HandShake = 0;
    ASSERT_EQ(OpenDefault(t, 0, 0), 1);
    ASSERT_FALSE(t.line.rts);
    const std::size_t before = Logged(t).size();

    LabLinkStatus_Click(t.app);
    EXPECT_TRUE(t.line.rts);
    EXPECT_EQ(RtsState(t.app), 1);
    LabLinkStatus_Click(t.app);
    EXPECT_FALSE(t.line.rts);
    EXPECT_EQ(RtsState(t.app), -1);

    const auto lines = Logged(t);
    ASSERT_EQ(lines.size(), before + 2);
    EXPECT_EQ(lines[before], std::string(kTime) + "STATUS: RTS made ACTIVE (+12V).");
    EXPECT_EQ(lines[before + 1], std::string(kTime) + "STATUS: RTS made INACTIVE (-12V).");
}

TEST(LabLinkStatusClick, OtherHandShakesRefuse) {
    for (const std::int16_t handShake : {1, 2, 3, -1}) {
        SCOPED_TRACE(handShake);
        TestApp t;
        t.app.settings.Logfile = 1;
        t.app.settings.HandShake = handShake;
        ASSERT_EQ(OpenDefault(t, 0, handShake), 1);
        const std::size_t before = Logged(t).size();
        LabLinkStatus_Click(t.app);
        EXPECT_TRUE(t.line.rts);
        const auto lines = Logged(t);
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back(), std::string(kTime) +
                                    "STATUS: Wrong HandShakeType, no manual adjustment possible.");
    }
}

TEST(LabLinkStatusClick, WorksWhileClosed) {
    TestApp t;
    t.app.settings.HandShake = 0;
    LabLinkStatus_Click(t.app);
    EXPECT_TRUE(t.line.rts);
    EXPECT_EQ(RtsState(t.app), 1);
}

// Level 0 writes nothing, failures included; the operator still sees why.
TEST(SerialSetupLogLevel, ZeroWritesNothing) {
    TestApp t;
    t.app.settings.Logfile = 0;
    t.app.settings.HandShake = 0;
    ASSERT_EQ(OpenDefault(t), 1);
    LabLinkStatus_Click(t.app);
    LabLinkStatus_Click(t.app);
    t.app.settings.HandShake = 2;
    LabLinkStatus_Click(t.app);
    CloseComPort(t.app);
    t.line.failOpen = true;
    t.line.lastError = "/dev/ttyS0: in use by another program";
    EXPECT_EQ(OpenDefault(t), -1);

    EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
    EXPECT_EQ(t.view.showLogLinesCount, 0);
    EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "Log"));
    EXPECT_EQ(t.view.portProblem, "/dev/ttyS0: in use by another program");
}

}  // namespace
}  // namespace zelvano
