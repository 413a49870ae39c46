#include "serial/LineSettings.h"

#include <array>
#include <charconv>

namespace zelvano {
namespace {

constexpr std::size_t kFieldCount = 4;
// Far above any serial speed, far below int overflow.
constexpr int kMaxBaudRate = 100'000'000;

// The four comma-separated fields; nothing when there are more or fewer.
std::optional<std::array<std::string_view, kFieldCount>> SplitFields(std::string_view text) {
    std::array<std::string_view, kFieldCount> fields;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        const auto comma = text.find(',');
        const bool last = i + 1 == kFieldCount;
        if (last != (comma == std::string_view::npos))
            return std::nullopt;
        fields[i] = text.substr(0, comma);
        if (!last)
            text.remove_prefix(comma + 1);
    }
    return fields;
}

std::optional<int> WholeNumber(std::string_view s) {
    int value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

std::optional<ParityMode> ParseParity(std::string_view s) {
    if (s.size() != 1)
        return std::nullopt;
    switch (s[0] | 0x20) {  // ASCII lower case
        case 'n':
            return ParityMode::None;
        case 'e':
            return ParityMode::Even;
        case 'o':
            return ParityMode::Odd;
        case 'm':
            return ParityMode::Mark;
        case 's':
            return ParityMode::Space;
        default:
            return std::nullopt;
    }
}

std::optional<StopBitsMode> ParseStopBits(std::string_view s) {
    if (s == "1")
        return StopBitsMode::One;
    if (s == "1.5")
        return StopBitsMode::OneAndHalf;
    if (s == "2")
        return StopBitsMode::Two;
    return std::nullopt;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(std::string_view text) {
    const auto fields = SplitFields(text);
    if (!fields)
        return std::nullopt;
    const auto baud = WholeNumber((*fields)[0]);
    const auto parity = ParseParity((*fields)[1]);
    const auto bits = WholeNumber((*fields)[2]);
    const auto stop = ParseStopBits((*fields)[3]);
    if (!baud || *baud <= 0 || *baud > kMaxBaudRate)
        return std::nullopt;
    if (!parity || !bits || *bits < 5 || *bits > 8 || !stop)
        return std::nullopt;
    return LineSettings{*baud, *parity, *bits, *stop};
}

}  // namespace zelvano
