// A line settings string such as "9600,N,8,1" taken apart for a serial
// library.
#pragma once

#include <optional>
#include <string_view>

namespace zelvano {

enum class ParityMode { None, Even, Odd, Mark, Space };
enum class StopBitsMode { One, OneAndHalf, Two };

struct LineSettings {
    int baudRate = 9600;
    ParityMode parity = ParityMode::None;
    int dataBits = 8;
    StopBitsMode stopBits = StopBitsMode::One;

    bool operator==(const LineSettings&) const = default;
};

// "speed,parity,data bits,stop bits" without blanks: speed a positive whole
// number, parity one of N E O M S (any case), data bits 5..8, stop bits 1,
// 1.5 or 2. Nothing for any other text.
std::optional<LineSettings> ParseLineSettings(std::string_view text);

}  // namespace zelvano
