// The paging service's desk: takes calls from many callers, keeps each in the
// journal before it is acknowledged, feeds them to the paging core as its ten
// positions free up, and tells subscribers what became of them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "paging/PagingCore.h"
#include "service/Journal.h"
#include "service/ServiceCall.h"

namespace zelvano {

// The longest address a caller may give, in characters: the most a pager
// address has in the paging systems' own numbering.
inline constexpr std::size_t kMaxAddressLength = 16;

struct ServiceLimits {
    std::size_t queueLimit = 10000;                       // calls waiting in front of the engine
    int maxAgeSeconds = 600;                              // a call not sent by then ends EXPIRED
    int keepDays = 7;                                     // finished calls are pruned after this
    std::int16_t callTimeOut = CallBuffer::kCallTimeOut;  // the buffer's own, per call
};

// The line as the API shows it.
struct LineView {
    LinkState link = LinkState::Unknown;
    std::string port;        // the port caption, "Settings: Com:1 at 9600,N,8,1"
    std::string problem;     // why the port is not open, empty while it is
    EpochMs since = 0;       // the link state holds since then
    EpochMs lastAnswer = 0;  // the slave last sent a byte then; 0 when never
};

// Counters for the metrics page.
struct ServiceFigures {
    std::map<std::string, std::int64_t> finals;  // final calls by state word, this run
    std::int64_t accepted = 0;                   // calls taken (duplicates not counted)
    std::int64_t refused = 0;                    // calls refused for their content
    std::int64_t exchanges = 0;                  // call blocks that went out
    std::int64_t retries = 0;                    // call blocks sent again in one run
    std::int64_t resends = 0;                    // calls sent again after a restart
    std::int64_t journalWrites = 0;
    double journalWriteMsTotal = 0;
    double journalWriteMsMax = 0;
    std::size_t waiting = 0;   // in the service's queue
    std::size_t inEngine = 0;  // holding a position of the engine
};

// What a subscriber hears.
class ServiceEvents {
  public:
    virtual ~ServiceEvents() = default;
    virtual void CallUpdated(const ServiceCall&) {}
    virtual void LineUpdated(const LineView&) {}
};

struct SubmitResult {
    enum class Kind { Accepted, Duplicate, Refused, QueueFull, JournalFailed } kind;
    ServiceCall call;   // Accepted, Duplicate
    std::string field;  // Refused: the field at fault
    std::string error;  // Refused, QueueFull, JournalFailed: the reason
};

enum class CancelResult { Cancelled, NotFound, AlreadySent, AlreadyFinal };

using TimeSource = std::function<EpochMs()>;

// Why a request cannot be paged as given: the field and the reason; empty field
// when it can: lengths, characters, and the codes of the one-character fields.
struct RequestProblem {
    std::string field;
    std::string reason;
};
RequestProblem CheckRequest(const CallRequest& request);

class CallService : public PagingEvents {
  public:
    CallService(PagingCore& core, Journal& journal, ServiceLimits limits, TimeSource now);
    CallService(const CallService&) = delete;
    CallService& operator=(const CallService&) = delete;

    void Subscribe(ServiceEvents& events) { subscribers_.push_back(&events); }
    // A subscriber that goes before the desk says so, or it would be told of
    // the line's closing after it is gone.
    void Unsubscribe(ServiceEvents& events) { std::erase(subscribers_, &events); }

    // Picks up the journal's unfinished calls after a start: calls never
    // accepted by the slave are queued again (marked resent when their block was
    // on the line), accepted ones end "NO STATUS". Returns how many were queued.
    int Resume();

    // Journals a call, then queues it. A key the client used before returns
    // that call, never a second one.
    SubmitResult Submit(const CallRequest& request, const std::string& client,
                        const std::string& key = {});
    CancelResult Cancel(std::int64_t id);

    std::optional<ServiceCall> Find(std::int64_t id) const;
    std::vector<ServiceCall> List(const CallQuery& query) const { return journal_.List(query); }
    const LineView& Line() const { return line_; }
    ServiceFigures Figures() const;

    // After each engine tick: the line's activity, and waiting calls into free
    // positions. Calls enter only here or on Submit, never from inside the
    // core's own events, where the engine is at work on its positions.
    void Tick();
    // Once a second: calls too old to send expire; once an hour old calls are pruned.
    void Second();

    // The core's events.
    void CallChanged(const CallChange& change) override;
    void CallSent(std::uint32_t id) override;
    void LinkChanged(LinkState link) override;
    void PortOpened(const std::string& caption, bool manualRts) override;
    void PortProblem(const std::string& reason) override;

  private:
    void Feed();
    bool CanFeed() const;
    int FreePositions() const;
    void ClearFinishedPosition();
    // Sets a call's state, journals it and tells the subscribers.
    void Change(ServiceCall& call, std::string state, bool final, std::string note = {});
    void Finish(std::int64_t id);
    void Journaled(bool ok, const char* what);
    void TellLine();
    template <typename F>
    void Tell(F&& f) {
        for (ServiceEvents* s : subscribers_)
            f(*s);
    }

    PagingCore& core_;
    Journal& journal_;
    ServiceLimits limits_;
    TimeSource now_;
    std::vector<ServiceEvents*> subscribers_;
    std::map<std::int64_t, ServiceCall> active_;      // not final
    std::deque<std::int64_t> waiting_;                // in front of the engine, oldest first
    std::map<std::uint32_t, std::int64_t> inEngine_;  // core id to service id
    LineView line_;
    ServiceFigures figures_;
    EpochMs lastPrune_ = 0;
};

}  // namespace zelvano
