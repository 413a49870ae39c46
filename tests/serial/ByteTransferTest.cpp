#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serial/ByteTransfer.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::Hex;
using test::ReadFileBytes;
using test::TestApp;

constexpr const char* kTime = "14:03:22 ";  // the FakeClock's time of day
const std::string kIndent(18, ' ');

std::string TraceFile(const TestApp& t) {
    return ReadFileBytes(t.dir.path() / "DebugLog" / "05122026.log");
}

// The trace file as it must read after the given lines (without time stamps).
std::string TraceLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines)
        out += kTime + line + "\r\n";
    return out;
}

struct OpenTestApp : TestApp {
    explicit OpenTestApp(std::int16_t level) {
        line.open = true;
        app.settings.Logfile = level;
    }
};

TEST(ControlCharName, EveryKindOfValue) {
    const struct {
        std::int16_t value;
        const char* name;
    } cases[] = {
        {0, "[NUL]"},     {1, "[SOH]"},    {2, "[STX]"},    {3, "[ETX]"},     {4, "[EOT]"},
        {5, "[ENQ]"},     {6, "[ACK]"},    {7, "[BEL]"},    {8, "[BS]"},      {9, "[HT]"},
        {10, "[LF]"},     {11, "[VT]"},    {12, "[FF]"},    {13, "[CR]"},     {14, "[SO]"},
        {15, "[SI]"},     {16, "[DLE]"},   {17, "[DC1]"},   {18, "[DC2]"},    {19, "[DC3]"},
        {20, "[DC4]"},    {21, "[NAK]"},   {22, "[SYN]"},   {23, "[ETB]"},    {24, "[CAN]"},
        {25, "[EM]"},     {26, "[SUB]"},   {27, "[ESC]"},   {28, "[FS]"},     {29, "[GS]"},
        {30, "[RS]"},     {31, "[US]"},    {32, "[SP]"},    {33, "!"},        {65, "A"},
        {126, "~"},       {127, "[RUB]"},  {128, "\u20AC"}, {0x8A, "\u0160"}, {0xA0, "\u00A0"},
        {0xE9, "\u00E9"}, {255, "\u00FF"}, {-1, ""},        {256, ""},        {-32768, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ControlCharName(c.value), c.name) << c.value;
}

// Columns of six: name, decimal, hex; received bytes 18 columns further right.
TEST(TraceByte, LineLayout) {
    const struct {
        std::int16_t value;
        std::int16_t direction;
        std::string line;  // Windows-1252 bytes as written to the file
    } cases[] = {
        {5, 1, "TxD: [ENQ] 5     0x05  "},
        {6, 2, "RxD: " + kIndent + "[ACK] 6     0x06  "},
        {65, 0, "RxD: " + kIndent + "A     65    0x41  "},
        {32, 1, "TxD: [SP]  32    0x20  "},
        {127, 1, "TxD: [RUB] 127   0x7F  "},
        {8, 1, "TxD: [BS]  8     0x08  "},
        {128, 2, "RxD: " + kIndent + "\x80     128   0x80  "},
        {255, -1, "RxD: " + kIndent + "\xFF     255   0xFF  "},
    };
    for (const auto& c : cases) {
        TestApp t;
        TraceByte(t.app, c.value, c.direction);
        EXPECT_EQ(TraceFile(t), TraceLines({c.line})) << c.value;
    }
}

TEST(SendByte, HandsTheByteOverAndTracesAtLevelThree) {
    OpenTestApp t(3);
    EXPECT_EQ(SendByte(t.app, 5), 0);
    EXPECT_EQ(SendByte(t.app, 255), 0);
    EXPECT_EQ(SendByte(t.app, 0), 0);
    EXPECT_TRUE(t.app.activity.TxdActive);
    EXPECT_EQ(t.line.written, Hex("05 FF 00"));
    EXPECT_EQ(TraceFile(t), TraceLines({"TxD: [ENQ] 5     0x05  ", "TxD: \xFF     255   0xFF  ",
                                        "TxD: [NUL] 0     0x00  "}));
}

TEST(SendByte, OutOfRangeRefusedWithoutTrace) {
    for (const std::int16_t value : {-1, 256, -32768, 32767}) {
        OpenTestApp t(3);
        EXPECT_EQ(SendByte(t.app, value), -1) << value;
        EXPECT_TRUE(t.line.written.empty());
        EXPECT_FALSE(t.app.activity.TxdActive);
        EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "DebugLog"));
    }
}

TEST(SendByte, PortErrorIsMinusOneWithoutTrace) {
    for (const bool closed : {true, false}) {
        OpenTestApp t(3);
        t.line.open = !closed;
        t.line.failIo = !closed;
        EXPECT_EQ(SendByte(t.app, 0x41), -1);
        EXPECT_TRUE(t.line.written.empty());
        EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "DebugLog"));
    }
}

TEST(ReceiveByte, OneBytePerCallThenMinusOne) {
    OpenTestApp t(3);
    t.line.inputLen = 0;
    t.line.Feed(Hex("06 41 80 FF"));
    EXPECT_EQ(ReceiveByte(t.app), 6);
    EXPECT_EQ(t.line.inputLen, 1);
    EXPECT_EQ(t.line.input.size(), 3u);
    EXPECT_EQ(ReceiveByte(t.app), 0x41);
    EXPECT_EQ(ReceiveByte(t.app), 0x80);
    EXPECT_EQ(ReceiveByte(t.app), 255);
    EXPECT_EQ(ReceiveByte(t.app), -1);
    EXPECT_TRUE(t.app.activity.RxdActive);
    EXPECT_EQ(TraceFile(t), TraceLines({"RxD: " + kIndent + "[ACK] 6     0x06  ",
                                        "RxD: " + kIndent + "A     65    0x41  ",
                                        "RxD: " + kIndent + "\x80     128   0x80  ",
                                        "RxD: " + kIndent + "\xFF     255   0xFF  "}));
}

TEST(ReceiveByte, NothingWaitingNeverTraces) {
    for (std::int16_t level = 0; level <= 4; ++level) {
        OpenTestApp t(level);
        EXPECT_EQ(ReceiveByte(t.app), -1);
        EXPECT_FALSE(t.app.activity.RxdActive);
        EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "DebugLog")) << level;
    }
}

TEST(ReceiveByte, PortErrorIsMinusOneWithoutTrace) {
    OpenTestApp t(3);
    t.line.Feed(Hex("06"));
    t.line.failIo = true;
    EXPECT_EQ(ReceiveByte(t.app), -1);
    t.line.failIo = false;
    t.line.open = false;
    EXPECT_EQ(ReceiveByte(t.app), -1);
    EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "DebugLog"));
}

// A line that says a byte waits but then delivers none gives -1, not an
// invented NUL byte.
class ShortReadLine : public test::FakeSerialLine {
  public:
    int BytesWaiting() override { return 1; }
    int ReadByte() override { return -1; }
};

TEST(ReceiveByte, AnnouncedButMissingByteIsNoByte) {
    test::FakeView view;
    test::FakeClock clock;
    ShortReadLine line;
    test::TempDir dir;
    App app{view, clock, line, dir.path()};
    app.settings.Logfile = 3;
    line.open = true;
    EXPECT_EQ(ReceiveByte(app), -1);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "DebugLog"));
}

TEST(ByteTrace, NoTraceBelowLevelThree) {
    for (std::int16_t level = -1; level <= 2; ++level) {
        OpenTestApp t(level);
        t.line.Feed(Hex("06"));
        EXPECT_EQ(SendByte(t.app, 5), 0);
        EXPECT_EQ(ReceiveByte(t.app), 6);
        EXPECT_FALSE(std::filesystem::exists(t.dir.path() / "DebugLog")) << level;
    }
}

TEST(ClearInput, DiscardsWaitingBytesAndIgnoresErrors) {
    OpenTestApp t(3);
    t.line.Feed(Hex("01 02 03"));
    ClearInput(t.app);
    EXPECT_TRUE(t.line.input.empty());
    EXPECT_EQ(ReceiveByte(t.app), -1);
    t.line.open = false;
    ClearInput(t.app);
    EXPECT_EQ(t.line.discardCount, 2);
}

// A lost device is logged once, shown to the operator, and every later
// transfer fails quietly.
TEST(LineFailure, LoggedOnceAtLevelOneOrMore) {
    const struct {
        std::int16_t level;
        int lines;
    } cases[] = {{0, 0}, {1, 1}, {3, 1}};
    for (const auto& c : cases) {
        OpenTestApp t(c.level);
        t.line.open = false;  // the line closed itself
        t.line.lineFailure = "/dev/ttyUSB0: device lost (unplugged or hung up)";
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(ReceiveByte(t.app), -1);
            EXPECT_EQ(SendByte(t.app, 5), -1);
            ClearInput(t.app);
        }
        ASSERT_EQ(t.app.screenLog.LogLineCount, c.lines) << c.level;
        if (c.lines == 1) {
            EXPECT_EQ(
                t.app.screenLog.LogLines[0],
                std::string(kTime) +
                    "STATUS: Serial port lost: /dev/ttyUSB0: device lost (unplugged or hung up)");
        }
        EXPECT_EQ(t.view.portProblem, "/dev/ttyUSB0: device lost (unplugged or hung up)");
        EXPECT_TRUE(t.line.lineFailure.empty());
    }
}

TEST(LineFailure, ReportedFromSendAndClearToo) {
    for (const int op : {0, 1}) {
        OpenTestApp t(1);
        t.line.open = false;
        t.line.lineFailure = "COM3: device lost";
        if (op == 0) {
            EXPECT_EQ(SendByte(t.app, 0x31), -1);
        } else {
            ClearInput(t.app);
        }
        EXPECT_EQ(t.app.screenLog.LogLineCount, 1) << op;
        EXPECT_EQ(t.view.portProblem, "COM3: device lost");
    }
}

}  // namespace
}  // namespace zelvano
