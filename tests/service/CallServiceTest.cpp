#include <gtest/gtest.h>

#include "ServiceRig.h"

namespace zelvano::test {
namespace {

using Kind = SubmitResult::Kind;

std::int64_t Accepted(ServiceRig& rig, const CallRequest& request, const std::string& key = {}) {
    const SubmitResult result = rig.service->Submit(request, "test", key);
    EXPECT_EQ(result.kind, Kind::Accepted) << result.field << ": " << result.error;
    return result.call.id;
}

TEST(CallService, burstBeyondTheTenPositionsIsDeliveredEachCallOnce) {
    ServiceRig rig;
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 25; ++i)
        ids.push_back(Accepted(rig, Page(std::to_string(100 + i))));
    EXPECT_EQ(rig.service->Figures().waiting + rig.service->Figures().inEngine, 25u);
    // Ten at a time: the later calls of a full buffer may end "NO STATUS"
    // when the buffer's time-out comes before their turn to be asked.
    ASSERT_TRUE(rig.TickUntil(
        [&] { return rig.service->Figures().waiting == 0 && rig.service->Figures().inEngine == 0; },
        300));
    for (std::int64_t id : ids) {
        const ServiceCall call = *rig.service->Find(id);
        EXPECT_TRUE(call.final && call.delivered && call.sent) << call.state;
        ASSERT_GE(call.history.size(), 3u);
        EXPECT_EQ(call.history.front().state, "NEW");
        EXPECT_EQ(call.history.at(1).state, "QUEUE");
    }
    const auto finals = rig.service->Figures().finals;
    EXPECT_EQ(finals.at("PAGED") + finals.at("NO STATUS"), 25);
    EXPECT_EQ(rig.service->Figures().exchanges, 25);
    EXPECT_EQ(rig.service->Figures().retries, 0);
    EXPECT_EQ(rig.journal->List({"", 0, 1000}).size(), 25u);
}

TEST(CallService, refusesWhatCannotBePagedAndQueuesNothing) {
    struct Row {
        CallRequest request;
        const char* field;
    };
    const Row rows[] = {
        {Page(""), "address"},
        {Page("12345678901234567"), "address"},
        {Page("1\x02"), "address"},
        {Page("100", std::string(1001, 'x')), "text"},
        {Page("100", "caf\xc3\xa9 \xe2\x9c\x93"), "text"},  // U+2713 has no single-byte code
        {{"100", "", "G", "3", "3", "1"}, "bleep"},
        {{"100", "", "1", "3", "", "1"}, "calltype"},
        {{"100", "", "1", "4", "3", "1"}, "priority"},
        {{"100", "", "1", "3", "3", "0"}, "transmissions"},
        {Page("12345678901234\xc3\xa9", std::string(1000, 'x')), ""},
        {Page("100", "caf\xc3\xa9"), ""},
    };
    ServiceRig rig;
    rig.CutLine();
    for (const Row& row : rows) {
        const SubmitResult result = rig.service->Submit(row.request, "test");
        EXPECT_EQ(result.field, row.field) << row.request.address << " " << row.request.text;
        EXPECT_EQ(result.kind, *row.field ? Kind::Refused : Kind::Accepted);
    }
    EXPECT_EQ(rig.journal->List({}).size(), 2u);
    EXPECT_EQ(rig.service->Figures().refused, 9);
}

TEST(CallService, aRepeatedKeyReturnsTheFirstCallOfThatClient) {
    ServiceRig rig;
    rig.CutLine();
    const std::int64_t first = Accepted(rig, Page("100"), "k1");
    const SubmitResult again = rig.service->Submit(Page("999"), "test", "k1");
    EXPECT_EQ(again.kind, Kind::Duplicate);
    EXPECT_EQ(again.call.id, first);
    EXPECT_EQ(again.call.request.address, "100");
    const SubmitResult other = rig.service->Submit(Page("100"), "other", "k1");
    EXPECT_EQ(other.kind, Kind::Accepted);
    EXPECT_NE(other.call.id, first);
    EXPECT_EQ(rig.service->Figures().waiting, 2u);
}

TEST(CallService, aRestartResendsWhatWasOnTheLineAndEndsWhatTheSlaveHad) {
    slave::SlaveConfig config;
    std::string error;
    ASSERT_TRUE(slave::AddScriptOption(config.scripts, "200=NONE", error)) << error;
    std::filesystem::path journalFile;
    std::int64_t accepted = 0, onLine = 0, waiting = 0;
    ServiceRig before(config);
    journalFile = before.JournalFile();
    accepted = Accepted(before, Page("200"));
    ASSERT_TRUE(before.TickUntil([&] { return before.service->Find(accepted)->delivered; }, 20));
    onLine = Accepted(before, Page("100"));
    ASSERT_TRUE(before.TickUntil([&] { return before.service->Find(onLine)->sent; }, 20));
    ASSERT_FALSE(before.service->Find(onLine)->delivered);
    before.CutLine();
    waiting = Accepted(before, Page("300"));

    // The service dies here; a new one opens the same journal.
    ServiceRig after(config, {}, journalFile);
    EXPECT_EQ(after.service->Resume(), 2);
    const ServiceCall ended = *after.service->Find(accepted);
    EXPECT_EQ(ended.state, "NO STATUS");
    EXPECT_TRUE(ended.final);
    ASSERT_TRUE(after.TickUntil(
        [&] { return after.service->Find(onLine)->final && after.service->Find(waiting)->final; },
        60));
    const ServiceCall resent = *after.service->Find(onLine);
    EXPECT_EQ(resent.state, "PAGED");
    EXPECT_EQ(resent.resends, 1);
    EXPECT_EQ(resent.history.at(resent.history.size() - 3).note, "resent after a restart");
    EXPECT_EQ(after.StateOf(waiting), "PAGED");
    EXPECT_EQ(after.service->Find(waiting)->resends, 0);
    EXPECT_EQ(after.service->Figures().resends, 1);
}

TEST(CallService, callsWaitWhileTheLineIsDownAndExpireByAge) {
    ServiceRig rig({}, {.queueLimit = 2, .maxAgeSeconds = 5});
    rig.CutLine();
    const std::int64_t old = Accepted(rig, Page("100"));
    rig.TickUntil([] { return false; }, 3);
    const std::int64_t young = Accepted(rig, Page("101"));
    EXPECT_EQ(rig.service->Submit(Page("102"), "test").kind, Kind::QueueFull);
    ASSERT_TRUE(rig.TickUntil([&] { return rig.service->Find(old)->final; }, 10));
    EXPECT_EQ(rig.StateOf(old), "EXPIRED");
    EXPECT_EQ(rig.StateOf(young), "NEW");
    EXPECT_EQ(rig.service->Cancel(old), CancelResult::AlreadyFinal);
    EXPECT_EQ(rig.service->Cancel(young), CancelResult::Cancelled);
    EXPECT_EQ(rig.StateOf(young), "CANCELLED");
    EXPECT_EQ(rig.service->Cancel(9999), CancelResult::NotFound);
    EXPECT_EQ(rig.journal->List({"CANCELLED", 0, 10}).size(), 1u);
}

TEST(CallService, aCallOnTheLineCannotBeTakenBackOneInTheBufferCan) {
    ServiceRig rig;
    const std::int64_t sent = Accepted(rig, Page("100"));
    ASSERT_TRUE(rig.TickUntil([&] { return rig.service->Find(sent)->sent; }, 20));
    const std::int64_t next = Accepted(rig, Page("101"));
    EXPECT_EQ(rig.service->Figures().inEngine, 2u);
    EXPECT_EQ(rig.service->Cancel(sent), CancelResult::AlreadySent);
    EXPECT_EQ(rig.service->Cancel(next), CancelResult::Cancelled);
    ASSERT_TRUE(rig.TickUntil([&] { return rig.service->Find(sent)->final; }, 30));
    EXPECT_EQ(rig.StateOf(sent), "PAGED");
    EXPECT_EQ(rig.StateOf(next), "CANCELLED");
    EXPECT_EQ(rig.service->Figures().exchanges, 1);
}

}  // namespace
}  // namespace zelvano::test

namespace zelvano::test {
namespace {

// A full buffer of finished calls and one still at work: a new call takes a
// finished call's place, never the live one's.
TEST(CallService, aFedCallTakesAFinishedPlaceNotALiveOne) {
    slave::SlaveConfig config;
    std::string error;
    ASSERT_TRUE(slave::AddScriptOption(config.scripts, "200=NONE", error)) << error;
    ASSERT_TRUE(slave::AddScriptOption(config.scripts, "DEFAULT=BUSY", error)) << error;
    ServiceRig rig(config);
    const std::int64_t live = Accepted(rig, Page("200"));
    for (int i = 0; i < 9; ++i)
        Accepted(rig, Page(std::to_string(100 + i)));
    ASSERT_TRUE(rig.TickUntil([&] { return rig.service->Figures().finals["BUSY"] == 9; }, 120));
    const std::int64_t next = Accepted(rig, Page("300"));
    ASSERT_TRUE(rig.TickUntil([&] { return rig.service->Find(next)->final; }, 60));
    EXPECT_EQ(rig.StateOf(live), "QUEUE");
    EXPECT_FALSE(rig.service->Find(live)->final);
}

}  // namespace
}  // namespace zelvano::test
