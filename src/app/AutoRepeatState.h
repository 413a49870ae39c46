#pragma once

#include <cstdint>
#include <string>

namespace zelvano {

// The remembered last call: the call window's defaults and what auto-repeat sends.
struct LastCallRecord {
    std::string Address;
    std::int16_t BleepIndex = 0;
    std::string Alfa;
    std::int16_t PriorityIndex = 0;
    std::int16_t CallTypeIndex = 0;
    std::string NrOfTx;
};

struct AutoRepeatState {
    std::int16_t AutoRepeatChoice = 0;  // 0 none, n = every 10*n seconds
    std::int16_t AutoRepeatActive = 0;  // 1 while running
    std::int16_t AutoRepeatCountdown = 0;
};

}  // namespace zelvano
