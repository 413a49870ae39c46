// The serial layer: over the fake line byte transfer and its trace, port setup
// and control lines, the port map and port-problem texts, the held trace of the
// status-block drain; then the line adapter under the core over ptys and TCP.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <sstream>

#include "app/LineWatch.h"
#include "app/StartUp.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "espa/EngineSteps.h"
#include "serial/ByteTransfer.h"
#include "serial/Datacom.h"
#include "serial/LineSettings.h"
#include "serial/PortLine.h"
#include "serial/PortMap.h"
#include "serial/PortProblem.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using namespace test;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
const std::string T = "14:03:22 ", R = "RxD: " + std::string(18, ' ');  // clock; received indent

std::string Trace(const TestApp& t, const char* day = "05122026.log") {
    return ReadFileBytes(t.dir.path() / "DebugLog" / day);
}
std::string Lines(const Strings& lines, const std::string& stamp = T) {
    std::string out;
    for (const auto& line : lines)
        out += stamp + line + "\r\n";
    return out;
}
std::string Logged(const TestApp& t) {
    const auto& lines = t.app.screenLog.LogLines;
    return Lines({lines.begin(), lines.begin() + t.app.screenLog.LogLineCount}, "");
}

TEST(ByteTrace, ControlNamesAndLineLayout) {
    std::istringstream names(
        "NUL SOH STX ETX EOT ENQ ACK BEL BS HT LF VT FF CR SO SI DLE DC1 DC2 "
        "DC3 DC4 NAK SYN ETB CAN EM SUB ESC FS GS RS US SP");
    std::string name;
    for (std::int16_t v = 0; names >> name; ++v)
        EXPECT_EQ(ControlCharName(v), "[" + name + "]");
    const std::map<int, std::string> others = {{33, "!"},       {126, "~"},       {127, "[RUB]"},
                                               {128, "\u20AC"}, {0x8A, "\u0160"}, {0xE9, "\u00E9"},
                                               {255, "\u00FF"}, {-1, ""},         {256, ""}};
    for (const auto& [value, text] : others)
        EXPECT_EQ(ControlCharName(value), text) << value;
    // Columns of six (name, decimal, hex) in Windows-1252 bytes; direction 1 is sent.
    const std::tuple<int, int, std::string> cases[] = {
        {5, 1, "TxD: [ENQ] 5     0x05  "},     {6, 2, R + "[ACK] 6     0x06  "},
        {65, 0, R + "A     65    0x41  "},     {127, 1, "TxD: [RUB] 127   0x7F  "},
        {8, 1, "TxD: [BS]  8     0x08  "},     {128, 2, R + "\x80     128   0x80  "},
        {255, -1, R + "\xFF     255   0xFF  "}};
    for (const auto& [value, direction, line] : cases) {
        TestApp t;
        TraceByte(t.app, value, direction);
        EXPECT_EQ(Trace(t), Lines({line})) << value;
    }
}

using Results = std::vector<int>;  // results of calls made left to right

// At log levels 2 and 3: results, bytes, activity, trace only at 3; out of
// range, port errors and a closed port give -1, no trace and no log line.
TEST(ByteTransfer, SendReceiveClear) {
    for (const std::int16_t level : {2, 3}) {
        TestApp t;
        HeldTrace held;
        t.line.open = true;
        t.app.settings.logLevel = level;
        EXPECT_EQ((Results{SendByte(t.app, -1), SendByte(t.app, 256), SendByte(t.app, -32768),
                           ReceiveByte(t.app)}),
                  Results(4, -1));  // refused; nothing waiting
        EXPECT_FALSE(t.app.activity.TxdActive || t.app.activity.RxdActive);
        t.line.Feed(Hex("06 80 07 01 02"));
        EXPECT_EQ((Results{SendByte(t.app, 5), SendByte(t.app, 255), ReceiveByte(t.app),
                           ReceiveByte(t.app), ReceiveByte(t.app, held)}),
                  (Results{0, 0, 6, 0x80, 7}));
        EXPECT_EQ(held.size(), level == 3 ? 1u : 0u);
        ClearInput(t.app);
        EXPECT_EQ(ReceiveByte(t.app), -1);
        EXPECT_TRUE(t.app.activity.TxdActive && t.app.activity.RxdActive);
        EXPECT_EQ(t.line.written, Hex("05 FF"));
        const std::string traced =
            level < 3
                ? ""
                : Lines({"TxD: [ENQ] 5     0x05  ", "TxD: \xFF     255   0xFF  ",
                         R + "[ACK] 6     0x06  ", R + "\x80     128   0x80  ",
                         R + "[SOH] 1     0x01  discarded", R + "[STX] 2     0x02  discarded"});
        EXPECT_EQ(Trace(t), traced);
        t.line.Feed(Hex("41"));
        for (const bool closed : {false, true}) {
            t.line.failIo = !closed;
            t.line.open = !closed;
            EXPECT_EQ((Results{SendByte(t.app, 0x41), ReceiveByte(t.app)}), Results(2, -1));
            ClearInput(t.app);
        }
        EXPECT_EQ(Trace(t), traced);
        EXPECT_EQ(t.line.discardCount + t.app.screenLog.LogLineCount, 3);
    }
}

// A line that says a byte waits but then delivers none: no byte, not a NUL.
struct ShortReadLine : FakeSerialLine {
    int BytesWaiting() override { return 1; }
    int ReadByte() override { return -1; }
};

// A line that lost its device left one message for whichever transfer comes
// first: logged at level 1 or more and shown to the operator.
TEST(ByteTransfer, MissingByteAndLostLine) {
    ShortReadLine line;
    TestApp s;
    App app{s.view, s.clock, line, s.dir.path()};
    app.settings.logLevel = 3;
    EXPECT_EQ(ReceiveByte(app), -1);
    EXPECT_EQ(Trace(s), "");
    for (const std::int16_t level : {0, 1}) {
        for (const int op : {0, 1, 2}) {
            TestApp t;
            t.app.settings.logLevel = level;
            t.line.lineFailure = "COM3: device lost";
            const auto transfer = [&] {
                return op == 0   ? SendByte(t.app, 5)
                       : op == 1 ? ReceiveByte(t.app)
                                 : (ClearInput(t.app), -1);
            };
            EXPECT_EQ((Results{transfer(), transfer()}), Results(2, -1));
            EXPECT_EQ(Logged(t),
                      level ? Lines({"STATUS: Serial port lost: COM3: device lost"}) : "");
            EXPECT_EQ(t.view.portProblem, "COM3: device lost");
        }
    }
}

TEST(Datacom, SettingsStringWithFallbacks) {
    const std::pair<std::array<std::int16_t, 4>, const char*> cases[] = {
        {{4, 0, 1, 0}, "9600,N,8,1"},     {{0, 0, 0, 0}, "300,N,7,1"},
        {{1, 1, 1, 1}, "1200,E,8,2"},     {{2, 2, 2, 2}, "2400,O,8,1"},
        {{3, 3, 3, 3}, "4800,N,8,1"},     {{5, 4, 4, 4}, "19200,N,8,1"},
        {{6, 5, 5, 5}, "38400,N,8,1"},    {{7, 6, 6, 6}, "57600,N,8,1"},
        {{8, 8, 8, 8}, "9600,N,8,1"},     {{9, 1, 0, 1}, "9600,E,7,2"},
        {{-1, -1, -1, -1}, "9600,N,8,1"}, {{-4, 2, 0, 1}, "9600,O,7,2"}};
    for (const auto& [s, text] : cases)
        EXPECT_EQ(SettingsString(s[0], s[1], s[2], s[3]), text);
}

TEST(Datacom, OpenComPortByHandShake) {
    const std::tuple<std::int16_t, std::int16_t, FlowControl, const char*> cases[] = {
        {0, 0, FlowControl::None, "RTS status, click here to change"},
        {3, 1, FlowControl::None, ""},
        {7, 2, FlowControl::RtsCts, ""},
        {0, 3, FlowControl::RtsCts, ""},
        {0, -1, FlowControl::RtsCts, ""}};
    for (const auto& [compoort, handShake, flow, toolTip] : cases) {
        TestApp t;
        t.app.settings.logLevel = 2;
        t.view.portProblem = "old problem";
        t.line.rts = handShake == 0;
        ASSERT_EQ(OpenComPort(t.app, compoort, 1, 1, 0, 1, handShake), 1);
        const std::string n = std::to_string(compoort + 1);
        EXPECT_EQ(t.line.portNumber, compoort + 1);
        EXPECT_EQ(t.line.lineSettings, "1200,E,7,2");
        EXPECT_TRUE(t.line.open && t.line.openCount == 1 && !t.line.dtr && t.line.flow == flow);
        EXPECT_EQ(RtsState(t.app), handShake == 0 ? -1 : 1);
        EXPECT_EQ(t.view.rtsToolTip, toolTip);
        EXPECT_EQ(t.view.portCaption, "Settings: Com:" + n + " at 1200,E,7,2");
        EXPECT_EQ(t.view.portProblem, "");
        const std::string line =
            Lines({"Com: " + n + " opened for ESPA emulation with: 1200,E,7,2"});
        EXPECT_EQ(Logged(t), line);
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "05122026.log"), line);
    }
}

// Any refused step (port number, line settings, opening) ends in the error
// line and its reason; caption and tool tip keep their texts.
TEST(Datacom, OpenComPortFailsAtAnyStep) {
    const std::tuple<int, std::int16_t, const char*> cases[] = {
        {0, 8, " 9"}, {0, -2, "-1"}, {0, 32767, " 32768"}, {1, 0, " 1"}, {2, 5, " 6"}};
    for (const auto& [step, compoort, number] : cases) {
        TestApp t;
        t.app.settings.logLevel = 1;
        t.line.failSetPort = step == 0;
        t.line.failSettings = step == 1;
        t.line.failOpen = step == 2;
        t.line.lastError = "/dev/ttyS0: permission denied";
        EXPECT_EQ(OpenComPort(t.app, compoort, 4, 0, 1, 0, 0), -1);
        EXPECT_TRUE(t.line.openCount == (step == 2) && !t.line.open);
        EXPECT_EQ(Logged(t), Lines({std::string("Error opening ComPort: ") + number,
                                    "Reason: /dev/ttyS0: permission denied"}));
        EXPECT_EQ(t.view.portCaption, "Serial Port: X");
        EXPECT_EQ(t.view.rtsToolTip, "RTS status, click on text to change");
        EXPECT_EQ(t.view.portProblem, "/dev/ttyS0: permission denied");
    }
}

// An operator's session at log levels 1 and 0 (nothing written, the port
// problem still shown): the RTS label toggles RTS, open or not, only without
// handshake; CTS reads the line while open; closing logs once it closed.
TEST(Datacom, ControlLinesAndLogLevels) {
    for (const std::int16_t level : {1, 0}) {
        TestApp t;
        t.app.settings.logLevel = level;
        const auto click = [&](std::int16_t handShake) {
            t.app.settings.handshake = handShake;
            LabLinkStatus_Click(t.app);
            return RtsState(t.app);
        };
        const auto cts = [&](bool on) { return t.line.cts = on, CtsState(t.app); };
        EXPECT_EQ((Results{cts(true), click(0), OpenComPort(t.app, 0, 4, 0, 1, 0, 0), cts(true),
                           cts(false), click(0), click(0), click(1), click(2), click(-1)}),
                  (Results{-1, 1, 1, 1, -1, 1, -1, -1, -1, -1}));
        t.line.failClose = true;
        CloseComPort(t.app);
        t.line.failClose = false;
        CloseComPort(t.app);
        t.line.failOpen = true;
        t.line.lastError = "/dev/ttyS0: in use by another program";
        EXPECT_EQ(OpenComPort(t.app, 0, 4, 0, 1, 0, 0), -1);
        EXPECT_EQ(t.view.portProblem, "/dev/ttyS0: in use by another program");
        const std::string no = "STATUS: Wrong HandShakeType, no manual adjustment possible.";
        EXPECT_EQ(Logged(t),
                  level == 0 ? ""
                             : Lines({"STATUS: RTS made ACTIVE (+12V).",
                                      "Com: 1 opened for ESPA emulation with: 9600,N,8,1",
                                      "STATUS: RTS made ACTIVE (+12V).",
                                      "STATUS: RTS made INACTIVE (-12V).", no, no, no,
                                      "Comport closed by software.", "Error opening ComPort:  1",
                                      "Reason: /dev/ttyS0: in use by another program"}));
        EXPECT_EQ(t.view.showLogLinesCount > 0, level > 0);
    }
}

TEST(PortMap, ReadingRules) {
    const std::pair<std::string, std::map<int, std::string>> cases[] = {
        {"", {}},
        {"COM2=/dev/ttyACM0", {{2, "/dev/ttyACM0"}}},
        {"\t COM3 \t=\t /dev/pts/4 \t\n", {{3, "/dev/pts/4"}}},
        {"com4=/dev/a\r\nCoM5=/dev/b\r\n", {{4, "/dev/a"}, {5, "/dev/b"}}},
        {"# adapters\nCOM1=/dev/ttyUSB0 # left\n#COM2=/dev/x\n", {{1, "/dev/ttyUSB0"}}},
        {"\xEF\xBB\xBF"
         "COM06=/dev/x y\nCOM1=/dev/a\nCOM1=/dev/b\n",
         {{1, "/dev/b"}, {6, "/dev/x y"}}},
        {"COM0=/dev/a\nCOM9=/dev/b\nCOM-1=/dev/c\nCOM100=/dev/d\n", {}},
        {"COM=/dev/a\nCOM2=\nCOM3=   \n=/dev/x\nCOM1 /dev/y\nCOM2:/dev/x\n", {}},
        {"PORT1=/dev/a\nCOMX=/dev/b\nCOM1a=/dev/c\nCOM 1=/dev/d\nXCOM1=/dev/e\n", {}},
        {"garbage\nCOM2=/dev/ttyS9\n\x01\xFF\nCOM7 = COM7\nCOM8=/dev/a=b\n\n \t\n",
         {{2, "/dev/ttyS9"}, {7, "COM7"}, {8, "/dev/a=b"}}}};
    for (const auto& [text, map] : cases)
        EXPECT_EQ(ParsePortMap(text), map) << text;
    TempDir dir;
    const fs::path file = dir.path() / "comports.cfg";
    EXPECT_EQ(DeviceForPort(dir.path(), 1), "/dev/ttyS0");  // no file
    EXPECT_EQ(DeviceForPort(dir.path() / "missing", 5), "/dev/ttyS4");
    fs::create_directory(file);
    EXPECT_EQ(DeviceForPort(dir.path(), 2), "/dev/ttyS1");
    fs::remove(file);
    WriteFileBytes(file, "COM2=/dev/a\n" + std::string(100 << 10, '#'));  // far too large: unread
    EXPECT_EQ(DeviceForPort(dir.path(), 2), "/dev/ttyS1");
    WriteFileBytes(file, "COM1=/dev/ttyUSB0\nCOM2 = \nCOM3=/dev/pts/7\n");
    const std::map<int, std::string> ports = {
        {1, "/dev/ttyUSB0"}, {2, "/dev/ttyS1"}, {3, "/dev/pts/7"},
        {8, "/dev/ttyS7"},   {0, ""},           {9, ""}};
    for (const auto& [number, device] : ports)
        EXPECT_EQ(DeviceForPort(dir.path(), number), device);
    const std::tuple<const char*, const char*, int> targets[] = {
        {"tcp://10.0.0.7:4001", "10.0.0.7", 4001},
        {"TCP://ser2net.local:65535", "ser2net.local", 65535},
        {"tcp://[::1]:1", "::1", 1},
        {"tcp://[fe80::1%eth0]:23", "fe80::1%eth0", 23}};
    for (const auto& [text, host, port] : targets)
        EXPECT_TRUE(ParseTcpTarget(text)->host == host && ParseTcpTarget(text)->port == port)
            << text;
    for (const char* text :
         {"tcp://", "tcp://host", "tcp://host:", "tcp://:80", "tcp://host:0", "tcp://host:65536",
          "tcp://host:80x", "tcp://::1:80", "tcp://[::1:80", "tcp://[x]:80", "tcp://a b:80",
          "tcp://host:80/", "udp://host:80", "/dev/ttyS0"})
        EXPECT_EQ(ParseTcpTarget(text).has_value(), false) << text;
}

TEST(PortMap, ProblemTexts) {
    const std::tuple<PortProblem, const char*, const char*> problems[] = {
        {PortProblem::NotFound, "", "no such device"},
        {PortProblem::InUse, "locked", "in use by another program (locked)"},
        {PortProblem::Other, "I/O error", "I/O error"},
        {PortProblem::Other, "", "unknown error"},
        {PortProblem::Lost, "", "device lost (unplugged or hung up)"},
        {PortProblem::NoPermission, "EACCES",
         "permission denied; the user must be in the dialout "
         "group (sudo usermod -aG dialout $USER, then log in again) (EACCES)"}};
    for (const auto& [problem, detail, text] : problems)
        EXPECT_EQ(DescribePortProblem("/dev/ttyS0", problem, detail),
                  std::string("/dev/ttyS0: ") + text);
}

// The status-block drain holds its trace lines and appends them once per tick:
// the file gets the lines one append per byte gives, in the same order and day
// files, the received bytes before the EOT sent back when the slave aborts.
void ArmDrain(TestApp& t, App& app) {
    t.line.open = true;
    app.settings.logLevel = 3;
    app.espa.EspaState = engine::kStatusBlock;
    app.espa.EspaTimer = 100;
}

TEST(HeldTrace, DrainTracesLikeOneAppendPerByte) {
    const std::string block =
        "\x01"
        "2\x02"
        "1\x1F"
        "12\xE9\x1E"
        "7\x1F"
        "3\x03";
    for (const std::string& bytes : {block, std::string{SOH, '2', EOT}}) {
        TestApp t, oneByOne;
        ArmDrain(t, t.app);
        t.line.Feed({bytes.begin(), bytes.begin() + 2});  // over two ticks
        HandleEspa(t.app, 0);
        EXPECT_EQ(t.app.espa.EspaState, engine::kStatusBlock);
        t.line.Feed({bytes.begin() + 2, bytes.end()});
        HandleEspa(t.app, 0);
        const bool aborted = bytes.back() == EOT;
        EXPECT_EQ(t.app.espa.EspaState, aborted ? engine::kScheduler : engine::kStatusCheckChar);
        for (const char b : bytes)
            TraceByte(oneByOne.app, static_cast<std::uint8_t>(b), 2);
        if (aborted)
            TraceByte(oneByOne.app, EOT, 1);
        EXPECT_EQ(Trace(t), Trace(oneByOne));
    }
}

struct MidnightClock : Clock {  // two readings before midnight, the rest after it
    int readings = 0;
    LocalDateTime Now() override {
        return readings++ < 2 ? LocalDateTime{2026, 12, 5, 23, 59, 59} : LocalDateTime{2026, 12, 6};
    }
};

TEST(HeldTrace, DrainAcrossMidnightSplitsOverBothDayFiles) {
    TestApp t;
    MidnightClock clock;
    App app{t.view, clock, t.line, t.dir.path()};
    ArmDrain(t, app);
    t.line.Feed({SOH, '2', STX, '1', ETX});
    HandleEspa(app, 0);
    EXPECT_EQ(Trace(t), Lines({R + "[SOH] 1     0x01  ", R + "2     50    0x32  "}, "23:59:59 "));
    EXPECT_EQ(Trace(t, "06122026.log"),
              Lines({R + "[STX] 2     0x02  ", R + "1     49    0x31  ", R + "[ETX] 3     0x03  "},
                    "00:00:00 "));
}

using Bytes = std::vector<std::uint8_t>;

// Turns the event loop until the condition holds (false after 5 s).
template <class Condition>
bool SpinUntil(Condition condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

// A pseudo-terminal pair; the master is this test's end of the cable.
struct Pty {
    int master = -1, slave = -1;
    char device[256] = {};
    Pty() {
        openpty(&master, &slave, device, nullptr, nullptr);
        ::close(slave);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() { ::close(master); }
    void Write(const Bytes& b) {
        EXPECT_EQ(::write(master, b.data(), b.size()), ssize_t(b.size()));
    }
    bool Receives(const Bytes& expected) {  // exactly these bytes from the adapter
        Bytes got(256);
        std::size_t n = 0;
        SpinUntil([&] {
            return (n += std::max(0L, ::read(master, &got[n], 256 - n))) >= expected.size();
        });
        return Bytes(got.begin(), got.begin() + n) == expected;
    }
    tcflag_t Flags(tcflag_t termios::*field) const {
        termios t{};
        ::tcgetattr(master, &t);
        return t.*field;
    }
};

// The core over the adapter, COM1 mapped to a pty.
struct Rig {
    Pty pty;
    test::TempDir dir;
    PortLine line{dir.path()};
    test::FakeView view;
    test::FakeClock clock;
    App app{view, clock, line, dir.path()};
    Rig() { Map(pty.device), app.settings.logLevel = 1; }
    void Map(const std::string& device) {
        test::WriteFileBytes(dir.path() / "comports.cfg", "# cable\nCOM1 = " + device);
    }
    std::int16_t Open() { return OpenComPort(app, 0, 4, 0, 1, 0, 0); }
    std::string LastLog() const { return app.screenLog.LogLines[app.screenLog.LogLineCount - 1]; }
    void Sends(const Bytes& bytes, Pty& to) {
        for (const auto b : bytes)
            EXPECT_EQ(SendByte(app, b), 0);
        EXPECT_TRUE(to.Receives(bytes));
        to.Write(bytes);
        ASSERT_TRUE(SpinUntil([&] { return line.BytesWaiting() == int(bytes.size()); }));
        for (const auto b : bytes)
            EXPECT_EQ(ReceiveByte(app), b);
        EXPECT_EQ(ReceiveByte(app), -1);
    }
};

// Each handshake with its own line settings (a Linux pty forces eight data bits
// and no parity enable, so speed, odd/even and stop bits are what it shows):
// open, bytes both ways, then the far end goes away (an unplugged adapter looks
// the same), once with a write queued. The core logs one line, every transfer
// is -1 until a working device is opened; modem-control refusals on a pty
// never fail the open, CTS reads off and RTS is the state asked for.
TEST(PortLine, OpenTransferLoseAndReopen) {
    // Every value a line discipline might touch: NUL, LF, CR, XON, XOFF, EOF, DEL, 0xFF.
    const Bytes bytes = Hex("00 0A 0D 11 13 04 1A 7F 80 FF 41");
    const std::tuple<std::int16_t, std::array<std::int16_t, 4>, tcflag_t> cases[] = {
        {0, {1, 2, 0, 1}, B1200 | PARODD | CSTOPB},
        {1, {4, 0, 1, 0}, B9600},
        {2, {3, 1, 1, 0}, B4800 | CRTSCTS}};
    for (const auto& [handShake, s, flags] : cases) {
        Rig t;
        Pty replugged;
        EXPECT_TRUE(t.line.SetRts(true) && t.line.Rts());  // kept while closed
        ASSERT_EQ(OpenComPort(t.app, 0, s[0], s[1], s[2], s[3], handShake), 1)
            << t.line.LastError();
        EXPECT_EQ(t.line.Device(), t.pty.device);
        EXPECT_EQ(t.pty.Flags(&termios::c_cflag) & (CBAUD | PARODD | CSTOPB | CRTSCTS), flags);
        EXPECT_EQ(t.pty.Flags(&termios::c_iflag) & (IXON | IXOFF), 0u);
        EXPECT_FALSE(t.line.Open());  // already open
        EXPECT_EQ(CtsState(t.app), -1);
        EXPECT_EQ(RtsState(t.app), handShake == 0 ? -1 : 1);
        EXPECT_TRUE(t.line.SetRts(true) && t.line.SetDtr(true) && t.line.Rts());
        t.Sends(bytes, t.pty);
        if (handShake == 0) {  // applied to the open port at once
            ASSERT_TRUE(t.line.SetLineSettings({4800, ParityMode::Even, 8, StopBitsMode::One}))
                << t.line.LastError();
            EXPECT_EQ(t.pty.Flags(&termios::c_cflag) & (CBAUD | PARODD | CSTOPB), tcflag_t(B4800));
        }
        t.pty.Write(Hex("01 02 03"));
        ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 3; }));
        ClearInput(t.app);
        EXPECT_EQ(t.line.BytesWaiting(), 0);

        const int before = t.app.screenLog.LogLineCount;
        ::close(std::exchange(t.pty.master, -1));
        if (handShake == 2)
            t.line.WriteByte(0x41);  // queued when the device went
        for (int tick = 0; tick < 30; ++tick) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            EXPECT_EQ(ReceiveByte(t.app) + SendByte(t.app, 5) + CtsState(t.app), -3);  // all -1
        }
        EXPECT_FALSE(t.line.IsOpen());
        ASSERT_EQ(t.app.screenLog.LogLineCount, before + 1);
        const std::string lost = std::string("14:03:22 STATUS: Serial port lost: ") + t.pty.device;
        EXPECT_EQ(t.LastLog().rfind(lost + ": device lost", 0), 0u) << t.LastLog();

        t.Map(replugged.device);
        CloseComPort(t.app);
        ASSERT_EQ(t.Open(), 1) << t.line.LastError();
        t.Sends(Hex("06 15"), replugged);
        EXPECT_FALSE(t.line.SetPortNumber(2));  // no other device while open
        CloseComPort(t.app);
        EXPECT_EQ(t.LastLog(), "14:03:22 Comport closed by software.");
        EXPECT_TRUE(t.line.Close());  // closing a closed port is no failure
        EXPECT_TRUE(t.line.BytesWaiting() == -1 && t.line.ReadByte() == -1 &&
                    !t.line.WriteByte(1) && !t.line.DiscardInput() && !t.line.Cts());
        EXPECT_TRUE(t.line.SetRts(false) && !t.line.Rts());
    }
}

TEST(PortLine, RefusedSettingsAndDevices) {
    Rig t, second;
    for (const int number : {0, 9, -1}) {
        EXPECT_FALSE(t.line.SetPortNumber(number) || t.line.Open());
        EXPECT_EQ(t.line.LastError(),
                  "Com" + std::to_string(number) + ": not a port number 1 to 8");
    }
    EXPECT_TRUE(t.line.SetPortNumber(3) && t.line.Device() == "/dev/ttyS2");
    // In use by another program; the first user is undisturbed.
    ASSERT_EQ(t.Open(), 1) << t.line.LastError();
    second.Map(t.pty.device);
    EXPECT_EQ(second.Open(), -1);
    const std::string inUse = std::string(t.pty.device) + ": in use by another program";
    EXPECT_EQ(second.view.portProblem.rfind(inUse, 0), 0u) << second.view.portProblem;
    t.Sends(Hex("41"), t.pty);
    const std::string missing = (t.dir.path() / "no-such-tty").string();
    second.Map(missing);
    EXPECT_EQ(second.Open(), -1);
    EXPECT_EQ(second.view.portProblem.rfind(missing + ": no such device", 0), 0u);
    if (::geteuid() != 0) {  // root may open any device
        Rig denied;
        ASSERT_EQ(::chmod(denied.pty.device, 0), 0);
        EXPECT_EQ(denied.Open(), -1);
        EXPECT_NE(denied.view.portProblem.find(": permission denied; the user must be in the "
                                               "dialout group"),
                  std::string::npos);
    }
}

// COM1=tcp://127.0.0.1:PORT in comports.cfg: the core over a line to a slave
// on the network. The connection is made in the background (no box, the
// reason says so); bytes pass; the far end closing is a lost line, logged
// once while the engine waits; a slave that is gone is tried every few seconds
// and the line comes back by itself, logged once. A malformed entry says why.
TEST(PortLine, NetworkPortConnectsLosesAndComesBack) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    const std::string device = "tcp://127.0.0.1:" + std::to_string(port);
    TempDir dir;
    FakeView view;
    FakeClock clock;
    PortLine line{dir.path()};
    App app{view, clock, line, dir.path()};
    app.settings.logLevel = 1;
    WriteFileBytes(dir.path() / "comports.cfg",
                   "COM1=" + device + "\nCOM2=tcp://host\nCOM3=tcp://no-such-host.invalid:1\n");
    const auto logged = [&] { return app.screenLog.LogLineCount; };
    const auto connectAndOpen = [&] {
        EXPECT_TRUE(SpinUntil([&] { return server.hasPendingConnections(); }));
        const int before = logged();
        for (int second = 0; second < 2 && !line.IsOpen(); ++second)
            RetryLine(app);
        EXPECT_EQ(logged(), before + 2);
        EXPECT_EQ(app.screenLog.LogLines[before], "14:03:22 STATUS: Serial port available.");
        EXPECT_EQ(view.portProblem, "");
        return server.nextPendingConnection();
    };

    EXPECT_FALSE(ReopenComPort(app));
    EXPECT_TRUE(view.messageBoxes.empty());
    EXPECT_EQ(view.portProblem, device + ": connecting");
    QTcpSocket* peer = connectAndOpen();
    ASSERT_TRUE(line.IsOpen() && peer);
    EXPECT_EQ(view.portCaption, "Settings: Com:1 at 300,N,7,1");
    EXPECT_EQ(SendByte(app, 0x41), 0);
    ASSERT_TRUE(SpinUntil([&] { return peer->bytesAvailable() == 1; }));
    EXPECT_EQ(peer->readAll(), "A");
    peer->write("\x06\x15");
    ASSERT_TRUE(SpinUntil([&] { return line.BytesWaiting() == 2; }));
    EXPECT_EQ(ReceiveByte(app), 6);

    app.espa.LineOk = 1;
    server.close();
    peer->close();
    ASSERT_TRUE(SpinUntil([&] { return !line.IsOpen(); }));
    const int before = logged(), ticks = app.espa.TickCount;
    for (int tick = 0; tick < 5; ++tick)
        EngineTick(app);
    EXPECT_EQ(logged(), before + 1);
    EXPECT_EQ(app.screenLog.LogLines[before].rfind(
                  "14:03:22 STATUS: Serial port lost: " + device + ": connection lost: ", 0),
              0u);
    EXPECT_EQ(app.espa.TickCount, ticks);  // the engine waits
    EXPECT_EQ(app.espa.LineOk, 0);
    for (const char* reason : {"connection lost", "refused"}) {  // the last attempt's
        for (int second = 0; second < kLineRetrySeconds; ++second)
            RetryLine(app);
        EXPECT_NE(view.portProblem.find(reason), std::string::npos) << view.portProblem;
        ASSERT_TRUE(SpinUntil([&] { return !line.Pending(); }));
    }
    EXPECT_EQ(logged(), before + 1);  // retries are quiet
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    for (int second = 0; second < kLineRetrySeconds; ++second)
        RetryLine(app);
    ASSERT_TRUE(connectAndOpen());

    CloseComPort(app);
    EXPECT_EQ(OpenComPort(app, 1, 4, 0, 1, 0, 0), -1);
    EXPECT_EQ(app.screenLog.LogLines[logged() - 1],
              "14:03:22 Reason: tcp://host: not a network "
              "port (write tcp://HOST:PORT, an IPv6 HOST in brackets)");
    EXPECT_EQ(OpenComPort(app, 2, 4, 0, 1, 0, 0), -1);
    ASSERT_TRUE(SpinUntil([&] { return !line.Pending(); }));
    EXPECT_FALSE(line.Open());
    EXPECT_NE(line.LastError().find("not found"), std::string::npos) << line.LastError();
}

}  // namespace
}  // namespace zelvano

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
