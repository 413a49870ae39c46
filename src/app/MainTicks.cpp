#include "app/MainTicks.h"

#include "app/App.h"
#include "buffer/CallBuffer.h"
#include "serial/Datacom.h"
#include "windows/CallEntry.h"

namespace zelvano {

namespace {

// One blink step: an active line shows "on" for one tick, then "off" while
// the flag is cleared; an idle line is left as it is.
std::optional<CellColor> BlinkStep(bool& active, bool& phase, CellColor on, CellColor off) {
    if (!active) {
        return std::nullopt;
    }
    if (!phase) {
        phase = true;
        return on;
    }
    phase = false;
    active = false;
    return off;
}

}  // namespace

std::optional<LinkLook> LinkLookFor(std::int16_t lineOk) {
    if (lineOk < 0) {
        return std::nullopt;
    }
    if (lineOk == 1) {
        return LinkLook{CellColor::ButtonFace(), CellColor::Rgb(0, 0, 0), kLinkOkText};
    }
    return LinkLook{CellColor::Rgb(255, 0, 0), CellColor::Rgb(255, 255, 255), kLinkErrorText};
}

LedLook LedTimer_Timer(App& app) {
    LineActivity& activity = app.activity;
    LedLook look = LineLook(app);
    look.tx = BlinkStep(activity.TxdActive, activity.TxdLedPhase, kTxOn, kTxOff);
    look.rx = BlinkStep(activity.RxdActive, activity.RxdLedPhase, kRxOn, kRxOff);
    return look;
}

LedLook LineLook(App& app) {
    LedLook look;
    look.link = LinkLookFor(app.espa.LineOk);
    look.cts = CtsState(app) > 0 ? kLineOn : kLineOff;
    look.rts = RtsState(app) > 0 ? kLineOn : kLineOff;
    return look;
}

void TmrBuffer_Timer(App& app) {
    CheckBufferTimeOuts(app);
    AutoRepeatStep(app);
    RetryLine(app);
}

}  // namespace zelvano
