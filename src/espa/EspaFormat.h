// ESPA blocks: the data part of call and status call blocks, the block check
// character and the status words. Pure functions, shared with espa-slave.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "buffer/Call.h"
#include "settings/Settings.h"

namespace zelvano {

// One record of the configurable layout followed by RS, or "" for item 0 or
// any value outside 1..6.
std::string BuildEspaRecord(std::int16_t item, const CallRequest& entry);
// The data part (records and ETX) for a call, as UTF-8 text.
std::string BuildEspaData(const Settings& settings, const CallRequest& entry);

// One record of a block: its identifier digit and its value (UTF-8).
struct EspaRecord {
    char id;
    std::string value;
};
// The records of the data part in block order, without separators.
std::vector<EspaRecord> EspaRecords(const Settings& settings, const CallRequest& entry);

// True when every character of the values that go into the block has a
// single-byte code of 0x20 or above: a control character in a value would
// break the block's framing, a character without a code cannot be sent.
bool BlockValuesSendable(const Settings& settings, const CallRequest& entry);

// Exclusive or of every byte.
std::uint8_t BlockCheck(std::string_view bytes);

// The call state a received status block reports (bytes after SOH, before
// ETX); "ERROR" for a state character the master does not know.
CallState ParseCallStatus(std::string_view statusBlock);

}  // namespace zelvano
