#include "app/MainTicks.h"

namespace zelvano {

namespace {

// One blink step: an active line shows "on" for one tick, then "off" while
// the flag is cleared; an idle line is left as it is.
std::optional<CellColor> BlinkStep(Blink& blink, CellColor on, CellColor off) {
    if (!blink.active)
        return std::nullopt;
    if (!blink.phase) {
        blink.phase = true;
        return on;
    }
    blink.phase = false;
    blink.active = false;
    return off;
}

}  // namespace

std::optional<LinkLook> LinkLookFor(LinkState link) {
    if (link == LinkState::Unknown)
        return std::nullopt;
    if (link == LinkState::Up)
        return LinkLook{CellColor::ButtonFace(), CellColor::Rgb(0, 0, 0), kLinkOkText};
    return LinkLook{CellColor::Rgb(255, 0, 0), CellColor::Rgb(255, 255, 255), kLinkErrorText};
}

LedLook LedStep(Blinks& blinks, LineActivity activity, LinkState link, bool cts, bool rts) {
    blinks.tx.active |= activity.sent;
    blinks.rx.active |= activity.received;
    LedLook look = LineLook(link, cts, rts);
    look.tx = BlinkStep(blinks.tx, kTxOn, kTxOff);
    look.rx = BlinkStep(blinks.rx, kRxOn, kRxOff);
    return look;
}

LedLook LineLook(LinkState link, bool cts, bool rts) {
    LedLook look;
    look.link = LinkLookFor(link);
    look.cts = cts ? kLineOn : kLineOff;
    look.rts = rts ? kLineOn : kLineOff;
    return look;
}

}  // namespace zelvano
