// One position of the call buffer and the buffer itself.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zelvano {

inline constexpr int kCallBufferSize = 10;

struct CallBufferEntry {
    std::string Address;
    std::string Alfa;
    std::string Bleep;
    std::string Priority;
    std::string CallType;
    std::string NrOfTx;
    std::string Status;  // "" marks a free position
    std::int16_t TimeOutCount = 0;
    // Identity of the call, so a protocol job can follow its call when removals
    // shift positions. 0 in a free position; never shown or sent.
    std::uint32_t CallId = 0;

    bool IsFree() const { return Status.empty(); }
};

using CallBufferArray = std::array<CallBufferEntry, kCallBufferSize>;

}  // namespace zelvano
