#pragma once

#include <cstdint>
#include <string>

namespace zelvano {

// Working state of the protocol engine.
struct ProtocolState {
    std::int16_t EspaState = 0;     // step number, 0 = idle
    std::int16_t EspaTimer = 0;     // countdown in ticks for the current step
    std::int16_t EspaPosition = 0;  // buffer position the current job serves
    std::int16_t ScanDelay = 0;     // ticks before the scheduler scans again
    std::int16_t RetryCount = 0;    // retries left for the current job
    std::int16_t Bcc = 0;           // running block check character
    std::string StatusBlock;        // status block being received (raw bytes)
    std::int16_t LineOk = -1;       // -1 unknown, 1 slave answers, 0 failed
    std::int16_t CheckCountdown = 0;
    // The call the current (or last) job serves, so its result follows the
    // call when removals shift positions; 0 when none.
    std::uint32_t EspaCallId = 0;
    // True while a status block announced by '1' on the line-check poll is
    // received: it may only land on the position last served if that position
    // still holds the call last served.
    bool StatusViaLineCheck = false;
    std::uint32_t TickCount = 0;         // HandleEspa calls so far
    std::uint32_t StatusTurns = 0;       // status jobs started so far
    bool StatusCallRefusalTold = false;  // the hint about refused SOH3 is logged once
};

// Line activity flags, set by the byte transfer and shown by the LED tick.
struct LineActivity {
    bool TxdActive = false;
    bool RxdActive = false;
    bool TxdLedPhase = false;
    bool RxdLedPhase = false;
};

}  // namespace zelvano
