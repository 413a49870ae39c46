#include "CallRun.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/Text.h"

namespace zelvano::call {

CallRun::CallRun(PagingCore& core, const CallOptions& options)
    : core_(core), options_(options), driver_(core) {
    elapsed_.start();
    outcome_.address = options.address;
    outcome_.code = kExitNoAnswer;
    deadline_.setInterval(options.timeoutSeconds * 1000);
    deadline_.setSingleShot(true);
    connect(&driver_, &Driver::Ticked, this, &CallRun::Tick);
    connect(&driver_, &Driver::Second, this, &CallRun::Decide);
    connect(&deadline_, &QTimer::timeout, this, &CallRun::TimeUp);
    core_.Subscribe(*this);
}

void CallRun::LogChanged(const ScreenLines& lines) {
    if (options_.quiet)
        return;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (!line->empty()) {
            std::fprintf(stderr, "%s\n", line->c_str());
            return;
        }
    }
}

void CallRun::CallChanged(const CallChange& change) {
    // The call's first event comes before Submit returns its identity.
    if (callId_ == 0 && change.from == CallState::Free && change.to == CallState::New)
        callId_ = change.id;
    if (change.id != callId_ || callId_ == 0 || change.to == CallState::Free)
        return;
    delivered_ = change.delivered;
    if (lastState_ == change.to)
        return;
    lastState_ = change.to;
    outcome_.words.push_back(
        {std::string(StateText(change.to)), static_cast<double>(elapsed_.elapsed()) / 1000.0});
    if (change.to == CallState::Error && change.expired && !change.delivered)
        gaveUpUndelivered_ = true;
}

void CallRun::CallSent(std::uint32_t id) {
    sent_ = sent_ || id == callId_;
}

void CallRun::Start() {
    // A network port connects in the background: the line watch opens it
    // once it is there. Any other port that fails to open is no use.
    const PortOpen opened = core_.Reopen();
    lineOpened_ = opened == PortOpen::Opened;
    if (opened == PortOpen::Failed) {
        FinishSoon(kExitPortUnusable, kPortUnusableWord, "port not usable: " + core_.PortError());
        Finish();
        return;
    }
    const CallRequest request{options_.address,           options_.text,
                              HexDigit(options_.bleep),   TrimStr(options_.priority),
                              TrimStr(options_.callType), HexDigit(options_.transmissions)};
    // The buffer gives the call up a second before the run ends, so the
    // engine's own word (NO STATUS, ERROR) is the outcome.
    const auto timeOut = static_cast<std::int16_t>(std::max(1, options_.timeoutSeconds - 1));
    callId_ = core_.Submit(request, timeOut).id;
    driver_.Start();
    deadline_.start();
}

void CallRun::Tick() {
    if (finishing_) {
        Finish();
        return;
    }
    lineOpened_ = lineOpened_ || core_.PortIsOpen();
    // Refused or unknown: waiting out the time-out would not change that.
    if (!lineOpened_ && core_.PortRefused()) {
        FinishSoon(kExitPortUnusable, kPortUnusableWord, "port not usable: " + core_.PortError());
        return;
    }
    Decide();
}

void CallRun::Decide() {
    if (finishing_ || outcome_.words.empty())
        return;
    const std::string word = outcome_.words.back().word;
    if (gaveUpUndelivered_) {
        NotDelivered();
    } else if (IsFinal(lastState_)) {
        FinishSoon(ExitCodeFor(word), word, lastState_ == CallState::Error ? ErrorReason() : "",
                   word);
    } else if (options_.wait == WaitFor::Accepted && lastState_ == CallState::Queue) {
        FinishSoon(kExitPaged, word);
    } else if (options_.wait == WaitFor::None && (sent_ || lastState_ == CallState::Queue)) {
        FinishSoon(kExitPaged, "SENT");
    }
}

void CallRun::Interrupt(int signal) {
    FinishSoon(kExitSignal + signal, "INTERRUPTED", "stopped by signal " + std::to_string(signal));
    Finish();
}

void CallRun::TimeUp() {
    if (finishing_)
        return;  // the outcome is known and printed at the next tick
    if (delivered_)
        FinishSoon(kExitNoStatus, "NO STATUS", "no state reported within the time-out",
                   "NO STATUS");
    else
        NotDelivered();
    Finish();
}

bool CallRun::SentUnanswered() const {
    const CallArray& calls = core_.Calls();
    const auto call =
        std::ranges::find_if(calls, [this](const Call& c) { return c.id == callId_; });
    return sent_ && !delivered_ && call != calls.end() && !call->answered;
}

std::string CallRun::ErrorReason() const {
    return SentUnanswered() ? "call block sent, the slave never answered it"
                            : "the paging system refused the call, or it failed";
}

void CallRun::NotDelivered() {
    if (!lineOpened_) {
        FinishSoon(kExitPortUnusable, kPortUnusableWord,
                   "port not usable within the time-out: " + core_.PortError());
    } else if (SentUnanswered()) {
        FinishSoon(kExitNoAnswer, kNoAnswerWord, "call block sent, the slave never answered it");
    } else if (core_.Link() != LinkState::Up) {
        FinishSoon(kExitNoAnswer, kNoAnswerWord,
                   "the paging system did not answer the line check within the time-out");
    } else {
        FinishSoon(kExitNoAnswer, kNoAnswerWord, "the call was not delivered within the time-out");
    }
}

void CallRun::FinishSoon(int code, std::string word, std::string error,
                         std::optional<std::string> final) {
    finishing_ = true;
    outcome_.code = code;
    outcome_.word = std::move(word);
    outcome_.error = std::move(error);
    outcome_.final = std::move(final);
}

void CallRun::Finish() {
    if (std::exchange(finished_, true))
        return;  // a second signal: the outcome is printed once
    driver_.Stop();
    deadline_.stop();
    core_.Stop();
    if (!outcome_.error.empty())
        std::fprintf(stderr, "zelvano-call: %s\n", outcome_.error.c_str());
    PrintOutcome(outcome_, options_.json);
    QCoreApplication::exit(outcome_.code);
}

}  // namespace zelvano::call
