#include "CallOptions.h"

#include <QCommandLineParser>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <functional>
#include <string_view>

#include "LineOptions.h"
#include "common/Text.h"
#include "paging/PagingCore.h"

namespace zelvano::call {

namespace {

// Takes an option's value; returns why it is bad, or "" when it is good.
using Setter = std::function<std::string(CallOptions&, const std::string& value)>;

// One row per option: the parser's option, its help line and what it sets.
struct OptionRow {
    const char* name;
    std::string valueName;  // "" for a flag
    std::string help;
    Setter set;
};

// A value that is one word of a list (any case); the word's position plus
// first goes to store.
Setter Word(std::vector<std::string> words, std::function<void(CallOptions&, std::int16_t)> store,
            std::int16_t first = 0) {
    return [=](CallOptions& o, const std::string& value) {
        std::string problem;
        const std::int16_t position = WordPosition(words, value, problem);
        if (position >= 0)
            store(o, static_cast<std::int16_t>(first + position));
        return problem;
    };
}

Setter CallField(std::vector<std::string> words, std::int16_t CallOptions::*field,
                 std::int16_t first = 0) {
    return Word(
        std::move(words), [=](CallOptions& o, std::int16_t value) { o.*field = value; }, first);
}

// A settings field the command line puts over espa.set's.
OptionRow Setting(const LineOption& option) {
    return {option.name, option.valueName,
            "One of " + JoinWords(option.words, ", ") + option.meaning + "; overrides espa.set.",
            Word(option.words, [field = option.field](CallOptions& o, std::int16_t value) {
                o.overrides.emplace_back(field, value);
            })};
}

Setter Text(std::string CallOptions::*field) {
    return [=](CallOptions& o, const std::string& value) {
        o.*field = value;
        return std::string();
    };
}

Setter Flag(bool CallOptions::*field) {
    return [=](CallOptions& o, const std::string&) {
        o.*field = true;
        return std::string();
    };
}

std::string SetPort(CallOptions& o, const std::string& port) {
    o.port = port;
    return PortProblem(port);
}

std::string SetTimeout(CallOptions& o, const std::string& value) {
    int seconds = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    // The call's time in the buffer is a 16-bit count of seconds.
    if (ec != std::errc() || end != value.data() + value.size() || seconds < 1 ||
        seconds > INT16_MAX)
        return "'" + value + "' is not a number of seconds from 1 to 32767";
    o.timeoutSeconds = seconds;
    return "";
}

// The rows with the line settings after --settings.
std::vector<OptionRow> WithLineOptions(std::vector<OptionRow> rows) {
    const auto isSettings = [](const OptionRow& row) {
        return std::string_view(row.name) == "settings";
    };
    auto at = std::ranges::find_if(rows, isSettings) + 1;
    for (const LineOption& option : LineOptions())
        at = rows.insert(at, Setting(option)) + 1;
    return rows;
}

const std::vector<OptionRow>& Rows() {
    static const std::vector<OptionRow> rows = WithLineOptions({
        {"address", "ADDR", "The pager's address (required).", Text(&CallOptions::address)},
        {"text", "TEXT",
         "The message text (default: none), at most " + std::to_string(kMaxCallTextLength) +
             " characters as in the call window. Sent in Windows-1252: a character without a "
             "single-byte code is refused.",
         Text(&CallOptions::text)},
        {"bleep", "0-F", "Bleep code, one hex digit (default 1).",
         CallField({"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E", "F"},
                   &CallOptions::bleep)},
        {"calltype", "0-3", "0 reserved, 1 reset (cancel), 2 speech, 3 standard (default 3).",
         CallField({"0", "1", "2", "3"}, &CallOptions::callType)},
        {"priority", "0-3", "0 reserved, 1 emergency, 2 high, 3 normal (default 3).",
         CallField({"0", "1", "2", "3"}, &CallOptions::priority)},
        {"transmissions", "1-4", "Number of transmissions (default 1; Philips sends none).",
         CallField({"1", "2", "3", "4"}, &CallOptions::transmissions, 1)},
        {"port", "PORT",
         "COM1..COM8 (through comports.cfg), a serial device such as /dev/ttyUSB0, or "
         "tcp://HOST:PORT. Overrides espa.set.",
         SetPort},
        {"settings", "FILE", "Read this settings file instead of espa.set.",
         Text(&CallOptions::settingsFile)},
        {"no-service", "",
         "Open the port here even when a running zelvanod owns it (the port is then in use: "
         "exit 74).",
         Flag(&CallOptions::noService)},
        {"service", "",
         "Only through a running zelvanod: exit 74 when none owns the port, which is then "
         "never opened here.",
         Flag(&CallOptions::serviceOnly)},
        {"wait", "WHEN",
         "none: until the call block has gone out on the line; accepted: until the paging "
         "system took the call (QUEUE) or it ended; final (default): until its final word "
         "(PAGED, SPEECHPAGED, ABSENT, BUSY, TERMINATED, NO STATUS or ERROR).",
         Word({"none", "accepted", "final"},
              [](CallOptions& o, std::int16_t value) { o.wait = static_cast<WaitFor>(value); })},
        {"timeout", "SECONDS",
         "Bounds the whole run (default 90, 1 to 32767); the call is given up by then.",
         SetTimeout},
        {"json", "",
         "Print one JSON object instead of the outcome line, at every exit (a bad command "
         "line too); its keys are listed under JSON below.",
         Flag(&CallOptions::json)},
        {"quiet", "", "No progress on standard error (errors still show).",
         Flag(&CallOptions::quiet)},
    });
    return rows;
}

// Latin-1 maps each byte to one character and back, so values reach the
// checks as the bytes given: text that is not UTF-8 is refused, never repaired.
QString FromBytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text) {
    return text.toLatin1().toStdString();
}

void AddOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        R"(Sends one pager call to an ESPA 4.4.4 paging system (slave) over a serial line
or a network port, follows it until the paging system reports its state, and
tells the outcome on standard output and in the exit status. The line, the
emulation and the log level come from espa.set in Zelvano's data folder (the
same one the zelvano program uses), or from --settings; options override them.
Progress (the log lines, at the log level in effect) goes to standard error.)");
    parser.addOption({QStringList{"h", "help"}, "Show this text and exit."});
    for (const OptionRow& row : Rows())
        parser.addOption(
            {row.name, QString::fromStdString(row.help), QString::fromStdString(row.valueName)});
}

std::string CheckCall(const CallOptions& o) {
    if (o.address.empty())
        return "--address is required (the pager's address)";
    if (o.noService && o.serviceOnly)
        return "--service and --no-service exclude each other";
    for (const std::string& problem :
         {Unsendable("--address", o.address), Unsendable("--text", o.text),
          TooLongText("--text", o.text)}) {
        if (!problem.empty())
            return problem;
    }
    return {};
}

// The parser's complaint, unknown options named as they were given.
std::string SyntaxError(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return "unknown option '" + std::string(unknown[0].size() > 1 ? "--" : "-") +
               ToBytes(unknown[0]) + "'";
    std::string error = ToBytes(parser.errorText());  // "Missing value after '--port'."
    if (!error.empty()) {
        error[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(error[0])));
        if (error.back() == '.')
            error.pop_back();
    }
    return error;
}

}  // namespace

ParsedOptions ParseCallOptions(const std::vector<std::string>& args) {
    QCommandLineParser parser;
    AddOptions(parser);
    QStringList words{"zelvano-call"};
    for (const std::string& arg : args)
        words << FromBytes(arg);
    ParsedOptions parsed;
    CallOptions& o = parsed.options;
    const bool wellFormed = parser.parse(words);
    o.help = parser.isSet("help");  // --help wins over any mistake beside it
    o.json = parser.isSet("json");  // a refusal is told in JSON too
    if (o.help)
        return parsed;
    if (!wellFormed) {
        parsed.error = SyntaxError(parser);
        return parsed;
    }
    if (!parser.positionalArguments().isEmpty()) {
        parsed.error = "unexpected argument '" + ToBytes(parser.positionalArguments()[0]) + "'";
        return parsed;
    }
    for (const OptionRow& row : Rows()) {
        // A flag has no values, so it is set once; a repeated value: the last one counts.
        const QStringList values = row.valueName.empty() && parser.isSet(row.name)
                                       ? QStringList{""}
                                       : parser.values(row.name);
        for (const QString& value : values) {
            if (const std::string error = row.set(o, ToBytes(value)); !error.empty()) {
                parsed.error = "--" + std::string(row.name) + ": " + error;
                return parsed;
            }
        }
    }
    parsed.error = CheckCall(o);
    return parsed;
}

std::string HelpText() {
    QCommandLineParser parser;
    AddOptions(parser);
    // Qt names the program as it was started; the help names it as installed.
    const QString text = parser.helpText();
    return "Usage: zelvano-call --address ADDR [options]\n" +
           text.mid(text.indexOf('\n')).toStdString() + R"(
A value may also follow as --option=VALUE.

OUTCOME (standard output, one line): ADDRESS WORD, e.g. "6001 PAGED". WORD is
the state reached, SENT for --wait none, NO ANSWER, PORT UNUSABLE or
INTERRUPTED. A bad command line prints no line, only its message.

THROUGH ZELVANOD: when a zelvanod service on this machine owns the port (its
socket LINE.sock in $ZELVANO_RUNTIME_DIR, else /run/zelvano, else
$XDG_RUNTIME_DIR/zelvano, or one folder below), the call is handed to it and
followed there ("zelvano-call: via zelvanod SOCKET" on standard error): the
port is not opened here, and the line settings are the service's. The exit
statuses and the JSON are the same; a field the service refuses is 64, a
service that cannot take the call (a full queue) is 30 REFUSED, EXPIRED (not
sent in time) is 40 NO ANSWER, CANCELLED (taken back at the service) is 30.
At the time-out or a signal the call stays with the service (the message says
so; final is null). Without such a service the run opens the port itself.

EXIT STATUS
   0  PAGED or SPEECHPAGED; with --wait accepted or none: that point reached
  10  ABSENT        11  BUSY        12  TERMINATED   (delivered, not paged)
  20  NO STATUS     delivered, but the paging system gave no state in time
  30  ERROR         the paging system refused the call, or it failed (the
                    message says which, e.g. a call block never answered)
  40  NO ANSWER     nothing delivered before the time-out: the line check
                    went unanswered, or "call block sent, the slave never
                    answered it", or the call was not taken in time
  64  BAD ARGUMENTS a bad command line, e.g. a text too long (see --text) or
                    with a character that has no Windows-1252 code (nothing
                    was opened or sent)
  74  PORT UNUSABLE the port cannot be opened (no such device, no permission,
                    in use by another program such as zelvano), a network
                    port refused the connection or has an unknown host (told
                    at once), or it did not connect within the time-out
 128+N INTERRUPTED  stopped by signal N (129 SIGHUP, 130 SIGINT, 143
                    SIGTERM); the port is closed and the outcome printed

JSON (--json): one object on standard output at every exit, 64 included
(--help prints this text instead):
  address  the pager's address (null when a bad command line had none)
  started  the start, ISO 8601 in UTC with milliseconds
  words    each state the call went through, in order, as
           {"word": "QUEUE", "at": 1.702} ("at": seconds since the start);
           a call whose time ran out undelivered ends with the buffer's ERROR
  final    the call's final state word when it reached one: PAGED,
           SPEECHPAGED, ABSENT, BUSY, TERMINATED, NO STATUS or ERROR (exits
           10 to 30, and 0 with --wait final); null otherwise (40, 64, 74,
           a signal, SENT or QUEUE)
  outcome  the WORD of the outcome line (BAD ARGUMENTS for 64)
  exit     the exit status
  error    why, when there is a reason to give (always from 30 up)

EXAMPLE
  zelvano-call --port /dev/ttyUSB0 --address 6001 --text "Fire alarm B2"
)";
}

}  // namespace zelvano::call
