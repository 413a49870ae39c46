// A pager call, its states and one position of the call buffer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelvano {

inline constexpr int kCallBufferSize = 10;
// The most characters a call's text may have (the call window's text box
// holds no more). Its call block then takes about a second on a 9600 bit/s
// line and fits the 5 s the engine waits for its ACK from 2400 bit/s up.
inline constexpr int kMaxCallTextLength = 1000;

// Free marks an empty position; the others are shown by their text.
enum class CallState {
    Free,
    New,
    Queue,
    Busy,
    Paged,
    Absent,
    Terminated,
    SpeechPaged,
    NoStatus,
    Error,
};

// "", "NEW", "QUEUE", "BUSY", "PAGED", "ABSENT", "TERMINATED", "SPEECHPAGED",
// "NO STATUS", "ERROR".
std::string_view StateText(CallState state);
// The state no later news changes: the slave's final words, and "NO STATUS" or
// "ERROR" when the master stopped asking.
bool IsFinal(CallState state);

// What a caller asks to be paged: the fields of the call block as text.
struct CallRequest {
    std::string address;
    std::string text;
    std::string bleep;
    std::string priority;
    std::string callType;
    std::string transmissions;
};

struct Call : CallRequest {
    CallState state = CallState::Free;
    std::int16_t timeOutCount = 0;  // seconds left while NEW or QUEUE
    // Identity of the call, so a protocol job can follow its call when removals
    // shift positions. 0 in a free position; never shown or sent.
    std::uint32_t id = 0;
    // The slave has accepted the call (ACKed its block or reported on it): a
    // call that cannot be asked about any more is then "NO STATUS", not "ERROR".
    bool delivered = false;
    // Its call block went out at least once: it can no longer be taken back.
    bool sent = false;
    // The slave answered its call block at least once (ACK or anything else),
    // so a call never delivered was refused rather than met with silence.
    bool answered = false;
    // Status jobs take turns: the call asked longest ago goes first.
    std::uint32_t statusTurn = 0;
    // Engine tick before which the call is not asked again (the slave had
    // nothing to report yet).
    std::uint32_t askAfterTick = 0;

    bool IsFree() const { return state == CallState::Free; }
};

using CallArray = std::array<Call, kCallBufferSize>;

}  // namespace zelvano
