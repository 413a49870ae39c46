// The operator's configuration. Every field but EspaEnable is a position in a
// fixed list of the settings window, not a physical value.
#pragma once

#include <array>
#include <cstdint>

namespace zelvano {

struct Settings {
    std::int16_t Compoort = 0;
    std::int16_t Emulatie = 0;
    std::int16_t BaudRate = 0;
    std::int16_t Parity = 0;
    std::int16_t Bits = 0;
    std::int16_t StopBits = 0;
    std::int16_t HandShake = 0;
    std::int16_t LineCheck = 0;
    std::int16_t CallStatusCheck = 0;
    std::int16_t Logfile = 0;
    std::int16_t CheckInterval = 0;
    std::array<std::int16_t, 6> EspaSet{};
    std::int16_t EspaEnable = 0;

    bool operator==(const Settings&) const = default;
};

}  // namespace zelvano
