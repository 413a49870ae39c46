#include "buffer/CallBuffer.h"

#include "app/App.h"
#include "common/Text.h"
#include "log/Log.h"

namespace zelvano {

namespace {

constexpr std::int16_t kCallTimeOut = 60;

bool IsPosition(std::int16_t position) {
    return position >= 0 && position < kCallBufferSize;
}

CallBufferEntry& EntryAt(App& app, int position) {
    return app.CallBuffer[static_cast<std::size_t>(position)];
}

// First position whose state satisfies pred, or -1.
template <typename Pred>
std::int16_t FindPosition(const App& app, Pred pred) {
    for (std::int16_t i = 0; i < kCallBufferSize; ++i) {
        if (pred(app.CallBuffer[static_cast<std::size_t>(i)]))
            return i;
    }
    return -1;
}

std::int16_t FirstFreePosition(const App& app) {
    return FindPosition(app, [](const CallBufferEntry& e) { return e.IsFree(); });
}

// Frees the last position of a full buffer: the first finished call goes, or,
// when there is none, the oldest call. Dropping an unfinished call is logged so
// that it does not vanish unseen.
void MakeRoom(App& app) {
    const std::int16_t finished =
        FindPosition(app, [](const CallBufferEntry& e) { return IsFinishedState(e.Status); });
    if (finished >= 0) {
        DeleteCall(app, finished);
        return;
    }
    if (app.settings.Logfile >= 1) {
        WriteLog(app,
                 "STATUS: Buffer full, call dropped for Pager: [" + EntryAt(app, 0).Address + "]");
    }
    DeleteCall(app, 0);
}

std::uint32_t TakeCallId(App& app) {
    if (app.nextCallId == 0)
        app.nextCallId = 1;  // 0 marks a free position
    return app.nextCallId++;
}

void AppendField(std::string& line, const char* label, const std::string& value) {
    if (value.empty())
        return;
    line += label;
    line += value;
    line += ']';
}

std::string CallToBufferLine(const CallBufferEntry& e) {
    std::string line = "STATUS: Call to Buffer for Pager: [" + e.Address + "]";
    AppendField(line, " Alfa: [", e.Alfa);
    AppendField(line, " Bleep: [", e.Bleep);
    AppendField(line, " NrOfTx: [", e.NrOfTx);
    AppendField(line, " Priority: [", e.Priority);
    AppendField(line, " Calltype: [", e.CallType);
    return line;
}

// Gives up a call still waiting for the slave when its count has run out.
void TimeOutPosition(App& app, std::int16_t position) {
    CallBufferEntry& e = EntryAt(app, position);
    e.TimeOutCount = 0;
    // A call the slave accepted was not lost; only its state is unknown.
    e.Status = e.Delivered ? "NO STATUS" : "ERROR";
    if (app.settings.Logfile >= 1) {
        WriteLog(app, "Bufferpositie:  " + TrimStr(position) + " TimeOut.");
    }
    ShowCallBuffer(app);
}

}  // namespace

bool IsFinishedState(std::string_view status) {
    return status == "ABSENT" || status == "PAGED" || status == "TERMINATED";
}

void ClearCallBuffer(App& app) {
    for (CallBufferEntry& e : app.CallBuffer)
        e = CallBufferEntry{};
}

void ClearCallEntry(App& app, std::int16_t position) {
    if (!IsPosition(position))
        return;
    EntryAt(app, position) = CallBufferEntry{};
}

void DeleteCall(App& app, std::int16_t position) {
    if (!IsPosition(position))
        return;
    for (int i = position; i < kCallBufferSize - 1; ++i) {
        EntryAt(app, i) = EntryAt(app, i + 1);
    }
    ClearCallEntry(app, kCallBufferSize - 1);
}

void AddCall(App& app, const std::string& address, const std::string& bleep,
             const std::string& alfa, const std::string& priority, const std::string& nrOfTx,
             const std::string& callType) {
    std::int16_t target = FirstFreePosition(app);
    if (target < 0) {
        MakeRoom(app);
        target = FirstFreePosition(app);
    }
    CallBufferEntry& e = EntryAt(app, target);
    e.Address = address;
    e.Alfa = alfa;
    e.Bleep = bleep;
    e.Priority = priority;
    e.CallType = callType;
    e.NrOfTx = nrOfTx;
    e.TimeOutCount = kCallTimeOut;
    e.Status = "NEW";
    e.CallId = TakeCallId(app);
    ShowCallBuffer(app);
    if (app.settings.Logfile >= 1)
        WriteLog(app, CallToBufferLine(e));
}

void CheckBufferTimeOuts(App& app) {
    for (std::int16_t i = 0; i < kCallBufferSize; ++i) {
        CallBufferEntry& e = EntryAt(app, i);
        if (e.TimeOutCount == 1 && (e.Status == "QUEUE" || e.Status == "NEW")) {
            TimeOutPosition(app, i);
        }
        if (e.TimeOutCount > 1)
            --e.TimeOutCount;
    }
}

void ShowCallBuffer(App& app) {
    app.view.ShowCallBuffer(app.CallBuffer);
}

}  // namespace zelvano
