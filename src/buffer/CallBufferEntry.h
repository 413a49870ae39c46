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
    // The slave has accepted the call (ACKed its block or reported on it): a
    // call that cannot be asked about any more is then "NO STATUS", not "ERROR".
    bool Delivered = false;
    // Status jobs take turns: the call asked longest ago goes first.
    std::uint32_t StatusTurn = 0;
    // Engine tick before which the call is not asked again (the slave had
    // nothing to report yet).
    std::uint32_t AskAfterTick = 0;

    bool IsFree() const { return Status.empty(); }
};

using CallBufferArray = std::array<CallBufferEntry, kCallBufferSize>;

}  // namespace zelvano
