// Internals of the protocol engine shared by its step files: step numbers,
// the byte wait, logging by level and the retry and give-up rules.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvano {

class App;
struct CallBufferEntry;

namespace engine {

inline constexpr std::int16_t kIdle = 0;
inline constexpr std::int16_t kLineCheckStart = 10;
inline constexpr std::int16_t kLineCheckPoll = 11;
inline constexpr std::int16_t kLineCheckAnswer = 15;
inline constexpr std::int16_t kScheduler = 20;
inline constexpr std::int16_t kMakeCallStart = 30;
inline constexpr std::int16_t kMakeCallSelect = 35;
inline constexpr std::int16_t kMakeCallSelectAnswer = 37;
inline constexpr std::int16_t kMakeCallBlock = 40;
inline constexpr std::int16_t kMakeCallBlockAnswer = 45;
inline constexpr std::int16_t kStatusCallStart = 100;
inline constexpr std::int16_t kStatusCallSelect = 105;
inline constexpr std::int16_t kStatusCallSelectAnswer = 107;
inline constexpr std::int16_t kStatusCallBlock = 108;
inline constexpr std::int16_t kStatusCallBlockAnswer = 110;
inline constexpr std::int16_t kStatusRequestStart = 150;
inline constexpr std::int16_t kStatusPoll = 160;
inline constexpr std::int16_t kStatusPollAnswer = 170;
inline constexpr std::int16_t kSlaveSelect = 180;
inline constexpr std::int16_t kStatusBlock = 200;
inline constexpr std::int16_t kStatusCheckChar = 210;
inline constexpr std::int16_t kStatusAccept = 220;

// True for the step numbers the engine knows.
bool IsValidStep(std::int16_t step);

// What one read of a step that awaits a byte found.
struct Awaited {
    enum class Kind { Byte, TimeOut, Pending } kind;
    std::uint8_t byte = 0;
};
// Reads once: a byte is handled even when the step's time ran out in this
// tick; only no byte and EspaTimer 0 is a time-out.
Awaited AwaitByte(App& app);

// True when the log level is at least level.
bool LogLevel(const App& app, int level);
// Writes text when the log level is at least level.
void Log(App& app, int level, std::string_view text);
// text, a blank and the decimal value (the "&d" / "%d" lines).
std::string WithValue(std::string_view text, int value);

void SendBytes(App& app, std::initializer_list<std::uint8_t> bytes);

// Bytes as the operator reads them: "'1' NAK EOT".
std::string DescribeBytes(const std::vector<std::uint8_t>& bytes);
// An answer that is not the one awaited: logs text with the byte's value (the
// step's own line), then the whole answer that came with it. True when the
// answer holds a NAK.
bool LogUnexpectedAnswer(App& app, std::string_view text, std::uint8_t byte);

// First step of a job: EOT, then nextStep after a pause of 5 ticks.
void StartSequence(App& app, std::int16_t nextStep);
// After the pause: clear the input, send the select '1' ENQ '2' ENQ and allow
// 20 ticks for the answer awaited in answerStep.
void SendSelect(App& app, std::int16_t answerStep, std::string_view logText);

// The position that now holds the call the job serves (EspaPosition is moved
// to it), or nullopt when that call has left the buffer.
std::optional<std::int16_t> ServedPosition(App& app);
// The served call's entry, or nullptr when that call has left the buffer.
CallBufferEntry* ServedEntry(App& app);
// Writes a state word the slave gave for the served call (its ACK is "QUEUE")
// and marks the call delivered; false when nothing was written (the call is
// gone, or the master stopped asking and the word is not a final one).
bool WriteServedState(App& app, const std::string& state);
// The master gives up on the served call: "ERROR" when the slave never
// accepted it, "NO STATUS" when it did but its state could not be had.
void FailServedCall(App& app);

// Shared retry rule: a retry left goes to retryStep, else the job gives up.
void RetryOrGiveUp(App& app, std::int16_t retryStep, std::string_view giveUpText,
                   bool pauseFive = false);
// Give up: log, fail the served call, a line check follows.
void GiveUp(App& app, std::string_view giveUpText, bool pauseFive);

enum class BlockSend { Sent, Failed, CallGone };
// SOH, header, STX, the served call's data part, ETX and the check character.
// Nothing goes out when the call is gone or a value cannot be framed.
BlockSend SendBlock(App& app, char header);

// Steps, one function each.
void StartLineCheck(App& app);
void SendLinePoll(App& app);
void AwaitLineAnswer(App& app);
void ScheduleNextJob(App& app);
void StartMakeCall(App& app);
void SendCallSelect(App& app);
void AwaitCallSelectAnswer(App& app);
void SendCallBlock(App& app);
void AwaitCallBlockAnswer(App& app);
void StartStatusCall(App& app);
void SendStatusSelect(App& app);
void AwaitStatusSelectAnswer(App& app);
void SendStatusCallBlock(App& app);
void AwaitStatusCallBlockAnswer(App& app);
void StartStatusRequest(App& app);
void SendStatusPoll(App& app);
void AwaitPollAnswer(App& app);
void AwaitSlaveSelect(App& app);
void ReceiveStatusBlock(App& app);
void AwaitStatusCheckChar(App& app);
void AcceptStatus(App& app);

}  // namespace engine
}  // namespace zelvano
