#include "app/LineWatch.h"

#include "app/App.h"
#include "app/StartUp.h"
#include "espa/AfhandelEspa.h"
#include "serial/ByteTransfer.h"
#include "serial/Datacom.h"

namespace zelvano {

void EngineTick(App& app) {
    if (app.lineWatch.wanted && !app.port.IsOpen()) {
        ReportLineFailure(app);
        app.lineWatch.down = true;
        // No line, no slave: the link label says so until the line is back.
        if (app.espa.LineOk == 1)
            app.espa.LineOk = 0;
        return;
    }
    HandleEspa(app, 0);
}

void RetryLine(App& app) {
    LineWatchState& watch = app.lineWatch;
    if (!watch.wanted || app.port.IsOpen()) {
        watch.retryCountdown = kLineRetrySeconds;
        return;
    }
    ReportLineFailure(app);
    if (!app.port.Pending() && --watch.retryCountdown > 0)
        return;
    watch.retryCountdown = kLineRetrySeconds;
    if (RetryComPort(app))
        StartEngine(app);
}

}  // namespace zelvano
