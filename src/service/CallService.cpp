#include "service/CallService.h"

#include <algorithm>

#include "common/Text.h"

namespace zelvano {
namespace {

constexpr EpochMs kPruneEveryMs = 3600 * 1000;
constexpr EpochMs kDayMs = 24 * 3600 * 1000;

struct FieldRule {
    const char* name;
    std::string CallRequest::*member;
    std::string_view allowed;  // one character of these; empty: free text
};

constexpr FieldRule kCodeFields[] = {
    {"bleep", &CallRequest::bleep, "0123456789ABCDEF"},
    {"calltype", &CallRequest::callType, "0123"},
    {"priority", &CallRequest::priority, "0123"},
    {"transmissions", &CallRequest::transmissions, "1234"},
};

}  // namespace

RequestProblem CheckRequest(const CallRequest& request) {
    if (request.address.empty())
        return {"address", "an address is required"};
    if (DecodeUtf8(request.address).size() > kMaxAddressLength)
        return {"address", "longer than " + std::to_string(kMaxAddressLength) + " characters"};
    if (std::string why = Unsendable("address", request.address); !why.empty())
        return {"address", why};
    for (std::string why : {Unsendable("text", request.text), TooLongText("text", request.text)}) {
        if (!why.empty())
            return {"text", why};
    }
    for (const FieldRule& rule : kCodeFields) {
        const std::string& value = request.*rule.member;
        if (value.size() != 1 || rule.allowed.find(value[0]) == std::string_view::npos)
            return {rule.name, "one of " + std::string(rule.allowed)};
    }
    return {};
}

CallService::CallService(PagingCore& core, Journal& journal, ServiceLimits limits, TimeSource now)
    : core_(core), journal_(journal), limits_(limits), now_(std::move(now)) {
    line_.since = now_();
}

int CallService::Resume() {
    int queued = 0;
    for (ServiceCall& call : journal_.Unfinished()) {
        const std::int64_t id = call.id;
        auto& held = active_[id] = std::move(call);
        if (held.delivered) {
            // The slave took it before the restart, but a new run cannot ask
            // about a call it did not send: it ends as any call the master
            // stopped asking about.
            Change(held, std::string(StateText(CallState::NoStatus)), true,
                   "the service restarted");
            Finish(id);
            continue;
        }
        std::string note = "queued again after a restart";
        if (held.sent) {
            // Its block may or may not have reached the slave: a second page
            // is better than none.
            ++held.resends;
            ++figures_.resends;
            held.sent = false;
            note = "resent after a restart";
        }
        Change(held, "NEW", false, note);
        waiting_.push_back(id);
        ++queued;
    }
    return queued;
}

SubmitResult CallService::Submit(const CallRequest& request, const std::string& client,
                                 const std::string& key) {
    if (!key.empty()) {
        if (auto first = journal_.FindByKey(client, key)) {
            if (auto it = active_.find(first->id); it != active_.end())
                return {SubmitResult::Kind::Duplicate, it->second, {}, {}};
            return {SubmitResult::Kind::Duplicate, std::move(*first), {}, {}};
        }
    }
    if (RequestProblem problem = CheckRequest(request); !problem.field.empty()) {
        ++figures_.refused;
        return {SubmitResult::Kind::Refused, {}, problem.field, problem.reason};
    }
    if (waiting_.size() >= limits_.queueLimit)
        return {SubmitResult::Kind::QueueFull, {}, {}, "the queue holds its limit of calls"};
    ServiceCall call;
    call.request = request;
    call.client = client;
    call.key = key;
    call.created = call.updated = now_();
    call.history.push_back({call.state, call.created, {}});
    if (!journal_.Insert(call)) {
        Journaled(false, "a new call");
        return {SubmitResult::Kind::JournalFailed, {}, {}, journal_.Error()};
    }
    Journaled(true, "");
    ++figures_.accepted;
    const std::int64_t id = call.id;
    waiting_.push_back(id);
    active_[id] = call;
    Tell([&](ServiceEvents& e) { e.CallUpdated(call); });
    Feed();
    return {SubmitResult::Kind::Accepted, active_[id], {}, {}};
}

CancelResult CallService::Cancel(std::int64_t id) {
    auto it = active_.find(id);
    if (it == active_.end())
        return journal_.Load(id) ? CancelResult::AlreadyFinal : CancelResult::NotFound;
    if (auto queued = std::find(waiting_.begin(), waiting_.end(), id); queued != waiting_.end()) {
        waiting_.erase(queued);
    } else {
        auto engine = std::find_if(inEngine_.begin(), inEngine_.end(),
                                   [&](const auto& entry) { return entry.second == id; });
        if (engine == inEngine_.end())
            return CancelResult::AlreadySent;
        const std::uint32_t coreId = engine->first;
        // The core tells of the removal; the call no longer answers to its id
        // by then, so it is not taken for a call lost from the buffer.
        inEngine_.erase(engine);
        if (!core_.Cancel(coreId)) {
            inEngine_[coreId] = id;
            return CancelResult::AlreadySent;
        }
    }
    Change(it->second, std::string(kCancelledWord), true);
    Finish(id);
    return CancelResult::Cancelled;
}

std::optional<ServiceCall> CallService::Find(std::int64_t id) const {
    // The journal has the whole history; an active call's is in memory too.
    if (auto it = active_.find(id); it != active_.end())
        return it->second;
    return journal_.Load(id);
}

ServiceFigures CallService::Figures() const {
    ServiceFigures figures = figures_;
    figures.waiting = waiting_.size();
    figures.inEngine = inEngine_.size();
    return figures;
}

void CallService::Tick() {
    if (core_.TakeActivity().received)
        line_.lastAnswer = now_();
    Feed();
}

void CallService::Second() {
    const EpochMs now = now_();
    const EpochMs oldest = now - EpochMs{limits_.maxAgeSeconds} * 1000;
    while (!waiting_.empty()) {
        const std::int64_t id = waiting_.front();
        ServiceCall& call = active_.at(id);
        if (call.created >= oldest)
            break;
        waiting_.pop_front();
        Change(call, std::string(kExpiredWord), true,
               "not sent within " + std::to_string(limits_.maxAgeSeconds) + " s");
        Finish(id);
    }
    if (now - lastPrune_ >= kPruneEveryMs) {
        lastPrune_ = now;
        journal_.Prune(now - EpochMs{limits_.keepDays} * kDayMs);
    }
}

bool CallService::CanFeed() const {
    // While the line is down calls wait here, where their age counts, rather
    // than in the buffer, where a call time-out would end them "ERROR".
    return core_.PortIsOpen() && core_.Link() != LinkState::Down;
}

int CallService::FreePositions() const {
    const CallArray& calls = core_.Calls();
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const Call& call) {
        return call.IsFree() || IsFinal(call.state);
    }));
}

void CallService::Feed() {
    if (waiting_.empty() || !CanFeed())
        return;
    for (int free = FreePositions(); free > 0 && !waiting_.empty(); --free) {
        const std::int64_t id = waiting_.front();
        waiting_.pop_front();
        ClearFinishedPosition();
        const Submitted submitted = core_.Submit(active_.at(id).request, limits_.callTimeOut);
        if (submitted.id == 0) {
            // Checked when it was taken; settings changed since cannot make it
            // unsendable, but a refusal must still end the call.
            Change(active_.at(id), std::string(StateText(CallState::Error)), true,
                   submitted.refusal);
            Finish(id);
            continue;
        }
        inEngine_[submitted.id] = id;
    }
}

void CallService::ClearFinishedPosition() {
    // The buffer's own make-room rule gives up only some final states and
    // otherwise its oldest call, which may still be at work: a call the
    // service feeds takes the place of a finished call, never of a live one.
    const CallArray& calls = core_.Calls();
    if (std::any_of(calls.begin(), calls.end(), [](const Call& call) { return call.IsFree(); }))
        return;
    for (int i = 0; i < kCallBufferSize; ++i) {
        if (IsFinal(calls[static_cast<std::size_t>(i)].state)) {
            core_.Remove(i);
            return;
        }
    }
}

void CallService::CallChanged(const CallChange& change) {
    const auto it = inEngine_.find(change.id);
    if (it == inEngine_.end())
        return;
    ServiceCall& call = active_.at(it->second);
    if (change.to == CallState::Free) {
        // Taken out of the buffer before the slave finished with it.
        Change(call, std::string(StateText(CallState::Error)), true, "removed from the buffer");
        Finish(call.id);
        return;
    }
    call.delivered = call.delivered || change.delivered;
    const std::string word(StateText(change.to));
    const bool final = IsFinal(change.to);
    if (word == call.state && !final)
        return;
    Change(call, word, final, change.expired ? "call time-out" : "");
    if (final)
        Finish(call.id);
}

void CallService::CallSent(std::uint32_t coreId) {
    ++figures_.exchanges;
    const auto it = inEngine_.find(coreId);
    if (it == inEngine_.end())
        return;
    ServiceCall& call = active_.at(it->second);
    if (call.sent) {
        ++figures_.retries;
        return;
    }
    // Marked before the bytes leave (they go when the tick returns): a crash
    // from here on sends the call again after the restart.
    call.sent = true;
    call.updated = now_();
    Journaled(journal_.Update(call), "a sent mark");
}

void CallService::LinkChanged(LinkState link) {
    line_.link = link;
    line_.since = now_();
    TellLine();
}

void CallService::PortOpened(const std::string& caption, bool) {
    line_.port = caption;
    line_.problem.clear();
    TellLine();
}

void CallService::PortProblem(const std::string& reason) {
    line_.problem = reason;
    TellLine();
}

void CallService::TellLine() {
    Tell([&](ServiceEvents& e) { e.LineUpdated(line_); });
}

void CallService::Change(ServiceCall& call, std::string state, bool final, std::string note) {
    call.state = std::move(state);
    call.final = final;
    call.updated = now_();
    HistoryEntry entry{call.state, call.updated, std::move(note)};
    call.history.push_back(entry);
    Journaled(journal_.Record(call, entry), "a change of state");
    if (final)
        ++figures_.finals[call.state];
    Tell([&](ServiceEvents& e) { e.CallUpdated(call); });
}

void CallService::Finish(std::int64_t id) {
    for (auto it = inEngine_.begin(); it != inEngine_.end(); ++it) {
        if (it->second == id) {
            inEngine_.erase(it);
            break;
        }
    }
    active_.erase(id);
}

void CallService::Journaled(bool ok, const char* what) {
    if (!ok) {
        core_.Log(std::string("STATUS: Journal not written (") + what + "): " + journal_.Error());
        return;
    }
    ++figures_.journalWrites;
    figures_.journalWriteMsTotal += journal_.LastWriteMs();
    figures_.journalWriteMsMax = std::max(figures_.journalWriteMsMax, journal_.LastWriteMs());
}

}  // namespace zelvano
