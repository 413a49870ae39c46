// The about window's version caption.
#pragma once

#include <string>

namespace zelvano {

// "Software version: " + major + "." + minor, plain decimal digits.
std::string VersionCaption(int major, int minor);

// The caption for the version this program was built as.
std::string ProgramVersionCaption();

}  // namespace zelvano
