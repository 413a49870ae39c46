// espa-slave as the master meets it: each row is a command line, the bytes
// the master sends (with a clock moved by hand) and the answers expected byte
// for byte; then the executable's exits and its care of a serial device.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

#include "CommandLine.h"
#include "EspaSlave.h"
#include "common/Text.h"
#include "espa/EspaFormat.h"
#include "faults/ProcessRig.h"
#include "support/TestApp.h"

namespace zelvano::slave {
namespace {

std::string HexOf(const std::string& bytes) {
    return test::ToHex({bytes.begin(), bytes.end()});
}

// A call (header '1') or status call block ('3') as the engine builds it.
std::string Block(char header, const std::string& address) {
    Settings settings;
    settings.Emulatie = 1;
    CallBufferEntry entry;
    entry.Address = address;
    entry.Alfa = "Hi";
    entry.Status = "NEW";
    const std::string body = header + std::string("\x02") +
                             Utf8ToAnsi(BuildEspaData(settings, entry)).value_or("");
    return "\x01" + body + static_cast<char>(BlockCheck(body));
}
std::string Call(const std::string& address) { return Block('1', address); }
std::string Ask(const std::string& address) { return Block('3', address); }

// The status block for an address and state digit; badBy spoils its check.
std::string Status(const std::string& address, char digit, int badBy = 0) {
    const std::string body = "2\x02" "1\x1F" + address + "\x1E" "7\x1F" + digit + "\x03";
    return HexOf("\x01" + body + static_cast<char>(BlockCheck(body) + badBy));
}

const std::string kSelect = "1\x05" "2\x05", kPoll = "2\x05", kAck = "\x06", kEot = "\x04",
                  kNak = "\x15";
// Address 123, HELLO, defaults, two transmissions, as the master frames it.
const std::string kCall123 = "\x01" "1\x02" "1\x1F" "123\x1E" "2\x1F" "HELLO\x1E" "3\x1F" "1\x1E"
                             "4\x1F" "3\x1E" "5\x1F" "2\x03\x5C";

struct Step {
    std::string in;   // bytes from the master
    int waitMs;       // then this much time passes
    std::string out;  // hex of what is due by then; "~06": noise, then 06
};

struct Row {
    const char* name;
    std::vector<std::string> args;
    std::vector<Step> steps;  // none: the command line is refused
    std::string text;         // a log line, or the refusal's reason
};

const Row kRows[] = {
    {"DefaultScript", {}, {{kEot, 0, ""}, {kSelect, 0, "06"}, {kCall123, 0, "06"},
      {kPoll, 0, "31 05"}, {kAck, 0, "01 32 02 31 1F 31 32 33 1E 37 1F 32 03 29"}, {kAck, 0, "04"},
      {kPoll, 0, "04"}, {kPoll, 0, "04"}, {kPoll, 0, "31 05"},
      {kAck, 0, "01 32 02 31 1F 31 32 33 1E 37 1F 33 03 28"}, {kAck, 0, "04"}, {kPoll, 0, "04"}},
     "<- call block: 1=123 2=HELLO 3=1 4=3 5=2 BCC ok"},
    {"StatusCallNamesTheCall", {"--script", "111=1:BUSY", "--script", "222=ABSENT"},
     {{Call("111"), 0, "06"}, {Call("222"), 0, "06"}, {Ask("222"), 0, "06"}, {kPoll, 0, "31 05"},
      {kAck, 0, Status("222", '4')}, {kAck, 0, "04"}, {Ask("111"), 0, "06"}, {kPoll, 0, "04"},
      {Ask("111"), 0, "06"}, {kPoll, 0, "31 05"}, {kAck, 0, Status("111", '1')}, {kAck, 0, "04"}},
     "status BUSY for call 111 delivered"},
    {"UnknownCallAskedAboutIsTakenOn", {"--script=*=SpeechPaged"},
     {{Ask("321"), 0, "06"}, {kPoll, 0, "31 05"}, {kAck, 0, Status("321", '7')}},
     "status asked for unknown call 321; taking it on"},
    {"RefusedReportIsOfferedAgain", {"--script", "*=terminated", "--bad-bcc", "first=1"},
     {{Call("8"), 0, "06"}, {kPoll, 0, "31 05"}, {kAck, 0, Status("8", '5', 1)}, {kEot, 0, ""},
      {kPoll, 0, "31 05"}, {kAck, 0, Status("8", '5')}, {kNak, 0, ""}, {kPoll, 0, "31 05"},
      {kAck, 0, Status("8", '5')}, {kAck, 0, "04"}, {kPoll, 0, "04"}},
     "(--bad-bcc, right one 0x"},
    {"SplitStatusBlock", {"--split", "3,100", "--script", "*=PAGED"},
     {{kCall123, 0, "06"}, {kPoll, 0, "31 05"}, {kAck, 0, "01 32 02 31"}, {"", 100, "1F 31 32 33"},
      {"", 99, ""}, {"", 1, "1E 37 1F 33 03 28"}, {kAck, 0, "04"}},
     "[piece 3 of 3"},
    {"NakEveryOtherBlock", {"--nak-block", "every=2"},
     {{kSelect, 0, "06"}, {Call("1"), 0, "06"}, {Ask("1"), 0, "15"}, {Ask("1"), 0, "06"},
      {Call("2"), 0, "15"}},
     "-> NAK (--nak-block)"},
    {"IgnoreFirstBlock", {"--ignore-block", "first=1"}, {{Call("6"), 0, ""}, {Call("6"), 0, "06"}},
     "call 6 received"},
    {"NakEveryOtherSelect", {"--nak-select", "every=2"},
     {{kSelect, 0, "06"}, {kSelect, 0, "15"}, {kSelect, 0, "06"}, {kSelect, 0, "15"}},
     "-> NAK (--nak-select)"},
    {"IgnoreFirstSelect", {"--ignore-select", "first=1"}, {{kSelect, 0, ""}, {kSelect, 0, "06"}},
     "(--ignore-select: no answer)"},
    {"EotToFirstPoll", {"--eot-poll", "first=1", "--script", "*=PAGED"},
     {{Call("3"), 0, "06"}, {kPoll, 0, "04"}, {kPoll, 0, "31 05"}}, "EOT (--eot-poll)"},
    {"IgnorePolls", {"--ignore-poll", "always", "--script", "*=PAGED"},
     {{Call("3"), 0, "06"}, {kPoll, 0, ""}, {kPoll, 0, ""}}, "<- '2' ENQ"},
    {"ScriptNoneNeverReports", {"--script", "500=NONE"},
     {{Call("500"), 0, "06"}, {kPoll, 0, "04"}, {Ask("500"), 0, "06"}, {kPoll, 0, "04"}},
     "reports: no reports"},
    {"Silent", {"--silent", "--script", "*=PAGED"},
     {{kSelect, 0, ""}, {Call("5"), 0, ""}, {kPoll, 0, ""}}, "(silent: no answer)"},
    {"DelayedAnswers", {"--delay", "250"}, {{kSelect, 0, ""}, {"", 249, ""}, {"", 1, "06"}},
     "(select)"},
    {"NoiseBeforeAnswers", {"--noise", "always"}, {{kSelect, 0, "~06"}, {kSelect, 0, "~06"}},
     "-> noise (--noise)"},
    {"BadWhen", {"--nak-block", "sometimes"}, {}, "--nak-block: bad WHEN \"sometimes\""},
    {"BadSpeed", {"--baud", "9601"}, {}, "unsupported speed"},
    {"BadScript", {"--script", "PAGED"}, {}, "expected ADDRESS=STATES"},
    {"BadState", {"--script", "1=PAGED,LOST"}, {}, "unknown state \"LOST\""},
    {"BadSplit", {"--split", "0"}, {}, "PIECES 1..64"},
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class SlaveCommandLine : public testing::TestWithParam<Row> {};

TEST_P(SlaveCommandLine, Exchange) {
    const Row& row = GetParam();
    const ParseResult parsed = ParseCommandLine(row.args);
    if (row.steps.empty()) {
        ASSERT_FALSE(parsed.options.has_value());
        EXPECT_NE(parsed.error.find(row.text), std::string::npos) << parsed.error;
        return;
    }
    ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
    EspaSlave slave(parsed.options->slave);
    std::int64_t now = 1000;
    std::string log;
    for (std::size_t i = 0; i < row.steps.size(); ++i) {
        const Step& step = row.steps[i];
        slave.Receive(step.in, now);
        now += step.waitMs;
        slave.Tick(now);
        const std::string out = HexOf(slave.TakeDue(now));
        for (const LogLine& line : slave.TakeLog())
            log += line.text + "\n";
        if (step.out.starts_with("~")) {
            const std::size_t noise = (out.size() + 1) / 3 - 1;
            EXPECT_TRUE(out.ends_with(step.out.substr(1)) && noise >= 1 && noise <= 3) << out;
        } else {
            EXPECT_EQ(out, step.out) << "step " << i << "\n" << log;
        }
    }
    EXPECT_NE(log.find(row.text), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Rows, SlaveCommandLine, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The executable's exits, and a serial device set raw while in use and
// given back as it was when a signal ends the simulator.
TEST(SlaveProcess, ExitCodesAndDeviceRestored) {
    EXPECT_EQ(QProcess::execute(ESPA_SLAVE_PATH, {"--nak-block", "sometimes"}), 2);
    EXPECT_EQ(QProcess::execute(ESPA_SLAVE_PATH, {"--device", "/no/such/tty"}), 1);
    int cable = -1, device = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&cable, &device, name, nullptr, nullptr), 0);
    termios before{}, during{}, after{};
    ASSERT_EQ(tcgetattr(device, &before), 0);
    QProcess process;
    process.start(ESPA_SLAVE_PATH, {"--device", name, "--baud", "19200"});
    ASSERT_TRUE(proc::WaitUntil([&] { return process.canReadLine(); }, 5000));
    EXPECT_EQ(process.readLine().toStdString(), std::string("DEVICE ") + name + "\n");
    ASSERT_EQ(tcgetattr(device, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetospeed(&during), B19200);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 0);
    ASSERT_EQ(tcgetattr(device, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    ::close(device);
    ::close(cable);
}

}  // namespace
}  // namespace zelvano::slave
