// The main window's texts and heights at start-up and quit.
#pragma once

namespace zelvano {

inline constexpr const char* kProgramTitle = "Zelvano";
inline constexpr const char* kPortErrorText = "Error setting Comport!\r\nCheck settings";
inline constexpr const char* kQuitQuestion = "You want to quit the program?";

// The screen log shows from log level 1: 9930 twips with it, 6705 without.
inline constexpr int WindowHeightTwips(int logLevel) {
    return logLevel >= 1 ? 9930 : 6705;
}

}  // namespace zelvano
