// Status scripts and the command line of the simulator.
#include <gtest/gtest.h>

#include <algorithm>

#include "BlockText.h"
#include "CommandLine.h"
#include "SlaveTestSupport.h"

namespace zelvano::slave::test {
namespace {

TEST(StatusScriptTest, NamesAndDigitsMapToTheMastersWords) {
    const struct {
        const char* name;
        char digit;
        const char* word;
    } cases[] = {
        {"BUSY", '1', "BUSY"},
        {"queue", '2', "QUEUE"},
        {"Paged", '3', "PAGED"},
        {"ABSENT", '4', "ABSENT"},
        {"TERMINATED", '5', "TERMINATED"},
        {"SPEECHPAGED", '7', "SPEECHPAGED"},
        {"ERROR", '0', "ERROR"},
        {"6", '6', "ERROR"},
        {"8", '8', "ERROR"},
        {"3", '3', "PAGED"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatusDigit(c.name), c.digit) << c.name;
        EXPECT_EQ(StatusWord(c.digit), c.word) << c.name;
    }
    for (const char* bad : {"", "PAGE", "NEW", "NO STATUS", "10", "x"})
        EXPECT_FALSE(StatusDigit(bad).has_value()) << bad;
}

TEST(StatusScriptTest, ParsesStepsWithHoldCounts) {
    const struct {
        const char* text;
        StatusScript script;
    } cases[] = {
        {"PAGED", {{0, '3'}}},
        {"QUEUE,2:PAGED", {{0, '2'}, {2, '3'}}},
        {"2:QUEUE, PAGED", {{2, '2'}, {0, '3'}}},
        {" 1 : busy ,absent", {{1, '1'}, {0, '4'}}},
        {"0:8", {{0, '8'}}},
        {"none", {}},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto script = ParseStatusScript(c.text, error);
        ASSERT_TRUE(script.has_value()) << c.text << ": " << error;
        EXPECT_EQ(*script, c.script) << c.text;
    }
}

TEST(StatusScriptTest, RejectsMalformedScripts) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"", "unknown state \"\""},       {"PAGED,", "unknown state \"\""},
        {"x:PAGED", "bad poll count"},    {"-1:PAGED", "bad poll count"},
        {"1001:PAGED", "bad poll count"}, {"QUEUE,LOST", "unknown state \"LOST\""},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseStatusScript(c.text, error).has_value()) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
    }
}

TEST(StatusScriptTest, TableFindsTheAddressOrFallsBack) {
    ScriptTable table;
    std::string error;
    ASSERT_TRUE(AddScriptOption(table, "555=ABSENT", error));
    ASSERT_TRUE(AddScriptOption(table, "*=BUSY", error));
    ASSERT_TRUE(AddScriptOption(table, "777 = 3:BUSY", error));
    EXPECT_EQ(table.For("555"), (StatusScript{{0, '4'}}));
    EXPECT_EQ(table.For("777"), (StatusScript{{3, '1'}}));
    EXPECT_EQ(table.For("1"), (StatusScript{{0, '1'}}));
    ASSERT_TRUE(AddScriptOption(table, "default=PAGED", error));
    EXPECT_EQ(table.For("1"), (StatusScript{{0, '3'}}));
    EXPECT_FALSE(AddScriptOption(table, "555", error));
    EXPECT_FALSE(AddScriptOption(table, "555=WHAT", error));
    EXPECT_EQ(table.For("555"), (StatusScript{{0, '4'}}));  // a failed option changes nothing
}

TEST(StatusScriptTest, Descriptions) {
    EXPECT_EQ(DescribeScript(DefaultStatusScript()), "QUEUE, 2 polls EOT, PAGED");
    EXPECT_EQ(DescribeScript({{1, '4'}, {0, '6'}}), "1 poll EOT, ABSENT, ERROR (6)");
    EXPECT_EQ(DescribeScript({}), "no reports");
}

TEST(BlockTextTest, BytesAndRecordsReadWell) {
    EXPECT_EQ(ByteNames(Wire("31 05 32 05")), "'1' ENQ '2' ENQ");
    EXPECT_EQ(ByteNames(Wire("00 15 20 7F E9")), "NUL NAK SP RUB 0xE9");
    // Records, a value with a blank, an empty one, a control byte and a
    // piece without its US.
    const std::string data = Wire("31 1F 31 32 1E 32 1F 41 20 42 1E 33 1F 1E 34 1F 0A 1E 58 E9");
    EXPECT_EQ(DescribeRecords(data), "1=12 2=\"A B\" 3=\"\" 4=<LF> ?=X\xC3\xA9");
    EXPECT_EQ(RecordValue(data, '2'), "A B");
    EXPECT_EQ(RecordValue(Wire("31 1F E9"), '1'), "\xC3\xA9");  // é as UTF-8
    EXPECT_EQ(RawRecordValue(Wire("31 1F E9"), '1'), Wire("E9"));
    EXPECT_FALSE(RecordValue(data, '7').has_value());
}

std::vector<std::string> Args(std::initializer_list<const char*> args) {
    return std::vector<std::string>(args.begin(), args.end());
}

TEST(CommandLineTest, DefaultsWithoutArguments) {
    const ParseResult parsed = ParseCommandLine({});
    ASSERT_TRUE(parsed.options.has_value());
    const Options& o = *parsed.options;
    EXPECT_TRUE(o.port.device.empty());
    EXPECT_EQ(o.port.baud, 9600);
    EXPECT_EQ(o.slave.scripts.fallback, DefaultStatusScript());
    EXPECT_FALSE(o.slave.silent);
    EXPECT_FALSE(o.seed.has_value());
    for (const FaultRule& rule : o.slave.faults)
        EXPECT_FALSE(rule.IsActive());
}

TEST(CommandLineTest, EveryOptionSetsItsField) {
    const ParseResult parsed = ParseCommandLine(Args({
        "--device",
        "/dev/ttyUSB1",
        "--baud=19200",
        "--parity",
        "e",
        "--data-bits",
        "7",
        "--stop-bits",
        "2",
        "--rtscts",
        "--link",
        "/tmp/l",
        "--pty-file",
        "/tmp/f",
        "--script",
        "555=ABSENT",
        "--script=*=PAGED",
        "--nak-select",
        "every=2",
        "--ignore-select",
        "first=1",
        "--nak-block",
        "always",
        "--ignore-block",
        "after=3",
        "--eot-poll",
        "prob=0.5",
        "--ignore-poll",
        "10%",
        "--bad-bcc",
        "first=2",
        "--noise",
        "every=5",
        "--split",
        "4,300",
        "--delay",
        "50-400",
        "--silent",
        "--seed",
        "4294967295",
        "--reply-timeout",
        "1500",
        "--forget",
        "30",
        "--quiet",
        "--raw",
    }));
    ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
    const Options& o = *parsed.options;
    EXPECT_EQ(o.port.device, "/dev/ttyUSB1");
    EXPECT_EQ(o.port.baud, 19200);
    EXPECT_EQ(o.port.parity, 'E');
    EXPECT_EQ(o.port.dataBits, 7);
    EXPECT_EQ(o.port.stopBits, 2);
    EXPECT_TRUE(o.port.rtsCts);
    EXPECT_EQ(o.linkPath, "/tmp/l");
    EXPECT_EQ(o.ptyFile, "/tmp/f");
    EXPECT_EQ(o.slave.scripts.For("555"), (StatusScript{{0, '4'}}));
    EXPECT_EQ(o.slave.scripts.fallback, (StatusScript{{0, '3'}}));
    using M = FaultRule::Mode;
    const struct {
        Fault fault;
        M mode;
    } faults[] = {{Fault::NakSelect, M::Every}, {Fault::IgnoreSelect, M::First},
                  {Fault::NakBlock, M::Always}, {Fault::IgnoreBlock, M::After},
                  {Fault::EotPoll, M::Chance},  {Fault::IgnorePoll, M::Chance},
                  {Fault::BadBcc, M::First},    {Fault::Noise, M::Every}};
    for (const auto& f : faults)
        EXPECT_EQ(o.slave.Rule(f.fault).mode, f.mode) << static_cast<int>(f.fault);
    EXPECT_EQ(o.slave.Rule(Fault::Noise).count, 5);
    EXPECT_EQ(o.slave.splitPieces, 4);
    EXPECT_EQ(o.slave.splitGapMs, 300);
    EXPECT_EQ(o.slave.delayMinMs, 50);
    EXPECT_EQ(o.slave.delayMaxMs, 400);
    EXPECT_TRUE(o.slave.silent);
    EXPECT_EQ(o.seed, 4294967295u);
    EXPECT_EQ(o.slave.replyTimeoutMs, 1500);
    EXPECT_EQ(o.slave.forgetAfterMs, 30'000);
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.raw);
}

TEST(CommandLineTest, BadArgumentsAreExplained) {
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {Args({"--bogus"}), "unknown option \"--bogus\""},
        {Args({"pty"}), "unknown option \"pty\""},
        {Args({"--baud"}), "--baud needs N"},
        {Args({"--baud", "9601"}), "unsupported speed"},
        {Args({"--parity", "X"}), "expected N, E or O"},
        {Args({"--data-bits", "6"}), "expected 7 or 8"},
        {Args({"--stop-bits", "3"}), "expected 1 or 2"},
        {Args({"--quiet=yes"}), "--quiet takes no value"},
        {Args({"--script", "PAGED"}), "expected ADDRESS=STATES"},
        {Args({"--nak-block", "often"}), "bad WHEN"},
        {Args({"--split", "0"}), "PIECES 1..64"},
        {Args({"--split", "2,x"}), "PIECES 1..64"},
        {Args({"--delay", "400-50"}), "MIN-MAX"},
        {Args({"--delay", "60001"}), "MIN-MAX"},
        {Args({"--seed", "-1"}), "0 to 4294967295"},
        {Args({"--reply-timeout", "99"}), "from 100 to 600000"},
        {Args({"--forget", "0"}), "seconds from 1"},
        {Args({"--link", ""}), "expected a path"},
        {Args({"--device="}), "expected a path"},
    };
    for (const auto& c : cases) {
        const ParseResult parsed = ParseCommandLine(c.args);
        EXPECT_FALSE(parsed.options.has_value()) << c.args[0];
        EXPECT_NE(parsed.error.find(c.error), std::string::npos)
            << c.args[0] << ": " << parsed.error;
    }
}

TEST(CommandLineTest, HelpDocumentsEveryOptionAndBehaviour) {
    const std::string help = HelpText();
    for (const std::string& name : OptionNames())
        EXPECT_NE(help.find("\n  " + name), std::string::npos) << name;
    for (const char* topic : {"PTY /dev/pts/N",
                              "comports.cfg",
                              "SIGINT",
                              "SIGTERM",
                              "STATUS SCRIPTS",
                              "QUEUE,2:PAGED",
                              "BUSY 1",
                              "QUEUE 2",
                              "PAGED 3",
                              "ABSENT 4",
                              "TERMINATED 5",
                              "SPEECHPAGED 7",
                              "every=N",
                              "first=N",
                              "after=N",
                              "prob=P",
                              "P%",
                              "SOH '2' STX '1' US address RS '7' US digit ETX BCC",
                              "EXIT STATUS",
                              "--quiet shows only"})
        EXPECT_NE(help.find(topic), std::string::npos) << topic;
    for (std::size_t start = 0, end; start < help.size(); start = end + 1) {
        end = help.find('\n', start);
        EXPECT_LE(end - start, 79u) << help.substr(start, end - start);
    }
    const ParseResult parsed = ParseCommandLine(Args({"-h"}));
    ASSERT_TRUE(parsed.options.has_value());
    EXPECT_TRUE(parsed.options->help);
}

TEST(CommandLineTest, StartUpSummaryNamesTheActiveSettings) {
    ParseResult parsed = ParseCommandLine(Args({"--script", "555=ABSENT", "--nak-block", "every=3",
                                                "--delay", "100", "--split", "2,50", "--silent"}));
    ASSERT_TRUE(parsed.options.has_value());
    parsed.options->slave.seed = 99;
    const auto lines = DescribeOptions(*parsed.options);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "scripts: DEFAULT=QUEUE, 2 polls EOT, PAGED; 555=ABSENT");
    EXPECT_EQ(lines[1],
              "misbehaviour: silent, --nak-block every 3rd time, delay 100 ms, status block in 2 "
              "pieces 50 ms apart");
    EXPECT_EQ(lines[2], "seed 99");
    EXPECT_EQ(DescribeOptions(*ParseCommandLine({}).options)[1], "misbehaviour: none");
}

}  // namespace
}  // namespace zelvano::slave::test
