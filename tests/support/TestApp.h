// Fakes of the platform seams and ready-made cores for tests.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "paging/PagingCore.h"

namespace zelvano::test {

// Records every event the core sends its front ends.
class FakeEvents : public PagingEvents {
  public:
    void CallChanged(const CallChange& change) override { changes.push_back(change); }
    void LinkChanged(LinkState link) override { links.push_back(link); }
    void LogChanged(const ScreenLines& lines) override;
    void PortOpened(const std::string& caption, bool manualRts) override {
        portCaption = caption;
        rtsByHand = manualRts;
    }
    void PortProblem(const std::string& reason) override { portProblem = reason; }

    std::vector<CallChange> changes;
    std::vector<LinkState> links;
    int logChanges = 0;
    ScreenLines logLines{};
    std::vector<std::string> allLines;  // every new line, without its time
    std::string portCaption = "Serial Port: X";
    bool rtsByHand = false;
    std::string portProblem;
};

// A settable clock.
class FakeClock : public Clock {
  public:
    LocalDateTime Now() override { return now; }
    LocalDateTime now{2026, 12, 5, 14, 3, 22};
};

// A serial line in memory: bytes written are recorded, bytes to read are queued
// by the test. Each operation can be made to fail.
class FakeSerialLine : public SerialLine {
  public:
    bool SetPortNumber(int number) override { return Set(portNumber, number, !failSetPort); }
    // Kept as text such as "1200,E,7,2" (the enums in their declared order).
    bool SetLineSettings(const LineSettings& s) override {
        const char* stopBits[] = {"1", "1.5", "2"};
        return Set(lineSettings,
                   std::to_string(s.baudRate) + ',' + "NEOMS"[int(s.parity)] + ',' +
                       std::to_string(s.dataBits) + ',' + stopBits[int(s.stopBits)],
                   !failSettings);
    }
    bool SetFlowControl(FlowControl f) override { return Set(flow, f); }
    bool SetRts(bool on) override { return Set(rts, on); }
    bool Rts() const override { return rts; }
    bool SetDtr(bool on) override { return Set(dtr, on); }
    bool Open() override {
        ++openCount;
        if (failOpen)
            return false;
        open = true;
        return true;
    }
    bool Close() override {
        ++closeCount;
        if (failClose)
            return false;
        open = false;
        return true;
    }
    bool IsOpen() const override { return open; }
    std::string LastError() const override { return lastError; }
    bool Cts() const override { return open && cts; }
    int BytesWaiting() override {
        if (!open || failIo)
            return -1;
        return static_cast<int>(input.size());
    }
    bool DiscardInput() override {
        ++discardCount;
        if (!open || failIo)
            return false;
        input.clear();
        return true;
    }
    int ReadByte() override {
        if (!open || failIo || input.empty())
            return -1;
        const int b = input.front();
        input.pop_front();
        return b;
    }
    bool WriteByte(std::uint8_t b) override {
        if (!open || failIo)
            return false;
        written.push_back(b);
        return true;
    }
    std::string TakeLineFailure() override { return std::exchange(lineFailure, {}); }

    // Queues bytes for the engine to read.
    void Feed(const std::vector<std::uint8_t>& bytes) {
        input.insert(input.end(), bytes.begin(), bytes.end());
    }
    // Returns and forgets what was written so far.
    std::vector<std::uint8_t> TakeWritten() { return std::exchange(written, {}); }

    int portNumber = 0;
    std::string lineSettings;
    FlowControl flow = FlowControl::None;
    bool rts = false, dtr = true;
    bool open = false, cts = false;
    bool failSetPort = false, failSettings = false, failOpen = false, failClose = false,
         failIo = false;
    int openCount = 0, closeCount = 0, discardCount = 0;
    std::string lastError;
    std::string lineFailure;  // handed out once by TakeLineFailure
    std::deque<std::uint8_t> input;
    std::vector<std::uint8_t> written;

  private:
    template <typename T>
    static bool Set(T& field, const T& value, bool result = true) {
        field = value;
        return result;
    }
};

// A fresh temporary directory, removed with its contents at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Reads a whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::filesystem::path& file);
// Writes bytes to a file, replacing it.
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);
// Bytes from a hex string such as "01 31 02".
std::vector<std::uint8_t> Hex(const std::string& text);
// Hex string of bytes, "01 31 02".
std::string ToHex(const std::vector<std::uint8_t>& bytes);

// Reaches inside a core, for tests that set up a state the line would take
// long to bring about.
struct CoreAccess {
    static CallBuffer& Calls(PagingCore& core) { return core.calls_; }
    static Settings& CurrentSettings(PagingCore& core) { return core.settings_; }
    static EngineState& Engine(PagingCore& core);
    static LineActivity& Activity(PagingCore& core) { return core.link_.activity_; }
    static ByteLink& Link(PagingCore& core) { return core.link_; }
};

// The call state a text names ("" for Free).
CallState StateNamed(const std::string& text);

// Everything a core test needs: fakes, a temporary data folder and the paging
// core over them.
struct TestCore {
    FakeClock clock;
    FakeSerialLine line;
    TempDir dir;
    PagingCore core{line, clock, dir.path()};
    FakeEvents events;

    TestCore() { core.Subscribe(events); }
};

// The protocol engine and the parts it uses over the fake line, ticked by hand.
struct EngineRig {
    FakeEvents events;
    FakeClock clock;
    FakeSerialLine line;
    TempDir dir;
    Settings settings;
    EventLog log;
    CallBuffer calls{log};
    ByteLink link{line, log};
    ProtocolEngine engine{settings, calls, log, link};
    int tick = 0;  // ticks so far
    std::size_t logSeen = 0;
    // Names a transcript may use for byte strings.
    std::map<std::string, std::string> names{{"SEL", "31 05 32 05"}, {"POLL", "32 05"}};

    // The log reads the time from clock when one is given.
    explicit EngineRig(std::int16_t logLevel = 2, Clock* clock = nullptr);
    // The engine's working state, for a test to set up or read.
    EngineState& State();
    engine::Context& Steps();
    // Sets a call's state by its text; a "QUEUE" call is one the slave has.
    void SetState(int position, const std::string& state);
    // One tick; the hex of what the master wrote in it.
    std::string Tick(bool start = false);
    // Runs a transcript of steps separated by ';':
    //   "[hex] > T: hex"  the slave sends hex (may be empty); the master stays
    //                     silent until tick T and writes exactly hex in it
    //   "[hex] . T"       the slave sends hex; silence up to and including tick T
    //   "start"           the next tick carries the start request
    //   "!addN", "!dblN", "!outN", "!N=WORD", "!io"   events before the ticks:
    //   add N HELLO calls, double-click row N, run out position N's time, set
    //   a state, make the port fail, reopen it; "!timer=N", "!step=N", "!retries=N" set
    //   the engine's fields, "!served=N" makes position N the call last served
    // Returns "" or the first difference.
    std::string Run(const std::string& script);
    std::string Bytes(const std::string& word) const;  // a name's bytes, or word
    void Event(const std::string& what);
    // Screen-log lines (without time) written since the last call.
    std::vector<std::string> NewLog();
    // Address 123, Alfa HELLO, NrOfTx 2, the other fields empty.
    void AddHello(const std::string& text = "HELLO");
};

// "" when the call buffer and the engine are in a state the operator can
// trust (tested after every tick by the soak and the fuzzer), else the fault.
std::string SoundState(const CallArray& calls, const EngineState& engine);

}  // namespace zelvano::test
