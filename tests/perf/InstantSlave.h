// A slave that answers at once, and the fewest ticks a call needs with it.
// The measurement compares the real program's wall time with this minimum.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "buffer/CallBufferEntry.h"
#include "espa/ProtocolState.h"
#include "settings/Settings.h"
#include "support/TestApp.h"

namespace zelvano::perf {

// The status block (SOH to the check character) reporting state digit
// `stateDigit` for the pager `address`.
std::vector<std::uint8_t> StatusBlockFor(const std::string& address, char stateDigit);

// Answers whatever the engine waits for as soon as it starts waiting, so every
// answer is there at the next tick: ACK to selects, blocks and line checks,
// '1' ENQ to a status poll, the status block after the master's ACK.
class InstantSlave {
  public:
    InstantSlave(App& app, test::FakeSerialLine& line, char stateDigit = '3')
        : app_(app), line_(line), stateDigit_(stateDigit) {}

    // Call after each tick.
    void AfterTick();

  private:
    App& app_;
    test::FakeSerialLine& line_;
    char stateDigit_;
    std::int16_t lastStep_ = -1;
};

// What the engine looked like when a call was entered.
struct EngineSnapshot {
    ProtocolState espa;
    Settings settings;
    CallBufferArray buffer;
    std::uint32_t nextCallId = 1;
};

// Ticks until the call at `position` leaves "NEW" and "QUEUE" when the slave
// answers at once; nothing when it does not within `limit` ticks.
std::optional<int> MinimumTicks(const EngineSnapshot& snapshot, int position, int limit = 2000);

}  // namespace zelvano::perf
