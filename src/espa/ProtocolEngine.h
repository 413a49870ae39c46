// The master's protocol engine: one step per 100 ms tick. It delivers the
// buffer's calls to the slave, asks for their states and checks the line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "buffer/CallBuffer.h"
#include "log/Log.h"
#include "serial/ByteTransfer.h"
#include "settings/Settings.h"

namespace zelvano {

namespace test {
struct EngineRig;
struct CoreAccess;
}  // namespace test

// Whether the slave answers the line check; Unknown until the first answer.
enum class LinkState { Unknown, Up, Down };

// The steps, numbered as the engine's diagnostics show them.
enum class Step : std::int16_t {
    Idle = 0,
    LineCheckStart = 10,
    LineCheckPoll = 11,
    LineCheckAnswer = 15,
    Scheduler = 20,
    MakeCallStart = 30,
    MakeCallSelect = 35,
    MakeCallSelectAnswer = 37,
    MakeCallBlock = 40,
    MakeCallBlockAnswer = 45,
    StatusCallStart = 100,
    StatusCallSelect = 105,
    StatusCallSelectAnswer = 107,
    StatusCallBlock = 108,
    StatusCallBlockAnswer = 110,
    StatusRequestStart = 150,
    StatusPoll = 160,
    StatusPollAnswer = 170,
    SlaveSelect = 180,
    StatusBlock = 200,
    StatusCheckChar = 210,
    StatusAccept = 220,
};

// True for the steps the engine knows.
bool IsKnownStep(Step step);

// The engine's working state.
struct EngineState {
    Step step = Step::Idle;
    std::int16_t timer = 0;      // countdown in ticks for the current step
    std::int16_t position = 0;   // buffer position the current job serves
    std::int16_t scanDelay = 0;  // ticks before the scheduler scans again
    std::int16_t retries = 0;    // retries left for the current job
    std::int16_t bcc = 0;        // running block check character
    std::string statusBlock;     // status block being received (raw bytes)
    LinkState link = LinkState::Unknown;
    std::int16_t checkCountdown = 0;  // ticks to the next line check
    // The call the current (or last) job serves, so its result follows the
    // call when removals shift positions; 0 when none.
    std::uint32_t callId = 0;
    // True while a status block announced by '1' on the line-check poll is
    // received: it may only land on the position last served if that position
    // still holds the call last served.
    bool viaLineCheck = false;
    std::uint32_t ticks = 0;        // ticks so far
    std::uint32_t statusTurns = 0;  // status jobs started so far
    bool refusalTold = false;       // the hint about refused SOH3 is logged once
    // The slave refused a SOH3 block: no more are sent (accepted calls end
    // "NO STATUS") until the port is opened again, with its settings.
    bool statusCallsRefused = false;
    bool statusFound = false;      // a status block was ever accepted
    bool statusPollEmpty = false;  // a status request was ever answered EOT
    // An answer other than the one awaited, gathered over a tick or two so a
    // split answer is judged whole; empty when none is under way.
    std::vector<std::uint8_t> answer;
    std::int16_t answerWait = 0;  // ticks it may still take to come whole
};

namespace engine {
struct Context;
}

class ProtocolEngine {
  public:
    ProtocolEngine(const Settings& settings, CallBuffer& calls, EventLog& log, ByteLink& link);
    ~ProtocolEngine();
    ProtocolEngine(const ProtocolEngine&) = delete;
    ProtocolEngine& operator=(const ProtocolEngine&) = delete;

    // Told each change of the link state.
    void SetLinkListener(std::function<void(LinkState)> listener);
    // Told the call's identity when its call block went out.
    void SetSentListener(std::function<void(std::uint32_t)> listener);

    // One 100 ms tick.
    void Tick() { Run(false); }
    // The line was (re)opened: the engine starts with a line check. After a
    // lost line, whatever exchange it cut short is void; a line check cut
    // short by a reopen starts again at once rather than timing out.
    void Start(bool afterLoss);
    // The line is gone: the slave cannot answer either.
    void LineLost();
    // Back to the idle step with the link unknown.
    void Reset();

    LinkState Link() const;
    const EngineState& State() const;

  private:
    friend struct test::EngineRig;
    friend struct test::CoreAccess;

    void Run(bool startRequest);

    std::unique_ptr<engine::Context> context_;
};

}  // namespace zelvano
