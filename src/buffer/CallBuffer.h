// The ten-position call buffer: calls wait here until the slave has said what
// became of them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "buffer/Call.h"
#include "common/Clock.h"
#include "log/Log.h"

namespace zelvano {

// A call entered, changed state or left the buffer (to is Free then).
struct CallChange {
    std::uint32_t id = 0;
    CallState from = CallState::Free;
    CallState to = CallState::Free;
    bool delivered = false;
    bool expired = false;  // the call's time-out ended it
    LocalDateTime when;
};

class CallBuffer {
  public:
    static constexpr std::int16_t kCallTimeOut = 60;

    using Listener = std::function<void(const CallChange&)>;

    explicit CallBuffer(EventLog& log) : log_(log) {}

    void SetListener(Listener listener) { listener_ = std::move(listener); }

    // Queues a call as "NEW" and returns its identity; it ends when the slave
    // has not finished with it within timeOut seconds. A full buffer first
    // gives up its first finished call, or else its oldest call.
    std::uint32_t Add(const CallRequest& request, std::int16_t timeOut = kCallTimeOut);
    // Removes the call at position; the calls below move up.
    void Remove(int position);
    // Empties every position, quietly.
    void Clear();
    // Sets a call's state and tells the listener.
    void SetState(int position, CallState state, bool expired = false);
    // One second: a call still waiting for the slave when its count runs out
    // ends "ERROR", or "NO STATUS" when the slave had accepted it.
    void CheckTimeOuts();

    const CallArray& Calls() const { return calls_; }
    const Call& At(int position) const { return calls_.at(static_cast<std::size_t>(position)); }
    // The engine's own marks on a call (delivered, turns); its state goes
    // through SetState.
    Call& At(int position) { return calls_.at(static_cast<std::size_t>(position)); }
    std::optional<int> PositionOf(std::uint32_t id) const;

  private:
    void MakeRoom();
    void Notify(const Call& call, CallState from, CallState to, bool expired = false);

    EventLog& log_;
    Listener listener_;
    CallArray calls_{};
    std::uint32_t nextId_ = 1;
};

}  // namespace zelvano
