// The call window's logic without the window: its list entries, the
// conversions from list positions to call fields, the Call and Stop buttons
// and the auto-repeat step of the buffer tick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "paging/PagingCore.h"

namespace zelvano {

// The remembered last call: the call window's defaults and what auto-repeat
// sends.
struct LastCall {
    std::string address;
    std::int16_t bleep = 1;
    std::string text;
    std::int16_t priority = 3;
    std::int16_t callType = 3;
    std::string transmissions = "1";
};

struct AutoRepeat {
    std::int16_t choice = 0;  // 0 none, n = every 10*n seconds
    bool active = false;
    std::int16_t countdown = 0;
};

// What the operator's console remembers between calls.
struct Console {
    LastCall last;
    AutoRepeat repeat;
};

inline constexpr const char* kDesignAddressText = "1234";
inline constexpr const char* kDesignText = "Enter AlfaText";

const std::vector<std::string>& BleepEntries();          // 16 entries
const std::vector<std::string>& PriorityEntries();       // 4 entries
const std::vector<std::string>& CallTypeEntries();       // 4 entries
const std::vector<std::string>& TransmissionsEntries();  // 4 entries
const std::vector<std::string>& AutoRepeatEntries();     // 7 entries

// Bleep code and transmissions: one hex digit; no selection (-1) gives "1".
std::string HexField(std::int16_t position);
// Priority and call type: decimal digits; no selection (-1) gives "1".
std::string DecimalField(std::int16_t position);
// The remembered transmissions position, sign kept: -1 stays "-1".
std::string RememberedTransmissions(std::int16_t position);

// What the call window shows or holds: the two texts and the list positions
// (-1 = no selected position).
struct CallForm {
    std::string address = kDesignAddressText;
    std::string text = kDesignText;
    std::int16_t bleep = -1;
    std::int16_t priority = -1;
    std::int16_t callType = -1;
    std::int16_t transmissions = -1;
    std::int16_t autoRepeat = -1;
    bool transmissionsEnabled = true;  // off for Philips

    bool operator==(const CallForm&) const = default;
};

// The window load: the form preset from the last call and the repeat choice.
CallForm LoadCallForm(const Console& console, const Settings& settings);
// The Call button: queues the call, remembers it and sets the repeat. A Call
// without a repeat period ends a running repeat. A list without an entry
// (-1) refuses the call, so no fallback digit is sent or remembered; nothing
// is remembered when the core refuses it either. The window closes
// afterwards (the caller's job).
Submitted PlaceCall(PagingCore& core, Console& console, const CallForm& form);
// The Stop buttons: the repeat ends and the next call window offers none.
void StopRepeat(Console& console);
// One buffer tick of the repeat: counts down and queues the last call when due.
void RepeatStep(PagingCore& core, Console& console);

}  // namespace zelvano
