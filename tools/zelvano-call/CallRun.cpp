#include "CallRun.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>

#include "common/Text.h"

namespace zelvano::call {

namespace {

int ExitCodeFor(const std::string& word) {
    if (word == "PAGED" || word == "SPEECHPAGED")
        return kExitPaged;
    if (word == "ABSENT")
        return kExitAbsent;
    if (word == "BUSY")
        return kExitBusy;
    if (word == "TERMINATED")
        return kExitTerminated;
    return word == "NO STATUS" ? kExitNoStatus : kExitError;
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CallRun::CallRun(PagingCore& core, const CallOptions& options)
    : core_(core), options_(options), driver_(core) {
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
    const std::string word(StateText(change.to));
    if (!words_.empty() && words_.back().state == change.to)
        return;
    words_.push_back({change.to, word, static_cast<double>(elapsed_.elapsed()) / 1000.0});
    if (change.to == CallState::Error && change.expired && !change.delivered)
        gaveUpUndelivered_ = true;
}

void CallRun::CallSent(std::uint32_t id) {
    sent_ = sent_ || id == callId_;
}

void CallRun::Start() {
    elapsed_.start();
    started_ = QDateTime::currentDateTimeUtc();
    // A network port connects in the background: the line watch opens it
    // once it is there. Any other port that fails to open is no use.
    const PortOpen opened = core_.Reopen();
    lineOpened_ = opened == PortOpen::Opened;
    if (opened == PortOpen::Failed) {
        if (!options_.quiet)
            std::fprintf(stderr, "Zelvano: Error setting Comport!  Check settings\n");
        code_ = kExitPortUnusable;
        outcome_ = "PORT UNUSABLE";
        error_ = "port not usable: " + core_.PortError();
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
    Decide();
}

void CallRun::Decide() {
    if (finishing_ || words_.empty())
        return;
    const std::string& word = words_.back().word;
    if (gaveUpUndelivered_) {
        NotDelivered();
    } else if (IsFinal(words_.back().state)) {
        FinishSoon(ExitCodeFor(word), word,
                   word == "ERROR" ? "the paging system refused the call, or it failed" : "");
    } else if (options_.wait == WaitFor::Accepted && word == "QUEUE") {
        FinishSoon(kExitPaged, word);
    } else if (options_.wait == WaitFor::None && (sent_ || word == "QUEUE")) {
        FinishSoon(kExitPaged, "SENT");
    }
}

void CallRun::Interrupt(int signal) {
    FinishSoon(128 + signal, "INTERRUPTED", "stopped by signal " + std::to_string(signal));
    Finish();
}

void CallRun::TimeUp() {
    if (finishing_)
        return;  // the outcome is known and printed at the next tick
    if (delivered_)
        FinishSoon(kExitNoStatus, "NO STATUS", "no state reported within the time-out");
    else
        NotDelivered();
    Finish();
}

void CallRun::NotDelivered() {
    if (!lineOpened_) {
        FinishSoon(kExitPortUnusable, "PORT UNUSABLE",
                   "port not usable within the time-out: " + core_.PortError());
    } else if (core_.Link() != LinkState::Up) {
        FinishSoon(kExitNoAnswer, "NO ANSWER",
                   "the paging system did not answer the line check within the time-out");
    } else {
        FinishSoon(kExitNoAnswer, "NO ANSWER", "the call was not delivered within the time-out");
    }
}

void CallRun::FinishSoon(int code, std::string outcome, std::string error) {
    finishing_ = true;
    code_ = code;
    outcome_ = std::move(outcome);
    error_ = std::move(error);
}

void CallRun::Finish() {
    driver_.Stop();
    deadline_.stop();
    core_.Stop();
    if (!error_.empty())
        std::fprintf(stderr, "zelvano-call: %s\n", error_.c_str());
    PrintOutcome();
    QCoreApplication::exit(code_);
}

void CallRun::PrintOutcome() const {
    if (!options_.json) {
        std::printf("%s %s\n", options_.address.c_str(), outcome_.c_str());
        std::fflush(stdout);
        return;
    }
    QJsonArray words;
    for (const SeenWord& seen : words_)
        words.append(QJsonObject{{"word", Q(seen.word)}, {"at", seen.at}});
    const bool final = !words_.empty() && IsFinal(words_.back().state);
    QJsonObject out{{"address", Q(options_.address)},
                    {"started", started_.toString(Qt::ISODateWithMs)},
                    {"words", words},
                    {"final", final ? QJsonValue(Q(words_.back().word)) : QJsonValue()},
                    {"outcome", Q(outcome_)},
                    {"exit", code_}};
    if (!error_.empty())
        out["error"] = Q(error_);
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

}  // namespace zelvano::call
