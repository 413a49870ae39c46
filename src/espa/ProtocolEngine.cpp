#include "espa/ProtocolEngine.h"

#include <algorithm>
#include <utility>

#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"

namespace zelvano {

namespace engine {

Awaited AwaitByte(Context& e) {
    const int value = e.link.Receive();
    if (value >= 0)
        return {Awaited::Kind::Byte, static_cast<std::uint8_t>(value)};
    if (e.s.timer == 0)
        return {Awaited::Kind::TimeOut};
    return {Awaited::Kind::Pending};
}

namespace {

constexpr std::size_t kMostShown = 32;    // bytes of an unexpected answer kept
constexpr std::int16_t kAnswerTicks = 2;  // ticks a split answer may take

// NAK or EOT in it: the slave has said no or ended its turn.
bool AnswerEnded(const std::vector<std::uint8_t>& answer) {
    return std::find_if(answer.begin(), answer.end(),
                        [](std::uint8_t b) { return b == NAK || b == EOT; }) != answer.end();
}

}  // namespace

Awaited AwaitReply(Context& e, std::initializer_list<std::uint8_t> accepted) {
    EngineState& s = e.s;
    if (s.answer.empty()) {
        const Awaited got = AwaitByte(e);
        if (got.kind != Awaited::Kind::Byte ||
            std::find(accepted.begin(), accepted.end(), got.byte) != accepted.end())
            return got;
        s.answer.push_back(got.byte);
        s.answerWait = kAnswerTicks;
    } else if (s.answerWait > 0) {
        --s.answerWait;
    }
    // What has come is read (and so traced) whatever the log level; the next
    // step would discard it anyway.
    while (s.answer.size() < kMostShown) {
        const int next = e.link.Receive();
        if (next < 0)
            break;
        s.answer.push_back(static_cast<std::uint8_t>(next));
    }
    const bool whole =
        AnswerEnded(s.answer) || s.answer.size() >= kMostShown || s.answerWait == 0 || s.timer == 0;
    if (!whole)
        return {Awaited::Kind::Pending};
    return {Awaited::Kind::Wrong, s.answer.front()};
}

bool AwaitAnswer(Context& e, std::uint8_t expected, const Miss& wrong, const Miss& silent,
                 bool* answered) {
    const Awaited got = AwaitReply(e, {expected});
    if (answered)
        *answered = got.kind == Awaited::Kind::Byte || got.kind == Awaited::Kind::Wrong;
    if (got.kind == Awaited::Kind::Byte)
        return true;
    if (got.kind == Awaited::Kind::Wrong) {
        LogUnexpectedAnswer(e, wrong.text);
        RetryOrGiveUp(e, wrong.retry, wrong.giveUp, wrong.pauseFive);
    } else if (got.kind == Awaited::Kind::TimeOut) {
        Log(e, 1, silent.text);
        RetryOrGiveUp(e, silent.retry, silent.giveUp, silent.pauseFive);
    }
    return false;
}

std::string WithValue(std::string_view text, int value) {
    std::string line(text);
    line += ' ';
    line += TrimStr(static_cast<std::int16_t>(value));
    return line;
}

std::string DescribeBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        if (b < 0x20 || b == 0x7F) {
            const std::string name = ControlCharName(b);  // "[NAK]"
            text += name.substr(1, name.size() - 2);
        } else if (b < 0x7F) {
            text += '\'';
            text += static_cast<char>(b);
            text += '\'';
        } else {
            text += HexByte(b);
        }
    }
    return text;
}

bool LogUnexpectedAnswer(Context& e, std::string_view text) {
    const std::vector<std::uint8_t> answer = std::exchange(e.s.answer, {});
    if (answer.empty())
        return false;
    if (LogLevel(e, 1)) {
        Log(e, 1, WithValue(text, answer.front()));
        Log(e, 1, "Slave answered: " + DescribeBytes(answer));
    }
    return std::find(answer.begin(), answer.end(), NAK) != answer.end();
}

void SendBytes(Context& e, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes)
        SendByte(e, b);
}

void StartSequence(Context& e, Step nextStep) {
    e.s.timer = 5;
    SendByte(e, EOT);
    e.s.step = nextStep;
}

void SendSelect(Context& e, Step answerStep, std::string_view logText) {
    EngineState& s = e.s;
    if (s.timer != 0)
        return;
    ClearInput(e);
    SendBytes(e, {'1', ENQ, '2', ENQ});
    s.timer = 20;
    s.step = answerStep;
    Log(e, 2, logText);
}

int ServedPosition(Context& e) {
    EngineState& s = e.s;
    if (s.callId == 0)
        return -1;
    if (s.viaLineCheck) {
        // A block the slave offered on its own: only the position last served,
        // and only while it still holds that call.
        const bool inRange = s.position >= 0 && s.position < kCallBufferSize;
        return inRange && e.calls.At(s.position).id == s.callId ? s.position : -1;
    }
    const auto position = e.calls.PositionOf(s.callId);
    if (!position)
        return -1;
    s.position = static_cast<std::int16_t>(*position);
    return *position;
}

namespace {

// The master has stopped asking about the call: its status jobs ended with
// "NO STATUS", or its time-out struck.
bool AskingEnded(const Call& call) {
    return call.state == CallState::NoStatus ||
           (call.state == CallState::Error && call.timeOutCount == 0);
}

}  // namespace

bool WriteServedState(Context& e, CallState state) {
    const int position = ServedPosition(e);
    if (position < 0)
        return false;
    Call& call = e.calls.At(position);
    call.delivered = true;  // the slave acknowledged or reported the call
    // "QUEUE" (or a word the master does not know) must not put a call back
    // into the polling once the master stopped asking: with no time-out left
    // it would be polled for ever. A final word is news and always lands.
    const bool news = IsFinal(state) && state != CallState::Error;
    if (AskingEnded(call) && !news) {
        if (call.state == CallState::Error)
            e.calls.SetState(position, CallState::NoStatus);  // delivered after all
        return false;
    }
    e.calls.SetState(position, state);
    return true;
}

void FailServedCall(Context& e) {
    const int position = ServedPosition(e);
    if (position < 0)
        return;
    const Call& call = e.calls.At(position);
    if (!call.delivered) {
        e.calls.SetState(position, CallState::Error);
    } else if (call.state == CallState::Queue) {
        e.calls.SetState(position, CallState::NoStatus);
    }
}

void SetLink(Context& e, LinkState link) {
    if (e.s.link == link)
        return;
    e.s.link = link;
    if (e.linkListener)
        e.linkListener(link);
}

void GiveUp(Context& e, std::string_view giveUpText, bool pauseFive) {
    Log(e, 1, giveUpText);
    FailServedCall(e);
    if (pauseFive)
        e.s.timer = 5;
    e.s.step = Step::LineCheckStart;
}

void RetryOrGiveUp(Context& e, Step retryStep, std::string_view giveUpText, bool pauseFive) {
    EngineState& s = e.s;
    if (s.retries > 0) {
        --s.retries;
        s.step = retryStep;
        return;
    }
    GiveUp(e, giveUpText, pauseFive);
}

bool SendText(Context& e, std::string_view text) {
    for (char32_t cp : DecodeUtf8(text)) {
        const int code = AnsiCode(cp);
        if (code < 0)
            return false;
        e.s.bcc = static_cast<std::int16_t>(e.s.bcc ^ code);
        if (!e.link.Send(code))
            return false;
    }
    return true;
}

BlockSend SendBlock(Context& e, char header) {
    const int position = ServedPosition(e);
    if (position < 0)
        return BlockSend::CallGone;
    const Call& entry = e.calls.At(position);
    // Checked before SOH so that no half block reaches the slave.
    if (!BlockValuesSendable(e.settings, entry))
        return BlockSend::Failed;
    SendByte(e, SOH);
    e.s.bcc = 0;
    std::string text(1, header);
    text += static_cast<char>(STX);
    text += BuildEspaData(e.settings, entry);
    if (!SendText(e, text))
        return BlockSend::Failed;
    SendByte(e, e.s.bcc);
    return BlockSend::Sent;
}

namespace {

void Idle(Context& e, bool startRequest) {
    if (startRequest)
        e.s.step = Step::LineCheckStart;
    e.s.timer = 0;
}

void UnknownStep(Context& e) {
    Log(e, 1, "Zelvano software in default.");
    e.s.step = Step::LineCheckStart;
}

void DispatchStep(Context& e, bool startRequest) {
    switch (e.s.step) {
        case Step::Idle:
            Idle(e, startRequest);
            break;
        case Step::LineCheckStart:
            StartLineCheck(e);
            break;
        case Step::LineCheckPoll:
            SendLinePoll(e);
            break;
        case Step::LineCheckAnswer:
            AwaitLineAnswer(e);
            break;
        case Step::Scheduler:
            ScheduleNextJob(e);
            break;
        case Step::MakeCallStart:
            StartMakeCall(e);
            break;
        case Step::MakeCallSelect:
            SendCallSelect(e);
            break;
        case Step::MakeCallSelectAnswer:
            AwaitCallSelectAnswer(e);
            break;
        case Step::MakeCallBlock:
            SendCallBlock(e);
            break;
        case Step::MakeCallBlockAnswer:
            AwaitCallBlockAnswer(e);
            break;
        case Step::StatusCallStart:
            StartStatusCall(e);
            break;
        case Step::StatusCallSelect:
            SendStatusSelect(e);
            break;
        case Step::StatusCallSelectAnswer:
            AwaitStatusSelectAnswer(e);
            break;
        case Step::StatusCallBlock:
            SendStatusCallBlock(e);
            break;
        case Step::StatusCallBlockAnswer:
            AwaitStatusCallBlockAnswer(e);
            break;
        case Step::StatusRequestStart:
            StartStatusRequest(e);
            break;
        case Step::StatusPoll:
            SendStatusPoll(e);
            break;
        case Step::StatusPollAnswer:
            AwaitPollAnswer(e);
            break;
        case Step::SlaveSelect:
            AwaitSlaveSelect(e);
            break;
        case Step::StatusBlock:
            ReceiveStatusBlock(e);
            break;
        case Step::StatusCheckChar:
            AwaitStatusCheckChar(e);
            break;
        case Step::StatusAccept:
            AcceptStatus(e);
            break;
        default:
            UnknownStep(e);
            break;
    }
}

}  // namespace
}  // namespace engine

bool IsKnownStep(Step step) {
    switch (step) {
        case Step::Idle:
        case Step::LineCheckStart:
        case Step::LineCheckPoll:
        case Step::LineCheckAnswer:
        case Step::Scheduler:
        case Step::MakeCallStart:
        case Step::MakeCallSelect:
        case Step::MakeCallSelectAnswer:
        case Step::MakeCallBlock:
        case Step::MakeCallBlockAnswer:
        case Step::StatusCallStart:
        case Step::StatusCallSelect:
        case Step::StatusCallSelectAnswer:
        case Step::StatusCallBlock:
        case Step::StatusCallBlockAnswer:
        case Step::StatusRequestStart:
        case Step::StatusPoll:
        case Step::StatusPollAnswer:
        case Step::SlaveSelect:
        case Step::StatusBlock:
        case Step::StatusCheckChar:
        case Step::StatusAccept:
            return true;
        default:
            return false;
    }
}

ProtocolEngine::ProtocolEngine(const Settings& settings, CallBuffer& calls, EventLog& log,
                               ByteLink& link)
    : context_(new engine::Context{settings, calls, log, link, {}, {}, {}}) {}

ProtocolEngine::~ProtocolEngine() = default;

void ProtocolEngine::SetLinkListener(std::function<void(LinkState)> listener) {
    context_->linkListener = std::move(listener);
}

void ProtocolEngine::SetSentListener(std::function<void(std::uint32_t)> listener) {
    context_->sentListener = std::move(listener);
}

LinkState ProtocolEngine::Link() const {
    return context_->s.link;
}

const EngineState& ProtocolEngine::State() const {
    return context_->s;
}

void ProtocolEngine::Run(bool startRequest) {
    EngineState& s = context_->s;
    ++s.ticks;
    if (s.timer > 0)
        --s.timer;
    if (s.checkCountdown > 0)
        --s.checkCountdown;
    engine::DispatchStep(*context_, startRequest);
}

void ProtocolEngine::Start(bool afterLoss) {
    EngineState& s = context_->s;
    s.answer.clear();
    s.statusCallsRefused = false;  // another port, or a slave that may have changed
    if (afterLoss && s.step != Step::Idle) {
        s.step = Step::LineCheckStart;
        s.timer = 0;
    }
    if (s.step == Step::LineCheckPoll || s.step == Step::LineCheckAnswer) {
        s.step = Step::LineCheckStart;
        s.timer = 0;
    }
    Run(true);
}

void ProtocolEngine::LineLost() {
    // No line, no slave: the link shows it until the line is back.
    if (context_->s.link == LinkState::Up)
        engine::SetLink(*context_, LinkState::Down);
}

void ProtocolEngine::Reset() {
    EngineState& s = context_->s;
    s.answer.clear();
    s.checkCountdown = 0;
    engine::SetLink(*context_, LinkState::Unknown);
    s.step = Step::Idle;
}

}  // namespace zelvano
