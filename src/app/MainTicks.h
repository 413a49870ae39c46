// The main window's buffer tick and LED tick as plain steps over the state:
// the window only paints what they return.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "espa/ProtocolEngine.h"
#include "serial/ByteTransfer.h"
#include "windows/BufferDisplay.h"

namespace zelvano {

inline constexpr CellColor kTxOn = CellColor{CellColor::Kind::Rgb, 255, 0, 0};
inline constexpr CellColor kTxOff = CellColor{CellColor::Kind::Rgb, 128, 0, 0};
inline constexpr CellColor kRxOn = CellColor{CellColor::Kind::Rgb, 0, 255, 0};
inline constexpr CellColor kRxOff = CellColor{CellColor::Kind::Rgb, 0, 128, 0};
inline constexpr CellColor kLineOn = CellColor{CellColor::Kind::Rgb, 255, 255, 128};  // RTS and CTS
inline constexpr CellColor kLineOff = CellColor{CellColor::Kind::Rgb, 192, 192, 0};   // RTS and CTS

inline constexpr const char* kLinkOkText = "ESPA Slave OK";
inline constexpr const char* kLinkErrorText = "ERROR connecting ESPA Slave";

struct LinkLook {
    CellColor background;
    CellColor text;
    std::string_view caption;  // one of the two texts above

    bool operator==(const LinkLook&) const = default;
};

// What one LED tick paints; an empty field leaves its control as it is.
struct LedLook {
    std::optional<CellColor> tx;
    std::optional<CellColor> rx;
    std::optional<LinkLook> link;
    CellColor cts;
    CellColor rts;
};

// The link label for a link state; nothing while it is still unknown.
std::optional<LinkLook> LinkLookFor(LinkState link);

// One light's blink: on for one LED step after activity, then off.
struct Blink {
    bool active = false;
    bool phase = false;
};
struct Blinks {
    Blink tx;
    Blink rx;
};

// The LED step: takes the line's activity into the blink phases and reads the
// lines.
LedLook LedStep(Blinks& blinks, LineActivity activity, LinkState link, bool cts, bool rts);
// The link label, CTS and RTS as they are now; TxD and RxD left as they are.
LedLook LineLook(LinkState link, bool cts, bool rts);

}  // namespace zelvano
