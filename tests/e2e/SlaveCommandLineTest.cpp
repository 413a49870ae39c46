// espa-slave's command lines: each row an exchange, "master > answer | ...",
// with a clock moved by hand, compared byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "CommandLine.h"
#include "EspaSlave.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"

namespace zelvano::slave {
namespace {

// The parts of text between matches of the separator pattern.
std::vector<std::string> Split(const std::string& text, const char* separator) {
    const std::regex by(separator);
    return {std::sregex_token_iterator(text.begin(), text.end(), by, -1), {}};
}

std::string HexOf(const std::string& bytes) {
    return test::ToHex({bytes.begin(), bytes.end()});
}

std::string Framed(const std::string& body, int badBy = 0) {
    return "\x01" + body + static_cast<char>(BlockCheck(body) + badBy);
}

// Master tokens: sel, poll, ack, eot, nak, "" (nothing), call:ADDRESS or ask:ADDRESS (a call
// or status call block with text Hi), +MS (time passes), drop (the line is lost).
std::string MasterBytes(const std::string& token, int& waitMs) {
    // Octal escapes: three digits at most, so a digit may follow.
    static const std::map<std::string, std::string> named{
        {"sel", "1\0052\005"}, {"poll", "2\005"}, {"ack", "\006"}, {"eot", "\004"},
        {"nak", "\025"},       {"", ""},          {"drop", ""}};
    if (token.starts_with('+')) {
        waitMs += std::stoi(token.substr(1));
        return "";
    }
    if (named.count(token))
        return named.at(token);
    const std::string address = token.substr(token.find(':') + 1);
    return Framed((token.starts_with("call:") ? "1\002" : "3\002") + std::string("1\037") +
                  address + "\0362\037Hi\003");
}

// Answers: hex bytes, or S:ADDRESS:DIGIT for a status block (with "!": its
// check character one too high).
std::string Expected(const std::string& text) {
    if (!text.starts_with("S:"))
        return text;
    const auto parts = Split(text.substr(2), ":");
    const std::string data = "1\037" + parts[0] + "\0367\037" + parts[1][0] + "\003";
    return HexOf(Framed("2\x02" + data, parts[1].ends_with('!') ? 1 : 0));
}

struct Row {
    const char* name;
    const char* args;
    const char* exchange;  // "": the command line is refused
    const char* text;      // a log line, or the refusal's reason
};

const Row kRows[] = {
    {"DefaultScript", "--quiet",
     "eot > | sel > 06 | call:123 > 06 | poll > 31 05 | ack > 01 32 02 31 1F 31 32 33 1E 37 1F 32 "
     "03 29 | ack > 04 | poll > 04 | poll > 04 | poll > 31 05 | ack > 01 32 02 31 1F 31 32 33 1E "
     "37 1F 33 03 28 | ack > 04 | poll > 04",
     "<- call block: 1=123 2=Hi BCC ok"},
    {"StatusCallNamesTheCall", "--script 111=1:BUSY --script 222=ABSENT",
     "call:111 > 06 | call:222 > 06 | ask:222 > 06 | poll > 31 05 | ack > S:222:4 | ack > 04 | "
     "ask:111 > 06 | poll > 04 | ask:111 > 06 | poll > 31 05 | ack > S:111:1 | ack > 04",
     "status BUSY for call 111 delivered"},
    {"RefusedReportIsOfferedAgain", "--script *=terminated --bad-bcc first=1",
     "call:8 > 06 | poll > 31 05 | ack > S:8:5! | eot > | poll > 31 05 | ack > S:8:5 | nak > | "
     "poll > 31 05 | ack > S:8:5 | ack > 04 | poll > 04",
     "(--bad-bcc, right one 0x"},
    {"SplitStatusBlockAndRefusal",
     "--split 3,100 --script *=PAGED --refuse-status-call --refuse-delay 0",
     "call:123 > 06 | poll > 31 05 | ack > 01 32 02 31 | +100 > 1F 31 32 33 | +99 > | +1 > 1E 37 "
     "1F 33 03 28 | ack > 04 | ask:123 > 31 | +100 > 15 | +100 > 04",
     "[piece 3 of 3: EOT]"},
    {"NakEveryOtherBlock", "--nak-block every=2",
     "sel > 06 | call:1 > 06 | ask:1 > 15 | ask:1 > 06 | call:2 > 15", "-> NAK (--nak-block)"},
    {"Silent", "--silent --script *=PAGED", "sel > | call:5 > | poll >", "(silent: no answer)"},
    {"NoneAlone", "--script NONE", "call:5 > 06 | poll > 04", "reports: no reports"},
    {"BadWhen", "--nak-block sometimes", "", "--nak-block: bad WHEN \"sometimes\""},
    {"BadScript", "--script PAGED", "", "expected ADDRESS=STATES"},
    {"ListenDefaultHost", "--listen 5000", "sel > 06", "listen 127.0.0.1 5000"},
    {"ListenIpv6AnyPort", "--listen [::1]:0", "sel > 06", "listen ::1 0"},
    {"LostLineDropsAnswersKeepsCalls", "--listen localhost:0 --delay 100 --script *=PAGED",
     "call:7 > | +100 > 06 | poll > | drop > | +100 > | poll > | +100 > 31 05",
     "line lost; status for 7 stays pending"},
    {"ListenPortTooHigh", "--listen 65536", "", "expected a port from 1 to 65535"},
    {"ListenIpv6NeedsBrackets", "--listen ::1:5000", "", "IPv6 address goes in brackets"},
    {"ListenBadIpv4", "--listen 1.2.3:5000", "", "bad IPv4 address \"1.2.3\""},
    {"ListenWithDevice", "--device /dev/ttyS0 --listen 5000", "", "combined with --device"},
    {"StrayAfterLineChecks", "--stray NAK,EOT", "sel > 06 | eot > 15 04 | poll > 04 15 04",
     "-> NAK EOT (--stray, after the line check)"},
    {"ValueAfterEquals", "--nak-block=first=1", "sel > 06 | call:1 > 15 | call:1 > 06",
     "-> NAK (--nak-block)"},
    {"UnknownOption", "--ignore-poll always", "", "unknown option \"--ignore-poll\""},
    {"ValueMissing", "--quiet --split", "", "--split needs PIECES[,MS]"},
    {"FlagWithValue", "--silent=yes", "", "--silent takes no value"},
    {"NoOptionWord", "--quiet PAGED", "", "unknown option \"PAGED\""},
};
TEST(SlaveCommandLine, Rows) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const ParseResult parsed = ParseCommandLine(Split(row.args, " "));
        EXPECT_EQ(parsed.options.has_value(), *row.exchange != '\0') << parsed.error;
        EspaSlave slave(parsed.options.value_or(Options{}).slave);
        std::int64_t now = 1000;
        std::string log = parsed.error;
        if (const auto& options = parsed.options; options && options->listen)
            log += "listen " + options->listen->host + " " + std::to_string(options->listen->port);
        for (const std::string& step : Split(row.exchange, " *\\| *")) {
            const auto parts = Split(step, " *> *");
            int waitMs = 0;
            if (parts[0] == "drop")
                slave.DropLine(now);
            slave.Receive(MasterBytes(parts[0], waitMs), now);
            slave.Tick(now += waitMs);
            const std::string out = HexOf(slave.TakeDue(now));
            for (const LogLine& line : slave.TakeLog())
                log += line.text + "\n";
            EXPECT_EQ(out, Expected(parts.size() > 1 ? parts[1] : "")) << step << "\n" << log;
        }
        EXPECT_NE(log.find(row.text), std::string::npos) << log;
    }
}

}  // namespace
}  // namespace zelvano::slave
