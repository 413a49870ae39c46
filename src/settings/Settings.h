// The operator's configuration. Every field but variableBlock is a position in a
// fixed list of the settings window, not a physical value.
#pragma once

#include <array>
#include <cstdint>

namespace zelvano {

struct Settings {
    std::int16_t comPort = 0;
    std::int16_t emulation = 0;
    std::int16_t baudRate = 0;
    std::int16_t parity = 0;
    std::int16_t dataBits = 0;
    std::int16_t stopBits = 0;
    std::int16_t handshake = 0;
    std::int16_t lineCheck = 0;
    std::int16_t statusCheck = 0;
    std::int16_t logLevel = 0;
    std::int16_t checkInterval = 0;
    std::array<std::int16_t, 6> blockFields{};
    std::int16_t variableBlock = 0;  // 1: the call block carries the chosen fields

    bool operator==(const Settings&) const = default;
};

}  // namespace zelvano
