// A call taken by the paging service: the caller's request and everything that
// became of it, as the journal keeps it and the API shows it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buffer/Call.h"

namespace zelvano {

// Words beyond the buffer's own: the service gave up on a call it could not
// send in time, or its caller took it back.
inline constexpr std::string_view kExpiredWord = "EXPIRED";
inline constexpr std::string_view kCancelledWord = "CANCELLED";

// Milliseconds since 1970 (UTC).
using EpochMs = std::int64_t;

struct HistoryEntry {
    std::string state;  // "NEW", "QUEUE", "PAGED", ..., "EXPIRED", "CANCELLED"
    EpochMs at = 0;
    std::string note;  // why, where the state alone does not say ("resent after a restart")
};

struct ServiceCall {
    std::int64_t id = 0;  // the journal's identity, never reused
    CallRequest request;
    std::string client;  // who asked: a token's name, "local" or "anonymous"
    std::string key;     // the caller's idempotency key, empty when none
    std::string state = "NEW";
    bool final = false;      // no later news changes it
    bool delivered = false;  // the slave accepted its block
    bool sent = false;       // its block went out (in this run or before a restart)
    int resends = 0;         // times it was sent again because a restart lost its answer
    EpochMs created = 0;
    EpochMs updated = 0;
    std::vector<HistoryEntry> history;
};

}  // namespace zelvano
