// The serial layer over the fake line: byte transfer and its trace, port
// setup and control lines, the port map, port-problem texts, and the held
// trace of the status-block drain.
#include <gtest/gtest.h>

#include <sstream>

#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "espa/EngineSteps.h"
#include "serial/ByteTransfer.h"
#include "serial/Datacom.h"
#include "serial/LineSettings.h"
#include "serial/PortMap.h"
#include "serial/PortProblem.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using namespace test;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

const std::string T = "14:03:22 ";                         // the FakeClock's time of day
const std::string R = "RxD: " + std::string(18, ' ');     // received bytes sit further right

std::string Trace(const TestApp& t, const char* day = "05122026.log") {
    return ReadFileBytes(t.dir.path() / "DebugLog" / day);
}
std::string Lines(const Strings& lines) {
    std::string out;
    for (const auto& line : lines)
        out += T + line + "\r\n";
    return out;
}
Strings Logged(const TestApp& t) {
    const auto& s = t.app.screenLog;
    return {s.LogLines.begin(), s.LogLines.begin() + s.LogLineCount};
}
bool NoTrace(const TestApp& t) { return !fs::exists(t.dir.path() / "DebugLog"); }

TEST(ByteTrace, ControlNamesAndLineLayout) {
    std::istringstream names(
        "NUL SOH STX ETX EOT ENQ ACK BEL BS HT LF VT FF CR SO SI DLE DC1 DC2 DC3 DC4 NAK SYN ETB "
        "CAN EM SUB ESC FS GS RS US SP");
    std::string name;
    for (std::int16_t v = 0; names >> name; ++v)
        EXPECT_EQ(ControlCharName(v), "[" + name + "]");
    const std::pair<std::int16_t, const char*> others[] = {
        {33, "!"},       {126, "~"},          {127, "[RUB]"},      {128, "\u20AC"}, {0x8A, "\u0160"},
        {0xE9, "\u00E9"}, {255, "\u00FF"}, {-1, ""}, {256, ""}};
    for (const auto& [value, text] : others)
        EXPECT_EQ(ControlCharName(value), text) << value;
    // Columns of six (name, decimal, hex) in Windows-1252 bytes; direction 1 is sent.
    const struct {
        std::int16_t value, direction;
        std::string line;
    } cases[] = {{5, 1, "TxD: [ENQ] 5     0x05  "},      {6, 2, R + "[ACK] 6     0x06  "},
                 {65, 0, R + "A     65    0x41  "},      {127, 1, "TxD: [RUB] 127   0x7F  "},
                 {8, 1, "TxD: [BS]  8     0x08  "},      {128, 2, R + "\x80     128   0x80  "},
                 {255, -1, R + "\xFF     255   0xFF  "}};
    for (const auto& c : cases) {
        TestApp t;
        TraceByte(t.app, c.value, c.direction);
        EXPECT_EQ(Trace(t), Lines({c.line})) << c.value;
    }
}

TEST(ByteTransfer, SendReceiveClearAtLevelThree) {
    TestApp t;
    t.line.open = true;
    t.app.settings.Logfile = 3;
    for (const std::int16_t refused : {-1, 256, -32768})
        EXPECT_EQ(SendByte(t.app, refused), -1);
    EXPECT_EQ(ReceiveByte(t.app), -1);  // nothing waiting
    EXPECT_FALSE(t.app.activity.TxdActive || t.app.activity.RxdActive || !NoTrace(t));
    EXPECT_EQ(SendByte(t.app, 5), 0);
    EXPECT_EQ(SendByte(t.app, 255), 0);
    t.line.Feed(Hex("06 80 01 02"));
    EXPECT_EQ(ReceiveByte(t.app), 6);
    EXPECT_EQ(t.line.inputLen, 1);
    EXPECT_EQ(ReceiveByte(t.app), 0x80);
    ClearInput(t.app);
    EXPECT_EQ(ReceiveByte(t.app), -1);
    EXPECT_TRUE(t.app.activity.TxdActive && t.app.activity.RxdActive);
    EXPECT_EQ(t.line.written, Hex("05 FF"));
    const std::string traced = Lines({"TxD: [ENQ] 5     0x05  ", "TxD: \xFF     255   0xFF  ",
                                      R + "[ACK] 6     0x06  ", R + "\x80     128   0x80  "});
    EXPECT_EQ(Trace(t), traced);
    // Port errors and a closed port: -1, nothing traced, nothing logged.
    t.line.Feed(Hex("41"));
    for (const bool closed : {false, true}) {
        t.line.failIo = !closed;
        t.line.open = !closed;
        EXPECT_EQ(SendByte(t.app, 0x41), -1);
        EXPECT_EQ(ReceiveByte(t.app), -1);
        ClearInput(t.app);
    }
    EXPECT_EQ(Trace(t), traced);
    EXPECT_EQ(t.line.discardCount, 3);
    EXPECT_EQ(t.app.screenLog.LogLineCount, 0);
}

TEST(ByteTransfer, NoTraceBelowLevelThree) {
    for (const std::int16_t level : {0, 2}) {
        TestApp t;
        t.line.open = true;
        t.app.settings.Logfile = level;
        t.line.Feed(Hex("06 07"));
        HeldTrace held;
        EXPECT_EQ(SendByte(t.app, 5), 0);
        EXPECT_EQ(ReceiveByte(t.app), 6);
        EXPECT_EQ(ReceiveByte(t.app, held), 7);
        EXPECT_TRUE(NoTrace(t) && held.empty()) << level;
    }
}

// A line that says a byte waits but then delivers none: no byte, not a NUL.
struct ShortReadLine : FakeSerialLine {
    int BytesWaiting() override { return 1; }
    int ReadByte() override { return -1; }
};

TEST(ByteTransfer, AnnouncedButMissingByteIsNoByte) {
    FakeView view;
    FakeClock clock;
    ShortReadLine line;
    TempDir dir;
    App app{view, clock, line, dir.path()};
    app.settings.Logfile = 3;
    EXPECT_EQ(ReceiveByte(app), -1);
    EXPECT_FALSE(fs::exists(dir.path() / "DebugLog"));
}

// A line that lost its device closed itself and left one message for whichever
// transfer comes first: logged at level 1 or more and shown to the operator.
TEST(ByteTransfer, LostLineReported) {
    for (const std::int16_t level : {0, 1}) {
        for (const int op : {0, 1, 2}) {
            TestApp t;
            t.app.settings.Logfile = level;
            t.line.lineFailure = "COM3: device lost";
            for (int i = 0; i < 2; ++i) {
                if (op == 2)
                    ClearInput(t.app);
                else
                    EXPECT_EQ(op == 0 ? SendByte(t.app, 5) : ReceiveByte(t.app), -1);
            }
            EXPECT_EQ(Logged(t), level ? Strings{T + "STATUS: Serial port lost: COM3: device lost"}
                                       : Strings{}) << op;
            EXPECT_EQ(t.view.portProblem, "COM3: device lost");
        }
    }
}

TEST(Datacom, SettingsStringWithFallbacks) {
    const struct {
        std::int16_t baud, parity, bits, stop;
        const char* text;
    } cases[] = {{4, 0, 1, 0, "9600,N,8,1"},   {0, 0, 0, 0, "300,N,7,1"},
                 {1, 1, 1, 1, "1200,E,8,2"},   {2, 2, 2, 2, "2400,O,8,1"},
                 {3, 3, 3, 3, "4800,N,8,1"},   {5, 4, 4, 4, "19200,N,8,1"},
                 {6, 5, 5, 5, "38400,N,8,1"},  {7, 6, 6, 6, "57600,N,8,1"},
                 {8, 8, 8, 8, "9600,N,8,1"},   {9, 1, 0, 1, "9600,E,7,2"},
                 {-1, -1, -1, -1, "9600,N,8,1"}, {-4, 2, 0, 1, "9600,O,7,2"}};
    for (const auto& c : cases)
        EXPECT_EQ(SettingsString(c.baud, c.parity, c.bits, c.stop), c.text) << c.text;
}

TEST(Datacom, OpenComPortByHandShake) {
    const struct {
        std::int16_t compoort, handShake;
        FlowControl flow;
        const char* toolTip;
    } cases[] = {{0, 0, FlowControl::None, "RTS status, click here to change"},
                 {3, 1, FlowControl::None, ""},
                 {7, 2, FlowControl::RtsCts, ""},
                 {0, 3, FlowControl::RtsCts, ""},
                 {0, -1, FlowControl::RtsCts, ""}};
    for (const auto& c : cases) {
        TestApp t;
        t.app.settings.Logfile = 2;
        t.view.portProblem = "old problem";
        t.line.rts = c.handShake == 0;
        ASSERT_EQ(OpenComPort(t.app, c.compoort, 1, 1, 0, 1, c.handShake), 1);
        const std::string n = std::to_string(c.compoort + 1);
        EXPECT_EQ(t.line.portNumber, c.compoort + 1);
        EXPECT_EQ(t.line.lineSettings, "1200,E,7,2");
        EXPECT_TRUE(t.line.open && t.line.openCount == 1 && !t.line.dtr && !t.line.nullDiscard &&
                    !t.line.eofEnable && t.line.inputLen == 1);
        EXPECT_EQ(t.line.flow, c.flow);
        EXPECT_EQ(RtsState(t.app), c.handShake == 0 ? -1 : 1);
        EXPECT_EQ(t.view.rtsToolTip, c.toolTip);
        EXPECT_EQ(t.view.portCaption, "Settings: Com:" + n + " at 1200,E,7,2");
        EXPECT_EQ(t.view.portProblem, "");
        const std::string line = T + "Com: " + n + " opened for ESPA emulation with: 1200,E,7,2";
        EXPECT_EQ(Logged(t), Strings{line});
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "05122026.log"), line + "\r\n");
    }
}

// Any refused step ends in the error line; caption and tool tip keep their texts.
TEST(Datacom, OpenComPortFailsAtAnyStep) {
    const struct {
        int step;  // 0 port number, 1 line settings, 2 opening
        std::int16_t compoort;
        const char* line;
    } cases[] = {{0, 8, "Error opening ComPort:  9"},     {0, -2, "Error opening ComPort: -1"},
                 {0, 32767, "Error opening ComPort:  32768"}, {1, 0, "Error opening ComPort:  1"},
                 {2, 5, "Error opening ComPort:  6"}};
    for (const auto& c : cases) {
        TestApp t;
        t.app.settings.Logfile = 1;
        t.line.failSetPort = c.step == 0;
        t.line.failSettings = c.step == 1;
        t.line.failOpen = c.step == 2;
        t.line.lastError = "/dev/ttyS0: permission denied";
        EXPECT_EQ(OpenComPort(t.app, c.compoort, 4, 0, 1, 0, 0), -1);
        EXPECT_EQ(t.line.openCount, c.step == 2 ? 1 : 0);
        EXPECT_FALSE(t.line.open);
        EXPECT_EQ(Logged(t), Strings{T + c.line});
        EXPECT_EQ(t.view.portCaption, "Serial Port: X");
        EXPECT_EQ(t.view.rtsToolTip, "RTS status, click on text to change");
        EXPECT_EQ(t.view.portProblem, "/dev/ttyS0: permission denied");
    }
}

TEST(Datacom, CloseComPortLogsOnlyWhenClosed) {
    const struct {
        std::int16_t level;
        bool failClose, logged;
    } cases[] = {{1, false, true}, {3, false, true}, {0, false, false}, {1, true, false}};
    for (const auto& c : cases) {
        TestApp t;
        t.app.settings.Logfile = c.level;
        t.line.open = true;
        t.line.failClose = c.failClose;
        CloseComPort(t.app);
        EXPECT_EQ(t.line.closeCount, 1);
        EXPECT_EQ(Logged(t), c.logged ? Strings{T + "Comport closed by software."} : Strings{});
    }
}

// The RTS label toggles RTS (open or not) only without handshake; CTS reads the line.
TEST(Datacom, ControlLinesAndRtsClick) {
    TestApp t;
    t.app.settings.Logfile = 1;
    t.line.cts = true;
    EXPECT_EQ(CtsState(t.app), -1);  // closed
    LabLinkStatus_Click(t.app);
    EXPECT_EQ(RtsState(t.app), 1);
    ASSERT_EQ(OpenComPort(t.app, 0, 4, 0, 1, 0, 0), 1);
    EXPECT_EQ(CtsState(t.app), 1);
    t.line.cts = false;
    EXPECT_EQ(CtsState(t.app), -1);
    LabLinkStatus_Click(t.app);
    EXPECT_EQ(RtsState(t.app), 1);
    LabLinkStatus_Click(t.app);
    EXPECT_EQ(RtsState(t.app), -1);
    for (const std::int16_t handShake : {1, 2, -1}) {
        t.app.settings.HandShake = handShake;
        LabLinkStatus_Click(t.app);
        EXPECT_EQ(RtsState(t.app), -1);
    }
    const std::string refused = T + "STATUS: Wrong HandShakeType, no manual adjustment possible.";
    EXPECT_EQ(Logged(t), (Strings{T + "STATUS: RTS made ACTIVE (+12V).",
                                  T + "Com: 1 opened for ESPA emulation with: 9600,N,8,1",
                                  T + "STATUS: RTS made ACTIVE (+12V).",
                                  T + "STATUS: RTS made INACTIVE (-12V).", refused, refused,
                                  refused}));
}

// Level 0 writes nothing, failures included; the operator still sees why.
TEST(Datacom, LevelZeroWritesNothing) {
    TestApp t;
    ASSERT_EQ(OpenComPort(t.app, 0, 4, 0, 1, 0, 0), 1);
    LabLinkStatus_Click(t.app);
    LabLinkStatus_Click(t.app);
    t.app.settings.HandShake = 2;
    LabLinkStatus_Click(t.app);
    CloseComPort(t.app);
    t.line.failOpen = true;
    t.line.lastError = "/dev/ttyS0: in use by another program";
    EXPECT_EQ(OpenComPort(t.app, 0, 4, 0, 1, 0, 0), -1);
    EXPECT_EQ(t.app.screenLog.LogLineCount + t.view.showLogLinesCount, 0);
    EXPECT_FALSE(fs::exists(t.dir.path() / "Log"));
    EXPECT_EQ(t.view.portProblem, "/dev/ttyS0: in use by another program");
}

TEST(PortMap, ReadingRules) {
    using Map = std::map<int, std::string>;
    const std::pair<std::string, Map> cases[] = {
        {"", {}},
        {"COM2=/dev/ttyACM0", {{2, "/dev/ttyACM0"}}},
        {"  COM3 \t=   /dev/pts/4  \n", {{3, "/dev/pts/4"}}},
        {"com4=/dev/a\r\nCoM5=/dev/b\r\n", {{4, "/dev/a"}, {5, "/dev/b"}}},
        {"# adapters\nCOM1=/dev/ttyUSB0 # left\n#COM2=/dev/x\n", {{1, "/dev/ttyUSB0"}}},
        {"\xEF\xBB\xBF" "COM1=/dev/a\nCOM1=/dev/b\nCOM06=/dev/x y\n", {{1, "/dev/b"}, {6, "/dev/x y"}}},
        {"COM0=/dev/a\nCOM9=/dev/b\nCOM-1=/dev/c\nCOM100=/dev/d\n", {}},
        {"COM=/dev/a\nCOM2=\nCOM3=   \n=/dev/x\nCOM1 /dev/y\nCOM2:/dev/x\n", {}},
        {"PORT1=/dev/a\nCOMX=/dev/b\nCOM1a=/dev/c\nCOM 1=/dev/d\nXCOM1=/dev/e\n", {}},
        {"garbage\nCOM2=/dev/ttyS9\n\x01\xFF\nCOM7 = COM7\nCOM8=/dev/a=b\n\n \t\n",
         {{2, "/dev/ttyS9"}, {7, "COM7"}, {8, "/dev/a=b"}}}};
    for (const auto& [text, map] : cases)
        EXPECT_EQ(ParsePortMap(text), map) << text;

    TempDir dir;
    EXPECT_EQ(DeviceForPort(dir.path(), 1), "/dev/ttyS0");  // no file
    EXPECT_EQ(DeviceForPort(dir.path() / "missing", 5), "/dev/ttyS4");
    fs::create_directory(dir.path() / "comports.cfg");
    EXPECT_EQ(DeviceForPort(dir.path(), 2), "/dev/ttyS1");
    fs::remove(dir.path() / "comports.cfg");
    // Far larger than any port map: not read at all.
    WriteFileBytes(dir.path() / "comports.cfg", "COM2=/dev/a\n" + std::string(100 << 10, '#'));
    EXPECT_EQ(DeviceForPort(dir.path(), 2), "/dev/ttyS1");
    WriteFileBytes(dir.path() / "comports.cfg", "COM1=/dev/ttyUSB0\nCOM2 = \nCOM3=/dev/pts/7\n");
    const std::pair<int, const char*> ports[] = {{1, "/dev/ttyUSB0"}, {2, "/dev/ttyS1"},
                                                 {3, "/dev/pts/7"},   {8, "/dev/ttyS7"},
                                                 {0, ""},             {9, ""}};
    for (const auto& [number, device] : ports)
        EXPECT_EQ(DeviceForPort(dir.path(), number), device) << number;
}

TEST(PortMap, LineSettingsTexts) {
    using P = ParityMode;
    using S = StopBitsMode;
    const std::pair<const char*, LineSettings> accepted[] = {
        {"300,N,7,1", {300, P::None, 7, S::One}},          {"1200,E,8,2", {1200, P::Even, 8, S::Two}},
        {"2400,O,8,1", {2400, P::Odd, 8, S::One}},          {"57600,n,5,1.5", {57600, P::None, 5, S::OneAndHalf}},
        {"115200,M,6,1", {115200, P::Mark, 6, S::One}},     {"19200,s,8,2", {19200, P::Space, 8, S::Two}}};
    for (const auto& [text, settings] : accepted)
        EXPECT_EQ(ParseLineSettings(text), settings) << text;
    for (const char* text : {"", "9600,N,8", "9600,N,8,1,", ",N,8,1", "0,N,8,1", "-9600,N,8,1",
                             "+9600,N,8,1", "9600 ,N,8,1", "9600,X,8,1", "9600,NN,8,1", "9600,,8,1",
                             "9600,N,4,1", "9600,N,9,1", "9600,N,8,3", "9600,N,8,0", "9600,N,8,1.0",
                             "99999999999,N,8,1", "9600;N;8;1", " 9600,N,8,1"})
        EXPECT_EQ(ParseLineSettings(text), std::nullopt) << '"' << text << '"';
}

TEST(PortMap, ProblemTexts) {
    const struct {
        PortProblem problem;
        const char* detail;
        const char* text;
    } cases[] = {
        {PortProblem::NotFound, "", "/dev/ttyS0: no such device"},
        {PortProblem::InUse, "locked", "/dev/ttyS0: in use by another program (locked)"},
        {PortProblem::Other, "I/O error", "/dev/ttyS0: I/O error"},
        {PortProblem::Other, "", "/dev/ttyS0: unknown error"},
        {PortProblem::Lost, "", "/dev/ttyS0: device lost (unplugged or hung up)"},
        {PortProblem::NoPermission, "Permission denied",
         "/dev/ttyS0: permission denied; the user must be in the dialout group (sudo usermod -aG "
         "dialout $USER, then log in again) (Permission denied)"}};
    for (const auto& c : cases)
        EXPECT_EQ(DescribePortProblem("/dev/ttyS0", c.problem, c.detail), c.text);
}

// The status-block drain holds its trace lines and appends them once per tick:
// the file gets the same lines, in the same order and day files, as one append
// per byte gives.
struct DrainRig : TestApp {
    explicit DrainRig(const std::vector<std::uint8_t>& bytes) {
        line.open = true;
        app.settings.Logfile = 3;
        app.espa.EspaState = engine::kStatusBlock;
        app.espa.EspaTimer = 100;
        line.Feed(bytes);
    }
};

TEST(HeldTrace, DrainTracesLikeOneAppendPerByte) {
    const std::string body = "2\x02" "1\x1F" "12\xE9\x1E" "7\x1F" "3\x03";
    std::vector<std::uint8_t> block{SOH};
    block.insert(block.end(), body.begin(), body.end());
    DrainRig rig({block.begin(), block.begin() + 5});
    HandleEspa(rig.app, 0);
    EXPECT_EQ(rig.app.espa.EspaState, engine::kStatusBlock);
    rig.line.Feed({block.begin() + 5, block.end()});
    HandleEspa(rig.app, 0);
    EXPECT_EQ(rig.app.espa.EspaState, engine::kStatusCheckChar);
    TestApp oneByOne;
    for (const std::uint8_t b : block)
        TraceByte(oneByOne.app, b, 2);
    EXPECT_EQ(Trace(rig), Trace(oneByOne));
}

TEST(HeldTrace, SlaveAbortTracesReceivedBeforeSent) {
    DrainRig rig({SOH, '2', EOT});
    HandleEspa(rig.app, 0);
    EXPECT_EQ(rig.app.espa.EspaState, engine::kScheduler);
    EXPECT_EQ(Trace(rig), Lines({R + "[SOH] 1     0x01  ", R + "2     50    0x32  ",
                                 R + "[EOT] 4     0x04  ", "TxD: [EOT] 4     0x04  "}));
}

// Two readings before midnight, the rest after it.
struct MidnightClock : Clock {
    int readings = 0;
    LocalDateTime Now() override {
        return readings++ < 2 ? LocalDateTime{2026, 12, 5, 23, 59, 59}
                              : LocalDateTime{2026, 12, 6, 0, 0, 0};
    }
};

TEST(HeldTrace, DrainAcrossMidnightSplitsOverBothDayFiles) {
    MidnightClock clock;
    DrainRig rig({SOH, '2', STX, '1', ETX});
    App app{rig.view, clock, rig.line, rig.dir.path()};
    app.settings.Logfile = 3;
    app.espa = rig.app.espa;
    HandleEspa(app, 0);
    const std::string before = Trace(rig), after = Trace(rig, "06122026.log");
    EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 2);
    EXPECT_EQ(before.rfind("23:59:59 " + R + "[SOH] ", 0), 0u);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 3);
    EXPECT_EQ(after.rfind("00:00:00 " + R + "[STX] ", 0), 0u);
}

}  // namespace
}  // namespace zelvano
