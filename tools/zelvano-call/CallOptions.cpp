#include "CallOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

#include "common/Text.h"
#include "serial/PortMap.h"
#include "windows/SettingsForm.h"

namespace zelvano::call {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// The entries of a settings window list, so the command line takes the same
// speeds, parities and bit counts the window offers.
std::vector<std::string> ComboEntries(std::string_view name) {
    for (const SettingsCombo& combo : SingleCombos()) {
        if (combo.name == name)
            return combo.entries;
    }
    return {};
}

// An option whose value is one word of a list (any case); the word's
// position plus first is the value.
struct WordOption {
    const char* name;
    std::vector<std::string> words;
    std::int16_t first = 0;
};

struct SettingOption {
    WordOption option;
    std::int16_t Settings::*field;
};

struct CallFieldOption {
    WordOption option;
    std::int16_t CallOptions::*field;
};

const std::vector<SettingOption>& SettingOptions() {
    static const std::vector<SettingOption> options = {
        {{"--speed", ComboEntries("ComboBaud")}, &Settings::baudRate},
        {{"--parity", ComboEntries("ComboParity")}, &Settings::parity},
        {{"--bits", ComboEntries("ComboBits")}, &Settings::dataBits},
        {{"--stopbits", ComboEntries("ComboStop")}, &Settings::stopBits},
        {{"--handshake", {"none", "rts", "rtscts"}}, &Settings::handshake},
        {{"--emulation", {"philips", "ascom", "medicall", "datacall", "ooperon", "commtech"}},
         &Settings::emulation},
        {{"--line-check", {"both", "poll"}}, &Settings::lineCheck},
        {{"--status-check", {"soh3", "poll", "none"}}, &Settings::statusCheck},
        {{"--log-level", {"0", "1", "2", "3"}}, &Settings::logLevel},
    };
    return options;
}

const std::vector<CallFieldOption>& CallFieldOptions() {
    static const std::vector<CallFieldOption> options = {
        {{"--bleep",
          {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E", "F"}},
         &CallOptions::bleep},
        {{"--calltype", {"0", "1", "2", "3"}}, &CallOptions::callType},
        {{"--priority", {"0", "1", "2", "3"}}, &CallOptions::priority},
        {{"--transmissions", {"1", "2", "3", "4"}, 1}, &CallOptions::nrOfTx},
    };
    return options;
}

std::optional<std::int16_t> WordValue(const WordOption& option, std::string_view value,
                                      std::string& error) {
    const std::string word = Lower(value);
    std::string all;
    for (std::size_t i = 0; i < option.words.size(); ++i) {
        if (Lower(option.words[i]) == word)
            return static_cast<std::int16_t>(option.first + static_cast<std::int16_t>(i));
        all += (i == 0 ? "" : ", ") + option.words[i];
    }
    error = std::string(option.name) + ": '" + std::string(value) + "' is not one of " + all;
    return std::nullopt;
}

// Why text cannot go on the line, naming the first character that cannot;
// empty when every character has a single-byte code of 0x20 or above.
std::string Unsendable(std::string_view what, std::string_view text) {
    for (const char32_t cp : DecodeUtf8(text)) {
        const int code = AnsiCode(cp);
        char number[16];
        std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(cp));
        if (cp == 0xFFFD)
            return std::string(what) + ": not valid UTF-8 text";
        if (code < 0) {
            std::string shown;
            AppendUtf8(shown, cp);
            return std::string(what) + ": the character '" + shown + "' (" + number +
                   ") has no single-byte (Windows-1252) code and cannot be sent";
        }
        if (code < 0x20)
            return std::string(what) + ": the control character " + number + " cannot be sent";
    }
    return {};
}

std::string CheckPort(const std::string& port) {
    if (port.empty())
        return "--port: no port given";
    if (IsTcpDevice(port) && !ParseTcpTarget(port))
        return "--port: '" + port + "' is not tcp://HOST:PORT (an IPv6 HOST in brackets)";
    if (Lower(port).starts_with("com") && ComPortNumber(port) == 0 &&
        port.find('/') == std::string::npos)
        return "--port: '" + port + "': port numbers go from COM1 to COM8";
    return {};
}

std::string CheckCall(const CallOptions& o) {
    if (o.address.empty())
        return "--address is required (the pager's address)";
    const std::string problem = Unsendable("--address", o.address);
    return problem.empty() ? Unsendable("--text", o.text) : problem;
}

// One option with its value; false (error set) when it is unknown or bad.
bool TakeValue(CallOptions& o, const std::string& name, const std::string& value,
               std::string& error) {
    for (const SettingOption& s : SettingOptions()) {
        if (name == s.option.name) {
            const auto position = WordValue(s.option, value, error);
            if (position)
                o.overrides.emplace_back(s.field, *position);
            return position.has_value();
        }
    }
    for (const CallFieldOption& c : CallFieldOptions()) {
        if (name == c.option.name) {
            const auto position = WordValue(c.option, value, error);
            if (position)
                o.*c.field = *position;
            return position.has_value();
        }
    }
    if (name == "--port") {
        error = CheckPort(value);
        o.port = value;
        return error.empty();
    } else if (name == "--settings") {
        o.settingsFile = value;
    } else if (name == "--address") {
        o.address = value;
    } else if (name == "--text") {
        o.text = value;
    } else if (name == "--wait") {
        const auto wait = WordValue({"--wait", {"none", "accepted", "final"}}, value, error);
        if (wait)
            o.wait = static_cast<WaitFor>(*wait);
        return wait.has_value();
    } else if (name == "--timeout") {
        int seconds = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        // The call's time in the buffer is a 16-bit count of seconds.
        if (ec != std::errc() || end != value.data() + value.size() || seconds < 1 ||
            seconds > INT16_MAX) {
            error = "--timeout: '" + value + "' is not a number of seconds from 1 to 32767";
            return false;
        }
        o.timeoutSeconds = seconds;
    }
    return true;
}

bool IsFlag(const std::string& name) {
    return name == "--json" || name == "--quiet" || name == "--help" || name == "-h";
}

bool IsValueOption(const std::string& name) {
    const auto named = [&](const auto& row) { return name == row.option.name; };
    return std::ranges::any_of(SettingOptions(), named) ||
           std::ranges::any_of(CallFieldOptions(), named) ||
           std::ranges::count(std::vector<std::string>{"--port", "--settings", "--address",
                                                       "--text", "--wait", "--timeout"},
                              name) > 0;
}

}  // namespace

int ComPortNumber(const std::string& port) {
    const std::string lower = Lower(port);
    if (lower.size() == 4 && lower.starts_with("com") && lower[3] >= '1' && lower[3] <= '8')
        return lower[3] - '0';
    return 0;
}

ParsedOptions ParseCallOptions(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    CallOptions& o = parsed.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        const std::size_t equals = name.find('=');
        const bool inlineValue = name.starts_with("--") && equals != std::string::npos;
        if (inlineValue) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (!name.starts_with("-")) {
            parsed.error = "unexpected argument '" + name + "'";
            return parsed;
        }
        if (!IsFlag(name) && !IsValueOption(name)) {
            parsed.error = "unknown option '" + name + "'";
            return parsed;
        }
        if (IsFlag(name) && inlineValue) {
            parsed.error = name + " takes no value";
            return parsed;
        }
        if (IsFlag(name)) {
            o.help |= name == "--help" || name == "-h";
            o.json |= name == "--json";
            o.quiet |= name == "--quiet";
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                parsed.error = name + " needs a value";
                return parsed;
            }
            value = args[++i];
        }
        if (!TakeValue(o, name, value, parsed.error))
            return parsed;
    }
    if (!o.help)
        parsed.error = CheckCall(o);
    return parsed;
}

const char* HelpText() {
    return R"(Usage: zelvano-call --address ADDR [OPTION]...

Sends one pager call to an ESPA 4.4.4 paging system (slave) over a serial line
or a network port, follows it until the paging system reports its state, and
tells the outcome on standard output and in the exit status. The line, the
emulation and the log level come from espa.set in Zelvano's data folder (the
same one the zelvano program uses), or from --settings; options override them.
Progress (the log lines, at the log level in effect) goes to standard error.

THE CALL
  --address ADDR        The pager's address (required).
  --text TEXT           The message text (default: none). Sent in Windows-1252:
                        a character without a single-byte code is refused.
  --bleep C             Bleep code, one hex digit 0-F (default 1).
  --calltype C          0 reserved, 1 reset (cancel), 2 speech, 3 standard
                        (default 3).
  --priority C          0 reserved, 1 emergency, 2 high, 3 normal (default 3).
  --transmissions N     Number of transmissions 1-4 (default 1; Philips sends
                        none).

THE LINE (each overrides espa.set)
  --port PORT           COM1..COM8 (through comports.cfg), a serial device
                        such as /dev/ttyUSB0, or tcp://HOST:PORT.
  --settings FILE       Read this settings file instead of espa.set.
  --speed N             300 1200 2400 4800 9600 19200 38400 57600.
  --parity N|E|O        --bits 7|8        --stopbits 1|2
  --handshake none|rts|rtscts   (rts: no handshake, RTS held active)
  --emulation philips|ascom|medicall|datacall|ooperon|commtech
  --line-check both|poll        ('1' ENQ '2' ENQ, or '2' ENQ only)
  --status-check soh3|poll|none (status call then poll, poll only, none)
  --log-level 0|1|2|3   0 none, 1 progress, 2 also the Log/ day file,
                        3 also the byte trace in DebugLog/.

WAITING AND OUTPUT
  --wait none|accepted|final
                        none: until the call block has gone out on the line;
                        accepted: until the paging system took the call
                        (QUEUE) or it ended; final (default): until its final
                        word (PAGED, SPEECHPAGED, ABSENT, BUSY, TERMINATED,
                        NO STATUS or ERROR).
  --timeout SECONDS     Bounds the whole run (default 90, 1 to 32767); the
                        call is given up by then.
  --json                Print one JSON object instead of the outcome line:
                        address, started (ISO 8601, UTC), words (each state
                        seen, with "at": seconds since the start), final
                        (the final word or null), outcome, exit, and error
                        (why, when there is a reason to give).
  --quiet               No progress on standard error (errors still show).
  --help, -h            Show this text and exit.
A value may also follow as --option=VALUE.

OUTCOME (standard output, one line): ADDRESS WORD, e.g. "6001 PAGED". WORD is
the state reached, SENT for --wait none, NO ANSWER or PORT UNUSABLE.

EXIT STATUS
   0  PAGED or SPEECHPAGED; with --wait accepted or none: that point reached
  10  ABSENT        11  BUSY        12  TERMINATED   (delivered, not paged)
  20  NO STATUS     delivered, but the paging system gave no state in time
  30  ERROR         the paging system refused the call, or it failed
  40  NO ANSWER     the paging system did not answer the line check, or the
                    call was not delivered before the time-out
  64  bad arguments (nothing was sent)
  74  PORT UNUSABLE the port cannot be opened (no such device, no permission,
                    in use by another program such as zelvano) or the network
                    port cannot be reached within the time-out
 130, 143 INTERRUPTED  stopped by SIGINT or SIGTERM (128 + the signal); the
                    port is closed and the outcome printed

EXAMPLE
  zelvano-call --port /dev/ttyUSB0 --address 6001 --text "Fire alarm B2"
)";
}

}  // namespace zelvano::call
