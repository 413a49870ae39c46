#include "ServiceDoor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/Text.h"
#include "serial/PortMap.h"
#include "service/ServiceCall.h"

namespace zelvano::call {
namespace fs = std::filesystem;
namespace {

// A live service answers at once; one that does not within this is passed over.
constexpr int kAnswerMs = 2000;
// The desk's note on a call the buffer gave up (CallService::CallChanged).
constexpr const char* kCallTimeOutNote = "call time-out";
constexpr const char* kCallFields[] = {"address",  "text",     "bleep",
                                       "calltype", "priority", "transmissions"};

void AddSockets(const fs::path& folder, bool deeper, std::vector<fs::path>& found) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (deeper && it->is_directory(ec))
            AddSockets(it->path(), false, found);
        else if (it->is_socket(ec) && it->path().extension() == ".sock")
            found.push_back(it->path());
    }
}

const char* WaitWord(WaitFor wait) {
    switch (wait) {
        case WaitFor::None:
            return "none";
        case WaitFor::Accepted:
            return "accepted";
        case WaitFor::Final:
            break;
    }
    return "final";
}

QJsonObject CallFields(const CallOptions& o) {
    const auto text = [](const std::string& value) { return QString::fromStdString(value); };
    return {{"address", text(o.address)},
            {"text", text(o.text)},
            {"bleep", text(HexDigit(o.bleep))},
            {"calltype", text(TrimStr(o.callType))},
            {"priority", text(TrimStr(o.priority))},
            {"transmissions", text(HexDigit(o.transmissions))}};
}

// The refusal as the command line's own: the service's field is the option's name.
std::string RefusalText(const std::string& field, std::string error) {
    if (error.starts_with(field + ": "))
        error.erase(0, field.size() + 2);
    const bool option = std::ranges::find(kCallFields, field) != std::end(kCallFields);
    return "zelvanod refused the call: " + std::string(option ? "--" : "") + field + ": " + error;
}

Verdict FinalVerdict(const ServiceNews& news) {
    const std::string& word = news.state;
    const std::string note = news.note.empty() ? "" : " (" + news.note + ")";
    if (word == kExpiredWord)
        return {kExitNoAnswer, kNoAnswerWord, "zelvanod did not send the call in time" + note, {}};
    if (word == kCancelledWord)
        return {kExitError, word, "the call was cancelled at zelvanod before it was sent", word};
    if (word == "ERROR" && !news.delivered && news.note == kCallTimeOutNote)
        return {kExitNoAnswer, kNoAnswerWord, "the call was not delivered within the time-out", {}};
    const int code = ExitCodeFor(word);
    std::string error;
    if (code == kExitError)
        error = "the paging system refused the call, or it failed" + note;
    return {code, word, error, word};
}

}  // namespace

std::vector<fs::path> ServiceSockets(const fs::path& folder) {
    std::vector<fs::path> found;
    if (!folder.empty())
        AddSockets(folder, true, found);
    std::ranges::sort(found);
    return found;
}

std::vector<std::string> PortNames(const std::string& port, const fs::path& dataDir) {
    std::vector<std::string> names{port};
    if (const int number = ComPortNumber(port)) {
        const std::string device = DeviceForPort(dataDir, number);
        if (!device.empty() && device != port)
            names.push_back(device);
    }
    return names;
}

std::optional<Verdict> Judge(const ServiceNews& news, WaitFor wait) {
    if (news.final)
        return FinalVerdict(news);
    const bool queued = news.delivered || news.state == "QUEUE";
    if (wait == WaitFor::Accepted && queued)
        return Verdict{kExitPaged, news.state, {}, {}};
    if (wait == WaitFor::None && (news.sent || queued))
        return Verdict{kExitPaged, "SENT", {}, {}};
    return std::nullopt;
}

ServiceDoor::ServiceDoor(const CallOptions& options, std::vector<std::string> ports,
                         std::vector<fs::path> sockets, std::function<void()> alone)
    : options_(options),
      ports_(std::move(ports)),
      sockets_(std::move(sockets)),
      alone_(std::move(alone)) {
    elapsed_.start();
    outcome_.address = options.address;
    answerWait_.setSingleShot(true);
    answerWait_.setInterval(kAnswerMs);
    deadline_.setSingleShot(true);
    connect(&answerWait_, &QTimer::timeout, this, [this] {
        Progress("zelvanod " + socketPath_.string() + " did not answer; passed over");
        PassOver();
    });
    connect(&deadline_, &QTimer::timeout, this, &ServiceDoor::TimeUp);
}

void ServiceDoor::Start() {
    TryNext();
}

void ServiceDoor::TryNext() {
    Drop();
    if (next_ >= sockets_.size() * ports_.size()) {
        if (options_.serviceOnly)
            Finish({kExitPortUnusable,
                    kPortUnusableWord,
                    "no running zelvanod owns the port " + ports_.front(),
                    {}});
        else
            alone_();
        return;
    }
    current_ = next_++;
    socketPath_ = sockets_[current_ / ports_.size()];
    socket_ = new QLocalSocket(this);
    connect(socket_, &QLocalSocket::connected, this, &ServiceDoor::Connected);
    connect(socket_, &QLocalSocket::readyRead, this, &ServiceDoor::Read);
    connect(socket_, &QLocalSocket::errorOccurred, this, &ServiceDoor::Failed);
    connect(socket_, &QLocalSocket::disconnected, this, &ServiceDoor::Closed);
    answerWait_.start();
    socket_->connectToServer(QString::fromStdString(socketPath_.string()));
}

void ServiceDoor::Drop() {
    answerWait_.stop();
    if (!socket_)
        return;
    QObject::disconnect(socket_, nullptr, this, nullptr);
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
}

void ServiceDoor::Connected() {
    const QJsonObject request{{"port", QString::fromStdString(ports_[current_ % ports_.size()])},
                              {"call", CallFields(options_)},
                              {"wait", WaitWord(options_.wait)}};
    socket_->write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
}

void ServiceDoor::Read() {
    while (socket_ && !finished_ && socket_->canReadLine())
        Answer(QJsonDocument::fromJson(socket_->readLine()).object());
}

void ServiceDoor::Failed() {
    if (callId_ != 0) {
        Closed();
        return;
    }
    // A socket file left by a service that is gone refuses at once: no news.
    const QLocalSocket::LocalSocketError error = socket_->error();
    if (error != QLocalSocket::ConnectionRefusedError &&
        error != QLocalSocket::ServerNotFoundError && error != QLocalSocket::PeerClosedError)
        Progress("zelvanod " + socketPath_.string() + ": " + socket_->errorString().toStdString() +
                 "; passed over");
    PassOver();
}

void ServiceDoor::PassOver() {
    // The socket's other port names are no use either.
    next_ = (current_ / ports_.size() + 1) * ports_.size();
    Drop();
    // Not from inside the socket's own call.
    QTimer::singleShot(0, this, &ServiceDoor::TryNext);
}

void ServiceDoor::Closed() {
    if (callId_ == 0) {
        Failed();
        return;
    }
    Read();  // the last events may still be buffered
    if (!finished_)
        Lost();
}

void ServiceDoor::Answer(const QJsonObject& event) {
    const QString kind = event.value("event").toString();
    if (kind == "call") {
        Follow(event.value("call").toObject());
    } else if (callId_ != 0) {
        return;
    } else if (kind == "other-port") {
        Drop();
        QTimer::singleShot(0, this, &ServiceDoor::TryNext);
    } else if (kind == "refused") {
        const std::string field = event.value("field").toString().toStdString();
        const std::string error = event.value("error").toString().toStdString();
        if (field.empty())  // the service's own trouble (a full queue), not the call's
            Finish({kExitError, "REFUSED", "zelvanod refused the call: " + error, {}});
        else
            Finish({kExitUsage, kBadArgumentsWord, RefusalText(field, error), {}});
    } else {
        PassOver();  // no zelvanod
    }
}

void ServiceDoor::Follow(const QJsonObject& call) {
    if (callId_ == 0) {
        answerWait_.stop();
        Progress("via zelvanod " + socketPath_.string());
        // --timeout bounds the whole run, the search included.
        deadline_.start(static_cast<int>(
            std::max<qint64>(1, options_.timeoutSeconds * 1000LL - elapsed_.elapsed())));
    }
    callId_ = call.value("id").toInteger();
    const QJsonArray history = call.value("history").toArray();
    ServiceNews news{call.value("state").toString().toStdString(),
                     call.value("final").toBool(),
                     call.value("delivered").toBool(),
                     call.value("sent").toBool(),
                     {}};
    for (; wordsSeen_ < history.size(); ++wordsSeen_) {
        const QJsonObject entry = history[wordsSeen_].toObject();
        const std::string word = entry.value("state").toString().toStdString();
        news.note = entry.value("note").toString().toStdString();
        const QDateTime at = QDateTime::fromString(entry.value("at").toString(), Qt::ISODateWithMs);
        outcome_.words.push_back(
            {word, static_cast<double>(std::max<qint64>(0, outcome_.started.msecsTo(at))) / 1000});
        Progress("zelvanod call " + std::to_string(callId_) + ": " + word +
                 (news.note.empty() ? "" : " (" + news.note + ")"));
    }
    delivered_ = news.delivered;
    if (std::optional<Verdict> verdict = Judge(news, options_.wait))
        Finish(std::move(*verdict));
}

std::string ServiceDoor::Stays() const {
    return "; the call stays with zelvanod (call " + std::to_string(callId_) + ")";
}

void ServiceDoor::TimeUp() {
    if (delivered_)
        Finish({kExitNoStatus, "NO STATUS", "no state reported within the time-out" + Stays(), {}});
    else
        Finish({kExitNoAnswer,
                kNoAnswerWord,
                "the call was not delivered within the time-out" + Stays(),
                {}});
}

void ServiceDoor::Lost() {
    const std::string why = "zelvanod closed the connection before the call's outcome" + Stays();
    if (delivered_)
        Finish({kExitNoStatus, "NO STATUS", why, {}});
    else
        Finish({kExitNoAnswer, kNoAnswerWord, why, {}});
}

void ServiceDoor::Interrupt(int signal) {
    Finish({kExitSignal + signal,
            "INTERRUPTED",
            "stopped by signal " + std::to_string(signal) + (callId_ != 0 ? Stays() : ""),
            {}});
}

void ServiceDoor::Progress(const std::string& text) const {
    if (!options_.quiet)
        std::fprintf(stderr, "zelvano-call: %s\n", text.c_str());
}

void ServiceDoor::Finish(Verdict verdict) {
    if (std::exchange(finished_, true))
        return;  // a second signal: the outcome is printed once
    deadline_.stop();
    Drop();
    outcome_.code = verdict.code;
    outcome_.word = std::move(verdict.word);
    outcome_.error = std::move(verdict.error);
    outcome_.final = std::move(verdict.final);
    if (!outcome_.error.empty())
        std::fprintf(stderr, "zelvano-call: %s\n", outcome_.error.c_str());
    PrintOutcome(outcome_, options_.json);
    QCoreApplication::exit(outcome_.code);
}

}  // namespace zelvano::call
