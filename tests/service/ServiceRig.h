// The paging service over the fake line, with the simulated paging system
// answering in the same process, all ticked by hand.
#pragma once

#include "EspaSlave.h"
#include "service/CallService.h"
#include "support/TestApp.h"

namespace zelvano::test {

struct ServiceRig {
    // journalFile: another rig's journal, to start where it stopped.
    explicit ServiceRig(slave::SlaveConfig config = {}, ServiceLimits limits = {},
                        const std::filesystem::path& journalFile = {})
        : slave(config) {
        std::string error;
        journal = Journal::Open(journalFile.empty() ? JournalFile() : journalFile, error);
        service = std::make_unique<CallService>(core, *journal, limits, [this] { return nowMs; });
        core.Subscribe(*service);
        core.Start();
    }

    // One engine tick (100 ms) with the slave's answers, and the second's work
    // every tenth.
    void Tick() {
        nowMs += 100;
        const auto sent = line.TakeWritten();
        if (slaveOn)
            slave.Receive(std::string(sent.begin(), sent.end()), nowMs);
        slave.Tick(nowMs);
        const std::string due = slave.TakeDue(nowMs);
        if (slaveOn)
            line.Feed(std::vector<std::uint8_t>(due.begin(), due.end()));
        core.Tick();
        service->Tick();
        if (++ticks % 10 == 0) {
            core.CheckTimeOuts();
            service->Second();
            core.WatchLine();
        }
    }
    // Ticks until done() or the seconds are up; true when done.
    template <typename F>
    bool TickUntil(F done, int seconds) {
        for (int i = 0; i < seconds * 10 && !done(); ++i)
            Tick();
        return done();
    }
    std::filesystem::path JournalFile() const { return dir.path() / "journal.db"; }
    // The port fails and cannot be opened again: calls wait in front of the engine.
    void CutLine() {
        line.failOpen = true;
        line.open = false;
    }
    std::string StateOf(std::int64_t id) const { return service->Find(id)->state; }

    FakeClock clock;
    FakeSerialLine line;
    TempDir dir;
    PagingCore core{line, clock, dir.path()};
    slave::EspaSlave slave;
    bool slaveOn = true;
    std::unique_ptr<Journal> journal;
    std::unique_ptr<CallService> service;
    EpochMs nowMs = 1'800'000'000'000;
    int ticks = 0;
};

inline CallRequest Page(const std::string& address, const std::string& text = "HELLO") {
    return {address, text, "1", "3", "3", "1"};
}

}  // namespace zelvano::test
