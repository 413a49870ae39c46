// The paging core: the one way in for every front end. Calls go in, their
// states, the link and the log come out as events; the front end's driver
// calls the ticks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "buffer/CallBuffer.h"
#include "common/Clock.h"
#include "espa/ProtocolEngine.h"
#include "log/Log.h"
#include "serial/ByteTransfer.h"
#include "serial/SerialLine.h"
#include "settings/Settings.h"

namespace zelvano {

namespace test {
struct CoreAccess;
}

// What the core tells its front ends. Every method has an empty default.
class PagingEvents {
  public:
    virtual ~PagingEvents() = default;
    // A call entered the buffer, changed state or left it.
    virtual void CallChanged(const CallChange&) {}
    // A call's block went out on the line (its ACK is awaited).
    virtual void CallSent(std::uint32_t /*id*/) {}
    // The slave began or stopped answering the line check.
    virtual void LinkChanged(LinkState) {}
    // A log line was written: the ten lines on screen.
    virtual void LogChanged(const ScreenLines&) {}
    // The port opened: "Settings: Com:1 at 9600,N,8,1", and whether RTS is
    // the operator's to switch (no handshake).
    virtual void PortOpened(const std::string& /*caption*/, bool /*manualRts*/) {}
    // Why the port could not be opened or was lost (device and reason).
    virtual void PortProblem(const std::string& /*reason*/) {}
};

enum class PortOpen { Opened, Failed, Connecting };

// The identity of a queued call, or why it was refused (id 0).
struct Submitted {
    std::uint32_t id = 0;
    std::string refusal;
};

// Why a field's text cannot go on the line, naming the first character that
// cannot; empty when every character has a single-byte code of 0x20 or above.
std::string Unsendable(std::string_view field, std::string_view text);
// Why a call's text is too long, naming the field and the limit
// (kMaxCallTextLength characters); empty when it is not.
std::string TooLongText(std::string_view field, std::string_view text);

// "9600,N,8,1": the line settings the settings' list positions stand for.
std::string SettingsString(const Settings& settings);

class PagingCore {
  public:
    // dataDir holds espa.set and the Log/ and DebugLog/ folders.
    PagingCore(SerialLine& line, Clock& clock, std::filesystem::path dataDir);
    PagingCore(const PagingCore&) = delete;
    PagingCore& operator=(const PagingCore&) = delete;

    // The front end hears every event from now on; the core does not own it.
    void Subscribe(PagingEvents& events) { subscribers_.push_back(&events); }

    // Reads espa.set and opens the port; the engine starts with a line check.
    PortOpen Start();
    // Uses settings from now on: stores them in espa.set and reopens the port.
    PortOpen ApplySettings(const Settings& settings);
    // Settings for this run only, nothing stored (a command line's choices).
    void UseSettings(const Settings& settings) { settings_ = settings; }
    // Closes the port and opens it again with the settings in use; a port
    // that does not open is tried again in the background.
    PortOpen Reopen();
    // Closes the port (the program ends).
    void Stop();

    // Queues a call, or refuses it when it cannot be sent as given. The call
    // ends when the slave has not finished with it within timeOut seconds.
    Submitted Submit(const CallRequest& request, std::int16_t timeOut = CallBuffer::kCallTimeOut);
    // Takes back a call whose block has not gone out yet; false once it has,
    // or when no such call waits.
    bool Cancel(std::uint32_t id);
    // Removes the call at a buffer position, whatever its state.
    void Remove(int position) { calls_.Remove(position); }

    // The 100 ms tick: runs the engine while the line is up; a line that went
    // down is reported once and the engine waits.
    void Tick();
    // Once a second: calls that waited too long end.
    void CheckTimeOuts() { calls_.CheckTimeOuts(); }
    // Once a second: a line that is down is tried again every few seconds
    // (every second while a connection is under way).
    void WatchLine();
    // The operator's RTS switch (no handshake only); logged.
    void ToggleRts();

    const CallArray& Calls() const { return calls_.Calls(); }
    LinkState Link() const { return engine_.Link(); }
    const Settings& CurrentSettings() const { return settings_; }
    const ScreenLines& LogLines() const { return log_.Lines(); }
    LineActivity TakeActivity() { return link_.TakeActivity(); }
    bool Cts() const { return line_.Cts(); }
    bool Rts() const { return line_.Rts(); }
    bool PortPending() const { return line_.Pending(); }
    bool PortIsOpen() const { return line_.IsOpen(); }
    // Why the port last failed to open (device and reason).
    std::string PortError() const { return line_.LastError(); }
    // The port failed to open for a reason that waiting will not cure (a
    // network port refused, or its host unknown).
    bool PortRefused() const { return line_.Refused(); }
    const EngineState& Engine() const { return engine_.State(); }
    const std::filesystem::path& DataDir() const { return log_.DataDir(); }
    // Writes a line to the event log at level 1 and above.
    void Log(std::string_view text) { log_.Write(1, text); }

  private:
    friend struct test::CoreAccess;
    static constexpr std::int16_t kLineRetrySeconds = 3;
    // A connection lost sooner than this after it opened was dropped at once.
    static constexpr std::int16_t kHoldTicks = 20;

    bool TryOpen(bool quiet);
    void LineOpened(bool quiet);
    bool NoteLoss();
    void EndFlapping();
    bool PreparePort();
    template <typename F>
    void Tell(F&& f) {
        for (PagingEvents* s : subscribers_)
            f(*s);
    }

    SerialLine& line_;
    Settings settings_;
    EventLog log_;
    CallBuffer calls_;
    ByteLink link_;
    ProtocolEngine engine_;
    std::vector<PagingEvents*> subscribers_;
    bool lineWanted_ = false;  // the port should be open (opened by Start or a Save)
    bool lineDown_ = false;    // the engine waited for the line
    std::int16_t retryCountdown_ = 0;
    std::string toldReason_;               // the last reason the log gave for a port not open
    std::int16_t openTicks_ = kHoldTicks;  // ticks since the port opened, up to kHoldTicks
    int flaps_ = 0;                        // connections in a row dropped at once
};

}  // namespace zelvano
