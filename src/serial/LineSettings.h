// Speed, parity, data bits and stop bits of a serial line.
#pragma once

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

}  // namespace zelvano
