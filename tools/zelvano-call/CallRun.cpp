#include "CallRun.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>

#include "app/LineWatch.h"
#include "app/MainTicks.h"
#include "app/StartUp.h"
#include "espa/EngineSteps.h"
#include "serial/Datacom.h"
#include "windows/CallEntry.h"

namespace zelvano::call {

namespace {

constexpr int kEngineTickMs = 100;
constexpr int kBufferTickMs = 1000;

// The words after which the paging system has nothing more to say.
bool IsFinalWord(const std::string& word) {
    static const std::string finals[] = {"PAGED",      "SPEECHPAGED", "ABSENT", "BUSY",
                                         "TERMINATED", "NO STATUS",   "ERROR"};
    return std::ranges::find(finals, word) != std::end(finals);
}

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

std::string OneLine(std::string text) {
    std::ranges::replace(text, '\r', ' ');
    std::ranges::replace(text, '\n', ' ');
    return text;
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

void HeadlessView::ShowCallBuffer(const CallBufferArray& buffer) {
    if (onBuffer)
        onBuffer(buffer);
}

void HeadlessView::ShowLogLines(const std::array<std::string, 10>& lines) {
    if (quiet || log == nullptr || log->LogLineCount < 1)
        return;
    const std::string& newest =
        lines[static_cast<std::size_t>(std::min<int>(log->LogLineCount, 10) - 1)];
    if (!newest.empty())
        std::fprintf(stderr, "%s\n", newest.c_str());
}

MessageAnswer HeadlessView::ShowMessageBox(const std::string& text, const std::string& title) {
    if (!quiet)
        std::fprintf(stderr, "%s: %s\n", title.c_str(), OneLine(text).c_str());
    return MessageAnswer::Ok;
}

CallRun::CallRun(App& app, HeadlessView& view, const CallOptions& options)
    : app_(app), options_(options) {
    view.onBuffer = [this](const CallBufferArray& buffer) { Observe(buffer); };
    engineTimer_.setInterval(kEngineTickMs);
    engineTimer_.setTimerType(Qt::PreciseTimer);
    bufferTimer_.setInterval(kBufferTickMs);
    deadline_.setInterval(options.timeoutSeconds * 1000);
    deadline_.setSingleShot(true);
    connect(&engineTimer_, &QTimer::timeout, this, &CallRun::Tick);
    connect(&bufferTimer_, &QTimer::timeout, this, [this] {
        TmrBuffer_Timer(app_);
        Decide();
    });
    connect(&deadline_, &QTimer::timeout, this, &CallRun::TimeUp);
}

void CallRun::Start() {
    elapsed_.start();
    started_ = QDateTime::currentDateTimeUtc();
    // A network port connects in the background: the line watch opens it
    // once it is there. Any other port that fails to open is no use.
    lineOpened_ = ReopenComPort(app_);
    if (!lineOpened_ && !app_.port.Pending()) {
        code_ = kExitPortUnusable;
        outcome_ = "PORT UNUSABLE";
        error_ = "port not usable: " + app_.port.LastError();
        Finish();
        return;
    }
    CallForm form;
    form.address = options_.address;
    form.alfa = options_.text;
    form.bleep = options_.bleep;
    form.priority = options_.priority;
    form.callType = options_.callType;
    form.nrOfTx = options_.nrOfTx;
    form.autoRepeat = 0;
    callId_ = app_.nextCallId;  // the identity AddCall gives the call
    CmdCall_Click(app_, form);
    // The buffer gives the call up a second before the run ends, so the
    // engine's own word (NO STATUS, ERROR) is the outcome.
    for (CallBufferEntry& entry : app_.CallBuffer) {
        if (entry.CallId == callId_)
            entry.TimeOutCount =
                static_cast<std::int16_t>(std::max(1, options_.timeoutSeconds - 1));
    }
    engineTimer_.start();
    bufferTimer_.start();
    deadline_.start();
}

void CallRun::Tick() {
    if (finishing_) {
        Finish();
        return;
    }
    EngineTick(app_);
    lineOpened_ = lineOpened_ || app_.port.IsOpen();
    Decide();
}

void CallRun::Observe(const CallBufferArray& buffer) {
    for (const CallBufferEntry& entry : buffer) {
        if (entry.CallId != callId_ || callId_ == 0 || entry.IsFree())
            continue;
        if (!words_.empty() && words_.back().word == entry.Status)
            continue;
        words_.push_back({entry.Status, static_cast<double>(elapsed_.elapsed()) / 1000.0});
        // The time-out clears the count; the engine's own give-up leaves it.
        if (entry.Status == "ERROR" && entry.TimeOutCount == 0 && !entry.Delivered)
            gaveUpUndelivered_ = true;
    }
}

void CallRun::Decide() {
    if (finishing_ || words_.empty())
        return;
    const std::string& word = words_.back().word;
    const bool blockSent =
        app_.espa.EspaCallId == callId_ && app_.espa.EspaState == engine::kMakeCallBlockAnswer;
    if (gaveUpUndelivered_) {
        NotDelivered();
    } else if (IsFinalWord(word)) {
        FinishSoon(ExitCodeFor(word), word,
                   word == "ERROR" ? "the paging system refused the call, or it failed" : "");
    } else if (options_.wait == WaitFor::Accepted && word == "QUEUE") {
        FinishSoon(kExitPaged, word);
    } else if (options_.wait == WaitFor::None && (blockSent || word == "QUEUE")) {
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
    const bool delivered = std::ranges::any_of(app_.CallBuffer, [this](const CallBufferEntry& e) {
        return e.CallId == callId_ && e.Delivered;
    });
    if (delivered)
        FinishSoon(kExitNoStatus, "NO STATUS", "no state reported within the time-out");
    else
        NotDelivered();
    Finish();
}

void CallRun::NotDelivered() {
    if (!lineOpened_) {
        FinishSoon(kExitPortUnusable, "PORT UNUSABLE",
                   "port not usable within the time-out: " + app_.port.LastError());
    } else if (app_.espa.LineOk != 1) {
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
    engineTimer_.stop();
    bufferTimer_.stop();
    deadline_.stop();
    CloseComPort(app_);
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
    const bool final = !words_.empty() && IsFinalWord(words_.back().word);
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
