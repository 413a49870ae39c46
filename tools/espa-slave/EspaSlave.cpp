#include "EspaSlave.h"

#include <algorithm>
#include <utility>

#include "BlockText.h"
#include "common/Text.h"
#include "espa/EspaFormat.h"

namespace zelvano::slave {

namespace {

std::string Byte(std::uint8_t value) {
    return std::string(1, static_cast<char>(value));
}

std::string ShowAddress(const std::string& address) {
    return address.empty() ? "(no address)" : address;
}

// "record 2" for the record that holds data[at], "the data" outside any record.
std::string RecordAt(std::string_view data, std::size_t at) {
    const auto rs = data.rfind(static_cast<char>(RS), at);
    const std::size_t start = rs == std::string_view::npos ? 0 : rs + 1;
    if (start + 1 < data.size() && start < at && static_cast<std::uint8_t>(data[start + 1]) == US)
        return std::string("record ") + data[start];
    return "the data";
}

}  // namespace

EspaSlave::EspaSlave(SlaveConfig config) : config_(std::move(config)), rng_(config_.seed) {
    config_.splitPieces = std::max(1, config_.splitPieces);
    config_.delayMaxMs = std::max(config_.delayMinMs, config_.delayMaxMs);
}

// ---- input ----

void EspaSlave::Receive(std::string_view bytes, std::int64_t nowMs) {
    now_ = nowMs;
    for (char c : bytes)
        Take(static_cast<std::uint8_t>(c));
    FlushJunk();
}

void EspaSlave::Take(std::uint8_t byte) {
    if (rx_ == Rx::Block) {
        TakeBlockByte(byte);
        return;
    }
    if (rx_ == Rx::BlockCheck) {
        rx_ = Rx::Idle;
        OnBlock(byte);
        return;
    }
    // Only an EOT straight after an acknowledged select closes a line check.
    const bool lineCheckEnds = std::exchange(checkOpen_, false) && byte == EOT;
    if (pendingDigit_ != 0) {
        const char digit = pendingDigit_;
        pendingDigit_ = 0;
        if (byte == ENQ) {
            OnAddressEnq(digit);
            return;
        }
        Junk(static_cast<std::uint8_t>(digit));
    }
    if (byte >= '0' && byte <= '9') {
        pendingDigit_ = static_cast<char>(byte);
        return;
    }
    DropIncompleteSelect();
    switch (byte) {
        case EOT:
            OnEot();
            if (lineCheckEnds)
                SendStray("the line check");
            break;
        case ACK:
            OnAck();
            break;
        case NAK:
            OnNak();
            break;
        case SOH:
            FlushJunk();
            rx_ = Rx::Block;
            block_.clear();
            blockStartMs_ = now_;
            break;
        default:
            Junk(byte);
    }
}

void EspaSlave::TakeBlockByte(std::uint8_t byte) {
    if (byte == EOT || byte == SOH || block_.size() >= kMaxBlockBytes) {
        Log(LogLevel::Essential, "<- block broken off after " + std::to_string(block_.size()) +
                                     " bytes: " + ByteNames(block_));
        rx_ = Rx::Idle;
        block_.clear();
        Take(byte);
        return;
    }
    block_ += static_cast<char>(byte);
    if (byte == ETX)
        rx_ = Rx::BlockCheck;
}

void EspaSlave::OnAddressEnq(char digit) {
    FlushJunk();
    if (digit == '2') {
        const bool select = selectStarted_;
        selectStarted_ = false;
        select ? OnSelect() : OnPoll();
        return;
    }
    DropIncompleteSelect();
    if (digit == '1') {
        selectStarted_ = true;
        return;
    }
    Log(LogLevel::Exchange, std::string("<- '") + digit + "' ENQ (unknown station, ignored)");
}

void EspaSlave::DropIncompleteSelect() {
    if (!selectStarted_)
        return;
    selectStarted_ = false;
    FlushJunk();
    Log(LogLevel::Exchange, "<- '1' ENQ (no '2' ENQ followed, ignored)");
}

// ---- the master's units ----

void EspaSlave::OnSelect() {
    Log(LogLevel::Exchange, "<- '1' ENQ '2' ENQ (select)");
    await_ = Await::None;
    selected_ = false;
    if (config_.silent) {
        Log(LogLevel::Exchange, "   (silent: no answer)");
        return;
    }
    selected_ = true;
    Reply(Byte(ACK), "ACK");
    checkOpen_ = !config_.stray.empty();
}

void EspaSlave::OnPoll() {
    Log(LogLevel::Exchange, "<- '2' ENQ (poll)");
    await_ = Await::None;
    selected_ = false;
    if (config_.silent) {
        Log(LogLevel::Exchange, "   (silent: no answer)");
        return;
    }
    if (config_.noStatus) {
        // No call is ever reported, so a poll names none and keeps none alive.
        askedAddress_.reset();
        ReplyPollEot("EOT (--no-status)");
        return;
    }
    AnswerPoll(FindPollTarget());
}

void EspaSlave::AnswerPoll(const PollTarget& target) {
    SlaveCall* call = target.call;
    if (call == nullptr) {
        ReplyPollEot("EOT (nothing to report)");
    } else if (!call->Finished() && call->holdLeft > 0) {
        --call->holdLeft;
        ReplyPollEot("EOT (call " + ShowAddress(call->address) + ": nothing yet, " +
                     std::to_string(call->holdLeft) + " more polls to hold)");
    } else if (!call->Finished()) {
        StartReport(*call, call->script[call->step].digit, false);
    } else if (target.named && call->lastDigit != 0) {
        StartReport(*call, call->lastDigit, true);
    } else {
        ReplyPollEot("EOT (call " + ShowAddress(call->address) + ": nothing new)");
    }
}

void EspaSlave::OnEot() {
    FlushJunk();
    Log(LogLevel::Exchange, "<- EOT");
    if (await_ != Await::None)
        Log(LogLevel::Essential, "   master ended the exchange; status for " +
                                     ShowAddress(report_.address) + " stays pending");
    await_ = Await::None;
    selected_ = false;
}

void EspaSlave::OnAck() {
    FlushJunk();
    switch (await_) {
        case Await::None:
            Log(LogLevel::Exchange, "<- ACK (not expected, ignored)");
            break;
        case Await::AckForSelect:
            Log(LogLevel::Exchange, "<- ACK (master ready for the status block)");
            SendStatusBlock();
            break;
        case Await::AckForBlock:
            Log(LogLevel::Exchange, "<- ACK (status block accepted)");
            DeliverReport();
            await_ = Await::None;
            Reply(Byte(EOT), "EOT");
            break;
    }
}

void EspaSlave::OnNak() {
    FlushJunk();
    Log(LogLevel::Exchange, "<- NAK");
    if (await_ != Await::None)
        Log(LogLevel::Essential,
            "   master refused; status for " + ShowAddress(report_.address) + " stays pending");
    await_ = Await::None;
}

void EspaSlave::OnBlock(std::uint8_t check) {
    const std::string block = std::move(block_);
    block_.clear();
    const char header = block.size() >= 3 && static_cast<std::uint8_t>(block[1]) == STX &&
                                (block[0] == '1' || block[0] == '3')
                            ? block[0]
                            : '\0';
    // The data part lies between STX and ETX; an unknown block shows whole.
    const std::string_view data = header != '\0'
                                      ? std::string_view(block).substr(2, block.size() - 3)
                                      : std::string_view(block).substr(0, block.size() - 1);
    const std::uint8_t expected = BlockCheck(block);
    const bool good = header != '\0' && expected == check;
    std::string text = header == '1'   ? "<- call block: "
                       : header == '3' ? "<- status call block: "
                                       : "<- unknown block: ";
    text += DescribeRecords(data);
    text += expected == check
                ? " BCC ok"
                : " BCC wrong (got " + HexByte(check) + ", expected " + HexByte(expected) + ")";
    if (!selected_)
        text += " (no select before it)";
    selected_ = false;
    Log(good ? LogLevel::Exchange : LogLevel::Essential, text);
    if (config_.silent)
        Log(LogLevel::Exchange, "   (silent: no answer)");
    else if (!good)
        Reply(Byte(NAK), "NAK");
    else if (!RefuseByLimits(header, data))
        AnswerGoodBlock(header, data);
}

// A good block that this kind of paging system does not take. These refusals
// come before the fault rules and are no occasion for them.
bool EspaSlave::RefuseByLimits(char header, std::string_view data) {
    if (header == '3' && config_.refuseStatusCall) {
        Log(LogLevel::Exchange, "   (--refuse-status-call: refusing in " +
                                    std::to_string(config_.refuseDelayMs) + " ms)");
        ReplyInPieces("1" + Byte(NAK) + Byte(EOT),
                      "'1' NAK EOT (--refuse-status-call: status call blocks not supported)",
                      config_.refuseDelayMs);
        return true;
    }
    const std::string what = std::string(header == '1' ? "call block" : "status call block") +
                             " for " + ShowAddress(RecordValue(data, '1').value_or(""));
    if (config_.asciiOnly) {
        const auto at = std::find_if(data.begin(), data.end(),
                                     [](char c) { return static_cast<std::uint8_t>(c) >= 0x80; });
        if (at != data.end()) {
            const auto index = static_cast<std::size_t>(at - data.begin());
            Log(LogLevel::Essential, what + " refused: byte " +
                                         HexByte(static_cast<std::uint8_t>(*at)) + " in " +
                                         RecordAt(data, index) + " is not ASCII (--ascii-only)");
            Reply(Byte(NAK), "NAK (--ascii-only)");
            return true;
        }
    }
    if (config_.refuseEmptyText) {
        const auto text = RawRecordValue(data, '2');
        if (!text || text->empty()) {
            Log(LogLevel::Essential, what + " refused: its text (record 2) is " +
                                         (text ? "empty" : "missing") + " (--refuse-empty-text)");
            Reply(Byte(NAK), "NAK (--refuse-empty-text)");
            return true;
        }
    }
    return false;
}

void EspaSlave::AnswerGoodBlock(char header, std::string_view data) {
    if (StrikesNow(Fault::NakBlock)) {
        Reply(Byte(NAK), "NAK (--nak-block)");
        return;
    }
    Reply(Byte(ACK), "ACK");
    header == '1' ? RegisterCall(data) : AskAbout(data);
}

// ---- calls and reports ----

void EspaSlave::RegisterCall(std::string_view data) {
    for (SlaveCall& call : calls_) {
        if (call.data == data && !call.Finished()) {
            call.lastNewsMs = now_;
            Log(LogLevel::Essential, "call " + ShowAddress(call.address) +
                                         " sent again (repeat of a known call, script goes on)");
            return;
        }
    }
    SlaveCall call;
    call.id = nextCallId_++;
    call.rawAddress = RawRecordValue(data, '1').value_or("");
    call.address = AnsiToUtf8(call.rawAddress);
    call.data = std::string(data);
    call.script = config_.scripts.For(call.address);
    call.holdLeft = call.script.empty() ? 0 : call.script.front().holdPolls;
    call.lastNewsMs = now_;
    Log(LogLevel::Essential, "call " + ShowAddress(call.address) + " received; reports: " +
                                 (config_.noStatus ? std::string("nothing (--no-status)")
                                                   : DescribeScript(call.script)));
    calls_.push_back(std::move(call));
    if (calls_.size() > kMaxCalls) {
        Log(LogLevel::Essential, "forgot call " + ShowAddress(calls_.front().address) +
                                     " (more than " + std::to_string(kMaxCalls) + " calls)");
        calls_.pop_front();
    }
}

void EspaSlave::AskAbout(std::string_view data) {
    const std::string raw = RawRecordValue(data, '1').value_or("");
    const bool known = std::any_of(calls_.begin(), calls_.end(),
                                   [&](const SlaveCall& call) { return call.rawAddress == raw; });
    if (!known) {
        // The block carries the whole call, so a call this side never saw (it
        // started after the master sent it) is taken on as if it had arrived now.
        Log(LogLevel::Essential,
            "status asked for unknown call " + ShowAddress(AnsiToUtf8(raw)) + "; taking it on");
        RegisterCall(data);
    }
    askedAddress_ = raw;
    Log(LogLevel::Exchange, "   (next poll is about call " + ShowAddress(AnsiToUtf8(raw)) + ")");
}

EspaSlave::PollTarget EspaSlave::FindPollTarget() {
    PollTarget target;
    if (askedAddress_) {
        target.named = true;
        const std::string raw = *askedAddress_;
        askedAddress_.reset();
        for (SlaveCall& call : calls_) {
            if (call.rawAddress == raw && !call.Finished()) {
                target.call = &call;
                break;
            }
        }
        // All calls to the address are done: the newest one answers again.
        for (auto it = calls_.rbegin(); target.call == nullptr && it != calls_.rend(); ++it) {
            if (it->rawAddress == raw)
                target.call = &*it;
        }
    } else {
        // A bare poll does not say which call it means: the oldest one with
        // something still to report, as the master asks in buffer order.
        for (SlaveCall& call : calls_) {
            if (!call.Finished()) {
                target.call = &call;
                break;
            }
        }
    }
    if (target.call != nullptr)
        target.call->lastNewsMs = now_;
    return target;
}

void EspaSlave::StartReport(const SlaveCall& call, char digit, bool repeat) {
    report_ = Report{call.id, call.address, call.rawAddress, digit, repeat};
    await_ = Await::AckForSelect;
    const std::int64_t due =
        Reply("1" + Byte(ENQ), "'1' ENQ (status for " + ShowAddress(call.address) + ": " +
                                   StatusWord(digit) + (repeat ? ", again" : "") + ")");
    awaitDeadlineMs_ = due + config_.replyTimeoutMs;
}

void EspaSlave::SendStatusBlock() {
    const std::string data = "1" + Byte(US) + report_.rawAddress + Byte(RS) + "7" + Byte(US) +
                             std::string(1, report_.digit);
    const std::string body = "2" + Byte(STX) + data + Byte(ETX);
    const std::uint8_t check = BlockCheck(body);
    const bool bad = StrikesNow(Fault::BadBcc);
    const std::uint8_t sent = bad ? static_cast<std::uint8_t>(check + 1) : check;
    const std::string frame = Byte(SOH) + body + Byte(sent);
    std::string text = "status block: " + DescribeRecords(data) + " (" +
                       std::string(StateText(ParseCallStatus(body.substr(0, body.size() - 1)))) +
                       ") BCC " + HexByte(sent) +
                       (bad ? " (--bad-bcc, right one " + HexByte(check) + ")" : "");

    const std::int64_t due = ReplyInPieces(frame, std::move(text));
    await_ = Await::AckForBlock;
    awaitDeadlineMs_ = due + config_.replyTimeoutMs;
}

void EspaSlave::DeliverReport() {
    SlaveCall* call = FindCall(report_.callId);
    std::string text = "status " + StatusWord(report_.digit) + " for call " +
                       ShowAddress(report_.address) + " delivered";
    if (call != nullptr && !report_.repeat) {
        call->lastDigit = report_.digit;
        ++call->step;
        call->holdLeft = call->Finished() ? 0 : call->script[call->step].holdPolls;
        if (call->Finished())
            text += " (no more reports)";
    }
    Log(LogLevel::Essential, text);
}

SlaveCall* EspaSlave::FindCall(std::uint64_t id) {
    for (SlaveCall& call : calls_) {
        if (call.id == id)
            return &call;
    }
    return nullptr;
}

// ---- time ----

void EspaSlave::DropLine(std::int64_t nowMs) {
    now_ = nowMs;
    if (rx_ != Rx::Idle)
        Log(LogLevel::Essential, "<- block cut off by the lost line after " +
                                     std::to_string(block_.size()) +
                                     " bytes: " + ByteNames(block_));
    if (await_ != Await::None)
        Log(LogLevel::Essential,
            "   line lost; status for " + ShowAddress(report_.address) + " stays pending");
    if (!out_.empty())
        Log(LogLevel::Exchange,
            "   line lost; " + std::to_string(out_.size()) + " answer(s) not sent");
    rx_ = Rx::Idle;
    block_.clear();
    pendingDigit_ = 0;
    selectStarted_ = selected_ = checkOpen_ = false;
    junk_.clear();
    await_ = Await::None;
    askedAddress_.reset();
    out_.clear();
    lastDueMs_ = 0;
}

void EspaSlave::Tick(std::int64_t nowMs) {
    now_ = nowMs;
    if (await_ != Await::None && nowMs >= awaitDeadlineMs_) {
        Log(LogLevel::Essential, "no answer from the master within " +
                                     std::to_string(config_.replyTimeoutMs) + " ms; status for " +
                                     ShowAddress(report_.address) + " stays pending");
        await_ = Await::None;
    }
    if (rx_ != Rx::Idle && nowMs >= blockStartMs_ + config_.replyTimeoutMs) {
        Log(LogLevel::Essential, "<- block unfinished after " +
                                     std::to_string(config_.replyTimeoutMs) +
                                     " ms, dropped: " + ByteNames(block_));
        rx_ = Rx::Idle;
        block_.clear();
    }
    ForgetStaleCalls();
}

void EspaSlave::ForgetStaleCalls() {
    const auto stale = [&](const SlaveCall& call) {
        const bool reporting = await_ != Await::None && call.id == report_.callId;
        return !reporting && now_ - call.lastNewsMs >= config_.forgetAfterMs;
    };
    for (const SlaveCall& call : calls_) {
        if (stale(call))
            Log(LogLevel::Exchange, "forgot call " + ShowAddress(call.address) + " (no news for " +
                                        std::to_string(config_.forgetAfterMs / 1000) + " s)");
    }
    calls_.erase(std::remove_if(calls_.begin(), calls_.end(), stale), calls_.end());
}

std::optional<std::int64_t> EspaSlave::NextWakeMs() const {
    std::optional<std::int64_t> wake;
    const auto consider = [&](std::int64_t when) {
        if (!wake || when < *wake)
            wake = when;
    };
    if (!out_.empty())
        consider(out_.front().dueMs);
    if (await_ != Await::None)
        consider(awaitDeadlineMs_);
    if (rx_ != Rx::Idle)
        consider(blockStartMs_ + config_.replyTimeoutMs);
    for (const SlaveCall& call : calls_)
        consider(call.lastNewsMs + config_.forgetAfterMs);
    return wake;
}

// ---- output ----

std::string EspaSlave::TakeDue(std::int64_t nowMs) {
    std::string bytes;
    while (!out_.empty() && out_.front().dueMs <= nowMs) {
        bytes += out_.front().bytes;
        Log(LogLevel::Exchange, out_.front().text);
        out_.pop_front();
    }
    return bytes;
}

// An EOT answer to a poll: late by --eot-delay, and followed by the stray
// bytes, if any.
void EspaSlave::ReplyPollEot(std::string text) {
    Reply(Byte(EOT), std::move(text), config_.eotDelayMs);
    if (!config_.stray.empty())
        SendStray("the poll's EOT");
}

// Bytes the master did not ask for, straight behind the last answer.
void EspaSlave::SendStray(const char* after) {
    const std::int64_t due = std::max(now_, lastDueMs_);
    out_.push_back(
        {due, config_.stray, "-> " + ByteNames(config_.stray) + " (--stray, after " + after + ")"});
    lastDueMs_ = due;
}

std::int64_t EspaSlave::Reply(std::string bytes, std::string text, int extraDelayMs) {
    // Answers never overtake each other, whatever their delays.
    const std::int64_t due = std::max(now_ + DrawDelay() + extraDelayMs, lastDueMs_);
    if (StrikesNow(Fault::Noise)) {
        std::string noise(std::uniform_int_distribution<int>(1, 3)(rng_), '\0');
        for (char& c : noise)
            c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng_));
        out_.push_back({due, noise, "-> noise (--noise): " + ByteNames(noise)});
    }
    out_.push_back({due, std::move(bytes), "-> " + std::move(text)});
    lastDueMs_ = due;
    return due;
}

// Split (--split): equal pieces, the first answered like any other reply, the
// rest following a fixed gap apart so the master has to put them together.
std::int64_t EspaSlave::ReplyInPieces(const std::string& bytes, std::string text,
                                      int extraDelayMs) {
    const int pieces = std::min<int>(config_.splitPieces, static_cast<int>(bytes.size()));
    const std::size_t size = bytes.size() / pieces;
    const auto named = [&](int piece) {
        return "[piece " + std::to_string(piece + 1) + " of " + std::to_string(pieces);
    };
    if (pieces > 1)
        text += " " + named(0) + "]";
    std::int64_t due = Reply(bytes.substr(0, pieces > 1 ? size : std::string::npos),
                             std::move(text), extraDelayMs);
    for (int piece = 1; piece < pieces; ++piece) {
        const std::size_t length = piece + 1 == pieces ? std::string::npos : size;
        const std::string part = bytes.substr(piece * size, length);
        due += config_.splitGapMs;
        out_.push_back({due, part, "   " + named(piece) + ": " + ByteNames(part) + "]"});
        lastDueMs_ = due;
    }
    return due;
}

int EspaSlave::DrawDelay() {
    if (config_.delayMaxMs <= config_.delayMinMs)
        return config_.delayMinMs;
    return std::uniform_int_distribution<int>(config_.delayMinMs, config_.delayMaxMs)(rng_);
}

bool EspaSlave::StrikesNow(Fault fault) {
    const FaultRule& rule = config_.Rule(fault);
    if (!rule.IsActive())
        return false;
    return Strikes(rule, ++occurrences_[static_cast<std::size_t>(fault)], rng_);
}

// ---- log ----

void EspaSlave::Junk(std::uint8_t byte) {
    junk_ += static_cast<char>(byte);
}

void EspaSlave::FlushJunk() {
    if (junk_.empty())
        return;
    Log(LogLevel::Exchange, "<- unexpected: " + ByteNames(junk_));
    junk_.clear();
}

void EspaSlave::Log(LogLevel level, std::string text) {
    log_.push_back({level, std::move(text)});
}

std::vector<LogLine> EspaSlave::TakeLog() {
    std::vector<LogLine> lines;
    lines.swap(log_);
    return lines;
}

}  // namespace zelvano::slave
