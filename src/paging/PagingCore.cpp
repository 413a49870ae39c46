#include "paging/PagingCore.h"

#include <cstdio>
#include <utility>

#include "common/Text.h"
#include "settings/SettingsFile.h"

namespace zelvano {

std::string Unsendable(std::string_view field, std::string_view text) {
    for (const char32_t cp : DecodeUtf8(text)) {
        const int code = AnsiCode(cp);
        char number[16];
        std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(cp));
        if (cp == 0xFFFD)
            return std::string(field) + ": not valid UTF-8 text";
        if (code < 0) {
            std::string shown;
            AppendUtf8(shown, cp);
            return std::string(field) + ": the character '" + shown + "' (" + number +
                   ") has no single-byte (Windows-1252) code and cannot be sent";
        }
        if (code < 0x20)
            return std::string(field) + ": the control character " + number + " cannot be sent";
    }
    return {};
}

std::string TooLongText(std::string_view field, std::string_view text) {
    const std::size_t length = DecodeUtf8(text).size();
    if (length <= static_cast<std::size_t>(kMaxCallTextLength))
        return {};
    return std::string(field) + ": " + std::to_string(length) + " characters, more than the " +
           std::to_string(kMaxCallTextLength) + " a call's text may have";
}

PagingCore::PagingCore(SerialLine& line, Clock& clock, std::filesystem::path dataDir)
    : line_(line),
      log_(settings_, clock, std::move(dataDir)),
      calls_(log_),
      link_(line, log_),
      engine_(settings_, calls_, log_, link_),
      retryCountdown_(kLineRetrySeconds) {
    log_.SetListener(
        [this](const ScreenLines& lines) { Tell([&](PagingEvents& s) { s.LogChanged(lines); }); });
    calls_.SetListener([this](const CallChange& change) {
        Tell([&](PagingEvents& s) { s.CallChanged(change); });
    });
    link_.SetLostListener([this](const std::string& failure) {
        Tell([&](PagingEvents& s) { s.PortProblem(failure); });
        toldReason_ = failure;
        return NoteLoss();
    });
    engine_.SetSentListener(
        [this](std::uint32_t id) { Tell([&](PagingEvents& s) { s.CallSent(id); }); });
    engine_.SetLinkListener(
        [this](LinkState link) { Tell([&](PagingEvents& s) { s.LinkChanged(link); }); });
}

PortOpen PagingCore::Start() {
    calls_.Clear();
    log_.ClearScreen();
    engine_.Reset();
    std::string problem;
    settings_ = ReadSettingsFile(SettingsPath(DataDir()), &problem);
    if (!problem.empty())
        log_.Announce("STATUS: Settings not read: " + problem);
    return Reopen();
}

PortOpen PagingCore::ApplySettings(const Settings& settings) {
    settings_ = settings;
    const std::filesystem::path file = SettingsPath(DataDir());
    if (!WriteSettingsFile(file, settings_)) {
        if (SettingsFileLocked(file)) {
            log_.Write(1, "STATUS: Settings not saved, espa.set is read-only: " + file.string());
        } else if (const std::string refusal = SettingsLinkRefusal(file); !refusal.empty()) {
            log_.Write(1, "STATUS: Settings not saved, espa.set is " + refusal);
        }
    }
    return Reopen();
}

Submitted PagingCore::Submit(const CallRequest& request, std::int16_t timeOut) {
    const std::pair<const char*, const std::string*> fields[] = {
        {"address", &request.address},   {"text", &request.text},
        {"bleep", &request.bleep},       {"priority", &request.priority},
        {"calltype", &request.callType}, {"transmissions", &request.transmissions}};
    for (const auto& [name, value] : fields) {
        if (std::string why = Unsendable(name, *value); !why.empty())
            return {0, std::move(why)};
    }
    if (std::string why = TooLongText("text", request.text); !why.empty())
        return {0, std::move(why)};
    return {calls_.Add(request, timeOut), {}};
}

bool PagingCore::Cancel(std::uint32_t id) {
    const auto position = calls_.PositionOf(id);
    if (!position || calls_.At(*position).state != CallState::New || calls_.At(*position).sent)
        return false;
    calls_.Remove(*position);
    return true;
}

void PagingCore::Tick() {
    if (lineWanted_ && !line_.IsOpen()) {
        // A connection made since the last look opens now, not a second later.
        if (line_.Pending() && line_.Open()) {
            LineOpened(true);
            engine_.Start(std::exchange(lineDown_, false));
            return;
        }
        link_.ReportLost();
        lineDown_ = true;
        engine_.LineLost();
        return;
    }
    if (openTicks_ < kHoldTicks && ++openTicks_ == kHoldTicks && flaps_ >= 2) {
        EndFlapping();  // its opening was not logged
        log_.Write(1, "STATUS: Serial port available.");
    }
    engine_.Tick();
}

// A connection lost before it held: the first is logged whole, the second
// says that the rest are counted; true when the loss itself is logged.
bool PagingCore::NoteLoss() {
    if (openTicks_ >= kHoldTicks) {
        flaps_ = 0;
        return true;
    }
    if (++flaps_ == 2)
        log_.Write(1,
                   "STATUS: Serial port drops each connection at once; repeats are counted, "
                   "not logged.");
    return flaps_ == 1;
}

void PagingCore::EndFlapping() {
    if (flaps_ >= 2) {
        log_.Write(
            1, "STATUS: Serial port dropped " + std::to_string(flaps_) + " connections at once.");
    }
    flaps_ = 0;
}

void PagingCore::WatchLine() {
    if (!lineWanted_ || line_.IsOpen()) {
        retryCountdown_ = kLineRetrySeconds;
        return;
    }
    link_.ReportLost();
    if (!line_.Pending() && --retryCountdown_ > 0)
        return;
    retryCountdown_ = kLineRetrySeconds;
    if (TryOpen(true))
        engine_.Start(std::exchange(lineDown_, false));
}

}  // namespace zelvano
