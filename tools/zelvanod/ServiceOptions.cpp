#include "ServiceOptions.h"

#include <sys/stat.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <functional>
#include <map>
#include <string_view>

#include "LineOptions.h"
#include "driver/DataDir.h"
#include "settings/SettingsFile.h"
#include "settings/SmallFile.h"

namespace zelvano::service {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kConfigMaxBytes = 64 * 1024;
constexpr std::size_t kPasswordMaxBytes = 4 * 1024;
constexpr const char* kInstalledConfig = "/etc/zelvano/zelvanod.conf";

// Takes a key's value; returns why it is bad, or "" when it is good.
using Setter = std::function<std::string(ServiceOptions&, const std::string& value)>;

struct Key {
    const char* group;  // "" for the service's own keys
    const char* name;
    Setter set;
    bool path = false;  // a file or folder, relative to the configuration file's folder
};

template <typename Part>
Part& PartOf(ServiceOptions& o);
template <>
ServiceOptions& PartOf(ServiceOptions& o) {
    return o;
}
template <>
MqttSettings& PartOf(ServiceOptions& o) {
    return o.mqtt;
}

template <typename Part>
Setter Text(std::string Part::*field) {
    return [=](ServiceOptions& o, const std::string& value) {
        PartOf<Part>(o).*field = value;
        return std::string();
    };
}

template <typename Part, typename Number>
Setter Whole(Number Part::*field, long long min, long long max) {
    return [=](ServiceOptions& o, const std::string& value) {
        long long number = 0;
        const char* end = value.data() + value.size();
        const auto [stop, ec] = std::from_chars(value.data(), end, number);
        if (ec != std::errc() || stop != end || number < min || number > max)
            return "'" + value + "' is not a whole number from " + std::to_string(min) + " to " +
                   std::to_string(max);
        PartOf<Part>(o).*field = static_cast<Number>(number);
        return std::string();
    };
}

std::string SetRate(ServiceOptions& o, const std::string& value) {
    double rate = 0;
    const char* end = value.data() + value.size();
    const auto [stop, ec] = std::from_chars(value.data(), end, rate);
    if (ec != std::errc() || stop != end || !(rate >= 0 && rate <= 1000))
        return "'" + value + "' is not a number of calls a second from 0 (no limit) to 1000";
    o.rate = rate;
    return "";
}

std::string SetDiscovery(ServiceOptions& o, const std::string& value) {
    static const std::vector<std::string> words = {"off", "on", "no", "yes", "false", "true"};
    std::string problem;
    const std::int16_t position = WordPosition(words, value, problem);
    o.mqtt.discovery = position % 2 == 1;
    return position < 0 ? "'" + value + "' is not on or off" : "";
}

// The line's name goes into MQTT topics: no '/', '+' or '#'.
std::string SetLineName(ServiceOptions& o, const std::string& value) {
    const bool plain =
        !value.empty() && value.size() <= 64 && std::ranges::all_of(value, [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
        });
    if (!plain)
        return "'" + value + "' is not 1 to 64 of A-Z a-z 0-9 . _ -";
    o.lineName = value;
    return "";
}

std::string SetPort(ServiceOptions& o, const std::string& value) {
    o.port = value;
    return PortProblem(value);
}

// [HOST:]PORT, HOST an IP address (IPv6 in brackets) or localhost.
std::string SetListen(ServiceOptions& o, const std::string& value) {
    std::string host = "127.0.0.1";
    std::string portText = value;
    if (const std::size_t colon = value.rfind(':'); colon != std::string::npos) {
        host = value.substr(0, colon);
        portText = value.substr(colon + 1);
        if (host.size() > 1 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        else if (host.find(':') != std::string::npos)
            return "'" + value + "': an IPv6 HOST goes in brackets, as in [::1]:8444";
    }
    unsigned port = 0;
    const char* end = portText.data() + portText.size();
    const auto [stop, ec] = std::from_chars(portText.data(), end, port);
    if (ec != std::errc() || stop != end || portText.empty() || port > 65535)
        return "'" + value + "' is not [HOST:]PORT with a PORT from 0 to 65535";
    QHostAddress address;
    if (!address.setAddress(QString::fromStdString(host == "localhost" ? "127.0.0.1" : host)))
        return "'" + host + "' is not an IP address or localhost";
    o.listenHost = address.toString().toStdString();
    o.listenPort = static_cast<std::uint16_t>(port);
    return "";
}

Setter LineWord(const LineOption& option) {
    return [&option](ServiceOptions& o, const std::string& value) {
        std::string problem;
        const std::int16_t position = WordPosition(option.words, value, problem);
        if (position >= 0)
            o.overrides.emplace_back(option.field, position);
        return problem;
    };
}

const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = [] {
        using S = ServiceOptions;
        using M = MqttSettings;
        std::vector<Key> all = {
            {"", "listen", SetListen},
            {"", "token-file", Text(&S::tokenFile), true},
            {"", "state-dir", Text(&S::stateDir), true},
            {"", "queue-limit", Whole(&S::queueLimit, 1, 1000000)},
            {"", "max-age", Whole(&S::maxAgeSeconds, 1, 86400)},
            {"", "keep-days", Whole(&S::keepDays, 1, 3650)},
            // The buffer holds a call's time as a 16-bit count of seconds.
            {"", "call-timeout", Whole(&S::callTimeoutSeconds, 1, 32767)},
            {"", "rate", SetRate},
            {"", "max-connections", Whole(&S::maxConnections, 1, 10000)},
            {"", "tls-cert", Text(&S::tlsCert), true},
            {"", "tls-key", Text(&S::tlsKey), true},
            {"line", "port", SetPort},
            {"line", "settings", Text(&S::settingsFile), true},
            {"line", "name", SetLineName},
            {"mqtt", "host", Text(&M::host)},
            {"mqtt", "port", Whole(&M::port, 1, 65535)},
            {"mqtt", "client-id", Text(&M::clientId)},
            {"mqtt", "username", Text(&M::username)},
            {"mqtt", "password-file", Text(&M::passwordFile), true},
            {"mqtt", "tls-ca", Text(&M::caFile), true},
            {"mqtt", "tls-cert", Text(&M::certFile), true},
            {"mqtt", "tls-key", Text(&M::keyFile), true},
            {"mqtt", "prefix", Text(&M::prefix)},
            {"mqtt", "discovery", SetDiscovery},
            {"mqtt", "default-address", Text(&M::defaultAddress)},
        };
        for (const LineOption& option : LineOptions())
            all.push_back({"line", option.name, LineWord(option)});
        return all;
    }();
    return keys;
}

const Key* FindKey(std::string_view group, std::string_view name) {
    const auto found = std::ranges::find_if(
        Keys(), [&](const Key& key) { return key.group == group && key.name == name; });
    return found == Keys().end() ? nullptr : &*found;
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// "key = value" lines under "[group]" headers; keys before the first header
// (or under [service]) are the service's own. '#' or ';' starts a comment
// line; an empty value leaves the default.
std::string ReadConfig(ServiceOptions& o, const std::string& file, std::string_view text) {
    const fs::path folder = fs::path(file).parent_path();
    std::string group;
    std::map<std::string, int> seen;  // group and key, to the line that gave it
    for (int number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        const std::string at = file + ":" + std::to_string(number) + ": ";
        if (line.front() == '[') {
            group = line.back() == ']' ? std::string(Trimmed(line.substr(1, line.size() - 2))) : "";
            if (group == "service")
                group.clear();
            else if (group != "line" && group != "mqtt")
                return at + "unknown group " + std::string(line) + " (groups: [line], [mqtt])";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return at + "not key = value";
        const std::string name(Trimmed(line.substr(0, equals)));
        const std::string value(Trimmed(line.substr(equals + 1)));
        const std::string label = (group.empty() ? "" : "[" + group + "] ") + name;
        const Key* key = FindKey(group, name);
        if (key == nullptr)
            return at + "unknown key " + label;
        if (const auto [first, added] = seen.emplace(group + "\n" + name, number); !added)
            return at + label + ": given twice (first on line " + std::to_string(first->second) +
                   ")";
        if (value.empty())
            continue;
        const std::string given = key->path ? (folder / value).lexically_normal().string() : value;
        if (const std::string error = key->set(o, given); !error.empty())
            return at + label + ": " + error;
    }
    return "";
}

// The first line of a private file (a password), or why it cannot be had.
std::string ReadSecret(const std::string& file, std::string& secret) {
    const SmallFile read = ReadSmallFile(file, kPasswordMaxBytes);
    if (!read.found)
        return file + ": no such file";
    if (!read.problem.empty())
        return read.problem;
    if (read.mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH))
        return file + ": group or others may read or write it (chmod 600 " + file + ")";
    secret = std::string(Trimmed(std::string_view(read.bytes).substr(0, read.bytes.find('\n'))));
    return "";
}

// espa.set (when named) with the file's line settings and the port on top.
std::string ChooseLine(ServiceOptions& o) {
    o.lineConfigured = !o.port.empty() || !o.settingsFile.empty();
    if (!o.settingsFile.empty()) {
        std::error_code ec;
        if (!fs::exists(o.settingsFile, ec))
            return o.settingsFile + ": no such file";
        std::string problem;
        o.settings = ReadSettingsFile(o.settingsFile, &problem);
        if (!problem.empty())
            return problem;
    }
    for (const auto& [field, value] : o.overrides)
        o.settings.*field = value;
    if (const int number = ComPortNumber(o.port))
        o.settings.comPort = static_cast<std::int16_t>(number - 1);
    else
        o.device = o.port;
    return "";
}

std::string CheckListener(ServiceOptions& o) {
    if (o.tlsCert.empty() != o.tlsKey.empty())
        return "tls-cert and tls-key go together";
    if (!o.tokenFile.empty()) {
        TokenFile::Loaded loaded = TokenFile::Load(o.tokenFile);
        if (!loaded.error.empty())
            return loaded.error;
        o.tokens = std::move(loaded.tokens);
    } else if (!QHostAddress(QString::fromStdString(o.listenHost)).isLoopback()) {
        return "listening on " + o.listenHost +
               " lets other machines page: name a token file (token-file or --token-file)";
    }
    return "";
}

std::string CheckMqtt(MqttSettings& m) {
    if (m.certFile.empty() != m.keyFile.empty())
        return "[mqtt] tls-cert and tls-key go together";
    if (!m.passwordFile.empty())
        return ReadSecret(m.passwordFile, m.password);
    return "";
}

std::string Finish(ServiceOptions& o, const ServiceEnvironment& environment) {
    if (o.stateDir.empty()) {
        const std::string systemd =
            environment.stateDirectory.substr(0, environment.stateDirectory.find(':'));
        o.stateDir = systemd.empty() ? environment.userStateDir : systemd;
    }
    std::error_code ec;
    o.stateDir = fs::absolute(o.stateDir, ec).lexically_normal().string();
    for (const auto check : {ChooseLine, CheckListener})
        if (const std::string error = check(o); !error.empty())
            return error;
    return CheckMqtt(o.mqtt);
}

// The command line's options over the file's keys.
struct CommandOption {
    const char* name;
    const char* valueName;
    const char* help;
    Setter set;  // empty for --config, --help and --version
};

const std::vector<CommandOption>& CommandOptions() {
    static const std::vector<CommandOption> options = {
        {"config",
         "FILE",
         "The configuration file (default /etc/zelvano/zelvanod.conf for the installed program, "
         "none otherwise).",
         {}},
        {"port", "PORT",
         "The line: COM1..COM8 (through comports.cfg), a serial device such as /dev/ttyUSB0, or "
         "tcp://HOST:PORT. Overrides [line] port.",
         SetPort},
        {"settings", "FILE",
         "An espa.set to read the line settings from. Overrides [line] settings.",
         Text(&ServiceOptions::settingsFile)},
        {"listen", "[HOST:]PORT",
         "Where the HTTP API listens (default 127.0.0.1:8444); PORT 0 takes a free port, shown as "
         "\"LISTEN host:port\" on standard error. Anything but loopback needs a token file.",
         SetListen},
        {"state-dir", "DIR",
         "The journal's folder (default $STATE_DIRECTORY under systemd, else "
         "~/.local/state/zelvanod).",
         Text(&ServiceOptions::stateDir)},
        {"token-file", "FILE", "The clients' name:token lines; must be private (chmod 600).",
         Text(&ServiceOptions::tokenFile)},
    };
    return options;
}

QString FromBytes(const std::string& bytes) {
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void AddOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "The Zelvano paging service: takes pager calls from other systems over HTTP, MQTT and a "
        "local socket, keeps each in a journal and pages them over one ESPA 4.4.4 line.");
    parser.addOption({QStringList{"h", "help"}, "Show this text and exit."});
    parser.addOption({"version", "Show the version and exit."});
    for (const CommandOption& option : CommandOptions())
        parser.addOption({option.name, option.help, option.valueName});
}

std::string SyntaxError(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return "unknown option '" + std::string(unknown[0].size() > 1 ? "--" : "-") +
               unknown[0].toStdString() + "'";
    return parser.errorText().toStdString();
}

ParsedServiceOptions Failed(ParsedServiceOptions parsed, int exitCode, std::string error) {
    parsed.exitCode = exitCode;
    parsed.error = std::move(error);
    return parsed;
}

}  // namespace

ServiceEnvironment CurrentEnvironment() {
    const fs::path programDir = QCoreApplication::applicationDirPath().toStdString();
    const bool installed = IsSystemProgramDir(programDir, SystemProgramDirs({}));
    fs::path userState = qEnvironmentVariable("XDG_STATE_HOME").toStdString();
    if (userState.empty() || userState.is_relative())
        userState = fs::path(qEnvironmentVariable("HOME").toStdString()) / ".local/state";
    return {installed ? kInstalledConfig : "",
            qEnvironmentVariable("STATE_DIRECTORY").toStdString(),
            (userState / "zelvanod").string()};
}

ParsedServiceOptions ParseServiceOptions(const std::vector<std::string>& args,
                                         const ServiceEnvironment& environment) {
    QCommandLineParser parser;
    AddOptions(parser);
    QStringList words{"zelvanod"};
    for (const std::string& arg : args)
        words << FromBytes(arg);
    ParsedServiceOptions parsed;
    ServiceOptions& o = parsed.options;
    const bool wellFormed = parser.parse(words);
    o.help = parser.isSet("help");
    o.version = parser.isSet("version");
    if (o.help || o.version)
        return parsed;
    if (!wellFormed)
        return Failed(std::move(parsed), kServiceExitUsage, SyntaxError(parser));
    if (!parser.positionalArguments().isEmpty())
        return Failed(
            std::move(parsed), kServiceExitUsage,
            "unexpected argument '" + parser.positionalArguments()[0].toStdString() + "'");

    const bool named = parser.isSet("config");
    o.configFile = named ? parser.value("config").toStdString() : environment.defaultConfig;
    if (named && o.configFile.empty())
        return Failed(std::move(parsed), kServiceExitUsage, "--config: no file given");
    if (!o.configFile.empty()) {
        const SmallFile file = ReadSmallFile(o.configFile, kConfigMaxBytes);
        std::string error = file.problem;
        if (!file.found)
            error = named ? o.configFile + ": no such file" : "";
        else if (error.empty())
            error = ReadConfig(o, o.configFile, file.bytes);
        if (!error.empty())
            return Failed(std::move(parsed), kServiceExitConfig, error);
        if (!file.found)
            o.configFile.clear();
    }
    for (const CommandOption& option : CommandOptions()) {
        // A repeated option: the last one counts.
        const QStringList values = option.set ? parser.values(option.name) : QStringList();
        for (const QString& value : values) {
            if (const std::string error = option.set(o, value.toStdString()); !error.empty())
                return Failed(std::move(parsed), kServiceExitUsage,
                              "--" + std::string(option.name) + ": " + error);
        }
    }
    if (const std::string error = Finish(o, environment); !error.empty())
        return Failed(std::move(parsed), kServiceExitConfig, error);
    return parsed;
}

HostConfig HostConfigFor(const ServiceOptions& o) {
    ServiceLimits limits;
    limits.queueLimit = o.queueLimit;
    limits.maxAgeSeconds = o.maxAgeSeconds;
    limits.keepDays = o.keepDays;
    limits.callTimeOut = static_cast<std::int16_t>(o.callTimeoutSeconds);
    return {o.stateDir, o.settings, o.device, o.lineConfigured, limits};
}

std::string ServiceHelpText() {
    QCommandLineParser parser;
    AddOptions(parser);
    const QString text = parser.helpText();
    return "Usage: zelvanod [options]\n" + text.mid(text.indexOf('\n')).toStdString() + R"(
The configuration file holds the same settings and more (see zelvanod(8)):
the service's own keys first, then [line] (port, settings, name, speed,
parity, bits, stopbits, handshake, emulation, line-check, status-check,
log-level) and [mqtt]. Options given here override the file.

With no port named anywhere the service starts, logs "no line configured" and
pages nothing.

EXIT STATUS
   0  stopped by SIGTERM or SIGINT
   1  the service could not start (the journal, the listener)
  64  bad command line
  78  bad configuration (the file, the token file, espa.set)
)";
}

}  // namespace zelvano::service
