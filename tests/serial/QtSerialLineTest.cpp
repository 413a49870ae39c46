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

#include "serial/ByteTransfer.h"
#include "serial/Datacom.h"
#include "serial/QtSerialLine.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::Hex;
using Bytes = std::vector<std::uint8_t>;

// Turns the event loop until the condition holds (false after 5 s).
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

// A pseudo-terminal pair; the master is this test's end of the cable.
struct Pty {
    int master = -1;
    std::string device;
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            ::close(slave);
            device = name;
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~Pty() { Unplug(); }
    void Unplug() {
        if (master >= 0)
            ::close(std::exchange(master, -1));
    }
    void Write(const Bytes& b) { ASSERT_EQ(::write(master, b.data(), b.size()), ssize_t(b.size())); }
    // Waits until the adapter has sent `expected` and nothing else.
    bool Receives(const Bytes& expected) {
        Bytes got;
        std::uint8_t buf[256];
        SpinUntil([&] {
            for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
                got.insert(got.end(), buf, buf + n);
            return got.size() >= expected.size();
        });
        return got == expected;
    }
    tcflag_t Flags(tcflag_t termios::*field) const {
        termios t{};
        ::tcgetattr(master, &t);
        return t.*field;
    }
};

// The core over the adapter, COM1 mapped to the pty.
struct Rig {
    Pty pty;
    test::TempDir dir;
    QtSerialLine line{dir.path()};
    test::FakeView view;
    test::FakeClock clock;
    App app{view, clock, line, dir.path()};
    Rig() {
        Map(pty.device);
        app.settings.Logfile = 1;
    }
    void Map(const std::string& device) {
        test::WriteFileBytes(dir.path() / "comports.cfg", "# cable\nCOM1 = " + device + "\n");
    }
    std::int16_t Open(std::int16_t handShake = 0, std::int16_t baud = 4, std::int16_t parity = 0) {
        return OpenComPort(app, 0, baud, parity, 1, 0, handShake);
    }
    std::string LastLog() const { return app.screenLog.LogLines[app.screenLog.LogLineCount - 1]; }
};

TEST(QtSerialLine, CoreOverAPtyInEveryHandShake) {
    // Every value a line discipline might touch: NUL, LF, CR, XON, XOFF, EOF, DEL, 0xFF.
    const Bytes bytes = Hex("00 0A 0D 11 13 04 1A 7F 80 FF 41");
    for (const std::int16_t handShake : {0, 1, 2}) {
        SCOPED_TRACE(handShake);
        Rig t;
        EXPECT_TRUE(t.line.SetRts(true) && t.line.Rts());  // kept while closed
        ASSERT_EQ(t.Open(handShake), 1) << t.line.LastError();
        EXPECT_EQ(t.line.Device(), t.pty.device);
        EXPECT_EQ(t.view.portCaption, "Settings: Com:1 at 9600,N,8,1");
        EXPECT_EQ((t.pty.Flags(&termios::c_cflag) & CRTSCTS) != 0, handShake == 2);
        EXPECT_EQ(t.pty.Flags(&termios::c_iflag) & (IXON | IXOFF), 0u);
        EXPECT_FALSE(t.line.Open());  // already open
        EXPECT_FALSE(t.line.SetPortNumber(2));
        // A pty has no modem lines: CTS reads off, RTS is the state asked for,
        // and the refused modem calls leave the line working.
        EXPECT_EQ(CtsState(t.app), -1);
        EXPECT_EQ(RtsState(t.app), handShake == 0 ? -1 : 1);
        EXPECT_TRUE(t.line.SetRts(true) && t.line.SetDtr(true) && t.line.Rts());
        for (const auto b : bytes)
            EXPECT_EQ(SendByte(t.app, b), 0);
        EXPECT_EQ(SendByte(t.app, 256), -1);
        EXPECT_TRUE(t.pty.Receives(bytes));
        t.pty.Write(bytes);
        ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == int(bytes.size()); }));
        for (const auto b : bytes)
            EXPECT_EQ(ReceiveByte(t.app), b);
        EXPECT_EQ(ReceiveByte(t.app), -1);
        t.pty.Write(Hex("01 02 03"));
        ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 3; }));
        ClearInput(t.app);
        EXPECT_EQ(t.line.BytesWaiting(), 0);
        CloseComPort(t.app);
        EXPECT_EQ(t.LastLog(), "14:03:22 Comport closed by software.");
        EXPECT_TRUE(t.line.Close());  // closing a closed port is no failure
        EXPECT_TRUE(t.line.BytesWaiting() == -1 && t.line.ReadByte() == -1 &&
                    !t.line.WriteByte(1) && !t.line.DiscardInput() && !t.line.Cts());
        EXPECT_TRUE(t.line.SetRts(false) && !t.line.Rts());
        EXPECT_EQ(t.line.TakeLineFailure(), "");
    }
}

// A Linux pty forces eight data bits and no parity enable: speed, odd/even
// and stop bits are what it shows. Settings changed while open apply at once.
TEST(QtSerialLine, LineSettingsReachTheDevice) {
    Rig t;
    ASSERT_EQ(OpenComPort(t.app, 0, 1, 2, 0, 1, 0), 1) << t.line.LastError();
    EXPECT_EQ(t.pty.Flags(&termios::c_cflag) & (CBAUD | PARODD | CSTOPB), B1200 | PARODD | CSTOPB);
    ASSERT_TRUE(t.line.SetLineSettings("4800,E,8,1"));
    EXPECT_EQ(t.pty.Flags(&termios::c_cflag) & (CBAUD | PARODD | CSTOPB), tcflag_t(B4800));
}

TEST(QtSerialLine, RefusedSettingsAndDevices) {
    Rig t;
    for (const int number : {0, 9, -1}) {
        EXPECT_FALSE(t.line.SetPortNumber(number) || t.line.Open());
        EXPECT_EQ(t.line.LastError(), "Com" + std::to_string(number) + ": not a port number 1 to 8");
    }
    ASSERT_TRUE(t.line.SetPortNumber(3));
    EXPECT_EQ(t.line.Device(), "/dev/ttyS2");
    EXPECT_FALSE(t.line.SetLineSettings("9600,N,8"));
    EXPECT_EQ(t.line.LastError(), "/dev/ttyS2: unusable line settings (9600,N,8)");
    EXPECT_TRUE(t.line.SetNullDiscard(false) && t.line.SetEofEnable(false) &&
                t.line.SetInputLen(0) && t.line.SetInputLen(1));
    EXPECT_FALSE(t.line.SetNullDiscard(true) || t.line.SetEofEnable(true) ||
                 t.line.SetInputLen(-1));

    // In use by another program; the first user is undisturbed.
    ASSERT_EQ(t.Open(), 1) << t.line.LastError();
    Rig second;
    second.Map(t.pty.device);
    EXPECT_EQ(second.Open(), -1);
    EXPECT_EQ(second.view.portProblem.rfind(t.pty.device + ": in use by another program", 0), 0u)
        << second.view.portProblem;
    EXPECT_EQ(SendByte(t.app, 0x41), 0);
    EXPECT_TRUE(t.pty.Receives(Hex("41")));

    const std::string missing = (t.dir.path() / "no-such-tty").string();
    second.Map(missing);
    EXPECT_EQ(second.Open(), -1);
    EXPECT_EQ(second.view.portProblem.rfind(missing + ": no such device", 0), 0u);
    EXPECT_EQ(second.LastLog(), "14:03:22 Error opening ComPort:  1");
    EXPECT_EQ(second.view.portCaption, "Serial Port: X");

    if (::geteuid() != 0) {  // root may open any device
        Rig denied;
        ASSERT_EQ(::chmod(denied.pty.device.c_str(), 0), 0);
        EXPECT_EQ(denied.Open(), -1);
        EXPECT_EQ(denied.view.portProblem.rfind(denied.pty.device + ": permission denied; the "
                                                "user must be in the dialout group", 0), 0u);
    }
}

// The far end going away (an unplugged adapter looks the same), with or
// without a write queued: the port closes, the core logs one line and every
// later transfer is -1 until a working device is opened.
TEST(QtSerialLine, LostDeviceLoggedOnceThenReopened) {
    for (const bool queued : {false, true}) {
        Rig t;
        ASSERT_EQ(t.Open(), 1) << t.line.LastError();
        const int before = t.app.screenLog.LogLineCount;
        t.pty.Unplug();
        if (queued)
            t.line.WriteByte(0x41);
        for (int tick = 0; tick < 30; ++tick) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            EXPECT_EQ(ReceiveByte(t.app), -1);
            EXPECT_EQ(SendByte(t.app, 5), -1);
        }
        EXPECT_FALSE(t.line.IsOpen());
        EXPECT_EQ(CtsState(t.app), -1);
        ASSERT_EQ(t.app.screenLog.LogLineCount, before + 1) << queued;
        const std::string lost = "14:03:22 STATUS: Serial port lost: " + t.pty.device + ": device lost";
        EXPECT_EQ(t.LastLog().rfind(lost, 0), 0u) << t.LastLog();

        Pty replugged;
        t.Map(replugged.device);
        CloseComPort(t.app);
        ASSERT_EQ(t.Open(), 1) << t.line.LastError();
        EXPECT_EQ(SendByte(t.app, 0x06), 0);
        EXPECT_TRUE(replugged.Receives(Hex("06")));
        replugged.Write(Hex("15"));
        ASSERT_TRUE(SpinUntil([&] { return t.line.BytesWaiting() == 1; }));
        EXPECT_EQ(ReceiveByte(t.app), 0x15);
    }
}

}  // namespace
}  // namespace zelvano

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
