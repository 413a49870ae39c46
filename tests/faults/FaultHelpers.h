// Helper processes of the fault matrix: the same program started with one
// of these options plays the other side of a fault and runs until killed.
#pragma once

#include <filesystem>

#include "settings/Settings.h"

namespace zelvano::faults {

// The two records the save loops alternate between; they differ in a field
// whose text changes length, so a torn file cannot pass for either.
Settings SavedRecordA();
Settings SavedRecordB();
// The interval list positions behind the two records.
inline constexpr int kIntervalA = 3;
inline constexpr int kIntervalB = 14;

// "--hold-port DEVICE": opens the device with QSerialPort and keeps it.
int HoldPort(const char* device);
// "--write-loop FILE": writes the two records in turn for ever.
int WriteLoop(const std::filesystem::path& file);
// "--save-loop DIR": the real program over DIR, pressing Save in the settings
// window for ever with the two interval choices in turn.
int SaveLoop(const std::filesystem::path& dataDir);

}  // namespace zelvano::faults
