// The line as zelvano-call's command line and zelvanod's configuration name
// it: the port, and the settings fields given by word (speed, parity, ...),
// with the same words and messages in both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/Settings.h"

namespace zelvano {

// One settings field named by a word; a word's position in words is the
// field's value (a position in the settings window's list).
struct LineOption {
    const char* name;       // "speed"
    const char* valueName;  // "N"
    std::vector<std::string> words;
    std::int16_t Settings::*field;
    std::string meaning;  // a note for the help text, "" or " (...)"
};

// speed, parity, bits, stopbits, handshake, emulation, line-check,
// status-check, log-level.
const std::vector<LineOption>& LineOptions();

// The words joined with between.
std::string JoinWords(const std::vector<std::string>& words, const char* between);

// The position of value among words (any case); -1 when it is none of them,
// and why in problem.
std::int16_t WordPosition(const std::vector<std::string>& words, const std::string& value,
                          std::string& problem);

// Why port cannot name a line (COMn, a device or tcp://HOST:PORT); "" when it can.
std::string PortProblem(const std::string& port);

// Port number 1..8 of a "COMn" port (any case), or 0 for a device.
int ComPortNumber(const std::string& port);

}  // namespace zelvano
