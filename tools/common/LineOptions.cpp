#include "LineOptions.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "serial/PortMap.h"
#include "windows/SettingsForm.h"

namespace zelvano {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// The entries of a settings window list, so the line takes the same speeds,
// parities and bit counts the window offers.
std::vector<std::string> ComboEntries(std::string_view name) {
    for (const SettingsCombo& combo : SingleCombos()) {
        if (combo.name == name)
            return combo.entries;
    }
    return {};
}

}  // namespace

const std::vector<LineOption>& LineOptions() {
    static const std::vector<LineOption> options = {
        {"speed", "N", ComboEntries("ComboBaud"), &Settings::baudRate, ""},
        {"parity", "N|E|O", ComboEntries("ComboParity"), &Settings::parity, ""},
        {"bits", "7|8", ComboEntries("ComboBits"), &Settings::dataBits, ""},
        {"stopbits", "1|2", ComboEntries("ComboStop"), &Settings::stopBits, ""},
        {"handshake",
         "NAME",
         {"none", "rts", "rtscts"},
         &Settings::handshake,
         " (rts: no handshake, RTS held active)"},
        {"emulation",
         "NAME",
         {"philips", "ascom", "medicall", "datacall", "ooperon", "commtech"},
         &Settings::emulation,
         ""},
        {"line-check",
         "NAME",
         {"both", "poll"},
         &Settings::lineCheck,
         " ('1' ENQ '2' ENQ, or '2' ENQ only)"},
        {"status-check",
         "NAME",
         {"soh3", "poll", "none"},
         &Settings::statusCheck,
         " (a status call then a poll, a poll only, none)"},
        {"log-level",
         "N",
         {"0", "1", "2", "3"},
         &Settings::logLevel,
         " (0 none, 1 progress, 2 also the Log/ day file, 3 also the byte trace in "
         "DebugLog/)"},
    };
    return options;
}

std::string JoinWords(const std::vector<std::string>& words, const char* between) {
    std::string all;
    for (const std::string& word : words)
        all += (all.empty() ? "" : between) + word;
    return all;
}

std::int16_t WordPosition(const std::vector<std::string>& words, const std::string& value,
                          std::string& problem) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (Lower(words[i]) == Lower(value))
            return static_cast<std::int16_t>(i);
    }
    problem = "'" + value + "' is not one of " + JoinWords(words, ", ");
    return -1;
}

std::string PortProblem(const std::string& port) {
    if (port.empty())
        return "no port given";
    if (IsTcpDevice(port) && !ParseTcpTarget(port))
        return "'" + port + "' is not tcp://HOST:PORT (an IPv6 HOST in brackets)";
    if (Lower(port).starts_with("com") && ComPortNumber(port) == 0 &&
        port.find('/') == std::string::npos)
        return "'" + port + "': port numbers go from COM1 to COM8";
    return "";
}

int ComPortNumber(const std::string& port) {
    const std::string lower = Lower(port);
    if (lower.size() == 4 && lower.starts_with("com") && lower[3] >= '1' && lower[3] <= '8')
        return lower[3] - '0';
    return 0;
}

}  // namespace zelvano
