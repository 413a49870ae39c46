// Window sizes and positions are laid out in twips (1/1440 inch) and turned
// into pixels with the screen's logical resolution.
#pragma once

namespace zelvano {

inline constexpr int kTwipsPerInch = 1440;

// Rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int logicalDpi) {
    const long scaled = static_cast<long>(twips) * logicalDpi;
    return static_cast<int>(scaled >= 0 ? (scaled + kTwipsPerInch / 2) / kTwipsPerInch
                                        : -((-scaled + kTwipsPerInch / 2) / kTwipsPerInch));
}

}  // namespace zelvano
