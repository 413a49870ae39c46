// Which states a call reports through the reversed poll, by pager address.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvano::slave {

// One step of a call's script: answer this many polls for the call with EOT
// ("nothing yet"), then report the status digit.
struct ScriptStep {
    int holdPolls = 0;
    char digit = '3';

    bool operator==(const ScriptStep&) const = default;
};
using StatusScript = std::vector<ScriptStep>;

// The script every call without an entry of its own gets: QUEUE at once, then
// PAGED after two polls answered with EOT.
StatusScript DefaultStatusScript();

// Scripts by pager address, and the one for all other addresses.
struct ScriptTable {
    StatusScript fallback = DefaultStatusScript();
    std::map<std::string, StatusScript> byAddress;

    const StatusScript& For(const std::string& address) const;
};

// The status digit for a state name ("PAGED", any case) or a single digit
// ("3"); nullopt for anything else.
std::optional<char> StatusDigit(std::string_view name);
// The state word the master makes of a status digit ("3" -> "PAGED").
std::string StatusWord(char digit);

// "[N:]STATE[,[N:]STATE...]" or "NONE" (never report). Sets error and
// returns nullopt on a malformed text.
std::optional<StatusScript> ParseStatusScript(std::string_view text, std::string& error);
// "ADDRESS=SCRIPT"; ADDRESS "DEFAULT" or "*" sets the fallback. False (with
// error set) on a malformed option.
bool AddScriptOption(ScriptTable& table, std::string_view option, std::string& error);

// "QUEUE, 2 polls EOT, PAGED" for the log.
std::string DescribeScript(const StatusScript& script);

}  // namespace zelvano::slave
