#include "support/TestApp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "espa/EngineSteps.h"
#include "windows/BufferDisplay.h"

namespace zelvano::test {

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "zelvano-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr)
        std::abort();
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore permissions a test may have taken away, then remove.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::uint8_t> Hex(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok)
        out.push_back(static_cast<std::uint8_t>(std::stoul(tok, nullptr, 16)));
    return out;
}

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i)
            out += ' ';
        out += buf;
    }
    return out;
}

void FakeEvents::LogChanged(const ScreenLines& lines) {
    ++logChanges;
    logLines = lines;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (!line->empty()) {
            allLines.push_back(line->substr(9));
            return;
        }
    }
}

CallState StateNamed(const std::string& text) {
    for (int i = 0; i <= static_cast<int>(CallState::Error); ++i) {
        if (StateText(static_cast<CallState>(i)) == text)
            return static_cast<CallState>(i);
    }
    std::fprintf(stderr, "no state %s\n", text.c_str());
    std::abort();
}

EngineRig::EngineRig(std::int16_t logLevel, Clock* logClock)
    : log(settings, logClock != nullptr ? *logClock : clock, dir.path()) {
    settings.logLevel = logLevel;
    settings.emulation = 1;
    line.open = true;
    log.SetListener([this](const ScreenLines& lines) { events.LogChanged(lines); });
    calls.SetListener([this](const CallChange& change) { events.CallChanged(change); });
}

EngineState& EngineRig::State() {
    return engine.context_->s;
}

EngineState& CoreAccess::Engine(PagingCore& core) {
    return core.engine_.context_->s;
}

engine::Context& EngineRig::Steps() {
    return *engine.context_;
}

void EngineRig::SetState(int position, const std::string& state) {
    calls.At(position).delivered = state == "QUEUE";  // the slave has it
    calls.SetState(position, StateNamed(state));
}

std::string EngineRig::Tick(bool start) {
    ++tick;
    engine.Run(start);
    return ToHex(line.TakeWritten());
}

void EngineRig::AddHello(const std::string& text) {
    calls.Add(CallRequest{"123", text, "", "", "", "2"});
}

std::vector<std::string> EngineRig::NewLog() {
    std::vector<std::string> out(events.allLines.begin() + static_cast<long>(logSeen),
                                 events.allLines.end());
    logSeen = events.allLines.size();
    return out;
}

std::string EngineRig::Bytes(const std::string& word) const {
    const auto named = names.find(word);
    return named != names.end() ? named->second : word;
}

void EngineRig::Event(const std::string& what) {
    const std::size_t digits = std::min(what.find_first_of("-0123456789"), what.size());
    const int n = std::atoi(what.c_str() + digits);
    const std::string key = what.substr(0, digits);
    EngineState& s = State();
    if (key == "add") {
        for (int k = 0; k < std::max(n, 1); ++k)
            AddHello();
    } else if (key == "reopen") {
        engine.Start(false);
    } else if (key == "io") {
        line.failIo = true;
    } else if (key == "dbl") {
        if (CanRemoveByDoubleClick(calls.At(n).state))
            calls.Remove(n);
    } else if (key == "out") {
        calls.At(n).timeOutCount = 1;
        calls.CheckTimeOuts();
    } else if (key.empty()) {
        SetState(n, what.substr(what.find('=') + 1));
    } else if (key == "served=") {
        s.callId = calls.At(n).id;
        s.position = static_cast<std::int16_t>(n);
    } else if (key == "step=") {
        s.step = static_cast<Step>(n);
    } else {
        (key == "timer=" ? s.timer : s.retries) = static_cast<std::int16_t>(n);
    }
}

std::string EngineRig::Run(const std::string& script) {
    std::istringstream steps(script);
    for (std::string step; std::getline(steps, step, ';');) {
        std::istringstream in(step);
        std::string word, feed, want;
        bool start = false;
        int at = -1;
        while (at < 0 && in >> word) {
            if (word == "start") {
                start = true;
            } else if (word[0] == '!') {
                Event(word.substr(1));
            } else if (word == ">" || word == ".") {
                in >> at;
                in.ignore(1);  // the colon
                for (std::string w; word == ">" && in >> w;)
                    want += (want.empty() ? "" : " ") + Bytes(w);
            } else {
                feed += Bytes(word) + " ";
            }
        }
        line.Feed(Hex(feed));
        if (at < 0)
            at = start ? tick + 1 : tick;
        else if (at <= tick)
            return "'" + step + "': tick " + std::to_string(tick) + " is past";
        while (tick < at) {
            const std::string sent = Tick(std::exchange(start, false));
            if (sent != (tick == at ? want : ""))
                return "'" + step + "': tick " + std::to_string(tick) + " wrote '" + sent + "'";
        }
    }
    return "";
}

std::string SoundState(const CallArray& calls, const EngineState& s) {
    bool freeSeen = false;
    for (int i = 0; i < kCallBufferSize; ++i) {
        const Call& e = calls[static_cast<std::size_t>(i)];
        const auto at = [i] { return " at position " + std::to_string(i); };
        if (e.IsFree()) {
            freeSeen = true;
            if (!e.address.empty() || !e.text.empty() || e.id != 0 || e.timeOutCount != 0)
                return "leftovers in a free position" + at();
        } else if (freeSeen) {
            return "gap before" + at();
        } else if (e.id == 0) {
            return "call without identity" + at();
        }
    }
    if (IsKnownStep(s.step) && s.step != Step::Idle && s.timer >= 0 && s.timer <= 100 &&
        s.scanDelay >= 0 && s.scanDelay <= 10 && s.position >= 0 && s.position < kCallBufferSize &&
        s.statusBlock.size() <= 4096)
        return "";
    return "step " + std::to_string(static_cast<int>(s.step)) + ", timer " +
           std::to_string(s.timer) + ", scan delay " + std::to_string(s.scanDelay) + ", position " +
           std::to_string(s.position) + ", status block " + std::to_string(s.statusBlock.size());
}

}  // namespace zelvano::test
