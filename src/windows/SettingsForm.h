// The settings window's logic without the window: its list entries, the
// record-to-lists and lists-to-record rules, and Save.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/Settings.h"

namespace zelvano {

// One single list of the settings window and the record field it stands for.
struct SettingsCombo {
    const char* name;                  // object name of the list
    std::vector<std::string> entries;  // position 0 first
    std::int16_t fallback;             // shown for a value outside the list; -1 = none
    std::int16_t Settings::*field;
};

inline constexpr int kSingleComboCount = 11;
inline constexpr int kBlockFieldCount = 6;

// The eleven single lists, in window order.
const std::vector<SettingsCombo>& SingleCombos();
// The seven entries of each ComboEspaTrans list.
const std::vector<std::string>& BlockFieldEntries();
// "Check 100ms Interval" .. "Check 2100ms Interval".
std::vector<std::string> CheckIntervalEntries();

// The selections of all lists and the tick box (-1 = no selected entry).
struct SettingsSelection {
    std::array<std::int16_t, kSingleComboCount> single{};  // SingleCombos() order
    std::array<std::int16_t, kBlockFieldCount> blockFields{};
    bool variableBlock = false;

    bool operator==(const SettingsSelection&) const = default;
};

// The position a field value selects in a list of count entries.
std::int16_t ComboPosition(std::int16_t value, std::size_t count, std::int16_t fallback);

// Record to lists, with the fallback positions.
SettingsSelection UpdateCombo(const Settings& settings);
// Lists to record: each field the position of its list (-1 for none),
// variableBlock 1 when ticked, else 0.
Settings ComboToSettings(const SettingsSelection& selection);

// Save from step 3 on: the record takes the new values, espa.set is written,
// the main window takes its height, the port is closed and opened again, then
// either the port error box or the start request to the protocol handler.

}  // namespace zelvano
