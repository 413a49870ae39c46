#include "espa/AfhandelEspa.h"

#include <algorithm>

#include "app/App.h"
#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"
#include "log/Log.h"
#include "serial/ByteTransfer.h"

namespace zelvano {

namespace engine {

bool IsValidStep(std::int16_t step) {
    switch (step) {
        case kIdle:
        case kLineCheckStart:
        case kLineCheckPoll:
        case kLineCheckAnswer:
        case kScheduler:
        case kMakeCallStart:
        case kMakeCallSelect:
        case kMakeCallSelectAnswer:
        case kMakeCallBlock:
        case kMakeCallBlockAnswer:
        case kStatusCallStart:
        case kStatusCallSelect:
        case kStatusCallSelectAnswer:
        case kStatusCallBlock:
        case kStatusCallBlockAnswer:
        case kStatusRequestStart:
        case kStatusPoll:
        case kStatusPollAnswer:
        case kSlaveSelect:
        case kStatusBlock:
        case kStatusCheckChar:
        case kStatusAccept:
            return true;
        default:
            return false;
    }
}

Awaited AwaitByte(App& app) {
    const std::int16_t value = ReceiveByte(app);
    if (value >= 0)
        return {Awaited::Kind::Byte, static_cast<std::uint8_t>(value)};
    if (app.espa.EspaTimer == 0)
        return {Awaited::Kind::TimeOut};
    return {Awaited::Kind::Pending};
}

bool LogLevel(const App& app, int level) {
    return app.settings.Logfile >= level;
}

void Log(App& app, int level, std::string_view text) {
    if (LogLevel(app, level))
        WriteLog(app, text);
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

bool LogUnexpectedAnswer(App& app, std::string_view text, std::uint8_t byte) {
    // The rest of the answer is read (and so traced) whatever the log level;
    // the next step would discard it anyway.
    constexpr std::size_t kMostShown = 32;
    std::vector<std::uint8_t> answer{byte};
    while (answer.size() < kMostShown) {
        const std::int16_t next = ReceiveByte(app);
        if (next < 0)
            break;
        answer.push_back(static_cast<std::uint8_t>(next));
    }
    if (LogLevel(app, 1)) {
        Log(app, 1, WithValue(text, byte));
        Log(app, 1, "Slave answered: " + DescribeBytes(answer));
    }
    return std::find(answer.begin(), answer.end(), NAK) != answer.end();
}

void SendBytes(App& app, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes)
        SendByte(app, b);
}

void StartSequence(App& app, std::int16_t nextStep) {
    app.espa.EspaTimer = 5;
    SendByte(app, EOT);
    app.espa.EspaState = nextStep;
}

void SendSelect(App& app, std::int16_t answerStep, std::string_view logText) {
    ProtocolState& s = app.espa;
    if (s.EspaTimer != 0)
        return;
    ClearInput(app);
    SendBytes(app, {'1', ENQ, '2', ENQ});
    s.EspaTimer = 20;
    s.EspaState = answerStep;
    Log(app, 2, logText);
}

std::optional<std::int16_t> ServedPosition(App& app) {
    ProtocolState& s = app.espa;
    if (s.EspaCallId == 0)
        return std::nullopt;
    if (s.StatusViaLineCheck) {
        // A block the slave offered on its own: only the position last served,
        // and only while it still holds that call.
        const bool inRange = s.EspaPosition >= 0 && s.EspaPosition < kCallBufferSize;
        if (inRange &&
            app.CallBuffer[static_cast<std::size_t>(s.EspaPosition)].CallId == s.EspaCallId) {
            return s.EspaPosition;
        }
        return std::nullopt;
    }
    for (std::int16_t i = 0; i < kCallBufferSize; ++i) {
        if (app.CallBuffer[static_cast<std::size_t>(i)].CallId == s.EspaCallId) {
            s.EspaPosition = i;
            return i;
        }
    }
    return std::nullopt;
}

CallBufferEntry* ServedEntry(App& app) {
    const auto position = ServedPosition(app);
    if (!position)
        return nullptr;
    return &app.CallBuffer[static_cast<std::size_t>(*position)];
}

namespace {

// Redrawn at once: nothing else may redraw the rows for a long time, and a
// call given up would otherwise go on showing as waiting.
void SetStatus(App& app, CallBufferEntry& entry, const std::string& state) {
    entry.Status = state;
    ShowCallBuffer(app);
}

// The master has stopped asking about the call: its status jobs ended with
// "NO STATUS", or its time-out struck.
bool AskingEnded(const CallBufferEntry& entry) {
    return entry.Status == "NO STATUS" || (entry.Status == "ERROR" && entry.TimeOutCount == 0);
}

}  // namespace

bool WriteServedState(App& app, const std::string& state) {
    CallBufferEntry* entry = ServedEntry(app);
    if (entry == nullptr)
        return false;
    entry->Delivered = true;  // the slave acknowledged or reported the call
    // "QUEUE" (or an unknown word) must not put a call back into the polling
    // once the master stopped asking: with no time-out left it would be polled
    // for ever. A final word is news and always lands.
    const bool finalWord = state == "BUSY" || state == "PAGED" || state == "ABSENT" ||
                           state == "TERMINATED" || state == "SPEECHPAGED";
    if (AskingEnded(*entry) && !finalWord) {
        if (entry->Status == "ERROR")
            SetStatus(app, *entry, "NO STATUS");  // delivered after all
        return false;
    }
    SetStatus(app, *entry, state);
    return true;
}

void FailServedCall(App& app) {
    CallBufferEntry* entry = ServedEntry(app);
    if (entry == nullptr)
        return;
    if (!entry->Delivered) {
        SetStatus(app, *entry, "ERROR");
    } else if (entry->Status == "QUEUE") {
        SetStatus(app, *entry, "NO STATUS");
    }
}

void GiveUp(App& app, std::string_view giveUpText, bool pauseFive) {
    Log(app, 1, giveUpText);
    FailServedCall(app);
    if (pauseFive)
        app.espa.EspaTimer = 5;
    app.espa.EspaState = kLineCheckStart;
}

void RetryOrGiveUp(App& app, std::int16_t retryStep, std::string_view giveUpText, bool pauseFive) {
    ProtocolState& s = app.espa;
    if (s.RetryCount > 0) {
        --s.RetryCount;
        s.EspaState = retryStep;
        return;
    }
    GiveUp(app, giveUpText, pauseFive);
}

BlockSend SendBlock(App& app, char header) {
    const auto position = ServedPosition(app);
    if (!position)
        return BlockSend::CallGone;
    const CallBufferEntry& entry = app.CallBuffer[static_cast<std::size_t>(*position)];
    // Checked before SOH so that no half block reaches the slave.
    if (!BlockValuesSendable(app.settings, entry))
        return BlockSend::Failed;
    SendByte(app, SOH);
    app.espa.Bcc = 0;
    std::string text(1, header);
    text += static_cast<char>(STX);
    text += BuildEspaData(app.settings, entry);
    if (SendEspaString(app, text) != 0)
        return BlockSend::Failed;
    SendByte(app, app.espa.Bcc);
    return BlockSend::Sent;
}

namespace {

void Idle(App& app, std::int16_t request) {
    if (request == kLineCheckStart)
        app.espa.EspaState = kLineCheckStart;
    app.espa.EspaTimer = 0;
}

void UnknownStep(App& app) {
    Log(app, 1, "Zelvano software in default.");
    app.espa.EspaState = kLineCheckStart;
}

void DispatchStep(App& app, std::int16_t request) {
    switch (app.espa.EspaState) {
        case kIdle:
            Idle(app, request);
            break;
        case kLineCheckStart:
            StartLineCheck(app);
            break;
        case kLineCheckPoll:
            SendLinePoll(app);
            break;
        case kLineCheckAnswer:
            AwaitLineAnswer(app);
            break;
        case kScheduler:
            ScheduleNextJob(app);
            break;
        case kMakeCallStart:
            StartMakeCall(app);
            break;
        case kMakeCallSelect:
            SendCallSelect(app);
            break;
        case kMakeCallSelectAnswer:
            AwaitCallSelectAnswer(app);
            break;
        case kMakeCallBlock:
            SendCallBlock(app);
            break;
        case kMakeCallBlockAnswer:
            AwaitCallBlockAnswer(app);
            break;
        case kStatusCallStart:
            StartStatusCall(app);
            break;
        case kStatusCallSelect:
            SendStatusSelect(app);
            break;
        case kStatusCallSelectAnswer:
            AwaitStatusSelectAnswer(app);
            break;
        case kStatusCallBlock:
            SendStatusCallBlock(app);
            break;
        case kStatusCallBlockAnswer:
            AwaitStatusCallBlockAnswer(app);
            break;
        case kStatusRequestStart:
            StartStatusRequest(app);
            break;
        case kStatusPoll:
            SendStatusPoll(app);
            break;
        case kStatusPollAnswer:
            AwaitPollAnswer(app);
            break;
        case kSlaveSelect:
            AwaitSlaveSelect(app);
            break;
        case kStatusBlock:
            ReceiveStatusBlock(app);
            break;
        case kStatusCheckChar:
            AwaitStatusCheckChar(app);
            break;
        case kStatusAccept:
            AcceptStatus(app);
            break;
        default:
            UnknownStep(app);
            break;
    }
}

}  // namespace
}  // namespace engine

void HandleEspa(App& app, std::int16_t request) {
    ProtocolState& s = app.espa;
    ++s.TickCount;
    if (s.EspaTimer > 0)
        --s.EspaTimer;
    if (s.CheckCountdown > 0)
        --s.CheckCountdown;
    engine::DispatchStep(app, request);
}

}  // namespace zelvano
