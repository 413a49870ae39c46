#include "InstantSlave.h"

#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"

namespace zelvano::perf {

std::vector<std::uint8_t> StatusBlockFor(const std::string& address, char stateDigit) {
    std::string body =
        "2\x02"
        "1\x1F";
    body += address;
    body +=
        "\x1E"
        "7\x1F";
    body += stateDigit;
    body += '\x03';
    const std::uint8_t check = BlockCheck(body);
    std::vector<std::uint8_t> block;
    block.reserve(body.size() + 2);
    block.push_back(SOH);
    for (char c : body)
        block.push_back(static_cast<std::uint8_t>(c));
    block.push_back(check);
    return block;
}

void InstantSlave::AfterTick() {
    using namespace engine;
    const std::int16_t step = app_.espa.EspaState;
    const bool entered = step != lastStep_;
    lastStep_ = step;
    line_.written.clear();
    if (!entered)
        return;
    switch (step) {
        case kLineCheckAnswer:
        case kMakeCallSelectAnswer:
        case kMakeCallBlockAnswer:
        case kStatusCallSelectAnswer:
        case kStatusCallBlockAnswer:
            line_.Feed({ACK});
            break;
        case kStatusPollAnswer:
            line_.Feed({'1', ENQ});
            break;
        case kStatusBlock:
            line_.Feed(
                StatusBlockFor(app_.CallBuffer[app_.espa.EspaPosition].Address, stateDigit_));
            break;
        default:
            break;
    }
}

std::optional<int> MinimumTicks(const EngineSnapshot& snapshot, int position, int limit) {
    test::TestApp t;
    t.line.open = true;
    t.app.espa = snapshot.espa;
    t.app.settings = snapshot.settings;
    t.app.settings.Logfile = 0;  // the count does not depend on logging
    t.app.CallBuffer = snapshot.buffer;
    t.app.nextCallId = snapshot.nextCallId;
    InstantSlave slave(t.app, t.line);
    slave.AfterTick();  // a wait already begun is answered too
    const CallBufferEntry& call = t.app.CallBuffer[static_cast<std::size_t>(position)];
    for (int tick = 1; tick <= limit; ++tick) {
        HandleEspa(t.app, 0);
        if (call.Status != "NEW" && call.Status != "QUEUE")
            return tick;
        slave.AfterTick();
    }
    return std::nullopt;
}

}  // namespace zelvano::perf
