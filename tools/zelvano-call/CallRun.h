// One call from the command line: the engine on its own timers until the call
// reaches the point the caller waits for, then the outcome and the exit code.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <optional>
#include <string>

#include "CallOptions.h"
#include "Outcome.h"
#include "driver/Driver.h"
#include "paging/PagingCore.h"

namespace zelvano::call {

class CallRun : public QObject, public PagingEvents {
  public:
    CallRun(PagingCore& core, const CallOptions& options);

    // Opens the port, queues the call and starts the ticks. The event loop
    // ends with the exit code once the outcome is printed.
    void Start();
    // A signal ends the run at once: the port is closed and the outcome
    // "INTERRUPTED" printed; the exit code is 128 + the signal's number.
    void Interrupt(int signal);

    // The core's events: the call's states, and progress on standard error.
    void CallChanged(const CallChange& change) override;
    void CallSent(std::uint32_t id) override;
    void LogChanged(const ScreenLines& lines) override;

  private:
    void Tick();
    void Decide();
    void TimeUp();
    // The call never reached the paging system: the port, the line check or
    // the call itself is to blame.
    void NotDelivered();
    // Why the paging system ended the call ERROR.
    std::string ErrorReason() const;
    // The call block went out and nothing at all came back for it.
    bool SentUnanswered() const;
    // Ends at the next tick, so the bytes of this one leave the port first.
    void FinishSoon(int code, std::string word, std::string error = {},
                    std::optional<std::string> final = {});
    void Finish();

    PagingCore& core_;
    const CallOptions& options_;
    Driver driver_;
    QTimer deadline_;
    QElapsedTimer elapsed_;
    std::uint32_t callId_ = 0;
    CallState lastState_ = CallState::Free;
    bool delivered_ = false;
    bool sent_ = false;
    bool lineOpened_ = false;
    bool gaveUpUndelivered_ = false;  // the buffer time-out struck before any ACK
    bool finishing_ = false;
    bool finished_ = false;
    Outcome outcome_;
};

}  // namespace zelvano::call
