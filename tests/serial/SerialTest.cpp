// The serial layer: over the fake line byte transfer and its trace, port setup
// and control lines, the port map and port-problem texts, the held trace of the
// status-block drain; then the line adapter under the core over ptys and TCP.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <sstream>

#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "serial/ByteTransfer.h"
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

std::string Trace(const TempDir& dir, const char* day = "05122026.log") {
    return ReadFileBytes(dir.path() / "DebugLog" / day);
}
std::string Lines(const Strings& lines, const std::string& stamp = T) {
    std::string out;
    for (const auto& line : lines)
        out += stamp + line + "\r\n";
    return out;
}
std::string Logged(const FakeEvents& events) {
    return Lines(events.allLines);
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
    // Columns of six (name, decimal, hex) in Windows-1252 bytes.
    const std::tuple<int, bool, std::string> cases[] = {
        {5, true, "TxD: [ENQ] 5     0x05  "},     {6, false, R + "[ACK] 6     0x06  "},
        {65, false, R + "A     65    0x41  "},    {127, true, "TxD: [RUB] 127   0x7F  "},
        {8, true, "TxD: [BS]  8     0x08  "},     {128, false, R + "\x80     128   0x80  "},
        {255, false, R + "\xFF     255   0xFF  "}};
    for (const auto& [value, sent, line] : cases) {
        EngineRig t(3);
        t.line.Feed({static_cast<std::uint8_t>(value)});
        EXPECT_EQ(sent ? t.link.Send(value) ? value : -1 : t.link.Receive(), value);
        EXPECT_EQ(Trace(t.dir), Lines({line})) << value;
    }
}

using Results = std::vector<int>;  // results of calls made left to right

// At log levels 2 and 3: results, bytes, activity, trace only at 3; out of
// range, line errors and a closed line give -1, no trace and no log line.
TEST(ByteTransfer, SendReceiveClear) {
    for (const std::int16_t level : {2, 3}) {
        EngineRig t(level);
        HeldTrace held;
        const auto send = [&](int value) { return t.link.Send(value) ? 0 : -1; };
        EXPECT_EQ((Results{send(-1), send(256), send(-32768), t.link.Receive()}),
                  Results(4, -1));  // refused; nothing waiting
        const LineActivity none = t.link.TakeActivity();
        EXPECT_FALSE(none.sent || none.received);
        t.line.Feed(Hex("06 80 07 01 02"));
        EXPECT_EQ(
            (Results{send(5), send(255), t.link.Receive(), t.link.Receive(), t.link.Receive(held)}),
            (Results{0, 0, 6, 0x80, 7}));
        EXPECT_EQ(held.size(), level == 3 ? 1u : 0u);
        t.link.ClearInput();
        EXPECT_EQ(t.link.Receive(), -1);
        const LineActivity both = t.link.TakeActivity();
        EXPECT_TRUE(both.sent && both.received);
        EXPECT_EQ(t.line.written, Hex("05 FF"));
        const std::string traced =
            level < 3
                ? ""
                : Lines({"TxD: [ENQ] 5     0x05  ", "TxD: \xFF     255   0xFF  ",
                         R + "[ACK] 6     0x06  ", R + "\x80     128   0x80  ",
                         R + "[SOH] 1     0x01  discarded", R + "[STX] 2     0x02  discarded"});
        EXPECT_EQ(Trace(t.dir), traced);
        t.line.Feed(Hex("41"));
        for (const bool closed : {false, true}) {
            t.line.failIo = !closed;
            t.line.open = !closed;
            EXPECT_EQ((Results{send(0x41), t.link.Receive()}), Results(2, -1));
            t.link.ClearInput();
        }
        EXPECT_EQ(Trace(t.dir), traced);
        EXPECT_EQ(t.line.discardCount + t.events.allLines.size(), 3u);
    }
}

// A line that says a byte waits but then delivers none: no byte, not a NUL.
struct ShortReadLine : FakeSerialLine {
    int BytesWaiting() override { return 1; }
    int ReadByte() override { return -1; }
};

// A line that lost its device left one message for whichever transfer comes
// first: logged at level 1 or more and told to the listener.
TEST(ByteTransfer, MissingByteAndLostLine) {
    ShortReadLine line;
    EngineRig s(3);
    ByteLink shortLink(line, s.log);
    EXPECT_EQ(shortLink.Receive(), -1);
    EXPECT_EQ(Trace(s.dir), "");
    for (const std::int16_t level : {0, 1}) {
        for (const int op : {0, 1, 2}) {
            EngineRig t(level);
            std::string problem;
            t.link.SetLostListener([&problem](const std::string& failure) {
                problem = failure;
                return true;
            });
            t.line.open = false;  // closed itself on losing its device
            t.line.lineFailure = "COM3: device lost";
            const auto transfer = [&] {
                return op == 0   ? (t.link.Send(5) ? 0 : -1)
                       : op == 1 ? t.link.Receive()
                                 : (t.link.ClearInput(), -1);
            };
            EXPECT_EQ((Results{transfer(), transfer()}), Results(2, -1));
            EXPECT_EQ(Logged(t.events),
                      level ? Lines({"STATUS: Serial port lost: COM3: device lost"}) : "");
            EXPECT_EQ(problem, "COM3: device lost");
        }
    }
}

Settings LineSettings(std::int16_t comPort, std::int16_t baud, std::int16_t parity,
                      std::int16_t bits, std::int16_t stop, std::int16_t handshake,
                      std::int16_t level) {
    Settings s;
    s.comPort = comPort;
    s.baudRate = baud;
    s.parity = parity;
    s.dataBits = bits;
    s.stopBits = stop;
    s.handshake = handshake;
    s.logLevel = level;
    return s;
}

TEST(PortOpening, SettingsStringWithFallbacks) {
    const std::pair<std::array<std::int16_t, 4>, const char*> cases[] = {
        {{4, 0, 1, 0}, "9600,N,8,1"},     {{0, 0, 0, 0}, "300,N,7,1"},
        {{1, 1, 1, 1}, "1200,E,8,2"},     {{2, 2, 2, 2}, "2400,O,8,1"},
        {{3, 3, 3, 3}, "4800,N,8,1"},     {{5, 4, 4, 4}, "19200,N,8,1"},
        {{6, 5, 5, 5}, "38400,N,8,1"},    {{7, 6, 6, 6}, "57600,N,8,1"},
        {{8, 8, 8, 8}, "9600,N,8,1"},     {{9, 1, 0, 1}, "9600,E,7,2"},
        {{-1, -1, -1, -1}, "9600,N,8,1"}, {{-4, 2, 0, 1}, "9600,O,7,2"}};
    for (const auto& [s, text] : cases)
        EXPECT_EQ(SettingsString(LineSettings(0, s[0], s[1], s[2], s[3], 0, 0)), text);
}

const std::string kClosed = "Comport closed by software.";

TEST(PortOpening, ByHandShake) {
    const std::tuple<std::int16_t, std::int16_t, FlowControl, bool> cases[] = {
        {0, 0, FlowControl::None, true},
        {3, 1, FlowControl::None, false},
        {7, 2, FlowControl::RtsCts, false},
        {0, 3, FlowControl::RtsCts, false},
        {0, -1, FlowControl::RtsCts, false}};
    for (const auto& [comPort, handShake, flow, manualRts] : cases) {
        TestCore t;
        t.events.portProblem = "old problem";
        t.line.rts = handShake == 0;
        t.core.UseSettings(LineSettings(comPort, 1, 1, 0, 1, handShake, 2));
        ASSERT_EQ(t.core.Reopen(), PortOpen::Opened);
        const std::string n = std::to_string(comPort + 1);
        EXPECT_EQ(t.line.portNumber, comPort + 1);
        EXPECT_EQ(t.line.lineSettings, "1200,E,7,2");
        EXPECT_TRUE(t.line.open && t.line.openCount == 1 && !t.line.dtr && t.line.flow == flow);
        EXPECT_EQ(t.core.Rts(), handShake != 0);
        EXPECT_EQ(t.events.rtsByHand, manualRts);
        EXPECT_EQ(t.events.portCaption, "Settings: Com:" + n + " at 1200,E,7,2");
        EXPECT_EQ(t.events.portProblem, "");
        const std::string lines =
            Lines({kClosed, "Com: " + n + " opened for ESPA emulation with: 1200,E,7,2"});
        EXPECT_EQ(Logged(t.events), lines);
        EXPECT_EQ(ReadFileBytes(t.dir.path() / "Log" / "05122026.log"), lines);
    }
}

// Any refused step (port number, line settings, opening) ends in the error
// line and its reason; caption and tool tip keep their texts.
TEST(PortOpening, FailsAtAnyStep) {
    const std::tuple<int, std::int16_t, const char*> cases[] = {
        {0, 8, " 9"}, {0, -2, "-1"}, {0, 32767, " 32768"}, {1, 0, " 1"}, {2, 5, " 6"}};
    for (const auto& [step, comPort, number] : cases) {
        TestCore t;
        t.line.failSetPort = step == 0;
        t.line.failSettings = step == 1;
        t.line.failOpen = step == 2;
        t.line.lastError = "/dev/ttyS0: permission denied";
        t.core.UseSettings(LineSettings(comPort, 4, 0, 1, 0, 0, 1));
        EXPECT_EQ(t.core.Reopen(), PortOpen::Failed);
        EXPECT_TRUE(t.line.openCount == (step == 2) && !t.line.open);
        EXPECT_EQ(Logged(t.events), Lines({kClosed, std::string("Error opening ComPort: ") + number,
                                           "Reason: /dev/ttyS0: permission denied"}));
        EXPECT_EQ(t.events.portCaption, "Serial Port: X");
        EXPECT_EQ(t.events.portProblem, "/dev/ttyS0: permission denied");
    }
}

// An operator's session at log levels 1 and 0 (nothing written, the port
// problem still shown): the RTS label toggles RTS, open or not, only without
// handshake; CTS reads the line while open; closing logs once it closed.
TEST(PortOpening, ControlLinesAndLogLevels) {
    for (const std::int16_t level : {1, 0}) {
        TestCore t;
        t.core.UseSettings(LineSettings(0, 4, 0, 1, 0, 0, level));
        const auto click = [&](std::int16_t handshake) {
            CoreAccess::CurrentSettings(t.core).handshake = handshake;
            t.core.ToggleRts();
            return t.core.Rts() ? 1 : -1;
        };
        const auto cts = [&](bool on) { return t.line.cts = on, t.core.Cts() ? 1 : -1; };
        const auto open = [&] { return t.core.Reopen() == PortOpen::Opened ? 1 : -1; };
        EXPECT_EQ((Results{cts(true), click(0), open(), cts(true), cts(false), click(0), click(0),
                           click(1), click(2), click(-1)}),
                  (Results{-1, 1, 1, 1, -1, 1, -1, -1, -1, -1}));
        t.line.failClose = true;
        t.core.Stop();
        t.line.failClose = false;
        t.core.Stop();
        t.line.failOpen = true;
        t.line.lastError = "/dev/ttyS0: in use by another program";
        EXPECT_EQ(open(), -1);
        EXPECT_EQ(t.events.portProblem, "/dev/ttyS0: in use by another program");
        const std::string no = "STATUS: Wrong HandShakeType, no manual adjustment possible.";
        EXPECT_EQ(Logged(t.events),
                  level == 0 ? ""
                             : Lines({"STATUS: RTS made ACTIVE (+12V).", kClosed,
                                      "Com: 1 opened for ESPA emulation with: 9600,N,8,1",
                                      "STATUS: RTS made ACTIVE (+12V).",
                                      "STATUS: RTS made INACTIVE (-12V).", no, no, no, kClosed,
                                      kClosed, "Error opening ComPort:  1",
                                      "Reason: /dev/ttyS0: in use by another program"}));
        EXPECT_EQ(t.events.logChanges > 0, level > 0);
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
    // Not a small regular file: an error naming it, never the default device.
    for (const std::string why :
         {"not a regular file", "larger than 64 kB", "not a regular file"}) {
        std::string problem;
        if (why[0] == 'l')
            WriteFileBytes(file, "COM2=/dev/a\n" + std::string(64 << 10, '#'));
        else if (!fs::create_directory(dir.path() / "d"))  // a directory first, then a FIFO:
            ::mkfifo(file.c_str(), 0600);                  // a plain open would wait for good
        else
            fs::create_directory(file);
        EXPECT_EQ(DeviceForPort(dir.path(), 2, &problem), "");
        EXPECT_EQ(problem, file.string() + ": " + why);
        fs::remove(file);
    }
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
void ArmDrain(EngineRig& t) {
    t.State().step = Step::StatusBlock;
    t.State().timer = 100;
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
        EngineRig t(3), oneByOne(3);
        ArmDrain(t);
        t.line.Feed({bytes.begin(), bytes.begin() + 2});  // over two ticks
        t.Tick();
        EXPECT_EQ(t.State().step, Step::StatusBlock);
        t.line.Feed({bytes.begin() + 2, bytes.end()});
        t.Tick();
        const bool aborted = bytes.back() == EOT;
        EXPECT_EQ(t.State().step, aborted ? Step::Scheduler : Step::StatusCheckChar);
        oneByOne.line.Feed({bytes.begin(), bytes.end()});
        while (oneByOne.link.Receive() >= 0) {
        }
        if (aborted)
            oneByOne.link.Send(EOT);
        EXPECT_EQ(Trace(t.dir), Trace(oneByOne.dir));
    }
}

struct MidnightClock : Clock {  // two readings before midnight, the rest after it
    int readings = 0;
    LocalDateTime Now() override {
        return readings++ < 2 ? LocalDateTime{2026, 12, 5, 23, 59, 59} : LocalDateTime{2026, 12, 6};
    }
};

TEST(HeldTrace, DrainAcrossMidnightSplitsOverBothDayFiles) {
    MidnightClock clock;
    EngineRig t(3, &clock);
    ArmDrain(t);
    t.line.Feed({SOH, '2', STX, '1', ETX});
    t.Tick();
    EXPECT_EQ(Trace(t.dir),
              Lines({R + "[SOH] 1     0x01  ", R + "2     50    0x32  "}, "23:59:59 "));
    EXPECT_EQ(Trace(t.dir, "06122026.log"),
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
    test::FakeClock clock;
    PagingCore core{line, clock, dir.path()};
    test::FakeEvents events;
    Rig() {
        Map(pty.device);
        core.Subscribe(events);
        Use(4, 0, 1, 0, 0);
    }
    void Map(const std::string& device) {
        test::WriteFileBytes(dir.path() / "comports.cfg", "# cable\nCOM1 = " + device);
    }
    void Use(std::int16_t baud, std::int16_t parity, std::int16_t bits, std::int16_t stop,
             std::int16_t handshake) {
        core.UseSettings(LineSettings(0, baud, parity, bits, stop, handshake, 1));
    }
    int Open() { return core.Reopen() == PortOpen::Opened ? 1 : -1; }
    ByteLink& Link() { return CoreAccess::Link(core); }
    std::string LastLog() const { return T + events.allLines.back(); }
    void Sends(const Bytes& bytes, Pty& to) {
        for (const auto b : bytes)
            EXPECT_TRUE(Link().Send(b));
        EXPECT_TRUE(to.Receives(bytes));
        to.Write(bytes);
        ASSERT_TRUE(SpinUntil([&] { return line.BytesWaiting() == int(bytes.size()); }));
        for (const auto b : bytes)
            EXPECT_EQ(Link().Receive(), b);
        EXPECT_EQ(Link().Receive(), -1);
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
        t.Use(s[0], s[1], s[2], s[3], handShake);
        ASSERT_EQ(t.Open(), 1) << t.line.LastError();
        EXPECT_EQ(t.line.Device(), t.pty.device);
        EXPECT_EQ(t.pty.Flags(&termios::c_cflag) & (CBAUD | PARODD | CSTOPB | CRTSCTS), flags);
        EXPECT_EQ(t.pty.Flags(&termios::c_iflag) & (IXON | IXOFF), 0u);
        EXPECT_FALSE(t.line.Open());  // already open
        EXPECT_FALSE(t.core.Cts());
        EXPECT_EQ(t.core.Rts(), handShake != 0);
        EXPECT_TRUE(t.line.SetRts(true) && t.line.SetDtr(true) && t.line.Rts());
        t.Sends(bytes, t.pty);
        if (handShake == 0) {  // applied to the open port at once
            ASSERT_TRUE(t.line.SetLineSettings({4800, ParityMode::Even, 8, StopBitsMode::One}))
                << t.line.LastError();
            EXPECT_EQ(t.pty.Flags(&termios::c_cflag) & (CBAUD | PARODD | CSTOPB), tcflag_t(B4800));
        }
        t.pty.Write(Hex("01 02 03"));
        ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 3; }));
        t.Link().ClearInput();
        EXPECT_EQ(t.line.BytesWaiting(), 0);

        const std::size_t before = t.events.allLines.size();
        ::close(std::exchange(t.pty.master, -1));
        if (handShake == 2)
            t.line.WriteByte(0x41);  // queued when the device went
        for (int tick = 0; tick < 30; ++tick) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            EXPECT_TRUE(t.Link().Receive() == -1 && !t.Link().Send(5) && !t.core.Cts());
        }
        EXPECT_FALSE(t.line.IsOpen());
        ASSERT_EQ(t.events.allLines.size(), before + 1);
        const std::string lost = std::string("14:03:22 STATUS: Serial port lost: ") + t.pty.device;
        EXPECT_EQ(t.LastLog().rfind(lost + ": device lost", 0), 0u) << t.LastLog();

        t.Map(replugged.device);
        ASSERT_EQ(t.Open(), 1) << t.line.LastError();
        EXPECT_TRUE(replugged.Receives({EOT}));  // the engine starts on a line check
        t.Sends(Hex("06 15"), replugged);
        EXPECT_FALSE(t.line.SetPortNumber(2));  // no other device while open
        t.core.Stop();
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
    EXPECT_EQ(second.events.portProblem.rfind(inUse, 0), 0u) << second.events.portProblem;
    t.Sends(Hex("41"), t.pty);
    const std::string missing = (t.dir.path() / "no-such-tty").string();
    second.Map(missing);
    EXPECT_EQ(second.Open(), -1);
    EXPECT_EQ(second.events.portProblem.rfind(missing + ": no such device", 0), 0u);
    if (::geteuid() != 0) {  // root may open any device
        Rig denied;
        ASSERT_EQ(::chmod(denied.pty.device, 0), 0);
        EXPECT_EQ(denied.Open(), -1);
        EXPECT_NE(denied.events.portProblem.find(": permission denied; the user must be in the "
                                                 "dialout group"),
                  std::string::npos);
    }
}

// COM1=tcp://127.0.0.1:PORT in comports.cfg: the core over a line to a slave
// on the network. The connection is made in the background (no box, the
// reason says so); bytes pass; the far end closing is a lost line, logged
// once while the engine waits; a slave that is gone is tried every few seconds,
// a new cause logged once, and the line comes back by itself, opened on the
// tick it connects. A peer that drops each connection at once is logged once
// with a count. A malformed entry says why.
TEST(PortLine, NetworkPortConnectsLosesAndComesBack) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    const std::string device = "tcp://127.0.0.1:" + std::to_string(port);
    TempDir dir;
    FakeClock clock;
    PortLine line{dir.path()};
    PagingCore core{line, clock, dir.path()};
    FakeEvents events;
    core.Subscribe(events);
    core.UseSettings(LineSettings(0, 0, 0, 0, 0, 0, 1));
    WriteFileBytes(dir.path() / "comports.cfg",
                   "COM1=" + device + "\nCOM2=tcp://host\nCOM3=tcp://no-such-host.invalid:1\n");
    const auto logged = [&] { return events.allLines.size(); };
    const auto connectAndOpen = [&](std::size_t lines = 2) {
        EXPECT_TRUE(SpinUntil([&] { return server.hasPendingConnections(); }));
        const std::size_t before = logged();
        EXPECT_TRUE(SpinUntil([&] { return line.IsOpen() || (core.Tick(), line.IsOpen()); }));
        EXPECT_EQ(logged(), before + lines);
        EXPECT_TRUE(!lines || events.allLines[before] == "STATUS: Serial port available.");
        EXPECT_EQ(events.portProblem, "");
        return server.nextPendingConnection();
    };

    EXPECT_EQ(core.Reopen(), PortOpen::Connecting);  // no box
    EXPECT_EQ(events.portProblem, device + ": connecting");
    QTcpSocket* peer = connectAndOpen();
    ASSERT_TRUE(line.IsOpen() && peer);
    EXPECT_EQ(events.portCaption, "Settings: Com:1 at 300,N,7,1");
    EXPECT_TRUE(CoreAccess::Link(core).Send(0x41));
    ASSERT_TRUE(SpinUntil([&] { return peer->bytesAvailable() == 1; }));
    EXPECT_EQ(peer->readAll(), "A");
    peer->write("\x06\x15");
    ASSERT_TRUE(SpinUntil([&] { return line.BytesWaiting() == 2; }));
    EXPECT_EQ(CoreAccess::Link(core).Receive(), 6);

    CoreAccess::Engine(core).link = LinkState::Up;
    server.close();
    peer->close();
    ASSERT_TRUE(SpinUntil([&] { return !line.IsOpen(); }));
    const std::size_t before = logged();
    const std::uint32_t ticks = core.Engine().ticks;
    for (int tick = 0; tick < 5; ++tick)
        core.Tick();
    EXPECT_EQ(logged(), before + 1);
    EXPECT_EQ(events.allLines[before].rfind(
                  "STATUS: Serial port lost: " + device + ": connection lost: ", 0),
              0u);
    EXPECT_EQ(core.Engine().ticks, ticks);  // the engine waits
    EXPECT_EQ(core.Link(), LinkState::Down);
    constexpr int kRetrySeconds = 3;  // a line that is down is tried this often
    for (const char* reason : {"connection lost", "refused"}) {  // the last attempt's
        for (int second = 0; second < kRetrySeconds; ++second)
            core.WatchLine();
        EXPECT_NE(events.portProblem.find(reason), std::string::npos) << events.portProblem;
        ASSERT_TRUE(SpinUntil([&] { return !line.Pending(); }));
    }
    EXPECT_EQ(logged(), before + 2);  // retries log a new cause only
    EXPECT_EQ(events.allLines.back(),
              "STATUS: Serial port not available: " + device + ": Connection refused");
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    const std::size_t flapped = logged();
    for (std::size_t drop = 0; drop < 4; ++drop) {
        for (int second = 0; second < kRetrySeconds; ++second)
            core.WatchLine();
        QTcpSocket* again = connectAndOpen(drop < 2 ? 2 : 0);
        if (drop < 3)
            again->close();
        ASSERT_TRUE(SpinUntil([&] { return core.Tick(), drop == 3 || !line.IsOpen(); }));
    }
    for (int tick = 0; tick < 20; ++tick)
        core.Tick();
    EXPECT_EQ(logged(), flapped + 8);  // two openings, a loss, and from then on counted
    EXPECT_EQ(
        events.allLines[flapped + 5],
        "STATUS: Serial port drops each connection at once; repeats are counted, not logged.");
    EXPECT_EQ(events.allLines[flapped + 6], "STATUS: Serial port dropped 3 connections at once.");

    core.UseSettings(LineSettings(1, 4, 0, 1, 0, 0, 1));
    EXPECT_EQ(core.Reopen(), PortOpen::Failed);
    EXPECT_EQ(events.allLines.back(),
              "Reason: tcp://host: not a network "
              "port (write tcp://HOST:PORT, an IPv6 HOST in brackets)");
    core.UseSettings(LineSettings(2, 4, 0, 1, 0, 0, 1));
    EXPECT_NE(core.Reopen(), PortOpen::Opened);
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
