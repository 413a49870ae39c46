// The QSerialPort adapter against real pseudo-terminals: the test holds the
// master side, the adapter opens the slave device through comports.cfg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <vector>

#include "serial/ByteTransfer.h"
#include "serial/Datacom.h"
#include "serial/QtSerialLine.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::Hex;
using test::TempDir;
using test::WriteFileBytes;

// Turns the event loop until the condition holds; false when it never did.
// The limit only guards against a hang, nothing is measured.
bool SpinUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Turns the event loop for a while so that pending work can happen.
void Spin(int rounds = 20) {
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A pseudo-terminal pair; the master is this test's end of the cable.
class Pty {
  public:
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        slavePath_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }
    void CloseMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    void Write(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the adapter sent so far.
    std::vector<std::uint8_t> ReadAll() {
        std::vector<std::uint8_t> out;
        std::uint8_t buf[256];
        ssize_t n;
        while ((n = ::read(master_, buf, sizeof buf)) > 0)
            out.insert(out.end(), buf, buf + n);
        return out;
    }
    termios Attributes() const {
        termios t{};
        ::tcgetattr(master_, &t);
        return t;
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};

void MapCom1(const TempDir& dir, const std::string& device) {
    WriteFileBytes(dir.path() / "comports.cfg", "# test cable\nCOM1 = " + device + "\n");
}

// The adapter prepared the way OpenComPort prepares it.
bool Prepare(QtSerialLine& line, const std::string& settings, FlowControl flow, bool rts) {
    return line.SetPortNumber(1) && line.SetFlowControl(flow) && line.SetRts(rts) &&
           line.SetLineSettings(settings) && line.SetInputLen(0) && line.SetNullDiscard(false) &&
           line.SetEofEnable(false) && line.SetDtr(false) && line.SetInputLen(1);
}

struct PtyLine {
    Pty pty;
    TempDir dir;
    QtSerialLine line{dir.path()};

    PtyLine() { MapCom1(dir, pty.SlavePath()); }
    bool Open(const std::string& settings = "9600,N,8,1", FlowControl flow = FlowControl::None) {
        return pty.Ok() && Prepare(line, settings, flow, true) && line.Open();
    }
};

// The whole core over the adapter.
struct CoreOverPty {
    Pty pty;
    TempDir dir;
    QtSerialLine line{dir.path()};
    test::FakeView view;
    test::FakeClock clock;
    App app{view, clock, line, dir.path()};

    CoreOverPty() { MapCom1(dir, pty.SlavePath()); }
};

TEST(QtSerialLine, OpensInEveryHandShakeMode) {
    const struct {
        std::int16_t handShake;
        bool crtscts;
        std::int16_t rts;
    } cases[] = {{0, false, -1}, {1, false, 1}, {2, true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("handshake " + std::to_string(c.handShake));
        CoreOverPty t;
        ASSERT_TRUE(t.pty.Ok());
        t.app.settings.Logfile = 1;
        ASSERT_EQ(OpenComPort(t.app, 0, 4, 0, 1, 0, c.handShake), 1) << t.line.LastError();
        EXPECT_TRUE(t.line.IsOpen());
        EXPECT_EQ(t.line.Device(), t.pty.SlavePath());
        EXPECT_EQ(t.view.portCaption, "Settings: Com:1 at 9600,N,8,1");
        EXPECT_EQ(t.view.portProblem, "");
        EXPECT_EQ((t.pty.Attributes().c_cflag & CRTSCTS) != 0, c.crtscts);
        // A pseudo-terminal has no modem lines: CTS reads off, RTS is our own.
        EXPECT_EQ(CtsState(t.app), -1);
        EXPECT_EQ(RtsState(t.app), c.rts);
        CloseComPort(t.app);
        EXPECT_FALSE(t.line.IsOpen());
        EXPECT_EQ(t.app.screenLog.LogLines[1], "14:03:22 Comport closed by software.");
    }
}

// A Linux pseudo-terminal forces eight data bits and clears the parity
// enable bit, so speed, odd/even and stop bits are what it can show.
TEST(QtSerialLine, LineSettingsReachTheDevice) {
    PtyLine t;
    ASSERT_TRUE(t.Open("1200,O,7,2")) << t.line.LastError();
    termios a = t.pty.Attributes();
    EXPECT_EQ(cfgetospeed(&a), static_cast<speed_t>(B1200));
    EXPECT_NE(a.c_cflag & PARODD, 0u);
    EXPECT_NE(a.c_cflag & CSTOPB, 0u);

    // Changed while open, the port takes them at once.
    ASSERT_TRUE(t.line.SetLineSettings("4800,E,8,1"));
    a = t.pty.Attributes();
    EXPECT_EQ(cfgetospeed(&a), static_cast<speed_t>(B4800));
    EXPECT_EQ(a.c_cflag & PARODD, 0u);
    EXPECT_EQ(a.c_cflag & CSTOPB, 0u);
    // No software flow control: XON/XOFF are data.
    EXPECT_EQ(a.c_iflag & (IXON | IXOFF), 0u);
}

TEST(QtSerialLine, BytesBothWaysOneBytePerRead) {
    PtyLine t;
    ASSERT_TRUE(t.Open()) << t.line.LastError();
    // Every value a line discipline might touch: NUL, LF, CR, XON, XOFF, EOF, DEL, 0xFF.
    const auto bytes = Hex("00 0A 0D 11 13 04 1A 7F 80 FF 41");

    for (const auto b : bytes)
        ASSERT_TRUE(t.line.WriteByte(b));
    std::vector<std::uint8_t> received;
    ASSERT_TRUE(SpinUntil([&] {
        const auto more = t.pty.ReadAll();
        received.insert(received.end(), more.begin(), more.end());
        return received.size() >= bytes.size();
    }));
    EXPECT_EQ(received, bytes);

    t.pty.Write(bytes);
    ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == static_cast<int>(bytes.size()); }));
    std::vector<std::uint8_t> read;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(t.line.BytesWaiting(), static_cast<int>(bytes.size() - i));
        const int b = t.line.ReadByte();
        ASSERT_GE(b, 0);
        read.push_back(static_cast<std::uint8_t>(b));
    }
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(t.line.BytesWaiting(), 0);
    EXPECT_EQ(t.line.ReadByte(), -1);
}

TEST(QtSerialLine, CoreTransfersThroughTheAdapter) {
    CoreOverPty t;
    ASSERT_EQ(OpenComPort(t.app, 0, 4, 0, 1, 0, 0), 1) << t.line.LastError();
    EXPECT_EQ(SendByte(t.app, 5), 0);
    EXPECT_EQ(SendByte(t.app, 256), -1);
    std::vector<std::uint8_t> received;
    ASSERT_TRUE(SpinUntil([&] {
        received = t.pty.ReadAll();
        return !received.empty();
    }));
    EXPECT_EQ(received, Hex("05"));

    EXPECT_EQ(ReceiveByte(t.app), -1);
    t.pty.Write(Hex("06 31"));
    ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 2; }));
    EXPECT_EQ(ReceiveByte(t.app), 6);
    EXPECT_EQ(ReceiveByte(t.app), 0x31);
    EXPECT_EQ(ReceiveByte(t.app), -1);
}

TEST(QtSerialLine, DiscardInput) {
    PtyLine t;
    ASSERT_TRUE(t.Open()) << t.line.LastError();
    t.pty.Write(Hex("01 02 03 04 05"));
    ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 5; }));
    EXPECT_TRUE(t.line.DiscardInput());
    EXPECT_EQ(t.line.BytesWaiting(), 0);
    EXPECT_EQ(t.line.ReadByte(), -1);
    // The line stays usable afterwards.
    t.pty.Write(Hex("06"));
    ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 1; }));
    EXPECT_EQ(t.line.ReadByte(), 6);
}

TEST(QtSerialLine, ClosedPortRefusesTransfers) {
    PtyLine t;
    EXPECT_FALSE(t.line.IsOpen());
    EXPECT_EQ(t.line.BytesWaiting(), -1);
    EXPECT_EQ(t.line.ReadByte(), -1);
    EXPECT_FALSE(t.line.WriteByte(0x41));
    EXPECT_FALSE(t.line.DiscardInput());
    EXPECT_FALSE(t.line.Cts());
    EXPECT_TRUE(t.line.Close());  // closing a closed port is no failure

    ASSERT_TRUE(t.Open()) << t.line.LastError();
    EXPECT_FALSE(t.line.Open());  // already open
    EXPECT_TRUE(t.line.IsOpen());
    EXPECT_FALSE(t.line.SetPortNumber(2));  // no other device while open
    EXPECT_TRUE(t.line.Close());
    EXPECT_FALSE(t.line.WriteByte(0x41));
}

// RTS can be set while closed and under hardware flow control; the wanted
// state is kept and reported.
TEST(QtSerialLine, RtsKeepsTheWantedState) {
    PtyLine t;
    EXPECT_TRUE(t.line.SetRts(true));
    EXPECT_TRUE(t.line.Rts());
    EXPECT_TRUE(t.line.SetRts(false));
    EXPECT_FALSE(t.line.Rts());

    ASSERT_TRUE(t.Open("9600,N,8,1", FlowControl::RtsCts)) << t.line.LastError();
    EXPECT_TRUE(t.line.SetRts(false));
    EXPECT_FALSE(t.line.Rts());
    EXPECT_TRUE(t.line.SetRts(true));
    EXPECT_TRUE(t.line.Rts());
    EXPECT_FALSE(t.line.Cts());
    EXPECT_TRUE(t.line.SetDtr(true));
    // Refused modem calls leave the line working.
    EXPECT_TRUE(t.line.WriteByte(0x42));
    ASSERT_TRUE(SpinUntil([&] { return t.pty.ReadAll() == Hex("42"); }));
}

TEST(QtSerialLine, PortPropertiesWithoutAQtCounterpart) {
    PtyLine t;
    EXPECT_TRUE(t.line.SetNullDiscard(false));
    EXPECT_FALSE(t.line.SetNullDiscard(true));
    EXPECT_TRUE(t.line.SetEofEnable(false));
    EXPECT_FALSE(t.line.SetEofEnable(true));
    EXPECT_TRUE(t.line.SetInputLen(0));
    EXPECT_TRUE(t.line.SetInputLen(1));
    EXPECT_FALSE(t.line.SetInputLen(-1));
}

TEST(QtSerialLine, RefusedPortNumbersAndSettings) {
    TempDir dir;
    QtSerialLine line(dir.path());
    for (const int number : {0, 9, -1}) {
        EXPECT_FALSE(line.SetPortNumber(number));
        EXPECT_EQ(line.LastError(), "Com" + std::to_string(number) + ": not a port number 1 to 8");
        EXPECT_FALSE(line.Open());
    }
    ASSERT_TRUE(line.SetPortNumber(3));
    EXPECT_EQ(line.Device(), "/dev/ttyS2");
    EXPECT_FALSE(line.SetLineSettings("9600,N,8"));
    EXPECT_EQ(line.LastError(), "/dev/ttyS2: unusable line settings (9600,N,8)");
}

TEST(QtSerialLine, MissingDevice) {
    CoreOverPty t;
    const std::string missing = (t.dir.path() / "no-such-tty").string();
    MapCom1(t.dir, missing);
    t.app.settings.Logfile = 1;
    EXPECT_EQ(OpenComPort(t.app, 0, 4, 0, 1, 0, 0), -1);
    EXPECT_FALSE(t.line.IsOpen());
    EXPECT_EQ(t.line.LastError().rfind(missing + ": no such device", 0), 0u) << t.line.LastError();
    EXPECT_EQ(t.view.portProblem, t.line.LastError());
    EXPECT_EQ(t.app.screenLog.LogLines[0], "14:03:22 Error opening ComPort:  1");
    EXPECT_EQ(t.view.portCaption, "Serial Port: X");
}

TEST(QtSerialLine, DeviceInUse) {
    PtyLine first;
    ASSERT_TRUE(first.Open()) << first.line.LastError();
    QtSerialLine second(first.dir.path());
    ASSERT_TRUE(Prepare(second, "9600,N,8,1", FlowControl::None, false));
    EXPECT_FALSE(second.Open());
    EXPECT_FALSE(second.IsOpen());
    const std::string expected = first.pty.SlavePath() + ": in use by another program";
    EXPECT_EQ(second.LastError().rfind(expected, 0), 0u) << second.LastError();
    // The first user is undisturbed.
    EXPECT_TRUE(first.line.WriteByte(0x41));
    ASSERT_TRUE(SpinUntil([&] { return first.pty.ReadAll() == Hex("41"); }));
}

TEST(QtSerialLine, NoPermissionNamesTheDialoutGroup) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any device";
    PtyLine t;
    ASSERT_TRUE(t.pty.Ok());
    ASSERT_EQ(::chmod(t.pty.SlavePath().c_str(), 0), 0);
    EXPECT_FALSE(t.Open());
    EXPECT_EQ(t.line.LastError().rfind(t.pty.SlavePath() + ": permission denied", 0), 0u)
        << t.line.LastError();
    EXPECT_NE(t.line.LastError().find("dialout"), std::string::npos);
}

// The far end going away (an unplugged adapter looks the same): the port
// closes, one failure is kept, every later transfer is refused, and opening a
// working device afterwards succeeds.
TEST(QtSerialLine, UnplugClosesOnceAndReopenWorks) {
    PtyLine t;
    ASSERT_TRUE(t.Open()) << t.line.LastError();
    const std::string lostDevice = t.pty.SlavePath();
    t.pty.CloseMaster();
    ASSERT_TRUE(SpinUntil([&] { return !t.line.IsOpen(); }));

    const std::string failure = t.line.TakeLineFailure();
    EXPECT_EQ(failure.rfind(lostDevice + ": device lost", 0), 0u) << failure;
    Spin();
    EXPECT_EQ(t.line.TakeLineFailure(), "");
    EXPECT_EQ(t.line.BytesWaiting(), -1);
    EXPECT_EQ(t.line.ReadByte(), -1);
    EXPECT_FALSE(t.line.WriteByte(0x41));
    EXPECT_FALSE(t.line.DiscardInput());
    EXPECT_FALSE(t.line.Cts());

    Pty replugged;
    ASSERT_TRUE(replugged.Ok());
    MapCom1(t.dir, replugged.SlavePath());
    EXPECT_TRUE(t.line.Close());
    ASSERT_TRUE(Prepare(t.line, "9600,N,8,1", FlowControl::None, true));
    ASSERT_TRUE(t.line.Open()) << t.line.LastError();
    EXPECT_TRUE(t.line.WriteByte(0x06));
    ASSERT_TRUE(SpinUntil([&] { return replugged.ReadAll() == Hex("06"); }));
    replugged.Write(Hex("15"));
    ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 1; }));
    EXPECT_EQ(t.line.ReadByte(), 0x15);
}

// Unplugged with a write queued: still one failure, no crash.
TEST(QtSerialLine, UnplugWithQueuedWrite) {
    PtyLine t;
    ASSERT_TRUE(t.Open()) << t.line.LastError();
    t.pty.CloseMaster();
    t.line.WriteByte(0x41);
    ASSERT_TRUE(SpinUntil([&] { return !t.line.IsOpen(); }));
    EXPECT_NE(t.line.TakeLineFailure(), "");
    Spin();
    EXPECT_EQ(t.line.TakeLineFailure(), "");
}

TEST(QtSerialLine, CoreLogsTheLostLineOnce) {
    CoreOverPty t;
    t.app.settings.Logfile = 1;
    ASSERT_EQ(OpenComPort(t.app, 0, 4, 0, 1, 0, 0), 1) << t.line.LastError();
    const int before = t.app.screenLog.LogLineCount;
    t.pty.CloseMaster();
    // The engine keeps polling tick after tick.
    for (int tick = 0; tick < 50; ++tick) {
        Spin(2);
        EXPECT_EQ(ReceiveByte(t.app), -1);
        SendByte(t.app, 5);
    }
    EXPECT_FALSE(t.line.IsOpen());
    ASSERT_EQ(t.app.screenLog.LogLineCount, before + 1);
    const std::string line = t.app.screenLog.LogLines[before];
    EXPECT_EQ(line.rfind("14:03:22 STATUS: Serial port lost: " + t.pty.SlavePath(), 0), 0u) << line;
    EXPECT_EQ(CtsState(t.app), -1);
}

}  // namespace
}  // namespace zelvano

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
