#include "FaultRule.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace zelvano::slave {

namespace {

std::optional<int> ParsePositive(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1)
        return std::nullopt;
    return value;
}

// A number from 0 to top; strtod on a copy, as the text is not terminated.
std::optional<double> ParseNumber(std::string_view text, double top) {
    const std::string copy(text);
    if (copy.empty() || copy.front() == ' ')
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !(value >= 0.0) || value > top)
        return std::nullopt;
    return value;
}

std::optional<FaultRule> CountRule(FaultRule::Mode mode, std::string_view value) {
    const auto count = ParsePositive(value);
    if (!count)
        return std::nullopt;
    return FaultRule{mode, *count, 0.0};
}

std::optional<FaultRule> ParseKeyed(std::string_view key, std::string_view value) {
    if (key == "every")
        return CountRule(FaultRule::Mode::Every, value);
    if (key == "first")
        return CountRule(FaultRule::Mode::First, value);
    if (key == "after")
        return CountRule(FaultRule::Mode::After, value);
    if (key == "prob") {
        const auto chance = ParseNumber(value, 1.0);
        if (chance)
            return FaultRule{FaultRule::Mode::Chance, 0, *chance};
    }
    return std::nullopt;
}

// 2 -> "2nd", 11 -> "11th", 23 -> "23rd".
std::string Ordinal(int n) {
    const int lastTwo = n % 100;
    const char* suffix = "th";
    if (lastTwo < 11 || lastTwo > 13) {
        if (n % 10 == 1)
            suffix = "st";
        else if (n % 10 == 2)
            suffix = "nd";
        else if (n % 10 == 3)
            suffix = "rd";
    }
    return std::to_string(n) + suffix;
}

}  // namespace

std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error) {
    std::optional<FaultRule> rule;
    if (text == "always") {
        rule = FaultRule{FaultRule::Mode::Always, 0, 0.0};
    } else if (text == "never") {
        rule = FaultRule{};
    } else if (!text.empty() && text.back() == '%') {
        const auto percent = ParseNumber(text.substr(0, text.size() - 1), 100.0);
        if (percent)
            rule = FaultRule{FaultRule::Mode::Chance, 0, *percent / 100.0};
    } else if (const auto equals = text.find('='); equals != std::string_view::npos) {
        rule = ParseKeyed(text.substr(0, equals), text.substr(equals + 1));
    }
    if (!rule)
        error = "bad WHEN \"" + std::string(text) +
                "\" (always, never, every=N, first=N, after=N, prob=0..1 or N%)";
    return rule;
}

bool Strikes(const FaultRule& rule, long occurrence, std::mt19937& rng) {
    switch (rule.mode) {
        case FaultRule::Mode::Never:
            return false;
        case FaultRule::Mode::Always:
            return true;
        case FaultRule::Mode::Every:
            return occurrence % rule.count == 0;
        case FaultRule::Mode::First:
            return occurrence <= rule.count;
        case FaultRule::Mode::After:
            return occurrence > rule.count;
        case FaultRule::Mode::Chance:
            return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < rule.chance;
    }
    return false;
}

std::string DescribeFaultRule(const FaultRule& rule) {
    switch (rule.mode) {
        case FaultRule::Mode::Never:
            return "never";
        case FaultRule::Mode::Always:
            return "always";
        case FaultRule::Mode::Every:
            return rule.count == 1 ? "always" : "every " + Ordinal(rule.count) + " time";
        case FaultRule::Mode::First:
            return "the first " + std::to_string(rule.count) + " times";
        case FaultRule::Mode::After:
            return "after the first " + std::to_string(rule.count) + " times";
        case FaultRule::Mode::Chance: {
            char text[32];
            std::snprintf(text, sizeof text, "%g%% of the time", rule.chance * 100.0);
            return text;
        }
    }
    return "never";
}

}  // namespace zelvano::slave
