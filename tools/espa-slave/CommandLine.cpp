#include "CommandLine.h"

#include <arpa/inet.h>
#include <getopt.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <functional>
#include <string_view>

#include "BlockText.h"
#include "common/Text.h"

namespace zelvano::slave {

namespace {

using Setter = std::function<bool(Options&, std::string_view value, std::string& error)>;

// One row per option: getopt_long's table, the help text and the setter come from it.
struct OptionSpec {
    const char* name;      // without the leading "--"
    const char* argument;  // nullptr for a flag
    const char* help;
    Setter set;
};

constexpr std::array kBaudRates{50,    75,    110,    134,    150,    200,   300,
                                600,   1200,  1800,   2400,   4800,   9600,  19200,
                                38400, 57600, 115200, 230400, 460800, 921600};

// The misbehaviour options by name, for the start-up summary.
constexpr std::array<std::pair<Fault, const char*>, kFaultCount> kFaultOptions{{
    {Fault::NakBlock, "--nak-block"},
    {Fault::BadBcc, "--bad-bcc"},
    {Fault::Noise, "--noise"},
}};

// What an option sets, reached from the options through one or more member pointers.
template <typename... Members>
auto& Field(Options& options, Members... members) {
    return (options.*....*members);
}

std::optional<long long> ParseInteger(std::string_view text, long long low, long long high) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

// A number from low to high, or an error that gives the range.
template <typename... Members>
Setter Number(long long low, long long high, Members... members) {
    return [=](Options& options, std::string_view value, std::string& error) {
        const auto number = ParseInteger(value, low, high);
        if (!number) {
            error = "expected a number from " + std::to_string(low) + " to " +
                    std::to_string(high) + ", got \"" + std::string(value) + "\"";
            return false;
        }
        Field(options, members...) = static_cast<int>(*number);
        return true;
    };
}

template <typename... Members>
Setter Path(Members... members) {
    return [=](Options& options, std::string_view value, std::string& error) {
        if (value.empty())
            error = "expected a path";
        else
            Field(options, members...) = std::string(value);
        return error.empty();
    };
}

template <typename... Members>
Setter Flag(Members... members) {
    return [=](Options& options, std::string_view, std::string&) {
        Field(options, members...) = true;
        return true;
    };
}

Setter FaultOption(Fault fault) {
    return [=](Options& options, std::string_view value, std::string& error) {
        const auto rule = ParseFaultRule(value, error);
        if (!rule)
            return false;
        options.slave.Rule(fault) = *rule;
        return true;
    };
}

bool SetBaud(Options& options, std::string_view value, std::string& error) {
    const auto baud = ParseInteger(value, 1, 4'000'000);
    if (!baud || std::find(kBaudRates.begin(), kBaudRates.end(), *baud) == kBaudRates.end()) {
        error = "unsupported speed \"" + std::string(value) + "\"";
        return false;
    }
    options.port.baud = static_cast<int>(*baud);
    return true;
}

bool SetParity(Options& options, std::string_view value, std::string& error) {
    if (value.size() != 1 || std::string_view("NEOneo").find(value[0]) == std::string_view::npos) {
        error = "expected N, E or O";
        return false;
    }
    options.port.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    return true;
}

// One of two numbers, such as 7 or 8 data bits.
Setter Choice(int first, int second, int PortOptions::*field) {
    return [=](Options& options, std::string_view value, std::string& error) {
        const auto number = ParseInteger(value, first, second);
        if (!number || (*number != first && *number != second)) {
            error = "expected " + std::to_string(first) + " or " + std::to_string(second);
            return false;
        }
        options.port.*field = static_cast<int>(*number);
        return true;
    };
}

bool SetScript(Options& options, std::string_view value, std::string& error) {
    return AddScriptOption(options.slave.scripts, value, error);
}

// "N,MS": the status block and a refusal in N pieces, MS apart.
bool SetSplit(Options& options, std::string_view value, std::string& error) {
    const auto comma = value.find(',');
    const auto pieces = ParseInteger(value.substr(0, comma), 1, 64);
    const auto gap = comma == std::string_view::npos
                         ? std::optional<long long>(0)
                         : ParseInteger(value.substr(comma + 1), 0, 60'000);
    if (!pieces || !gap) {
        error = "expected PIECES[,MS] with PIECES 1..64 and MS 0..60000";
        return false;
    }
    options.slave.splitPieces = static_cast<int>(*pieces);
    options.slave.splitGapMs = static_cast<int>(*gap);
    return true;
}

// "MS" or "MIN-MAX".
bool SetDelay(Options& options, std::string_view value, std::string& error) {
    const auto dash = value.find('-');
    const auto low = ParseInteger(value.substr(0, dash), 0, 60'000);
    const auto high =
        dash == std::string_view::npos ? low : ParseInteger(value.substr(dash + 1), 0, 60'000);
    if (!low || !high || *high < *low) {
        error = "expected MS or MIN-MAX, 0..60000 ms";
        return false;
    }
    options.slave.delayMinMs = static_cast<int>(*low);
    options.slave.delayMaxMs = static_cast<int>(*high);
    return true;
}

bool SetSeed(Options& options, std::string_view value, std::string& error) {
    const auto seed = ParseInteger(value, 0, 0xFFFF'FFFFLL);
    if (!seed) {
        error = "expected a number from 0 to 4294967295";
        return false;
    }
    options.seed = static_cast<std::uint32_t>(*seed);
    return true;
}

constexpr std::size_t kMaxStrayBytes = 16;

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// One --stray byte: a control name (EOT, NAK, SP, RUB...), 0xHH, or one
// printable character.
std::optional<char> ParseStrayByte(std::string_view token) {
    const std::string name = Upper(token);
    for (int byte = 0; byte <= 0x7F; ++byte) {
        if ((byte <= 0x20 || byte == 0x7F) && name == ByteName(static_cast<std::uint8_t>(byte)))
            return static_cast<char>(byte);
    }
    if (name.size() == 4 && name.starts_with("0X") &&
        std::isxdigit(static_cast<unsigned char>(name[2])) &&
        std::isxdigit(static_cast<unsigned char>(name[3])))
        return static_cast<char>(std::stoi(name.substr(2), nullptr, 16));
    if (token.size() == 1 && token[0] > 0x20 && token[0] < 0x7F)
        return token[0];
    return std::nullopt;
}

bool SetStray(Options& options, std::string_view value, std::string& error) {
    std::string bytes;
    while (true) {
        const auto comma = value.find(',');
        const std::string_view token = value.substr(0, comma);
        const auto byte = ParseStrayByte(token);
        if (!byte) {
            error = "bad byte \"" + std::string(token) +
                    "\" (a control name such as EOT or NAK, 0xHH, or one character)";
            return false;
        }
        bytes += *byte;
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    if (bytes.size() > kMaxStrayBytes) {
        error = "at most " + std::to_string(kMaxStrayBytes) + " bytes";
        return false;
    }
    options.slave.stray = bytes;
    return true;
}

bool SetRefuseDelay(Options& options, std::string_view value, std::string& error) {
    if (!Number(0, 60'000, &Options::slave, &SlaveConfig::refuseDelayMs)(options, value, error))
        return false;
    options.refuseDelayGiven = true;
    return true;
}

// A profile only switches behaviours on, so it combines with the other
// options in any order.
bool SetProfile(Options& options, std::string_view value, std::string& error) {
    if (Upper(value) == "STATUS-LESS") {
        options.slave.refuseStatusCall = true;
        options.slave.noStatus = true;
        return true;
    }
    error = "unknown profile \"" + std::string(value) + "\" (known: status-less)";
    return false;
}

// A host outside brackets: a dotted IPv4 address or a name; "" when fine.
// Names are looked up only when the slave starts.
std::string CheckHost(const std::string& host) {
    if (host.empty())
        return "expected a host before ':'";
    if (host.find(':') != std::string::npos)
        return "an IPv6 address goes in brackets, e.g. [::1]:5000";
    in_addr ignored{};
    if (host.find_first_not_of("0123456789.") == std::string::npos)
        return inet_pton(AF_INET, host.c_str(), &ignored) == 1
                   ? ""
                   : "bad IPv4 address \"" + host + "\"";
    const bool nameChars = std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
    });
    return nameChars && host.front() != '-' ? "" : "bad host name \"" + host + "\"";
}

// [HOST:]PORT, an IPv6 HOST in brackets.
bool SetListen(Options& options, std::string_view value, std::string& error) {
    ListenAddress address;
    std::string_view portText = value;
    if (value.starts_with('[')) {
        const auto close = value.find("]:");
        if (close == std::string_view::npos) {
            error = "expected [IPV6]:PORT, got \"" + std::string(value) + "\"";
            return false;
        }
        address.host = std::string(value.substr(1, close - 1));
        portText = value.substr(close + 2);
    } else if (const auto colon = value.rfind(':'); colon != std::string_view::npos) {
        address.host = std::string(value.substr(0, colon));
        portText = value.substr(colon + 1);
    }
    const auto port = ParseInteger(portText, 0, 65'535);
    if (!port) {
        error = "expected a port from 1 to 65535 (0: any free one), got \"" +
                std::string(portText) + "\"";
        return false;
    }
    in6_addr ignored{};
    if (value.starts_with('['))
        error = inet_pton(AF_INET6, address.host.c_str(), &ignored) == 1
                    ? ""
                    : "bad IPv6 address \"" + address.host + "\"";
    else
        error = CheckHost(address.host);
    if (!error.empty())
        return false;
    address.port = static_cast<int>(*port);
    options.listen = address;
    return true;
}

// Options that only shape another one, given without it.
std::string CheckCombination(const Options& options) {
    if (options.listen && !options.port.device.empty())
        return "--listen: cannot be combined with --device (it serves a TCP master instead)";
    if (options.listen && !options.linkPath.empty())
        return "--link: has no effect with --listen (there is no path to link to)";
    if (options.refuseDelayGiven && !options.slave.refuseStatusCall)
        return "--refuse-delay: has no effect without --refuse-status-call or --profile "
               "status-less";
    return "";
}

const std::vector<OptionSpec>& Specs() {
    static const std::vector<OptionSpec> specs{
        {"device", "PATH",
         "Use this serial device (e.g. /dev/ttyUSB0) instead of creating a pseudo-terminal.",
         Path(&Options::port, &PortOptions::device)},
        {"listen", "[HOST:]PORT",
         "Serve one master over TCP instead of a pseudo-terminal or device (see above). HOST: an "
         "IPv4 address, an IPv6 address in brackets ([::1]:5000) or a name; default 127.0.0.1, "
         "loopback, so no other machine can connect unless HOST says otherwise. PORT: 1 to "
         "65535, or 0 for a free one the system picks.",
         SetListen},
        {"baud", "N", "Device speed in bit/s (default 9600).", SetBaud},
        {"parity", "N|E|O", "Device parity (default N).", SetParity},
        {"data-bits", "7|8", "Device data bits (default 8).", Choice(7, 8, &PortOptions::dataBits)},
        {"stop-bits", "1|2", "Device stop bits (default 1).", Choice(1, 2, &PortOptions::stopBits)},
        {"rtscts", nullptr, "RTS/CTS hardware flow control on the device (default none).",
         Flag(&Options::port, &PortOptions::rtsCts)},
        {"link", "PATH",
         "Also make PATH a symbolic link to the port, removed again at the end (an existing "
         "file or link there is replaced). Not with --listen.",
         Path(&Options::linkPath)},
        {"pty-file", "FILE",
         "Write the port path (with --listen: HOST:PORT) and a newline to FILE once the port is "
         "ready (scripts can wait for it); removed again at the end.",
         Path(&Options::ptyFile)},
        {"script", "ADDRESS=STATES",
         "What calls to ADDRESS report; ADDRESS DEFAULT or * for all others. Repeatable. See "
         "STATUS SCRIPTS.",
         SetScript},
        {"nak-block", "WHEN",
         "Answer a good call block or status call block with NAK (the call is not taken).",
         FaultOption(Fault::NakBlock)},
        {"bad-bcc", "WHEN", "Send the status block with a wrong block check character.",
         FaultOption(Fault::BadBcc)},
        {"noise", "WHEN", "Put 1 to 3 random bytes in front of an answer.",
         FaultOption(Fault::Noise)},
        {"split", "PIECES[,MS]",
         "Send the status block, and the '1' NAK EOT that refuses a status call block, in "
         "PIECES equal pieces, MS milliseconds apart (default 1, 0).",
         SetSplit},
        {"delay", "MS|MIN-MAX",
         "Wait MS (or a random time from MIN to MAX) milliseconds before every answer.", SetDelay},
        {"silent", nullptr, "Answer nothing at all (everything received is still shown).",
         Flag(&Options::slave, &SlaveConfig::silent)},
        {"seed", "N",
         "Seed for every random choice (chances, delays, noise). Without it a seed is drawn and "
         "printed, so a run can be repeated.",
         SetSeed},
        {"profile", "NAME", "Play a known kind of paging system; see PROFILES. NAME: status-less.",
         SetProfile},
        {"refuse-status-call", nullptr,
         "Refuse every status call block (header '3') with '1' NAK EOT instead of ACK, "
         "--refuse-delay after the block, as a system without that block does. A block with a "
         "wrong check character still gets NAK at once.",
         Flag(&Options::slave, &SlaveConfig::refuseStatusCall)},
        {"refuse-delay", "MS",
         "How long after a refused status call block its '1' NAK EOT follows, on top of "
         "--delay (default 3000, 0 to 60000). Needs --refuse-status-call or --profile "
         "status-less.",
         SetRefuseDelay},
        {"no-status", nullptr,
         "Report no status at all: every poll ('2' ENQ) is answered with EOT, whatever the "
         "call's script says. Call blocks are still taken with ACK.",
         Flag(&Options::slave, &SlaveConfig::noStatus)},
        {"stray", "BYTES",
         "After answering a line check, also send BYTES the master did not ask for: "
         "comma-separated control names (EOT, NAK, ACK...), 0xHH or single characters, at most "
         "16 (e.g. EOT or NAK,EOT). They go after the master's EOT that ends an acknowledged "
         "select with no block behind it (its '1' ENQ '2' ENQ line check) and after every EOT "
         "answer to a poll (its '2' ENQ line check, and a status request with nothing to "
         "report).",
         SetStray},
        {"ascii-only", nullptr,
         "Answer a call block or status call block holding any byte of 0x80 or above with NAK "
         "(the call is not taken); the log names the byte and its record.",
         Flag(&Options::slave, &SlaveConfig::asciiOnly)},
        {"refuse-empty-text", nullptr,
         "Answer a call block or status call block whose text (record 2) is empty or missing "
         "with NAK (the call is not taken).",
         Flag(&Options::slave, &SlaveConfig::refuseEmptyText)},
        {"eot-delay", "MS",
         "Send every EOT answer to a poll MS milliseconds late, on top of --delay (default 0, "
         "0 to 60000). Answers keep their order, so any that follow wait too.",
         Number(0, 60'000, &Options::slave, &SlaveConfig::eotDelayMs)},
        {"quiet", nullptr,
         "Show only calls, delivered states and warnings, not every exchange. Either way a "
         "complaint about what the master sent shows once a second at most, with a count of "
         "the ones not shown.",
         Flag(&Options::quiet)},
        {"help", nullptr, "Show this text and exit (also -h).", Flag(&Options::help)},
    };
    return specs;
}

constexpr const char* kHelpIntro = R"(Usage: espa-slave [OPTION]...

An ESPA 4.4.4 slave (paging system) on a serial line or over TCP, to try the
Zelvano master without hardware and to drive its end-to-end tests.

Without --device it creates a pseudo-terminal and prints one line
    PTY /dev/pts/N
with the path to give the master (in comports.cfg: COM1=/dev/pts/N). The
pseudo-terminal stays valid while the master closes and reopens the port.
With --device the line reads "DEVICE /dev/ttyUSB0"; a device that goes away
(an adapter pulled out) is opened again every second until it is back.

With --listen it serves the master over TCP instead and prints one line
    LISTEN 127.0.0.1:5000
with the address it listens on (the real port when PORT is 0; an IPv6 one in
brackets). One master at a time: it is served like the pseudo-terminal's, and
when it disconnects the next connection is awaited. A connection made while
one is served is closed at once (a line on standard error says so). Each new
connection starts without any half-received block or pending answer; the calls
taken on stay known, as when the master reopens a pseudo-terminal.

It stops cleanly on SIGINT (Ctrl+C), SIGTERM or SIGHUP: the device settings are
restored and the --link and --pty-file files removed.

OPTIONS (a value may also follow as --option=VALUE; a name may be shortened
while it stays unambiguous)
)";

constexpr const char* kHelpBehaviour = R"(
WHAT IT ANSWERS
  EOT                        ends the current exchange; nothing is sent back.
  '1' ENQ '2' ENQ (select)   ACK. The master uses it before a block and as its
                             line check.
  SOH '1' STX records ETX BCC (call block)
                             ACK when the block check character is right (the
                             call is taken on, known by its record 1 address),
                             NAK when it is wrong or the block is malformed.
  SOH '3' STX records ETX BCC (status call block)
                             ACK or NAK as above; the next poll is then about
                             the call with that address (a call never seen is
                             taken on from the block).
  '2' ENQ (poll)             EOT when there is nothing to report. With a status
                             due it answers '1' ENQ (selecting the master),
                             waits for ACK, sends
                   SOH '2' STX '1' US address RS '7' US digit ETX BCC
                             waits for ACK and ends with EOT. Only then does
                             the call's script move on; a refused or
                             unanswered report is offered again at the next
                             poll.
  A poll without a status call block before it is about the oldest call that
  still has something to report. Asked by a status call block about a call
  whose script is done, it reports the last state again. A call block equal to
  one of an unfinished call is taken as a repeat, not as a new call.

STATUS SCRIPTS (--script ADDRESS=STATES)
  STATES is a comma-separated list of [N:]STATE: answer the next N polls about
  the call with EOT ("not yet"), then report STATE. NONE reports nothing;
  --script NONE alone is --script DEFAULT=NONE.
  STATE is a name or the digit sent in record 7:
    BUSY 1, QUEUE 2, PAGED 3, ABSENT 4, TERMINATED 5, SPEECHPAGED 7,
    ERROR 0, or any digit 0-9 (0, 6, 8 and 9 mean ERROR to the master).
  Default for every address: QUEUE,2:PAGED (QUEUE at the first poll, then EOT
  to two polls, then PAGED).
  Examples: --script DEFAULT=PAGED --script 555=ABSENT --script 777=1:BUSY
            --script 900=QUEUE,QUEUE,3:SPEECHPAGED --script 999=NONE

PROFILES (--profile NAME; combines with the other options in any order)
  status-less  A paging system that takes calls but reports no status, as
               many real ones do. Call blocks are accepted with ACK; a status
               call block (header '3') is refused with '1' NAK EOT about 3 s
               later (--refuse-delay changes the time); every poll ('2' ENQ)
               is answered with EOT, so no call ever gets a state. The same
               as --refuse-status-call --no-status.

WHEN (for the misbehaviour options)
  always | never | every=N (the Nth, 2Nth... time) | first=N (the first N
  times) | after=N (every time after the first N) | prob=P (chance P, 0 to 1)
  | P% (chance in per cent). Each option counts its own occasions: good blocks
  for --nak-block, status blocks for --bad-bcc and answers for --noise.

OUTPUT
  One line per unit, with the time of day:
    12:00:01.234 <- '1' ENQ '2' ENQ (select)
    12:00:01.234 -> ACK
    12:00:01.335 <- call block: 1=1234 2=Hello 3=1 4=3 5=1 BCC ok
    12:00:01.335 call 1234 received; reports: QUEUE, 2 polls EOT, PAGED
  "<-" is what the master sent, "->" what this side sends. Lines without an
  arrow are calls taken on, states delivered and warnings; --quiet shows only
  these. Bytes: control characters by name, printable ones quoted, others in
  hex.

EXIT STATUS
  0 after a signal, 1 when the port cannot be set up at the start (with
  --listen: a host that cannot be looked up or is not of this machine, a port
  in use) or the pseudo-terminal fails, 2 on a bad command line.

EXAMPLES
  espa-slave --link /tmp/espa --script 555=ABSENT
  espa-slave --nak-block every=3 --delay 50-400 --seed 7
  espa-slave --device /dev/ttyUSB0 --baud 19200 --parity E --data-bits 7
  espa-slave --listen 5000 --script DEFAULT=PAGED
  espa-slave --split 4,300 --bad-bcc first=1 --noise 5%
  espa-slave --profile status-less --stray EOT --eot-delay 800
)";

// Words of text in lines of at most width columns, each starting with indent.
std::string Wrap(std::string_view text, const std::string& indent, std::size_t width) {
    std::string out;
    std::string line = indent;
    while (!text.empty()) {
        const auto blank = text.find(' ');
        const std::string_view word = text.substr(0, blank);
        text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
        if (line.size() > indent.size() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line = indent;
        }
        if (line.size() > indent.size())
            line += ' ';
        line += word;
    }
    return out + line + "\n";
}

std::string FaultSummary(const Options& options) {
    std::string text;
    for (const auto& [fault, name] : kFaultOptions) {
        const FaultRule& rule = options.slave.Rule(fault);
        if (rule.IsActive())
            text += (text.empty() ? "" : ", ") + std::string(name) + " " + DescribeFaultRule(rule);
    }
    return text;
}

// getopt_long's value for each row: 'h' for --help, so -h is the same option.
int ValueOf(std::size_t row) {
    return Specs()[row].name == std::string_view("help") ? 'h' : 256 + static_cast<int>(row);
}

const OptionSpec* SpecOf(int value) {
    for (std::size_t row = 0; row < Specs().size(); ++row) {
        if (ValueOf(row) == value)
            return &Specs()[row];
    }
    return nullptr;
}

// Why getopt_long refused an option: it returned ':' (a value missing) or '?'.
std::string Refusal(int result, std::string_view arg) {
    if (const OptionSpec* spec = SpecOf(optopt))
        return "--" + std::string(spec->name) +
               (result == ':' ? " needs " + std::string(spec->argument) : " takes no value");
    if (optopt != 0)  // a short option
        return "unknown option \"-" + std::string(1, static_cast<char>(optopt)) + "\"";
    return "unknown option \"" + std::string(arg.substr(0, arg.find('='))) + "\"";
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    std::vector<option> table;
    for (std::size_t row = 0; row < Specs().size(); ++row)
        table.push_back({Specs()[row].name, Specs()[row].argument ? required_argument : no_argument,
                         nullptr, ValueOf(row)});
    table.push_back({});
    std::vector<std::string> words{"espa-slave"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    Options options;
    optind = 0;            // a fresh scan; "+": stop at the first word that is no option
    opterr = 0;            // the errors are ours, see Refusal
    std::size_t next = 1;  // the first word no option has taken
    for (int result; (result = getopt_long(argc, argv.data(), "+:h", table.data(), nullptr)) != -1;
         next = static_cast<std::size_t>(optind)) {
        const OptionSpec* spec = SpecOf(result);
        if (spec == nullptr)
            return {std::nullopt, Refusal(result, words[static_cast<std::size_t>(optind) - 1])};
        std::string error;
        if (!spec->set(options, optarg != nullptr ? optarg : "", error))
            return {std::nullopt, "--" + std::string(spec->name) + ": " + error};
    }
    // A word that is no option, or "--" (which getopt_long would skip).
    if (next < words.size())
        return {std::nullopt, "unknown option \"" + words[next] + "\""};
    if (std::string error = CheckCombination(options); !error.empty())
        return {std::nullopt, error};
    return {std::move(options), ""};
}

std::string HelpText() {
    std::string text = kHelpIntro;
    for (const OptionSpec& spec : Specs()) {
        text += std::string("  --") + spec.name;
        if (spec.argument != nullptr)
            text += std::string(" ") + spec.argument;
        text += "\n" + Wrap(spec.help, "      ", 79);
    }
    return text + kHelpBehaviour;
}

std::vector<std::string> DescribeOptions(const Options& options) {
    const SlaveConfig& slave = options.slave;
    std::vector<std::string> lines;
    std::string scripts = "scripts: DEFAULT=" + DescribeScript(slave.scripts.fallback);
    for (const auto& [address, script] : slave.scripts.byAddress)
        scripts += "; " + address + "=" + DescribeScript(script);
    lines.push_back(slave.noStatus ? "scripts: not used (--no-status)" : scripts);
    std::string behaviour;
    if (slave.silent)
        behaviour = "silent";
    const std::string faults = FaultSummary(options);
    if (!faults.empty())
        behaviour += (behaviour.empty() ? "" : ", ") + faults;
    if (slave.delayMaxMs > 0)
        behaviour += (behaviour.empty() ? "delay " : ", delay ") +
                     std::to_string(slave.delayMinMs) +
                     (slave.delayMaxMs > slave.delayMinMs ? "-" + std::to_string(slave.delayMaxMs)
                                                          : std::string()) +
                     " ms";
    if (slave.splitPieces > 1)
        behaviour += (behaviour.empty() ? "status block in " : ", status block in ") +
                     std::to_string(slave.splitPieces) + " pieces " +
                     std::to_string(slave.splitGapMs) + " ms apart";
    const auto add = [&](const std::string& item) {
        behaviour += (behaviour.empty() ? "" : ", ") + item;
    };
    if (slave.refuseStatusCall)
        add("status call blocks refused ('1' NAK EOT after " + std::to_string(slave.refuseDelayMs) +
            " ms)");
    if (slave.noStatus)
        add("no status (every poll EOT)");
    if (!slave.stray.empty())
        add("stray " + ByteNames(slave.stray) + " after check,poll");
    if (slave.asciiOnly)
        add("ASCII only");
    if (slave.refuseEmptyText)
        add("empty texts refused");
    if (slave.eotDelayMs > 0)
        add("EOT answers to polls " + std::to_string(slave.eotDelayMs) + " ms late");
    lines.push_back("misbehaviour: " + (behaviour.empty() ? std::string("none") : behaviour));
    lines.push_back("seed " + std::to_string(slave.seed));
    return lines;
}

}  // namespace zelvano::slave
