// zelvanod's options (file, command line, environment) and its token file,
// as tables of inputs to values or to the exact error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <sstream>
#include <tuple>

#include "ServiceOptions.h"
#include "settings/SettingsFile.h"
#include "support/TestApp.h"

namespace zelvano::service {
namespace {

namespace fs = std::filesystem;

std::string Replaced(std::string text, const std::string& dir) {
    for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;)
        text.replace(at, 5, dir);
    return text;
}

// The option values a case may look at, as text.
std::string Field(const ServiceOptions& o, const std::string& name) {
    using Get = std::function<std::string(const ServiceOptions&)>;
    static const std::map<std::string, Get> fields = {
        {"line", [](auto& o) { return std::string(o.lineConfigured ? "yes" : "no"); }},
        {"device", [](auto& o) { return o.device; }},
        {"com", [](auto& o) { return std::to_string(o.settings.comPort + 1); }},
        {"speed", [](auto& o) { return std::to_string(o.settings.baudRate); }},
        {"emulation", [](auto& o) { return std::to_string(o.settings.emulation); }},
        {"listen", [](auto& o) { return o.listenHost + "@" + std::to_string(o.listenPort); }},
        {"state", [](auto& o) { return o.stateDir; }},
        {"queue", [](auto& o) { return std::to_string(o.queueLimit); }},
        {"rate", [](auto& o) { return std::to_string(o.rate); }},
        {"tokens", [](auto& o) { return o.tokens ? std::to_string(o.tokens->Size()) : "none"; }},
        {"config", [](auto& o) { return o.configFile; }},
        {"mqtt",
         [](auto& o) {
             return o.mqtt.host + "@" + std::to_string(o.mqtt.port) + "," + o.mqtt.prefix + "," +
                    (o.mqtt.discovery ? "on" : "off") + "," + o.mqtt.password;
         }},
    };
    return fields.at(name)(o);
}

struct OptionsCase {
    const char* name;
    std::string config;    // zelvanod.conf, the default file; "" for none
    std::string args;      // split at blanks
    std::string expected;  // "field=value ..." or "exit N: error"; {dir} is the test folder
    std::string stateDirectory = "";
};

const std::string kSpeedWords = "300, 1200, 2400, 4800, 9600, 19200, 38400, 57600";

const OptionsCase kOptionsCases[] = {
    {"Defaults", "", "",
     "line=no listen=127.0.0.1@8444 state=/home/u/.local/state/zelvanod queue=10000 tokens=none "
     "config="},
    {"FileLine", "[line]\nport = /dev/ttyUSB0\nspeed = 9600\n", "",
     "line=yes device=/dev/ttyUSB0 speed=4 config={dir}/zelvanod.conf"},
    {"PortOptionOverFile", "[line]\nport=/dev/ttyUSB0\n", "--port com2", "line=yes device= com=2"},
    {"EspaSetUnderFileWords", "[line]\nsettings = espa.set\nemulation = philips\n", "",
     "line=yes com=3 speed=4 emulation=0"},
    {"ServiceGroupAndComments", "# c\n; c\n[service]\nqueue-limit = 5\nrate = 0.5\nlisten =\n", "",
     "queue=5 rate=0.500000 listen=127.0.0.1@8444"},
    {"SystemdStateDir", "", "", "state=/var/lib/zelvanod", "/var/lib/zelvanod:/var/lib/other"},
    {"StateDirOption", "", "--state-dir /srv/z", "state=/srv/z", "/var/lib/zelvanod"},
    {"ListenIpv6FreePort", "", "--listen [::1]:0", "listen=::1@0"},
    {"ListenLocalhost", "", "--listen=localhost:9000", "listen=127.0.0.1@9000"},
    {"AnyAddressWithTokens", "listen = 0.0.0.0:8444\ntoken-file = tokens\n", "",
     "listen=0.0.0.0@8444 tokens=1"},
    {"Mqtt",
     "[mqtt]\nhost = broker\nport = 8883\nprefix = site/a\ndiscovery = on\n"
     "password-file = password\n",
     "", "mqtt=broker@8883,site/a,on,s3cret"},
    {"UnknownKey", "\nlisten = 1\ncolour = red\n", "",
     "exit 78: {dir}/zelvanod.conf:3: unknown key colour"},
    {"UnknownMqttKey", "[mqtt]\nlisten = 1\n", "",
     "exit 78: {dir}/zelvanod.conf:2: unknown key [mqtt] listen"},
    {"UnknownGroup", "[lines]\n", "",
     "exit 78: {dir}/zelvanod.conf:1: unknown group [lines] (groups: [line], [mqtt])"},
    {"NoEquals", "listen\n", "", "exit 78: {dir}/zelvanod.conf:1: not key = value"},
    {"Twice", "[line]\nport=COM1\nport=COM2\n", "",
     "exit 78: {dir}/zelvanod.conf:3: [line] port: given twice (first on line 2)"},
    {"BadSpeed", "[line]\nspeed = 9601\n", "",
     "exit 78: {dir}/zelvanod.conf:2: [line] speed: '9601' is not one of " + kSpeedWords},
    {"BadPortInFile", "[line]\nport = tcp://host\n", "",
     "exit 78: {dir}/zelvanod.conf:2: [line] port: 'tcp://host' is not tcp://HOST:PORT (an IPv6 "
     "HOST in brackets)"},
    {"BadNumber", "queue-limit = 0\n", "",
     "exit 78: {dir}/zelvanod.conf:1: queue-limit: '0' is not a whole number from 1 to 1000000"},
    {"BadDiscovery", "[mqtt]\ndiscovery = maybe\n", "",
     "exit 78: {dir}/zelvanod.conf:2: [mqtt] discovery: 'maybe' is not on or off"},
    {"BadPortOption", "", "--port COM9",
     "exit 64: --port: 'COM9': port numbers go from COM1 to COM8"},
    {"Ipv6WithoutBrackets", "", "--listen ::1:80",
     "exit 64: --listen: '::1:80': an IPv6 HOST goes in brackets, as in [::1]:8444"},
    {"ListenName", "", "--listen example.org:80",
     "exit 64: --listen: 'example.org' is not an IP address or localhost"},
    {"UnknownOption", "", "--colour", "exit 64: unknown option '--colour'"},
    {"Positional", "", "COM1", "exit 64: unexpected argument 'COM1'"},
    {"MissingConfig", "", "--config {dir}/none.conf", "exit 78: {dir}/none.conf: no such file"},
    {"AnyAddressNeedsTokens", "", "--listen 0.0.0.0:8444",
     "exit 78: listening on 0.0.0.0 lets other machines page: name a token file (token-file or "
     "--token-file)"},
    {"OpenTokenFile", "", "--token-file {dir}/open-tokens",
     "exit 78: {dir}/open-tokens: group or others may read or write it (chmod 600 "
     "{dir}/open-tokens)"},
    {"MissingEspaSet", "", "--settings {dir}/none.set", "exit 78: {dir}/none.set: no such file"},
    {"TlsHalf", "tls-cert = c.pem\n", "", "exit 78: tls-cert and tls-key go together"},
};

void PrintTo(const OptionsCase& c, std::ostream* out) {
    *out << c.name;
}

class OptionsTable : public testing::TestWithParam<OptionsCase> {};

TEST_P(OptionsTable, GivesValuesOrError) {
    const OptionsCase& c = GetParam();
    test::TempDir tmp;
    const std::string dir = tmp.path().string();
    Settings espaSet;
    espaSet.comPort = 2;
    espaSet.baudRate = 4;
    espaSet.emulation = 1;
    const std::string tokens = "alarm:0123456789abcdef\n";
    const std::tuple<const char*, std::string, mode_t> files[] = {
        {"espa.set", FormatSettings(espaSet), 0644},
        {"tokens", tokens, 0600},
        {"open-tokens", tokens, 0644},
        {"password", "s3cret\n", 0600}};
    for (const auto& [name, bytes, mode] : files) {
        test::WriteFileBytes(tmp.path() / name, bytes);
        ::chmod((tmp.path() / name).c_str(), mode);
    }
    if (!c.config.empty())
        test::WriteFileBytes(tmp.path() / "zelvanod.conf", c.config);
    std::vector<std::string> args;
    std::istringstream argText(Replaced(c.args, dir));
    for (std::string arg; argText >> arg;)
        args.push_back(arg);

    const ParsedServiceOptions parsed = ParseServiceOptions(
        args, {dir + "/zelvanod.conf", c.stateDirectory, "/home/u/.local/state/zelvanod"});

    const std::string expected = Replaced(c.expected, dir);
    if (expected.starts_with("exit ")) {
        EXPECT_EQ("exit " + std::to_string(parsed.exitCode) + ": " + parsed.error, expected);
        return;
    }
    ASSERT_EQ(parsed.error, "");
    std::istringstream words(expected);
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        EXPECT_EQ(Field(parsed.options, word.substr(0, equals)), word.substr(equals + 1)) << word;
    }
}

INSTANTIATE_TEST_SUITE_P(Service, OptionsTable, testing::ValuesIn(kOptionsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The packaged file reads as it is, and pages nothing until a line is named.
TEST(ServiceOptions, SampleConfigurationNamesNoLine) {
    const ParsedServiceOptions parsed =
        ParseServiceOptions({"--config", ZELVANOD_SAMPLE_CONFIG}, {"", "", "/tmp/z"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.options.lineConfigured);
    EXPECT_EQ(parsed.options.configFile, ZELVANOD_SAMPLE_CONFIG);
}

struct TokenCase {
    const char* name;
    std::string text;
    std::string error;  // "" when read
};

const TokenCase kTokenCases[] = {
    {"Good", "# clients\nalarm: 0123456789abcdef\n\n  bms:ABCDEFGHIJKLMNOP \r\n", ""},
    {"NoColon", "alarm 0123456789abcdef\n", "t:1: not name:token"},
    {"ShortToken", "#\nalarm:0123456789abcde\n",
     "t:2: the token of 'alarm' must be 16 to 256 printable characters without blanks"},
    {"BlankInToken", "alarm:01234567 89abcdef\n",
     "t:1: the token of 'alarm' must be 16 to 256 printable characters without blanks"},
    {"BadName", "ward/3:0123456789abcdef\n",
     "t:1: the client name must be 1 to 64 of A-Z a-z 0-9 . _ -"},
    {"ReservedName", "mqtt:0123456789abcdef\n", "t:1: the client name 'mqtt' is reserved"},
    {"NameTwice", "a:0123456789abcdef\na:ABCDEFGHIJKLMNOP\n",
     "t:2: client 'a' is named twice (line 1)"},
    {"TokenTwice", "a:0123456789abcdef\nb:0123456789abcdef\n",
     "t:2: 'b' has the token of 'a' (line 1)"},
    {"NoClient", "# none yet\n", "t: no client named (name:token lines)"},
};

void PrintTo(const TokenCase& c, std::ostream* out) {
    *out << c.name;
}

class TokenTable : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenTable, ReadsOrRefuses) {
    EXPECT_EQ(TokenFile::Parse(GetParam().text, "t").error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Service, TokenTable, testing::ValuesIn(kTokenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TokenFile, NamesTheClientOfAWholeTokenOnly) {
    const TokenFile::Loaded loaded =
        TokenFile::Parse("alarm:0123456789abcdef\nbms:ABCDEFGHIJKLMNOP\n", "t");
    ASSERT_EQ(loaded.error, "");
    EXPECT_EQ(loaded.tokens.ClientFor("ABCDEFGHIJKLMNOP"), "bms");
    EXPECT_EQ(loaded.tokens.ClientFor("0123456789abcdef"), "alarm");
    for (const char* wrong : {"", "0123456789abcde", "0123456789abcdef0", "abcdefghijklmnop"})
        EXPECT_EQ(loaded.tokens.ClientFor(wrong), std::nullopt) << wrong;
}

TEST(TokenFile, OnlyAPrivateRegularFileIsRead) {
    test::TempDir tmp;
    const fs::path file = tmp.path() / "tokens";
    test::WriteFileBytes(file, "alarm:0123456789abcdef\n");
    for (const mode_t mode : {0600, 0400, 0640, 0620, 0604, 0602}) {
        ::chmod(file.c_str(), mode);
        const bool refused = (mode & 066) != 0;
        EXPECT_EQ(TokenFile::Load(file).error,
                  refused ? file.string() + ": group or others may read or write it (chmod 600 " +
                                file.string() + ")"
                          : "")
            << std::oct << mode;
    }
    EXPECT_EQ(TokenFile::Load(tmp.path() / "none").error,
              (tmp.path() / "none").string() + ": no such file");
    EXPECT_EQ(TokenFile::Load(tmp.path()).error, tmp.path().string() + ": not a regular file");
}

}  // namespace
}  // namespace zelvano::service
