// espa.set: the settings record as eighteen CRLF lines in the data folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "settings/Settings.h"

namespace zelvano {

std::filesystem::path SettingsPath(const std::filesystem::path& dataDir);

// The record read from the bytes of a settings file by the reading rules.
Settings ParseSettings(std::string_view fileBytes);
// The exact bytes of a settings file for the record.
std::string FormatSettings(const Settings& settings);

// All-zero record when the file is missing or unreadable; never creates it.
// A file that is there but no regular file of at most 16 kB, or cannot be
// read, is not read, and problem (when given) says why, naming the file.
Settings ReadSettingsFile(const std::filesystem::path& file, std::string* problem = nullptr);
// Writes through a temporary file renamed over the old one: on any failure the
// old file stays whole. A link is followed (the temporary file goes beside its
// target); a read-only file is left alone. Returns false on failure.
bool WriteSettingsFile(const std::filesystem::path& file, const Settings& settings);

// Why a save through the link at file is refused: a link in the chain or its
// target belongs to another user; empty when file is no link or all is ours.
std::string SettingsLinkRefusal(const std::filesystem::path& file);

// True for an existing file the user may not (or, having no write bit, should
// not) write: an administrator's lock on the settings.
bool SettingsFileLocked(const std::filesystem::path& file);

}  // namespace zelvano
