// The protocol engine tick by tick against a scripted slave: every job's bytes
// and tick counts, its log lines, its retries and give-ups, and the calls it
// serves when the buffer changes under it.
#include <gtest/gtest.h>

#include "buffer/CallBuffer.h"
#include "support/TestApp.h"
#include "windows/BufferDisplay.h"

namespace zelvano::test {
namespace {

// Byte strings the transcripts name. HELLO and SC are the call and status call
// blocks of the HELLO call (Emulatie 1); PAGED a status block with its check.
const std::map<std::string, std::string> kNames = {
    {"HELLO",
     "01 31 02 31 1F 31 32 33 1E 32 1F 48 45 4C 4C 4F 1E 33 1F 31 1E 34 1F 33 1E 35 1F 32 03 5C"},
    {"SC",
     "01 33 02 31 1F 31 32 33 1E 32 1F 48 45 4C 4C 4F 1E 33 1F 31 1E 34 1F 33 1E 35 1F 32 03 5E"},
    {"PAGED", "01 32 02 31 1F 31 32 33 1E 37 1F 33 03 28"},
    {"BADCHECK", "01 32 02 31 1F 31 32 33 1E 37 1F 33 03 29"},
    {"ABSENT", "01 32 02 37 1F 34 03 2F"},
    {"QBLK", "01 32 02 31 1F 31 32 33 1E 37 1F 32 03 29"},
};

// Common openings: a good line check from the start; a select or a reversed
// poll answered '1' ENQ, 10 ticks in (after a good line check and a scan); a
// status block offered on a poll-only line check.
const std::pair<std::string, std::string> kMacros[] = {
    {"GOOD", "start; > 2: 04; > 7: SEL; 06 > 8: 04"},
    {"CALL", "> 10: 04; > 15: SEL"},
    {"REQ", "> 10: 04; > 15: POLL; 31 05 > 17: 06"},
    {"LCDATA", "start; > 2: 04; > 7: POLL; 31 05 > 9: 06; ABSENT . 11; > 12: 06"}};

const std::string kLcSent = "Test ESPA connection 1 ENQ 2 ENQ sent.";
const std::string kLcAck = "Test ESPA connection ACK received -> OK!";
const std::string kLcOk = "Test ESPA connection -> OK!";
const std::string kHasData = "Test ESPA connection antwoord 1 op Poll, dus er zijn gegevens...";
const std::string kNoSoh1 = "ERROR: Transfer of SOH1 failed, recheck ESPA slave.";
const std::string kNak = "ERROR: No ACK on transmitted ESPA, but: %d 21";
const std::string kSaidNak = "Slave answered: NAK", kSaidEot = "Slave answered: EOT";
const std::string kSoh3Nak = "ERROR: No ACK received at StatusRequest SOH3, but &d 49";
const std::string kSaid1NakEot = "Slave answered: '1' NAK EOT";
const std::string kNoMoreSoh3 =
    "STATUS: No more status calls (SOH3) are sent; accepted calls end "
    "as NO STATUS until the port is reopened or the settings change.";
const std::string kRefused =
    "ERROR: At Transfer CallToEspaSlave: No ACK after 1ENQ, 2 ENQ received: &d 4";
const std::string kPollSent = "StatusRequest: 2 ENQ sent.";
const std::string kOne = "StatusRequest: '1' received on reversed poll.";
const std::string kEnq = "StatusRequest: ENQ received on reversed poll, ACK sent.";

struct Case {
    const char* name;
    const char* call = nullptr;  // "NEW"/"QUEUE": the HELLO call, added after a good line check
    std::int16_t level = 2, lineCheck = 0, statusCheck = 0, emulatie = 1, interval = 0;
    const char* setup = "";  // events (see EngineRig::Run) before the steps
    const char* steps = "";
    std::vector<std::string> log = {};  // every screen-log line of the steps
    const char* status = nullptr;       // of position 0 at the end
    int state = -1, retry = -99, lineOk = -2;
    const char* text = "HELLO";
};

std::string Expand(std::string steps) {
    for (const auto& [macro, text] : kMacros) {
        for (std::size_t at; (at = steps.find(macro)) != std::string::npos;)
            steps.replace(at, macro.size(), text);
    }
    return steps;
}

void RunCase(const Case& c) {
    SCOPED_TRACE(c.name);
    EngineRig rig;
    rig.names.insert(kNames.begin(), kNames.end());
    Settings& s = rig.settings;
    s.lineCheck = c.lineCheck;
    s.statusCheck = c.statusCheck;
    s.emulation = c.emulatie;
    s.checkInterval = c.interval;
    if (c.call != nullptr) {
        ASSERT_EQ(
            rig.Run(c.lineCheck == 1 ? "start; > 2: 04; > 7: POLL; 06 > 8: 04" : Expand("GOOD")),
            "");
        rig.AddHello(c.text);
        rig.SetState(0, c.call);
        rig.State().retries = 3;
    }
    s.logLevel = c.level;
    ASSERT_EQ(rig.Run(c.setup), "");
    rig.NewLog();
    EXPECT_EQ(rig.Run(Expand(c.steps)), "");
    EXPECT_EQ(rig.NewLog(), c.log);
    std::string got, want;  // the end values the case names
    const auto end = [&](bool named, const char* what, const std::string& is,
                         const std::string& wanted) {
        got += named ? std::string(what) + "=" + is + " " : "";
        want += named ? std::string(what) + "=" + wanted + " " : "";
    };
    const EngineState& e = rig.State();
    const int link = e.link == LinkState::Up ? 1 : e.link == LinkState::Down ? 0 : -1;
    end(c.status != nullptr, "status", std::string(StateText(rig.calls.At(0).state)),
        c.status ? c.status : "");
    end(c.state >= 0, "step", std::to_string(static_cast<int>(e.step)), std::to_string(c.state));
    end(c.retry != -99, "retries", std::to_string(e.retries), std::to_string(c.retry));
    end(c.lineOk != -2, "LineOk", std::to_string(link), std::to_string(c.lineOk));
    EXPECT_EQ(got, want);
    EXPECT_EQ(SoundState(rig.calls.Calls(), e), "");
}

// clang-format off
const Case kLineChecks[] = {
    {.name = "good line; the start request outside idle is an ordinary tick", .interval = 7,
     .steps = "start; > 2: 04; 15 . 6; > 7: SEL; 06 > 8: 04; start . 15; > 16: 04",
     .log = {kLcSent, kLcAck}, .lineOk = 1},
    {.name = "poll only, EOT", .lineCheck = 1, .steps = "start; > 2: 04; > 7: POLL; 04 > 8: 04",
     .log = {"Test ESPA connection 2 ENQ sent.", "Test ESPA connection EOT received -> OK!"}},
    {.name = "poll only, ACK", .lineCheck = 1, .steps = "start; > 2: 04; > 7: POLL; 06 > 8: 04",
     .log = {"Test ESPA connection 2 ENQ sent.", kLcAck}},
    {.name = "a wrong byte does not end the check",
     .steps = "start; > 2: 04; > 7: SEL; 15 . 11; 06 > 12: 04", .log = {kLcSent, kLcAck},
     .lineOk = 1},
    {.name = "silent slave checked every 75 ticks; -1 to 0 is not reported", .level = 1,
     .steps = "start; > 2: 04; > 7: SEL; > 77: 04; > 82: SEL; > 152: 04", .lineOk = 0},
    {.name = "level 1 reports only changes", .level = 1, .interval = 3,
     .steps = "GOOD; > 12: 04; > 17: SEL; 06 > 18: 04; > 22: 04; > 27: SEL; 15 . 28; 15 . 29; "
              "> 97: 04; > 102: SEL; 06 > 103: 04; > 107: 04; > 112: SEL; > 182: 04",

     .log = {kLcOk, "Test ESPA connection -> ERROR.", kLcOk,
             "Test ESPA connection -> TimeOut receiving data from slave device."},
     .lineOk = 0},
    {.name = "level 2 reports every check", .steps = "GOOD; > 10: 04; > 15: SEL; 06 > 16: 04",
     .log = {kLcSent, kLcAck, kLcSent, kLcAck}},
    {.name = "level 0 reports nothing", .level = 0,
     .steps = "GOOD; > 10: 04; > 15: SEL; 06 > 16: 04"},
    {.name = "a negative interval still checks the line", .interval = -1,
     .steps = "GOOD; > 10: 04; > 15: SEL; 06 > 16: 04", .log = {kLcSent, kLcAck, kLcSent, kLcAck}},
    {.name = "'1' on the poll goes to the slave's select", .level = 1, .lineCheck = 1,
     .steps = "start; > 2: 04; > 7: POLL; 31 . 8", .log = {kHasData}, .state = 180, .lineOk = -1},
    {.name = "an unknown kind sends no poll and ignores bytes", .lineCheck = 2,
     .steps = "start; > 2: 04; 06 . 12; 06 . 20; > 77: 04",
     .log = {"Test ESPA connection 2 ENQ sent."}, .lineOk = 0},
    {.name = "idle until the start request", .setup = "!timer=30",
     .steps = ". 20; start; > 22: 04"},
    {.name = "unknown step", .level = 1, .setup = "!step=99", .steps = ". 1; > 2: 04",
     .log = {"Zelvano software in default."}},
    {.name = "an idle buffer is scanned every 11 ticks", .level = 0, .statusCheck = 2,
     .interval = 1000, .steps = "GOOD; . 9; !add; > 21: 04"},
};
// clang-format on

// clang-format off
const Case kJobs[] = {
    {.name = "make call", .call = "NEW", .level = 3, .steps = "CALL; 06 > 17: HELLO; 06 . 18",
     .log = {"MakeCall: sequence started, 1 ENQ 2 ENQ sent.",
             "MakeCall: ACK received, sent call (SOH1).", "MakeCall: Sent Call (SOH1).",
             "MakeCall: Sent Call, ACK received (SOH1)."},
     .status = "QUEUE", .state = 20},
    {.name = "NAK to every block: four blocks, then ERROR and a line check after the wait",
     .call = "NEW", .level = 1,
     .steps = "CALL; 06 > 17: HELLO; 15 > 19: 04; > 24: SEL; 06 > 26: HELLO; 15 > 28: 04; "
              "> 33: SEL; 06 > 35: HELLO; 15 > 37: 04; > 42: SEL; 06 > 44: HELLO; 15 . 45; "
              "> 94: 04",
     .log = {kNak, kSaidNak, kNak, kSaidNak, kNak, kSaidNak, kNak, kSaidNak,
             "ERROR: Failed 3 times, recheck ESPA slave."},
     .status = "ERROR"},
    {.name = "select refused by EOT four times; line check after 5 ticks", .call = "NEW",
     .level = 1,
     .steps = "CALL; 04 > 17: 04; > 22: SEL; 04 > 24: 04; > 29: SEL; 04 > 31: 04; > 36: SEL; "
              "04 > 42: 04",
     .log = {kRefused, kSaidEot, kRefused, kSaidEot, kRefused, kSaidEot, kRefused, kSaidEot,
             "ERROR: 3 times failure, recheck ESPA slave"},
     .status = "ERROR"},
    {.name = "silent select times out after 20 ticks", .call = "NEW", .level = 1,
     .steps = "CALL; > 36: 04; > 41: SEL",
     .log = {"ERROR: After sending 1 ENQ 2 ENQ no ACK received."}, .retry = 2},
    {.name = "a wrong answer is let come whole for 2 more ticks, then judged", .call = "NEW",
     .level = 1, .steps = "CALL; 06 > 17: HELLO; 32 . 18; 33 . 20; 34 > 21: 04",
     .log = {"ERROR: No ACK on transmitted ESPA, but: %d 50", "Slave answered: '2' '3'"}},
    {.name = "an unanswered block is sent again with retries reset", .call = "NEW", .level = 1,
     .steps = "CALL; 06 > 17: HELLO; > 69: 04",
     .log = {"ERROR: TimeOut receiving ACK from ESPA slave"}, .status = "NEW", .retry = 3},
    {.name = "bytes after the select's ACK answer the block", .call = "NEW", .level = 0,
     .steps = "CALL; 06 06 > 17: HELLO; . 18", .status = "QUEUE"},
    {.name = "port failure during the block", .call = "NEW", .level = 1,
     .steps = "CALL; 06 . 16; !io; . 17", .log = {kNoSoh1}, .status = "ERROR", .state = 10},
    {.name = "level 4 names the position found", .call = "NEW", .level = 4, .steps = ". 9",
     .log = {"CallStatus is NEW for Position:  0"}, .state = 30, .retry = 3},
    {.name = "status call, then status request: PAGED", .call = "QUEUE", .level = 3,
     .steps = "CALL; 06 15 > 17: SC; 06 > 19: 04; > 24: POLL; 31 05 > 26: 06; PAGED > 29: 06",
     .log = {"StatusCall: 1 ENQ 2 ENQ sent.", "StatusCall: ACK received on Poll (1 ENQ, 2 ENQ).",
             "StatusCall: Sent StatusCall (SOH3).",
             "StatusCall: ACK received on StatusCall (SOH3).", kPollSent, kOne, kEnq,
             "StatusRequest: ETX received, awaiting Checksum.",
             "StatusRequest: Checksum received and OK.",
             "StatusRequest: Status received, ACK sent.",
             "STATUS: Call from ScreenPosition: 0 is now: PAGED"},
     .status = "PAGED", .state = 20},
    {.name = "level 1 logs only the new state", .call = "QUEUE", .level = 1, .statusCheck = 1,
     .steps = "REQ; PAGED > 20: 06", .log = {"STATUS: Call from ScreenPosition: 0 is now: PAGED"},
     .status = "PAGED"},
    {.name = "wrong check character: no ACK, the request starts over", .call = "QUEUE", .level = 1,
     .statusCheck = 1, .steps = "REQ; BADCHECK > 21: 04; > 26: POLL",
     .log = {"ERROR: Incorrect CheckSum received. Expected: 40 Received: 41"}, .status = "QUEUE"},
    {.name = "CommTechWireLess: no status call, the check character ignored", .call = "QUEUE",
     .emulatie = 5, .steps = "REQ; 01 32 02 31 1F 31 32 33 1E 37 1F 34 03 99 > 20: 06",
     .log = {"Not using SOH3 with CommTechWireLess. Is not implemented there.", kPollSent, kOne,
             kEnq, "StatusRequest: ETX received, awaiting Checksum.",
             "StatusRequest: PATCH Commtech IGNORE checksum. Expected: 47 Received: 153",
             "StatusRequest: Status received, ACK sent.",
             "STATUS: Call from ScreenPosition: 0 is now: ABSENT"},
     .status = "ABSENT"},
    {.name = "a status block over several ticks", .call = "QUEUE", .level = 0, .statusCheck = 1,
     .steps = "REQ; 01 32 . 18; 02 31 1F . 20; 31 32 33 1E . 21; 37 1F 33 . 23; 03 . 24; 28 . 25; "
              "> 26: 06",
     .status = "PAGED"},
    {.name = "the status block has 100 ticks from the ACK", .call = "QUEUE", .level = 1,
     .statusCheck = 1, .steps = "REQ; 01 32 02 31 . 118; > 119: 04",
     .log = {"ERROR: TimeOut receiving Status from Slave. Terminated."}},
    {.name = "EOT in the status block aborts it", .call = "QUEUE", .statusCheck = 1,
     .steps = "REQ; 01 32 02 31 04 > 18: 04",
     .log = {kPollSent, kOne, kEnq, "StatusRequest: EOT received while receiving status. Aborted."},
     .state = 20, .retry = 2},
    {.name = "EOT aborts drive the retries below 0; the next failure gives up", .call = "QUEUE",
     .level = 1, .statusCheck = 1, .setup = "!retries=1",
     .steps = "REQ; 01 32 02 31 04 > 18: 04; > 20: 04; > 25: POLL; 31 05 > 27: 06; 01 04 > 28: 04; "
              "> 30: 04; > 35: POLL; 31 05 > 37: 06; 01 04 > 38: 04; > 40: 04; > 45: POLL; 41 . 48",

     .log = {"After Poll&Select expected '1', but received: (&dec)  65", "Slave answered: 'A'",
             "ERROR: Failed 3 times, recheck ESPA slave"},
     .status = "NO STATUS", .state = 10},
    {.name = "EOT abort stops at the 16-bit floor", .level = 1,
     .setup = "!step=200 !timer=10 !retries=-32768", .steps = "04 > 1: 04", .retry = -32768},
    {.name = "poll answered by EOT: nothing yet, polled again", .call = "QUEUE", .statusCheck = 1,
     .steps = "> 10: 04; > 15: POLL; 04 > 18: 04",
     .log = {kPollSent, "StatusRequest: No info available (yet). Retry later."}, .status = "QUEUE",
     .retry = 3},
    {.name = "an unanswered poll times out after 50 ticks", .call = "QUEUE", .level = 0,
     .statusCheck = 1, .steps = "> 10: 04; > 15: POLL; > 67: 04"},
    {.name = "an ENQ later than 20 ticks is a time-out", .call = "QUEUE", .level = 1,
     .statusCheck = 1, .steps = "> 10: 04; > 15: POLL; 31 . 36; 05 > 38: 04",
     .log = {"ERROR: TimeOut receiving 1 ENQ from Slave. Terminated."}},
    {.name = "a call the slave has nothing on yet rests: the line check gets the line",
     .call = "QUEUE", .level = 0, .statusCheck = 1,
     .steps = "> 10: 04; > 15: POLL; 04 > 18: 04; > 23: SEL"},
    {.name = "... and is asked again 30 ticks after the EOT", .call = "QUEUE", .level = 0,
     .statusCheck = 1, .interval = 100, .steps = "> 10: 04; > 15: POLL; 04 > 51: 04; > 56: POLL"},
    {.name = "status jobs take turns: the call just asked goes behind", .call = "QUEUE",
     .level = 1, .statusCheck = 1, .setup = "!add !1=QUEUE",
     .steps = "REQ; QBLK > 20: 06; > 22: 04; > 27: POLL; 31 05 > 29: 06; PAGED > 32: 06",
     .log = {"STATUS: Call from ScreenPosition: 0 is now: QUEUE",
             "STATUS: Call from ScreenPosition: 1 is now: PAGED"},
     .status = "QUEUE"},
    {.name = "every NEW call before any status job; a QUEUE call keeps its retries",
     .call = "NEW", .level = 4, .setup = "!add3 !0=PAGED !1=QUEUE !2=ERROR !3=PAGED !retries=2",
     .steps = ". 9", .log = {"CallStatus is QUEUE for Position:  1"}, .state = 100, .retry = 2},
    {.name = "... a NEW call after a QUEUE one goes first", .call = "NEW", .level = 4,
     .setup = "!add3 !0=PAGED !1=QUEUE !2=ERROR", .steps = ". 9",
     .log = {"CallStatus is NEW for Position:  3"}, .state = 30, .retry = 3},
    {.name = "a status call refused with NAK, split or not: NO STATUS at once, the hint once; "
             "no SOH3 for other calls until the port is reopened",
     .call = "QUEUE", .level = 1, .interval = 100, .setup = "!add !1=QUEUE",
     .steps = "CALL; 06 > 17: SC; 31 . 18; 15 04 . 40; !reopen !0=QUEUE; > 43: 04; > 48: SEL; "
              "06 > 50: SC; 31 15 04 . 51",
     .log = {kSoh3Nak, kSaid1NakEot,
             "STATUS: ESPA slave refuses status calls (SOH3); accepted calls end as NO STATUS. "
             "Choose \"StatusCheck Only 2 ENQ\" in Settings, or \"StatusCheck None\" when the "
             "slave gives no status at all.",
             kNoMoreSoh3, kSoh3Nak, kSaid1NakEot, kNoMoreSoh3},
     .status = "NO STATUS"},
    {.name = "... \"StatusCheck None\" first when a status request found nothing either",
     .call = "QUEUE", .level = 1, .interval = 100, .setup = "!add !1=QUEUE",
     .steps = "CALL; 06 > 17: SC; 06 > 19: 04; > 24: POLL; 04 > 27: 04; > 32: SEL; 06 > 34: SC; "
              "31 15 04 . 70",
     .log = {kSoh3Nak, kSaid1NakEot,
             "STATUS: ESPA slave refuses status calls (SOH3) and has had no status on request "
             "either; accepted calls end as NO STATUS. Choose \"StatusCheck None\" in Settings, "
             "or \"StatusCheck Only 2 ENQ\" when the slave does report status on request.",
             kNoMoreSoh3},
     .status = "NO STATUS"},
};
// clang-format on

// What the scheduler does with a "QUEUE" call by status check kind and make.
// clang-format off
const Case kStatusKinds[] = {
    {.name = "1/0", .call = "QUEUE", .steps = ". 9", .state = 100},
    {.name = "1/1", .call = "QUEUE", .statusCheck = 1, .steps = ". 9", .state = 150},
    {.name = "5/1", .call = "QUEUE", .statusCheck = 1, .emulatie = 5, .steps = ". 9", .state = 150},
    {.name = "1/2", .call = "QUEUE", .statusCheck = 2, .interval = 100, .steps = ". 40",
     .status = "NO STATUS"},
    {.name = "5/2", .call = "QUEUE", .statusCheck = 2, .emulatie = 5, .interval = 100,
     .steps = ". 40", .status = "NO STATUS"},
    {.name = "1/3", .call = "QUEUE", .statusCheck = 3, .interval = 100, .steps = ". 40",
     .status = "ERROR"},
    {.name = "1/-1", .call = "QUEUE", .statusCheck = -1, .interval = 100, .steps = ". 40",
     .status = "ERROR"},
};
// clang-format on

// A job follows its call when the buffer moves under it, and writes nothing
// when the call is gone.
// clang-format off
const Case kMends[] = {
    {.name = "the ACK lands on the call after an earlier call was removed", .call = "NEW",
     .level = 0, .setup = "!0=PAGED !add", .steps = "CALL; 06 > 17: HELLO; !dbl0; 06 . 18",
     .status = "QUEUE"},
    {.name = "the status of a removed call is dropped, the block still acknowledged",
     .call = "QUEUE", .level = 1, .statusCheck = 1, .setup = "!add !1=BUSY",
     .steps = "REQ; !dbl0; PAGED > 20: 06", .status = "BUSY"},
    {.name = "the give-up of a removed call writes no state", .call = "QUEUE", .level = 1,
     .setup = "!retries=0", .steps = "CALL; !dbl0; 15 . 16",
     .log = {"ERROR: No ACK received after Status Poll&Select, but &d 21", kSaidNak,
             "ERROR: Fault 3 times, recheck ESPA slave."},
     .status = "", .state = 10},
    {.name = "a call dropped from a full buffer during its select is not sent", .call = "NEW",
     .level = 1, .setup = "!add9", .steps = "CALL; !add; 06 . 18; > 19: 04",
     .log = {"STATUS: Buffer full, call dropped for Pager: [123]",
             "STATUS: Call to Buffer for Pager: [123] Alfa: [HELLO] NrOfTx: [2]"},
     .status = "NEW", .state = 35},
    {.name = "no status call block for a removed call", .call = "QUEUE", .level = 1,
     .steps = "CALL; !dbl0; 06 . 18; > 19: 04", .status = ""},
    {.name = "a late ACK shows a given-up call delivered but does not revive it", .call = "NEW",
     .level = 0, .statusCheck = 1, .interval = 100, .steps = "CALL; 06 > 17: HELLO; !out0; 06 . 40",
     .status = "NO STATUS"},
    {.name = "a final word after the time-out is shown and logged", .call = "QUEUE", .level = 1,
     .statusCheck = 1, .steps = "REQ; !out0; PAGED > 20: 06",
     .log = {"Bufferpositie:  0 TimeOut.", "STATUS: Call from ScreenPosition: 0 is now: PAGED"},
     .status = "PAGED"},
    {.name = "... a QUEUE after it is not", .call = "QUEUE", .level = 1, .statusCheck = 1,
     .interval = 100, .steps = "REQ; !out0; QBLK > 20: 06; . 40",
     .log = {"Bufferpositie:  0 TimeOut."}, .status = "NO STATUS"},
    {.name = "a status offered on the line check lands on the call last served", .level = 1,
     .lineCheck = 1, .setup = "!add2 !0=PAGED !1=BUSY !served=0", .steps = "LCDATA",
     .log = {kHasData, "STATUS: Call from ScreenPosition: 0 is now: ABSENT"}, .status = "ABSENT"},
    {.name = "... not on a call that moved into its position", .level = 1, .lineCheck = 1,
     .setup = "!add2 !0=PAGED !1=BUSY !served=0 !dbl0", .steps = "LCDATA", .log = {kHasData},
     .status = "BUSY"},
    {.name = "... nor anywhere before any job ran", .level = 1, .lineCheck = 1,
     .setup = "!add !0=BUSY", .steps = "LCDATA", .log = {kHasData}, .status = "BUSY"},
    {.name = "... nor where the call last served moved to", .level = 1, .lineCheck = 1,
     .setup = "!add2 !0=PAGED !1=BUSY !served=1 !dbl0", .steps = "LCDATA", .log = {kHasData},
     .status = "BUSY"},
    {.name = "a status call block with a control character is not sent", .call = "QUEUE",
     .level = 1, .steps = "CALL; 06 . 17; > 18: 04",
     .log = {"ERROR: Transmission of StatusRequest SOH3 failed. Recheck ESPA slave."},
     .status = "NO STATUS", .text = "x\x05"},
};
// clang-format on

TEST(Engine, LineCheck) {
    for (const Case& c : kLineChecks)
        RunCase(c);
}

TEST(Engine, Jobs) {
    for (const Case& c : kJobs)
        RunCase(c);
    for (const Case& c : kStatusKinds)
        RunCase(c);
}

TEST(Engine, JobFollowsItsCall) {
    for (const Case& c : kMends)
        RunCase(c);
}

// A value that has no single-byte code or holds a control character fails the
// call before SOH; a line check follows after 5 ticks.
TEST(Engine, UnsendableValueFailsTheCallBeforeSoh) {
    for (const char* text : {"\xE2\x98\xBA smile", "HEL\x03LO",
                             "A\x1E"
                             "B",
                             "\x01", "tab\there"}) {
        RunCase({.name = text,
                 .call = "NEW",
                 .level = 1,
                 .steps = "CALL; 06 . 17; > 22: 04",
                 .log = {kNoSoh1},
                 .status = "ERROR",
                 .text = text});
    }
}

// Every failing exchange: its log line (and the whole answer after an
// unexpected byte), the retry step; with no retry left the give-up line, the
// call in "ERROR" (in "NO STATUS" when the slave had accepted it: a status job)
// and a line check.
struct Failure {
    std::int16_t step;
    const char* slave;  // "" = nothing comes: time-out
    const char* errorLine;
    std::int16_t retryStep;
    const char* giveUpLine;
    bool pauseFive;  // the give-up sets EspaTimer 5
};

const Failure kFailures[] = {
    {37, "15", "ERROR: At Transfer CallToEspaSlave: No ACK after 1ENQ, 2 ENQ received: &d 21", 30,
     "ERROR: 3 times failure, recheck ESPA slave", true},
    {37, "", "ERROR: After sending 1 ENQ 2 ENQ no ACK received.", 30,
     "ERROR: 3 times fault, recheck ESPA slave.", true},
    {45, "15", "ERROR: No ACK on transmitted ESPA, but: %d 21", 30,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {45, "", "ERROR: TimeOut receiving ACK from ESPA slave", 20,
     "ERROR 3 times fault, recheck ESPA slave", false},
    {107, "15", "ERROR: No ACK received after Status Poll&Select, but &d 21", 20,
     "ERROR: Fault 3 times, recheck ESPA slave.", false},
    {107, "", "ERROR: TimeOut at receiving ACK after 1ENQ 2 ENQ Poll Select.", 20,
     "ERROR: Fault remains 3 times, recheck ESPA slave.", false},
    {110, "32", "ERROR: No ACK received at StatusRequest SOH3, but &d 50", 20,
     "ERROR: Failed 3 times to receive. Recheck ESPA slave.", false},
    {110, "", "ERROR: TimeOut receiving ACK.", 20, "ERROR: Failed 3 times, recheck ESPA slave.",
     false},
    {170, "41", "After Poll&Select expected '1', but received: (&dec)  65", 20,
     "ERROR: Failed 3 times, recheck ESPA slave", false},
    {170, "", "ERROR: TimeOut receiving 1 ENQ from Slave. Terminated.", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {180, "32", "ERROR: After Poll&Select received no '2', but: &d 50", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {180, "", "ERROR: TimeOut receiving 1 ENQ from Slave. Terminated.", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {200, "", "ERROR: TimeOut receiving Status from Slave. Terminated.", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {210, "29", "ERROR: Incorrect CheckSum received. Expected: 40 Received: 41", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
    {210, "", "ERROR: TimeOut receiving Checksum. Terminated.", 20,
     "ERROR: Failed 3 times, recheck ESPA slave.", false},
};

// "15" -> "NAK", "41" -> "'A'".
std::string Said(const std::string& hex) {
    const int b = std::stoi(hex, nullptr, 16);
    return b == 0x15 ? "NAK" : "'" + std::string(1, static_cast<char>(b)) + "'";
}

TEST(Engine, EveryFailureRetriesThenGivesUp) {
    for (const Failure& f : kFailures) {
        for (std::int16_t retries : {2, 0, -2}) {
            SCOPED_TRACE(std::string(f.errorLine) + ", retries " + std::to_string(retries));
            EngineRig rig(retries == -2 ? 0 : 1);  // level 0 logs nothing
            rig.AddHello();
            rig.AddHello();
            rig.SetState(1, "QUEUE");
            const bool delivered = f.step >= 100;
            rig.calls.At(1).delivered = delivered;
            EngineState& s = rig.State();
            s.position = 1;
            s.callId = rig.calls.At(1).id;
            s.retries = retries;
            s.bcc = 0x28;
            s.step = static_cast<Step>(f.step);
            const bool silence = *f.slave == '\0';
            // A byte on the tick the wait runs out is still taken; silence ends it.
            s.timer = silence ? 3 : 1;
            rig.NewLog();
            EXPECT_EQ(rig.Run(std::string(f.slave) + (silence ? " . 2" : " . 1")), "");
            if (silence) {
                EXPECT_EQ(static_cast<int>(s.step), f.step);
                EXPECT_EQ(rig.Run(". 3"), "");
            }
            const bool retry = retries > 0;
            EXPECT_EQ(static_cast<int>(s.step), retry ? f.retryStep : 10);
            EXPECT_EQ(s.retries, retry ? retries - 1 : retries);
            EXPECT_EQ(StateText(rig.calls.At(1).state), retry       ? "QUEUE"
                                                        : delivered ? "NO STATUS"
                                                                    : "ERROR");
            EXPECT_EQ(rig.calls.At(0).state, CallState::New);
            // Only an answer to the call block itself counts as one.
            EXPECT_EQ(rig.calls.At(1).answered, f.step == 45 && !silence);
            EXPECT_EQ(s.timer, retry || !f.pauseFive ? 0 : 5);
            std::vector<std::string> log;
            if (retries != -2)
                log.push_back(f.errorLine);
            if (retries != -2 && !silence && f.step != 210)
                log.push_back("Slave answered: " + Said(f.slave));
            if (retries == 0)
                log.push_back(f.giveUpLine);
            EXPECT_EQ(rig.NewLog(), log);
        }
    }
}

}  // namespace
}  // namespace zelvano::test
