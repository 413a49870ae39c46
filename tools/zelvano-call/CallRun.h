// One call from the command line: the engine on its own timers until the call
// reaches the point the caller waits for, then the outcome and the exit code.
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "CallOptions.h"
#include "app/App.h"

namespace zelvano::call {

// The operator view without windows: log lines become progress on standard
// error, a message box is answered OK with its text shown there, beeps are
// silent. Each buffer redraw is handed on, so the run sees every state its
// call goes through the moment it is written.
class HeadlessView : public OperatorView {
  public:
    void ShowCallBuffer(const CallBufferArray& buffer) override;
    void ShowLogLines(const std::array<std::string, 10>& lines) override;
    void SetPortCaption(const std::string&) override {}
    void SetRtsToolTip(const std::string&) override {}
    void SetPortProblem(const std::string&) override {}
    void SetWindowHeight(int) override {}
    MessageAnswer ShowMessageBox(const std::string& text, const std::string& title) override;
    void Beep() override {}

    const ScreenLog* log = nullptr;  // the screen log whose newest line is shown
    bool quiet = false;
    std::function<void(const CallBufferArray&)> onBuffer;
};

class CallRun : public QObject {
  public:
    CallRun(App& app, HeadlessView& view, const CallOptions& options);

    // Opens the port, queues the call and starts the ticks. The event loop
    // ends with the exit code once the outcome is printed.
    void Start();
    // A signal ends the run at once: the port is closed and the outcome
    // "INTERRUPTED" printed; the exit code is 128 + the signal's number.
    void Interrupt(int signal);

  private:
    struct SeenWord {
        std::string word;
        double at;  // seconds since the start
    };

    void Tick();
    void Observe(const CallBufferArray& buffer);
    void Decide();
    void TimeUp();
    // The call never reached the paging system: the port, the line check or
    // the call itself is to blame.
    void NotDelivered();
    // Ends at the next tick, so the bytes of this one leave the port first.
    void FinishSoon(int code, std::string outcome, std::string error = {});
    void Finish();
    void PrintOutcome() const;

    App& app_;
    const CallOptions& options_;
    QTimer engineTimer_, bufferTimer_, deadline_;
    QElapsedTimer elapsed_;
    QDateTime started_;
    std::uint32_t callId_ = 0;
    std::vector<SeenWord> words_;
    bool lineOpened_ = false;
    bool gaveUpUndelivered_ = false;  // the buffer time-out struck before any ACK
    bool finishing_ = false;
    int code_ = kExitNoAnswer;
    std::string outcome_, error_;
};

}  // namespace zelvano::call
