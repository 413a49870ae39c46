// How a buffer row's state cell looks, and the double-click removal rule.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "buffer/Call.h"

namespace zelvano {

struct CellColor {
    enum class Kind { Rgb, WindowText, ButtonFace };
    Kind kind = Kind::Rgb;
    std::uint8_t r = 0, g = 0, b = 0;

    static CellColor Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        return CellColor{Kind::Rgb, r, g, b};
    }
    static CellColor WindowText() { return CellColor{Kind::WindowText, 0, 0, 0}; }
    static CellColor ButtonFace() { return CellColor{Kind::ButtonFace, 0, 0, 0}; }
    bool operator==(const CellColor&) const = default;
};

struct StateCell {
    std::string caption;
    CellColor text;
    CellColor background;
    std::string toolTip;
};

StateCell StateCellFor(CallState state);

// A double-click on a state cell removes the call for these states only.
bool CanRemoveByDoubleClick(CallState state);

}  // namespace zelvano
