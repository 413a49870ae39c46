#include "StatusScript.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "common/Text.h"
#include "espa/EspaFormat.h"

namespace zelvano::slave {

namespace {

constexpr int kMaxHoldPolls = 1000;

std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::optional<int> ParseCount(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > kMaxHoldPolls)
        return std::nullopt;
    return value;
}

std::optional<ScriptStep> ParseStep(std::string_view text, std::string& error) {
    ScriptStep step;
    std::string_view state = Trim(text);
    if (const auto colon = state.find(':'); colon != std::string_view::npos) {
        const auto hold = ParseCount(Trim(state.substr(0, colon)));
        if (!hold) {
            error = "bad poll count in \"" + std::string(text) + "\" (0.." +
                    std::to_string(kMaxHoldPolls) + ")";
            return std::nullopt;
        }
        step.holdPolls = *hold;
        state = Trim(state.substr(colon + 1));
    }
    const auto digit = StatusDigit(state);
    if (!digit) {
        error = "unknown state \"" + std::string(state) + "\"";
        return std::nullopt;
    }
    step.digit = *digit;
    return step;
}

}  // namespace

StatusScript DefaultStatusScript() {
    return {{0, '2'}, {2, '3'}};
}

const StatusScript& ScriptTable::For(const std::string& address) const {
    const auto it = byAddress.find(address);
    return it == byAddress.end() ? fallback : it->second;
}

std::optional<char> StatusDigit(std::string_view name) {
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9')
        return name[0];
    const std::string wanted = Upper(name);
    if (wanted.empty())
        return std::nullopt;
    // The names are the master's own words for the digits, so both ends agree.
    for (char digit = '0'; digit <= '9'; ++digit) {
        if (StatusWord(digit) == wanted)
            return digit;
    }
    return std::nullopt;
}

std::string StatusWord(char digit) {
    const char block[] = {'7', static_cast<char>(US), digit};
    return std::string(StateText(ParseCallStatus(std::string_view(block, sizeof block))));
}

std::optional<StatusScript> ParseStatusScript(std::string_view text, std::string& error) {
    StatusScript script;
    if (Upper(Trim(text)) == "NONE")
        return script;
    while (true) {
        const auto comma = text.find(',');
        const auto step = ParseStep(text.substr(0, comma), error);
        if (!step)
            return std::nullopt;
        script.push_back(*step);
        if (comma == std::string_view::npos)
            return script;
        text.remove_prefix(comma + 1);
    }
}

bool AddScriptOption(ScriptTable& table, std::string_view option, std::string& error) {
    // NONE alone stands for DEFAULT=NONE: calls report nothing.
    if (Upper(Trim(option)) == "NONE") {
        table.fallback.clear();
        return true;
    }
    const auto equals = option.find('=');
    if (equals == std::string_view::npos) {
        error = "expected ADDRESS=STATES, got \"" + std::string(option) + "\"";
        return false;
    }
    const std::string address(Trim(option.substr(0, equals)));
    auto script = ParseStatusScript(option.substr(equals + 1), error);
    if (!script)
        return false;
    if (address == "*" || Upper(address) == "DEFAULT")
        table.fallback = std::move(*script);
    else
        table.byAddress[address] = std::move(*script);
    return true;
}

std::string DescribeScript(const StatusScript& script) {
    if (script.empty())
        return "no reports";
    std::string out;
    for (const ScriptStep& step : script) {
        if (!out.empty())
            out += ", ";
        if (step.holdPolls > 0)
            out += std::to_string(step.holdPolls) + (step.holdPolls == 1 ? " poll" : " polls") +
                   " EOT, ";
        out += StatusWord(step.digit);
        if (StatusWord(step.digit) == "ERROR")
            out += std::string(" (") + step.digit + ")";
    }
    return out;
}

}  // namespace zelvano::slave
