#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zelvano {

// The last ten event lines on show; slot 0 is the top line.
struct ScreenLog {
    std::array<std::string, 10> LogLines;
    std::int16_t LogLineCount = 0;
};

}  // namespace zelvano
