#include "HttpApi.h"

#include <QDateTime>
#include <QJsonArray>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "ServiceJson.h"

namespace zelvano::service {

namespace {

constexpr std::string_view kCallsPath = "/v1/calls";
constexpr int kDefaultWait = 30, kMaxWait = 300;
constexpr int kDefaultLimit = 100, kMaxLimit = 1000;
constexpr std::size_t kMaxKeyLength = 200;

HttpResponse Json(int status, const QJsonObject& object, HttpHeaders headers = {}) {
    return HttpResponse(status, Compact(object).toStdString(), "application/json",
                        std::move(headers));
}

HttpResponse Error(int status, const std::string& field, const std::string& message,
                   HttpHeaders headers = {}) {
    return Json(status, ErrorJson(field, message), std::move(headers));
}

HttpResponse CallAnswer(int status, const ServiceCall& call) {
    return Json(status, CallJson(call),
                {{"Location", std::string(kCallsPath) + "/" + std::to_string(call.id)}});
}

// A whole number from text of digits only.
std::optional<std::int64_t> Whole(const std::string& text) {
    std::int64_t value = 0;
    const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || fault != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

// An optional number argument from 0 up, capped at most; nothing when malformed.
std::optional<int> Argument(const HttpRequest& request, const char* name, int fallback, int most) {
    const auto it = request.query.find(name);
    if (it == request.query.end())
        return fallback;
    const auto value = Whole(it->second);
    if (!value)
        return std::nullopt;
    return static_cast<int>(std::min<std::int64_t>(*value, most));
}

// Epoch milliseconds or ISO 8601 (UTC when no offset is given).
std::optional<EpochMs> Since(const std::string& text) {
    if (const auto ms = Whole(text))
        return *ms;
    QDateTime at = QDateTime::fromString(QString::fromStdString(text), Qt::ISODateWithMs);
    if (!at.isValid())
        return std::nullopt;
    if (at.timeSpec() == Qt::LocalTime)
        at.setTimeSpec(Qt::UTC);
    return at.toMSecsSinceEpoch();
}

bool KnownState(const std::string& word) {
    if (word == kExpiredWord || word == kCancelledWord)
        return true;
    for (int s = static_cast<int>(CallState::New); s <= static_cast<int>(CallState::Error); ++s)
        if (word == StateText(static_cast<CallState>(s)))
            return true;
    return false;
}

bool Printable(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// The waiting is over for a call: final, or accepted by the slave (a call that
// ended without being accepted ends that wait too).
bool WaitOver(const ServiceCall& call, bool final) {
    return call.final || (!final && call.delivered);
}

std::string Number(double value) {
    char text[32];
    const auto [end, fault] = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end);
}

// One metric family in Prometheus' text format: its help, its type and samples.
void Family(std::string& out, const std::string& name, const char* type, const char* help,
            const std::vector<std::pair<std::string, std::string>>& samples) {
    out += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    for (const auto& [suffix, value] : samples)
        out += name + suffix + " " + value + "\n";
}

std::string LabelValue(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

}  // namespace

HttpApi::HttpApi(CallService& service, HttpApiOptions options, QObject* parent)
    : QObject(parent),
      service_(service),
      options_(std::move(options)),
      server_(options_.server,
              [this](const HttpRequest& r, const Reply& reply) { Handle(r, reply); }) {
    expiry_.setSingleShot(true);
    connect(&expiry_, &QTimer::timeout, this, &HttpApi::Expire);
    service_.Subscribe(*this);
}

void HttpApi::Stop() {
    for (const Waiter& w : std::exchange(waiters_, {}))
        if (const auto call = service_.Find(w.id))
            w.reply->Send(Json(200, CallJson(*call)));
    for (const Reply& stream : std::exchange(streams_, {}))
        stream->EndStream();
    server_.Stop();
}

void HttpApi::Handle(const HttpRequest& request, const Reply& reply) {
    const std::string& path = request.path;
    const std::string& method = request.method;
    const auto only = [&](std::initializer_list<const char*> methods) {
        std::string allowed;
        for (const char* m : methods) {
            if (method == m)
                return true;
            allowed += (allowed.empty() ? "" : ", ") + std::string(m);
        }
        reply->Send(Error(405, {}, method + " is not served here", {{"Allow", allowed}}));
        return false;
    };
    // Health answers anyone: probes carry no token.
    if (path == "/healthz") {
        if (only({"GET"}))
            reply->Send(Health());
        return;
    }
    const auto client = Authorize(request, *reply);
    if (!client)
        return;
    const bool underCalls = path.rfind(std::string(kCallsPath) + "/", 0) == 0;
    if (path == kCallsPath) {
        if (!only({"GET", "POST"}))
            return;
        if (method == "POST")
            PostCall(request, *client, *reply);
        else
            ListCalls(request, *reply);
    } else if (underCalls) {
        const auto id = Whole(path.substr(kCallsPath.size() + 1));
        if (!id)
            reply->Send(Error(404, {}, "no such call"));
        else if (only({"GET", "DELETE"}))
            method == "GET" ? GetCall(request, *id, reply) : CancelCall(*id, *reply);
    } else if (path == "/v1/line") {
        if (only({"GET"}))
            reply->Send(Json(200, LineJson(service_.Line())));
    } else if (path == "/v1/events") {
        if (only({"GET"}))
            OpenStream(reply);
    } else if (path == "/metrics") {
        if (only({"GET"}))
            reply->Send(Metrics());
    } else {
        reply->Send(Error(404, {}, "no such path"));
    }
}

std::optional<std::string> HttpApi::Authorize(const HttpRequest& request, HttpReply& reply) const {
    if (!options_.tokens)
        return "anonymous";
    const std::string header = request.Header("authorization");
    const std::string scheme = "bearer ";
    std::string start = header.substr(0, scheme.size());
    std::transform(start.begin(), start.end(), start.begin(), ::tolower);
    if (start != scheme || header.size() == scheme.size()) {
        reply.Send(Error(401, "Authorization", "a bearer token is required",
                         {{"WWW-Authenticate", "Bearer realm=\"zelvanod\""}}));
        return std::nullopt;
    }
    if (auto name = options_.tokens(header.substr(scheme.size())))
        return name;
    reply.Send(Error(401, "Authorization", "the token is not known",
                     {{"WWW-Authenticate", "Bearer realm=\"zelvanod\", error=\"invalid_token\""}}));
    return std::nullopt;
}

int HttpApi::RateWait(const std::string& client) {
    const double rate = options_.postsPerSecond;
    if (rate <= 0)
        return 0;
    const Clock::time_point now = Clock::now();
    auto [it, fresh] = buckets_.try_emplace(client, Bucket{options_.postBurst, now});
    Bucket& bucket = it->second;
    const double seconds = std::chrono::duration<double>(now - bucket.filled).count();
    bucket.tokens = std::min(options_.postBurst, bucket.tokens + seconds * rate);
    bucket.filled = now;
    if (bucket.tokens >= 1) {
        bucket.tokens -= 1;
        return 0;
    }
    return std::max(1, static_cast<int>(std::ceil((1 - bucket.tokens) / rate)));
}

void HttpApi::PostCall(const HttpRequest& request, const std::string& client, HttpReply& reply) {
    if (const int wait = RateWait(client)) {
        reply.Send(Error(429, {}, "too many calls from " + client,
                         {{"Retry-After", std::to_string(wait)}}));
        return;
    }
    const std::string key = request.Header("idempotency-key");
    if (key.size() > kMaxKeyLength || !Printable(key)) {
        reply.Send(Error(400, "Idempotency-Key",
                         "up to " + std::to_string(kMaxKeyLength) + " printable ASCII characters"));
        return;
    }
    const ParsedCall parsed = ParseCall(QByteArray::fromStdString(request.body));
    if (!parsed.field.empty()) {
        reply.Send(Error(400, parsed.field, parsed.error));
        return;
    }
    const SubmitResult result = service_.Submit(parsed.request, client, key);
    switch (result.kind) {
        case SubmitResult::Kind::Accepted:
            journalFailed_ = false;
            reply.Send(CallAnswer(202, result.call));
            break;
        case SubmitResult::Kind::Duplicate:  // the first call with this key, not a second one
            reply.Send(CallAnswer(200, result.call));
            break;
        case SubmitResult::Kind::Refused:
            reply.Send(Error(400, result.field, result.error));
            break;
        case SubmitResult::Kind::QueueFull:
            reply.Send(Error(503, {}, result.error,
                             {{"Retry-After", std::to_string(options_.queueFullRetrySeconds)}}));
            break;
        case SubmitResult::Kind::JournalFailed:
            journalFailed_ = true;
            reply.Send(Error(503, {}, "the call could not be stored",
                             {{"Retry-After", std::to_string(options_.journalRetrySeconds)}}));
            break;
    }
}

void HttpApi::GetCall(const HttpRequest& request, std::int64_t id, const Reply& reply) {
    const auto call = service_.Find(id);
    if (!call) {
        reply->Send(Error(404, {}, "no such call"));
        return;
    }
    const auto wait = request.query.find("wait");
    if (wait == request.query.end()) {
        reply->Send(Json(200, CallJson(*call)));
        return;
    }
    if (wait->second != "final" && wait->second != "accepted") {
        reply->Send(Error(400, "wait", "\"final\" or \"accepted\""));
        return;
    }
    const auto seconds = Argument(request, "timeout", kDefaultWait, kMaxWait);
    if (!seconds) {
        reply->Send(Error(400, "timeout", "whole seconds, up to " + std::to_string(kMaxWait)));
        return;
    }
    const bool final = wait->second == "final";
    if (*seconds == 0 || WaitOver(*call, final)) {
        reply->Send(Json(200, CallJson(*call)));
        return;
    }
    waiters_.push_back({id, final, Clock::now() + std::chrono::seconds(*seconds), reply});
    ArmExpiry();
}

void HttpApi::CancelCall(std::int64_t id, HttpReply& reply) {
    switch (service_.Cancel(id)) {
        case CancelResult::Cancelled:
            reply.Send(Json(200, CallJson(*service_.Find(id))));
            break;
        case CancelResult::NotFound:
            reply.Send(Error(404, {}, "no such call"));
            break;
        case CancelResult::AlreadySent:
            reply.Send(Error(409, {}, "the call is on the line already"));
            break;
        case CancelResult::AlreadyFinal:
            reply.Send(Error(409, {}, "the call is final already"));
            break;
    }
}

void HttpApi::ListCalls(const HttpRequest& request, HttpReply& reply) const {
    CallQuery query;
    query.state = request.Query("state");
    if (!query.state.empty() && !KnownState(query.state)) {
        reply.Send(Error(400, "state", "not a call state: \"" + query.state + "\""));
        return;
    }
    if (const auto since = request.query.find("since"); since != request.query.end()) {
        const auto at = Since(since->second);
        if (!at) {
            reply.Send(Error(400, "since", "ISO 8601 time or milliseconds since 1970"));
            return;
        }
        query.since = *at;
    }
    const auto limit = Argument(request, "limit", kDefaultLimit, kMaxLimit);
    if (!limit || *limit < 1) {
        reply.Send(Error(400, "limit", "a whole number from 1 to " + std::to_string(kMaxLimit)));
        return;
    }
    query.limit = *limit;
    QJsonArray calls;
    for (const ServiceCall& call : service_.List(query))
        calls.append(CallJson(call));
    reply.Send(Json(200, {{"calls", calls}}));
}

void HttpApi::OpenStream(const Reply& reply) {
    reply->StartStream("text/event-stream",
                       {{"Cache-Control", "no-cache"}, {"X-Accel-Buffering", "no"}});
    reply->Write("event: line\ndata: " + Compact(LineJson(service_.Line())).toStdString() + "\n\n");
    streams_.push_back(reply);
}

void HttpApi::Broadcast(const char* event, const QJsonObject& data) {
    const std::string text =
        std::string("event: ") + event + "\ndata: " + Compact(data).toStdString() + "\n\n";
    std::erase_if(streams_, [&](const Reply& stream) { return !stream->Write(text); });
}

void HttpApi::CallUpdated(const ServiceCall& call) {
    Broadcast("call", CallJson(call));
    std::erase_if(waiters_, [&](const Waiter& w) {
        if (w.id != call.id || !WaitOver(call, w.final))
            return !w.reply->Open();
        w.reply->Send(Json(200, CallJson(call)));
        return true;
    });
}

void HttpApi::LineUpdated(const LineView& line) {
    Broadcast("line", LineJson(line));
}

void HttpApi::Expire() {
    const Clock::time_point now = Clock::now();
    std::erase_if(waiters_, [&](const Waiter& w) {
        if (w.deadline > now)
            return !w.reply->Open();
        if (const auto call = service_.Find(w.id))
            w.reply->Send(Json(200, CallJson(*call)));
        else
            w.reply->Send(Error(404, {}, "no such call"));
        return true;
    });
    ArmExpiry();
}

void HttpApi::ArmExpiry() {
    if (waiters_.empty()) {
        expiry_.stop();
        return;
    }
    const auto next =
        std::min_element(waiters_.begin(), waiters_.end(),
                         [](const Waiter& a, const Waiter& b) { return a.deadline < b.deadline; });
    const auto ms =
        std::chrono::ceil<std::chrono::milliseconds>(next->deadline - Clock::now()).count();
    expiry_.start(static_cast<int>(std::max<std::int64_t>(ms, 0)));
}

HttpResponse HttpApi::Metrics() const {
    const ServiceFigures f = service_.Figures();
    std::vector<std::pair<std::string, std::string>> finals;
    for (const auto& [state, count] : f.finals)
        finals.push_back({"{state=\"" + LabelValue(state) + "\"}", std::to_string(count)});
    const auto one = [](auto value) {
        return std::vector<std::pair<std::string, std::string>>{{"", Number(value)}};
    };
    std::string out;
    Family(out, "zelvano_calls_final_total", "counter",
           "Calls that reached a final state in this run, by state.", finals);
    Family(out, "zelvano_calls_accepted_total", "counter", "Calls taken (repeats not counted).",
           one(f.accepted));
    Family(out, "zelvano_calls_refused_total", "counter", "Calls refused for their content.",
           one(f.refused));
    Family(out, "zelvano_queue_depth", "gauge", "Calls waiting in front of the engine.",
           one(f.waiting));
    Family(out, "zelvano_engine_calls", "gauge", "Calls holding a position of the engine.",
           one(f.inEngine));
    Family(out, "zelvano_line_up", "gauge", "1 while the paging system answers the line.",
           one(service_.Line().link == LinkState::Up ? 1 : 0));
    Family(out, "zelvano_exchanges_total", "counter", "Call blocks sent.", one(f.exchanges));
    Family(out, "zelvano_retries_total", "counter", "Call blocks sent again in this run.",
           one(f.retries));
    Family(out, "zelvano_resends_total", "counter", "Calls sent again after a restart.",
           one(f.resends));
    Family(out, "zelvano_journal_write_seconds", "summary", "Time taken by journal writes.",
           {{"_sum", Number(f.journalWriteMsTotal / 1000)}, {"_count", Number(f.journalWrites)}});
    Family(out, "zelvano_journal_write_seconds_max", "gauge", "The longest journal write.",
           one(f.journalWriteMsMax / 1000));
    return HttpResponse(200, out, "text/plain; version=0.0.4; charset=utf-8");
}

HttpResponse HttpApi::Health() const {
    if (journalFailed_)
        return Json(503, {{"status", "failing"}, {"error", "the journal cannot be written"}});
    return Json(200, {{"status", "ok"}});
}

}  // namespace zelvano::service
