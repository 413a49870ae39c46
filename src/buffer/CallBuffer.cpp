#include "buffer/CallBuffer.h"

#include <array>

#include "common/Text.h"

namespace zelvano {

namespace {

constexpr std::array<std::string_view, 10> kStateTexts = {
    "",       "NEW",        "QUEUE",       "BUSY",      "PAGED",
    "ABSENT", "TERMINATED", "SPEECHPAGED", "NO STATUS", "ERROR"};

// A full buffer may give these up to make room.
bool IsDone(CallState state) {
    return state == CallState::Absent || state == CallState::Paged ||
           state == CallState::Terminated;
}

void AppendField(std::string& line, const char* label, const std::string& value) {
    if (value.empty())
        return;
    line += label;
    line += value;
    line += ']';
}

std::string CallToBufferLine(const Call& c) {
    std::string line = "STATUS: Call to Buffer for Pager: [" + c.address + "]";
    AppendField(line, " Alfa: [", c.text);
    AppendField(line, " Bleep: [", c.bleep);
    AppendField(line, " NrOfTx: [", c.transmissions);
    AppendField(line, " Priority: [", c.priority);
    AppendField(line, " Calltype: [", c.callType);
    return line;
}

}  // namespace

std::string_view StateText(CallState state) {
    return kStateTexts.at(static_cast<std::size_t>(state));
}

bool IsFinal(CallState state) {
    return state != CallState::Free && state != CallState::New && state != CallState::Queue;
}

std::optional<int> CallBuffer::PositionOf(std::uint32_t id) const {
    for (int i = 0; i < kCallBufferSize; ++i) {
        if (id != 0 && calls_[static_cast<std::size_t>(i)].id == id)
            return i;
    }
    return std::nullopt;
}

void CallBuffer::Notify(const Call& call, CallState from, CallState to, bool expired) {
    if (listener_)
        listener_(CallChange{call.id, from, to, call.delivered, expired, log_.Now()});
}

void CallBuffer::Clear() {
    calls_ = {};
}

void CallBuffer::Remove(int position) {
    if (position < 0 || position >= kCallBufferSize)
        return;
    const Call gone = calls_[static_cast<std::size_t>(position)];
    for (int i = position; i < kCallBufferSize - 1; ++i)
        calls_[static_cast<std::size_t>(i)] = calls_[static_cast<std::size_t>(i + 1)];
    calls_.back() = Call{};
    Notify(gone, gone.state, CallState::Free);
}

// Frees the last position of a full buffer: the first finished call goes, or,
// when there is none, the oldest call. Dropping an unfinished call is logged so
// that it does not vanish unseen.
void CallBuffer::MakeRoom() {
    for (int i = 0; i < kCallBufferSize; ++i) {
        if (IsDone(calls_[static_cast<std::size_t>(i)].state)) {
            Remove(i);
            return;
        }
    }
    log_.Write(1, "STATUS: Buffer full, call dropped for Pager: [" + calls_[0].address + "]");
    Remove(0);
}

std::uint32_t CallBuffer::Add(const CallRequest& request, std::int16_t timeOut) {
    std::optional<int> target;
    for (int i = 0; i < kCallBufferSize && !target; ++i) {
        if (calls_[static_cast<std::size_t>(i)].IsFree())
            target = i;
    }
    if (!target) {
        MakeRoom();
        target = kCallBufferSize - 1;
    }
    Call& c = calls_[static_cast<std::size_t>(*target)];
    c = Call{};
    static_cast<CallRequest&>(c) = request;
    c.timeOutCount = timeOut;
    c.state = CallState::New;
    if (nextId_ == 0)
        nextId_ = 1;  // 0 marks a free position
    c.id = nextId_++;
    Notify(c, CallState::Free, CallState::New);
    log_.Write(1, CallToBufferLine(c));
    return c.id;
}

void CallBuffer::SetState(int position, CallState state, bool expired) {
    Call& c = At(position);
    const CallState from = c.state;
    c.state = state;
    Notify(c, from, state, expired);
}

void CallBuffer::CheckTimeOuts() {
    for (int i = 0; i < kCallBufferSize; ++i) {
        Call& c = calls_[static_cast<std::size_t>(i)];
        if (c.timeOutCount == 1 && (c.state == CallState::Queue || c.state == CallState::New)) {
            c.timeOutCount = 0;
            // A call the slave accepted was not lost; only its state is unknown.
            SetState(i, c.delivered ? CallState::NoStatus : CallState::Error, true);
            log_.Write(1, "Bufferpositie:  " + TrimStr(static_cast<std::int16_t>(i)) + " TimeOut.");
        }
        if (c.timeOutCount > 1)
            --c.timeOutCount;
    }
}

}  // namespace zelvano
