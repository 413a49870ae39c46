#include "support/TestApp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "buffer/CallBuffer.h"
#include "espa/AfhandelEspa.h"
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

void RecordingView::ShowLogLines(const std::array<std::string, 10>& lines) {
    FakeView::ShowLogLines(lines);
    const int count = screenLog != nullptr ? screenLog->LogLineCount : 0;
    if (count > 0)
        allLines.push_back(lines[static_cast<std::size_t>(count - 1)].substr(9));
}

EngineRig::EngineRig(std::int16_t logLevel) {
    view.screenLog = &app.screenLog;
    app.settings.logLevel = logLevel;
    app.settings.emulation = 1;
    line.open = true;
}

std::string EngineRig::Tick(std::int16_t request) {
    ++tick;
    HandleEspa(app, request);
    return ToHex(line.TakeWritten());
}

void EngineRig::AddHello(const std::string& alfa) {
    AddCall(app, "123", "", alfa, "", "2", "");
}

std::vector<std::string> EngineRig::NewLog() {
    std::vector<std::string> out(view.allLines.begin() + static_cast<long>(logSeen),
                                 view.allLines.end());
    logSeen = view.allLines.size();
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
    ProtocolState& s = app.espa;
    if (key == "add") {
        for (int k = 0; k < std::max(n, 1); ++k)
            AddHello();
    } else if (key == "io") {
        line.failIo = true;
    } else if (key == "dbl") {
        LabReturnedStatus_DblClick(app, static_cast<std::int16_t>(n));
    } else if (key == "out") {
        app.CallBuffer[n].timeOutCount = 1;
        CheckBufferTimeOuts(app);
    } else if (key.empty()) {
        app.CallBuffer[n].Status = what.substr(what.find('=') + 1);
        app.CallBuffer[n].delivered = app.CallBuffer[n].Status == "QUEUE";  // the slave has it
        ShowCallBuffer(app);
    } else if (key == "served=") {
        s.EspaCallId = app.CallBuffer[n].id;
        s.EspaPosition = static_cast<std::int16_t>(n);
    } else {
        (key == "timer="  ? s.EspaTimer
         : key == "step=" ? s.EspaState
                          : s.RetryCount) = static_cast<std::int16_t>(n);
    }
}

std::string EngineRig::Run(const std::string& script) {
    std::istringstream steps(script);
    for (std::string step; std::getline(steps, step, ';');) {
        std::istringstream in(step);
        std::string word, feed, want;
        std::int16_t request = 0;
        int at = -1;
        while (at < 0 && in >> word) {
            if (word == "start") {
                request = 10;
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
            at = request != 0 ? tick + 1 : tick;
        else if (at <= tick)
            return "'" + step + "': tick " + std::to_string(tick) + " is past";
        while (tick < at) {
            const std::string sent = Tick(std::exchange(request, 0));
            if (sent != (tick == at ? want : ""))
                return "'" + step + "': tick " + std::to_string(tick) + " wrote '" + sent + "'";
        }
    }
    return "";
}

std::string SoundState(const App& app) {
    static const char* const kWords[] = {"NEW",        "QUEUE",       "PAGED", "ABSENT",   "BUSY",
                                         "TERMINATED", "SPEECHPAGED", "ERROR", "NO STATUS"};
    bool freeSeen = false;
    for (int i = 0; i < kCallBufferSize; ++i) {
        const Call& e = app.CallBuffer[static_cast<std::size_t>(i)];
        const auto at = [i] { return " at position " + std::to_string(i); };
        if (e.Status.empty()) {
            freeSeen = true;
            if (!e.address.empty() || !e.text.empty() || e.id != 0 || e.timeOutCount != 0)
                return "leftovers in a free position" + at();
        } else if (freeSeen) {
            return "gap before" + at();
        } else if (std::find(std::begin(kWords), std::end(kWords), e.Status) == std::end(kWords)) {
            return "unknown state '" + e.Status + "'" + at();
        } else if (e.id == 0) {
            return "call without identity" + at();
        }
    }
    const ProtocolState& s = app.espa;
    const int log = app.screenLog.LogLineCount;
    if (engine::IsValidStep(s.EspaState) && s.EspaState != engine::kIdle && s.EspaTimer >= 0 &&
        s.EspaTimer <= 100 && s.ScanDelay >= 0 && s.ScanDelay <= 10 && s.EspaPosition >= 0 &&
        s.EspaPosition < kCallBufferSize && s.LineOk >= -1 && s.LineOk <= 1 &&
        s.StatusBlock.size() <= 4096 && log >= 0 && log <= 10)
        return "";
    return "step " + std::to_string(s.EspaState) + ", timer " + std::to_string(s.EspaTimer) +
           ", scan delay " + std::to_string(s.ScanDelay) + ", position " +
           std::to_string(s.EspaPosition) + ", LineOk " + std::to_string(s.LineOk) +
           ", status block " + std::to_string(s.StatusBlock.size()) + ", log lines " +
           std::to_string(log);
}

}  // namespace zelvano::test
