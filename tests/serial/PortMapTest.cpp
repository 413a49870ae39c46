#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "serial/LineSettings.h"
#include "serial/PortMap.h"
#include "serial/PortProblem.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::TempDir;
using test::WriteFileBytes;
using PortMap = std::map<int, std::string>;

TEST(ParsePortMap, GoodAndMalformedLines) {
    const struct {
        const char* name;
        std::string text;
        PortMap expected;
    } cases[] = {
        {"empty", "", {}},
        {"one entry", "COM1=/dev/ttyUSB0\n", {{1, "/dev/ttyUSB0"}}},
        {"no final newline", "COM2=/dev/ttyACM0", {{2, "/dev/ttyACM0"}}},
        {"blanks around =", "  COM3 \t=   /dev/pts/4  \n", {{3, "/dev/pts/4"}}},
        {"any case", "com4=/dev/a\nCoM5=/dev/b\n", {{4, "/dev/a"}, {5, "/dev/b"}}},
        {"CRLF lines",
         "COM1=/dev/ttyUSB0\r\nCOM8=/dev/ttyUSB1\r\n",
         {{1, "/dev/ttyUSB0"}, {8, "/dev/ttyUSB1"}}},
        {"comments",
         "# my adapters\nCOM1=/dev/ttyUSB0 # the left one\n#COM2=/dev/x\n",
         {{1, "/dev/ttyUSB0"}}},
        {"byte order mark",
         "\xEF\xBB\xBF"
         "COM1=/dev/ttyUSB0\n",
         {{1, "/dev/ttyUSB0"}}},
        {"later entry wins", "COM1=/dev/a\nCOM1=/dev/b\n", {{1, "/dev/b"}}},
        {"leading zero", "COM01=/dev/a\n", {{1, "/dev/a"}}},
        {"blank inside the device kept",
         "COM6=/dev/serial/by-id/my port\n",
         {{6, "/dev/serial/by-id/my port"}}},
        {"out of range numbers", "COM0=/dev/a\nCOM9=/dev/b\nCOM-1=/dev/c\nCOM100=/dev/d\n", {}},
        {"no number or no device", "COM=/dev/a\nCOM2=\nCOM3=   \n=/dev/x\n", {}},
        {"no =", "COM1 /dev/ttyUSB0\nCOM2:/dev/x\n", {}},
        {"other keys", "PORT1=/dev/a\nCOMX=/dev/b\nCOM1a=/dev/c\nCOM 1=/dev/d\nXCOM1=/dev/e\n", {}},
        {"malformed lines skipped, good ones kept",
         "garbage\nCOM2=/dev/ttyS9\n\x01\x02\xFF\nCOM9=/dev/x\nCOM7 = COM7\n",
         {{2, "/dev/ttyS9"}, {7, "COM7"}}},
        {"value with =", "COM1=/dev/a=b\n", {{1, "/dev/a=b"}}},
        {"only blank lines", "\n\n   \n\t\n", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParsePortMap(c.text), c.expected) << c.name;
}

TEST(DefaultDevice, LinuxSerialNames) {
    EXPECT_EQ(DefaultDevice(1), "/dev/ttyS0");
    EXPECT_EQ(DefaultDevice(4), "/dev/ttyS3");
    EXPECT_EQ(DefaultDevice(8), "/dev/ttyS7");
}

TEST(DeviceForPort, FileFirstThenDefault) {
    TempDir dir;
    EXPECT_EQ(DeviceForPort(dir.path(), 1), "/dev/ttyS0");  // no file yet

    WriteFileBytes(dir.path() / "comports.cfg",
                   "# test map\nCOM1=/dev/ttyUSB0\nCOM2 = \nbroken line\nCOM3=/dev/pts/7\n");
    const struct {
        int number;
        const char* device;
    } cases[] = {
        {1, "/dev/ttyUSB0"},
        {2, "/dev/ttyS1"},
        {3, "/dev/pts/7"},
        {8, "/dev/ttyS7"},
        {0, ""},
        {9, ""},
        {-1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeviceForPort(dir.path(), c.number), c.device) << c.number;
}

TEST(DeviceForPort, UnusableFileMeansDefaults) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "comports.cfg");
    EXPECT_EQ(DeviceForPort(dir.path(), 2), "/dev/ttyS1");
    std::filesystem::remove(dir.path() / "comports.cfg");

    // Far larger than any port map: not read at all.
    WriteFileBytes(dir.path() / "comports.cfg",
                   "COM2=/dev/ttyUSB0\n" + std::string(100 * 1024, '#') + "\n");
    EXPECT_EQ(DeviceForPort(dir.path(), 2), "/dev/ttyS1");

    EXPECT_EQ(DeviceForPort(dir.path() / "missing" / "dir", 5), "/dev/ttyS4");
}

TEST(ParseLineSettings, AcceptedTexts) {
    const struct {
        const char* text;
        LineSettings expected;
    } cases[] = {
        {"9600,N,8,1", {9600, ParityMode::None, 8, StopBitsMode::One}},
        {"300,N,7,1", {300, ParityMode::None, 7, StopBitsMode::One}},
        {"1200,E,8,2", {1200, ParityMode::Even, 8, StopBitsMode::Two}},
        {"2400,O,8,1", {2400, ParityMode::Odd, 8, StopBitsMode::One}},
        {"57600,n,5,1.5", {57600, ParityMode::None, 5, StopBitsMode::OneAndHalf}},
        {"115200,M,6,1", {115200, ParityMode::Mark, 6, StopBitsMode::One}},
        {"19200,s,8,2", {19200, ParityMode::Space, 8, StopBitsMode::Two}},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseLineSettings(c.text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(*parsed, c.expected) << c.text;
    }
}

TEST(ParseLineSettings, RefusedTexts) {
    for (const char* text :
         {"",           "9600",        "9600,N,8",     "9600,N,8,1,",       "9600,N,8,1,1",
          ",N,8,1",     "0,N,8,1",     "-9600,N,8,1",  "+9600,N,8,1",       "9600 ,N,8,1",
          "9600,X,8,1", "9600,NN,8,1", "9600,,8,1",    "9600,N,4,1",        "9600,N,9,1",
          "9600,N,8,3", "9600,N,8,0",  "9600,N,8,1.0", "99999999999,N,8,1", "9600;N;8;1",
          " 9600,N,8,1"}) {
        EXPECT_FALSE(ParseLineSettings(text).has_value()) << '"' << text << '"';
    }
}

TEST(DescribePortProblem, DeviceAndReason) {
    const struct {
        PortProblem problem;
        const char* detail;
        const char* expected;
    } cases[] = {
        {PortProblem::NotFound, "", "/dev/ttyUSB0: no such device"},
        {PortProblem::InUse, "Permission error while locking the device",
         "/dev/ttyUSB0: in use by another program (Permission error while locking the device)"},
        {PortProblem::Other, "Input/output error", "/dev/ttyUSB0: Input/output error"},
        {PortProblem::Other, "", "/dev/ttyUSB0: unknown error"},
        {PortProblem::Lost, "", "/dev/ttyUSB0: device lost (unplugged or hung up)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribePortProblem("/dev/ttyUSB0", c.problem, c.detail), c.expected);
    }
}

TEST(DescribePortProblem, PermissionNamesTheDialoutGroup) {
    const std::string text =
        DescribePortProblem("/dev/ttyS0", PortProblem::NoPermission, "Permission denied");
    EXPECT_EQ(text.rfind("/dev/ttyS0: permission denied", 0), 0u) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
    EXPECT_NE(text.find("(Permission denied)"), std::string::npos) << text;
}

}  // namespace
}  // namespace zelvano
