// Everything that shapes the simulated paging system's answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FaultRule.h"
#include "StatusScript.h"

namespace zelvano::slave {

// Misbehaviours on demand, each with its own rule of when it strikes.
enum class Fault : std::size_t {
    NakBlock,  // answer a good call or status call block with NAK
    BadBcc,    // send the status block with a wrong check character
    Noise,     // put 1 to 3 random bytes in front of an answer
};
inline constexpr std::size_t kFaultCount = 3;

struct SlaveConfig {
    ScriptTable scripts;
    std::array<FaultRule, kFaultCount> faults{};
    int delayMinMs = 0;  // every answer waits a random time in [min, max]
    int delayMaxMs = 0;
    int splitPieces = 1;  // the status block and '1' NAK EOT go out in this many pieces
    int splitGapMs = 0;   // ... this far apart
    bool silent = false;  // answer nothing at all
    std::uint32_t seed = 1;
    int replyTimeoutMs = 3000;    // wait for the master's ACK, or a block's end
    int forgetAfterMs = 120'000;  // a call without news this long is forgotten

    // Ways a real paging system falls short of a full slave; all off by default.
    bool refuseStatusCall = false;  // a status call block gets '1' NAK EOT, not ACK
    int refuseDelayMs = 3000;       // ... this long after the block
    bool noStatus = false;          // every poll gets EOT, whatever the scripts say
    std::string stray;              // bytes sent, unasked, after a line check's answer
    bool asciiOnly = false;         // a block holding a byte >= 0x80 gets NAK
    bool refuseEmptyText = false;   // a block without text (record 2) gets NAK
    int eotDelayMs = 0;             // EOT answers to polls come this much later

    FaultRule& Rule(Fault fault) { return faults[static_cast<std::size_t>(fault)]; }
    const FaultRule& Rule(Fault fault) const { return faults[static_cast<std::size_t>(fault)]; }
};

}  // namespace zelvano::slave
