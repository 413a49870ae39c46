// Inside the protocol engine: its context, the byte wait, logging by level and
// the retry and give-up rules shared by the step files.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "espa/ProtocolEngine.h"

namespace zelvano::engine {

// What the steps work with: the components the engine uses and its state.
struct Context {
    const Settings& settings;
    CallBuffer& calls;
    EventLog& log;
    ByteLink& link;
    EngineState s;
    std::function<void(LinkState)> linkListener;
    std::function<void(std::uint32_t)> sentListener;
};

// What one read of a step that awaits a byte found.
struct Awaited {
    enum class Kind { Byte, Wrong, TimeOut, Pending } kind;
    std::uint8_t byte = 0;
};
// Reads once: a byte is handled even when the step's time ran out in this
// tick; only no byte and timer 0 is a time-out.
Awaited AwaitByte(Context& e);
// As AwaitByte for a step that takes only the bytes accepted. Any other byte
// begins an answer that may come split over ticks: it is gathered until it
// holds NAK or EOT, for at most 2 more ticks and never past the step's
// time-out, then handed back whole as Wrong (byte is its first byte).
Awaited AwaitReply(Context& e, std::initializer_list<std::uint8_t> accepted);

// What a wait does when its answer does not come: the line it logs, where a
// retry goes, the give-up line and whether a pause of 5 ticks follows it.
struct Miss {
    std::string_view text;
    Step retry;
    std::string_view giveUp;
    bool pauseFive = false;
};
// One read of a step that awaits the byte expected: true when it came. A wrong
// byte (logged with the whole answer) and silence at the time-out are each
// retried or given up as their Miss says; nothing happens while it is pending.
// answered, when given, is set when the slave answered at all (either way).
bool AwaitAnswer(Context& e, std::uint8_t expected, const Miss& wrong, const Miss& silent,
                 bool* answered = nullptr);

// True when the log level is at least level.
inline bool LogLevel(const Context& e, int level) {
    return e.log.Enabled(level);
}
// Writes text when the log level is at least level.
inline void Log(Context& e, int level, std::string_view text) {
    e.log.Write(level, text);
}
// text, a blank and the decimal value (the "&d" / "%d" lines).
std::string WithValue(std::string_view text, int value);

inline void SendByte(Context& e, int value) {
    e.link.Send(value);
}
inline void ClearInput(Context& e) {
    e.link.ClearInput();
}
void SendBytes(Context& e, std::initializer_list<std::uint8_t> bytes);
// Sets the link state and tells the listener of a change.
void SetLink(Context& e, LinkState link);

// Bytes as the operator reads them: "'1' NAK EOT".
std::string DescribeBytes(const std::vector<std::uint8_t>& bytes);
// The answer AwaitReply gathered, which is not the one awaited: logs text with
// its first byte's value (the step's own line), then the whole answer, and
// forgets it. True when the answer holds a NAK.
bool LogUnexpectedAnswer(Context& e, std::string_view text);

// First step of a job: EOT, then nextStep after a pause of 5 ticks.
void StartSequence(Context& e, Step nextStep);
// After the pause: clear the input, send the select '1' ENQ '2' ENQ and allow
// 20 ticks for the answer awaited in answerStep.
void SendSelect(Context& e, Step answerStep, std::string_view logText);

// The position that now holds the call the job serves (position is moved to
// it), or -1 when that call has left the buffer.
int ServedPosition(Context& e);
// Writes a state the slave gave for the served call (its ACK is "QUEUE") and
// marks the call delivered; false when nothing was written (the call is gone,
// or the master stopped asking and the state is no news).
bool WriteServedState(Context& e, CallState state);
// The master gives up on the served call: "ERROR" when the slave never
// accepted it, "NO STATUS" when it did but its state could not be had.
void FailServedCall(Context& e);

// Shared retry rule: a retry left goes to retryStep, else the job gives up.
void RetryOrGiveUp(Context& e, Step retryStep, std::string_view giveUpText, bool pauseFive = false);
// Give up: log, fail the served call, a line check follows.
void GiveUp(Context& e, std::string_view giveUpText, bool pauseFive);

// Sends each character as one byte, folding it into the check character
// first. False at the first character that cannot be sent.
bool SendText(Context& e, std::string_view text);

enum class BlockSend { Sent, Failed, CallGone };
// SOH, header, STX, the served call's data part, ETX and the check character.
// Nothing goes out when the call is gone or a value cannot be framed.
BlockSend SendBlock(Context& e, char header);

// Steps, one function each.
void StartLineCheck(Context& e);
void SendLinePoll(Context& e);
void AwaitLineAnswer(Context& e);
void ScheduleNextJob(Context& e);
void StartMakeCall(Context& e);
void SendCallSelect(Context& e);
void AwaitCallSelectAnswer(Context& e);
void SendCallBlock(Context& e);
void AwaitCallBlockAnswer(Context& e);
void StartStatusCall(Context& e);
void SendStatusSelect(Context& e);
void AwaitStatusSelectAnswer(Context& e);
void SendStatusCallBlock(Context& e);
void AwaitStatusCallBlockAnswer(Context& e);
void StartStatusRequest(Context& e);
void SendStatusPoll(Context& e);
void AwaitPollAnswer(Context& e);
void AwaitSlaveSelect(Context& e);
void ReceiveStatusBlock(Context& e);
void AwaitStatusCheckChar(Context& e);
void AcceptStatus(Context& e);

}  // namespace zelvano::engine
