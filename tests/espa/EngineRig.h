// A protocol engine over the fake line, driven tick by tick, that records every
// event line and every byte the master writes, with the tick it went out on.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "buffer/CallBuffer.h"
#include "espa/AfhandelEspa.h"
#include "support/TestApp.h"

namespace zelvano::test {

// A view that keeps every screen-log line ever shown (without its time).
class RecordingView : public FakeView {
  public:
    void ShowLogLines(const std::array<std::string, 10>& lines) override {
        FakeView::ShowLogLines(lines);
        const int count = screenLog != nullptr ? screenLog->LogLineCount : 0;
        if (count > 0)
            allLines.push_back(lines[static_cast<std::size_t>(count - 1)].substr(9));
    }
    const ScreenLog* screenLog = nullptr;
    std::vector<std::string> allLines;
};

struct EngineRig {
    RecordingView view;
    FakeClock clock;
    FakeSerialLine line;
    TempDir dir;
    App app{view, clock, line, dir.path()};
    int tick = 0;  // HandleEspa calls so far
    std::size_t logSeen = 0;

    explicit EngineRig(std::int16_t logLevel = 2) {
        view.screenLog = &app.screenLog;
        app.settings.Logfile = logLevel;
        app.settings.Emulatie = 1;
        line.open = true;
    }

    // One tick; the bytes the master wrote during it.
    std::vector<std::uint8_t> Tick(std::int16_t request = 0) {
        ++tick;
        HandleEspa(app, request);
        return line.TakeWritten();
    }
    std::string TickHex(std::int16_t request = 0) { return ToHex(Tick(request)); }

    // Ticks until the master writes something (at most limit ticks); the hex
    // of what it wrote, "" when it stayed silent.
    std::string NextSend(int limit = 200) {
        for (int i = 0; i < limit; ++i) {
            const auto bytes = Tick();
            if (!bytes.empty())
                return ToHex(bytes);
        }
        return "";
    }

    void Feed(const std::string& hex) { line.Feed(Hex(hex)); }

    // Start request, then the first line check answered with ACK.
    void StartWithGoodLine() {
        Tick(10);
        EXPECT_EQ(NextSend(), "04");
        EXPECT_EQ(NextSend(), "31 05 32 05");
        Feed("06");
        EXPECT_EQ(NextSend(), "04");
        EXPECT_EQ(app.espa.EspaState, 20);
        line.input.clear();
    }

    void Add(const std::string& address, const std::string& alfa = "HELLO") {
        AddCall(app, address, "1", alfa, "", "1", "3");
    }

    const std::string& Status(int position) const {
        return app.CallBuffer[static_cast<std::size_t>(position)].Status;
    }

    // Event lines logged since the last call.
    std::vector<std::string> NewLog() {
        std::vector<std::string> out(view.allLines.begin() + static_cast<long>(logSeen),
                                     view.allLines.end());
        logSeen = view.allLines.size();
        return out;
    }
    void SkipLog() { logSeen = view.allLines.size(); }
    int CountLog(const std::string& text) const {
        int n = 0;
        for (const auto& l : view.allLines)
            n += l == text ? 1 : 0;
        return n;
    }
};

// One exchange of a transcript: after `idle` silent ticks the slave sends
// `slave` (may be empty); the master's next write is `master` on tick `at`.
struct Exchange {
    int idle;
    const char* slave;
    int at;
    const char* master;
};

inline void RunTranscript(EngineRig& rig, const std::vector<Exchange>& rows) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Exchange& row = rows[i];
        for (int k = 0; k < row.idle; ++k) {
            ASSERT_EQ(rig.TickHex(), "") << "row " << i << ", idle tick " << rig.tick;
        }
        rig.Feed(row.slave);
        const std::string sent = rig.NextSend();
        EXPECT_EQ(sent, row.master) << "row " << i;
        EXPECT_EQ(rig.tick, row.at) << "row " << i << " (" << row.master << ")";
        if (sent != row.master)
            return;
    }
}

// The state words the buffer may hold.
inline bool IsKnownState(const std::string& s) {
    static const char* const kWords[] = {"",     "NEW",        "QUEUE",       "PAGED", "ABSENT",
                                         "BUSY", "TERMINATED", "SPEECHPAGED", "ERROR", "NO STATUS"};
    for (const char* w : kWords) {
        if (s == w)
            return true;
    }
    return false;
}

}  // namespace zelvano::test
