#include "app/StartUp.h"

#include <utility>

#include "app/App.h"
#include "buffer/CallBuffer.h"
#include "espa/AfhandelEspa.h"
#include "espa/EngineSteps.h"
#include "serial/Datacom.h"
#include "settings/SettingsFile.h"

namespace zelvano {

namespace {

constexpr int kHeightWithLog = 9930;
constexpr int kHeightWithoutLog = 6705;
constexpr std::int16_t kStartRequest = 10;

// Empty screen log, shown empty so no design-time text stays on screen.
void ClearScreenLog(App& app) {
    for (std::string& line : app.screenLog.LogLines)
        line.clear();
    app.view.ShowLogLines(app.screenLog.LogLines);
    app.screenLog.LogLineCount = 0;
}

void SetLastCallDefaults(App& app) {
    app.LastCall.Address = "";
    app.LastCall.BleepIndex = 1;
    app.LastCall.Alfa = "";
    app.LastCall.PriorityIndex = 3;
    app.LastCall.CallTypeIndex = 3;
    app.LastCall.NrOfTx = "1";
}

// A line check cut short by the reopen lost its poll or the answer with the
// old port: it starts again at once, rather than running into a time-out
// that would show the slave as lost after every Save.
void RestartCutLineCheck(App& app) {
    ProtocolState& s = app.espa;
    if (s.EspaState == engine::kLineCheckPoll || s.EspaState == engine::kLineCheckAnswer) {
        s.EspaState = engine::kLineCheckStart;
        s.EspaTimer = 0;
    }
}

}  // namespace

void InitState(App& app) {
    ClearCallBuffer(app);
    ClearScreenLog(app);
    app.espa.CheckCountdown = 0;
    app.espa.LineOk = -1;
    app.espa.EspaState = 0;
}

void ApplyWindowHeight(App& app) {
    app.view.SetWindowHeight(app.settings.Logfile >= 1 ? kHeightWithLog : kHeightWithoutLog);
}

bool ReopenComPort(App& app) {
    CloseComPort(app);
    const Settings& s = app.settings;
    const std::int16_t opened =
        OpenComPort(app, s.Compoort, s.BaudRate, s.Parity, s.Bits, s.StopBits, s.HandShake);
    // The port is tried again in the background until it opens.
    app.lineWatch.wanted = true;
    app.lineWatch.retryCountdown = kLineRetrySeconds;
    if (opened < 1) {
        // The answer is not used. A network connection still being made is
        // no error yet: it is picked up in a moment without a box.
        if (!app.port.Pending())
            app.view.ShowMessageBox(kPortErrorText, kProgramTitle);
        return false;
    }
    StartEngine(app);
    return true;
}

void StartEngine(App& app) {
    // Whatever exchange a lost line cut short is void: the line is checked
    // first, then the calls are served again (one not yet accepted anew).
    if (std::exchange(app.lineWatch.down, false) && app.espa.EspaState != engine::kIdle) {
        app.espa.EspaState = engine::kLineCheckStart;
        app.espa.EspaTimer = 0;
    }
    RestartCutLineCheck(app);
    HandleEspa(app, kStartRequest);
}

void StartUp(App& app) {
    InitState(app);
    ReadSettings(app);
    ApplyWindowHeight(app);
    ReopenComPort(app);
    SetLastCallDefaults(app);
    app.autoRepeat.AutoRepeatActive = 0;
}

bool Einde_Click(App& app) {
    if (app.view.ShowMessageBox(kQuitQuestion, kProgramTitle) != MessageAnswer::Ok)
        return false;
    CloseComPort(app);
    return true;
}

void Form_Terminate(App& app) {
    CloseComPort(app);
}

}  // namespace zelvano
