// The QSerialPort adapter under the core against real pseudo-terminals: the
// test holds the master side, the adapter opens the slave through comports.cfg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "serial/ByteTransfer.h"
#include "serial/Datacom.h"
#include "serial/QtSerialLine.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::Hex;
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
    void Write(const Bytes& b) { EXPECT_EQ(::write(master, b.data(), b.size()), ssize_t(b.size())); }
    bool Receives(const Bytes& expected) {  // exactly these bytes from the adapter
        Bytes got(256);
        std::size_t n = 0;
        SpinUntil([&] { return (n += std::max(0L, ::read(master, &got[n], 256 - n))) >= expected.size(); });
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
    QtSerialLine line{dir.path()};
    test::FakeView view;
    test::FakeClock clock;
    App app{view, clock, line, dir.path()};
    Rig() { Map(pty.device), app.settings.Logfile = 1; }
    void Map(const std::string& device) {
        test::WriteFileBytes(dir.path() / "comports.cfg", "# cable\nCOM1 = " + device);
    }
    std::int16_t Open() { return OpenComPort(app, 0, 4, 0, 1, 0, 0); }
    std::string LastLog() const { return app.screenLog.LogLines[app.screenLog.LogLineCount - 1]; }
    void Sends(const Bytes& bytes, Pty& to) {
        for (const auto b : bytes) EXPECT_EQ(SendByte(app, b), 0);
        EXPECT_TRUE(to.Receives(bytes));
        to.Write(bytes);
        ASSERT_TRUE(SpinUntil([&] { return line.BytesWaiting() == int(bytes.size()); }));
        for (const auto b : bytes) EXPECT_EQ(ReceiveByte(app), b);
        EXPECT_EQ(ReceiveByte(app), -1);
    }
};

// Each handshake with its own line settings (a Linux pty forces eight data bits
// and no parity enable, so speed, odd/even and stop bits are what it shows):
// open, bytes both ways, then the far end goes away (an unplugged adapter looks
// the same), once with a write queued. The core logs one line, every transfer
// is -1 until a working device is opened; modem-control refusals on a pty
// never fail the open, CTS reads off and RTS is the state asked for.
TEST(QtSerialLine, OpenTransferLoseAndReopen) {
    // Every value a line discipline might touch: NUL, LF, CR, XON, XOFF, EOF, DEL, 0xFF.
    const Bytes bytes = Hex("00 0A 0D 11 13 04 1A 7F 80 FF 41");
    const std::tuple<std::int16_t, std::array<std::int16_t, 4>, tcflag_t> cases[] = {
        {0, {1, 2, 0, 1}, B1200 | PARODD | CSTOPB}, {1, {4, 0, 1, 0}, B9600},
        {2, {3, 1, 1, 0}, B4800 | CRTSCTS}};
    for (const auto& [handShake, s, flags] : cases) {
        Rig t;
        Pty replugged;
        EXPECT_TRUE(t.line.SetRts(true) && t.line.Rts());  // kept while closed
        ASSERT_EQ(OpenComPort(t.app, 0, s[0], s[1], s[2], s[3], handShake), 1) << t.line.LastError();
        EXPECT_EQ(t.line.Device(), t.pty.device);
        EXPECT_EQ(t.pty.Flags(&termios::c_cflag) & (CBAUD | PARODD | CSTOPB | CRTSCTS), flags);
        EXPECT_EQ(t.pty.Flags(&termios::c_iflag) & (IXON | IXOFF), 0u);
        EXPECT_FALSE(t.line.Open());  // already open
        EXPECT_EQ(CtsState(t.app), -1);
        EXPECT_EQ(RtsState(t.app), handShake == 0 ? -1 : 1);
        EXPECT_TRUE(t.line.SetRts(true) && t.line.SetDtr(true) && t.line.Rts());
        t.Sends(bytes, t.pty);
        EXPECT_EQ(SendByte(t.app, 256), -1);
        if (handShake == 0) {  // applied to the open port at once
            ASSERT_TRUE(t.line.SetLineSettings("4800,E,8,1")) << t.line.LastError();
            EXPECT_EQ(t.pty.Flags(&termios::c_cflag) & (CBAUD | PARODD | CSTOPB), tcflag_t(B4800));
        }
        t.pty.Write(Hex("01 02 03"));
        ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 3; }));
        ClearInput(t.app);
        EXPECT_EQ(t.line.BytesWaiting(), 0);

        const int before = t.app.screenLog.LogLineCount;
        ::close(std::exchange(t.pty.master, -1));
        if (handShake == 2) t.line.WriteByte(0x41);  // queued when the device went
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

TEST(QtSerialLine, RefusedSettingsAndDevices) {
    Rig t, second;
    for (const int number : {0, 9, -1}) {
        EXPECT_FALSE(t.line.SetPortNumber(number) || t.line.Open());
        EXPECT_EQ(t.line.LastError(), "Com" + std::to_string(number) + ": not a port number 1 to 8");
    }
    EXPECT_TRUE(t.line.SetPortNumber(3) && t.line.Device() == "/dev/ttyS2");
    EXPECT_FALSE(t.line.SetLineSettings("9600,N,8"));
    EXPECT_EQ(t.line.LastError(), "/dev/ttyS2: unusable line settings (9600,N,8)");
    EXPECT_TRUE(t.line.SetNullDiscard(false) && t.line.SetEofEnable(false) && t.line.SetInputLen(0));
    EXPECT_FALSE(t.line.SetNullDiscard(true) || t.line.SetEofEnable(true) || t.line.SetInputLen(-1));
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
    EXPECT_EQ(second.LastLog(), "14:03:22 Error opening ComPort:  1");
    if (::geteuid() != 0) {  // root may open any device
        Rig denied;
        ASSERT_EQ(::chmod(denied.pty.device, 0), 0);
        EXPECT_EQ(denied.Open(), -1);
        EXPECT_NE(denied.view.portProblem.find(": permission denied; the user must be in the "
                                               "dialout group"), std::string::npos);
    }
}

}  // namespace
}  // namespace zelvano

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
