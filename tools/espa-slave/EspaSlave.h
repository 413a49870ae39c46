// The paging system's side of the link as a pure object: bytes from the master
// go in with the time they arrived, answers come out when they are due. The
// I/O loop owns the port and the clock; tests drive this with made-up times.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "SlaveConfig.h"

namespace zelvano::slave {

enum class LogLevel {
    Essential,  // calls, delivered states, warnings: shown even when quiet
    Exchange,   // every unit received and sent
};

struct LogLine {
    LogLevel level;
    std::string text;
};

// A call the paging system knows, with its progress through its script.
struct SlaveCall {
    std::uint64_t id = 0;
    std::string address;     // record 1 as UTF-8
    std::string rawAddress;  // record 1 as received
    std::string data;        // data part as received, to spot a repeated block
    StatusScript script;
    std::size_t step = 0;  // next script step to report
    int holdLeft = 0;      // polls still to answer with EOT before that step
    char lastDigit = 0;    // last status delivered, 0 for none
    std::int64_t lastNewsMs = 0;

    bool Finished() const { return step >= script.size(); }
};

class EspaSlave {
  public:
    static constexpr std::size_t kMaxCalls = 64;
    static constexpr std::size_t kMaxBlockBytes = 4096;

    explicit EspaSlave(SlaveConfig config);

    // Bytes the master sent, read at nowMs.
    void Receive(std::string_view bytes, std::int64_t nowMs);
    // The line went away under the exchange (a TCP master disconnected):
    // drops what was half-way on it (a block, answers not sent yet, a status
    // report), so the next master starts afresh; the calls stay known.
    void DropLine(std::int64_t nowMs);
    // Runs the time-outs that have expired by nowMs.
    void Tick(std::int64_t nowMs);
    // The bytes due by nowMs, in order; logs each answer as it goes.
    std::string TakeDue(std::int64_t nowMs);
    // When Tick or TakeDue next has work; nullopt when nothing is pending.
    std::optional<std::int64_t> NextWakeMs() const;
    // The log lines produced since the last call.
    std::vector<LogLine> TakeLog();

    const std::deque<SlaveCall>& Calls() const { return calls_; }

  private:
    enum class Rx { Idle, Block, BlockCheck };
    enum class Await { None, AckForSelect, AckForBlock };
    struct Outgoing {
        std::int64_t dueMs;
        std::string bytes;
        std::string text;
    };
    struct Report {
        std::uint64_t callId = 0;
        std::string address;
        std::string rawAddress;
        char digit = 0;
        bool repeat = false;  // a state delivered before, asked for again
    };
    struct PollTarget {
        SlaveCall* call = nullptr;
        bool named = false;  // a status call block named the call
    };

    void Take(std::uint8_t byte);
    void TakeBlockByte(std::uint8_t byte);
    void OnAddressEnq(char digit);
    void OnSelect();
    void OnPoll();
    void OnEot();
    void OnAck();
    void OnNak();
    void OnBlock(std::uint8_t check);
    void AnswerPoll(const PollTarget& target);
    void AnswerGoodBlock(char header, std::string_view data);
    bool RefuseByLimits(char header, std::string_view data);
    void ReplyPollEot(std::string text);
    void SendStray(const char* after);
    void StartReport(const SlaveCall& call, char digit, bool repeat);
    void SendStatusBlock();
    void DeliverReport();
    void RegisterCall(std::string_view data);
    void AskAbout(std::string_view data);
    PollTarget FindPollTarget();
    SlaveCall* FindCall(std::uint64_t id);
    void ForgetStaleCalls();
    void DropIncompleteSelect();

    bool StrikesNow(Fault fault);
    int DrawDelay();
    std::int64_t Reply(std::string bytes, std::string text, int extraDelayMs = 0);
    std::int64_t ReplyInPieces(const std::string& bytes, std::string text, int extraDelayMs = 0);
    void Junk(std::uint8_t byte);
    void FlushJunk();
    void Log(LogLevel level, std::string text);

    SlaveConfig config_;
    std::mt19937 rng_;
    std::array<long, kFaultCount> occurrences_{};
    std::int64_t now_ = 0;

    Rx rx_ = Rx::Idle;
    std::string block_;  // bytes after SOH, up to and including ETX
    std::int64_t blockStartMs_ = 0;
    char pendingDigit_ = 0;       // a digit waiting for its ENQ
    bool selectStarted_ = false;  // '1' ENQ seen, '2' ENQ to follow
    bool selected_ = false;       // select acknowledged, a block may follow
    bool checkOpen_ = false;      // select acknowledged, an EOT now makes it a line check
    std::string junk_;

    Await await_ = Await::None;
    std::int64_t awaitDeadlineMs_ = 0;
    Report report_;
    std::optional<std::string> askedAddress_;  // raw address of the last status call block

    std::deque<SlaveCall> calls_;
    std::uint64_t nextCallId_ = 1;
    std::deque<Outgoing> out_;
    std::int64_t lastDueMs_ = 0;
    std::vector<LogLine> log_;
};

}  // namespace zelvano::slave
