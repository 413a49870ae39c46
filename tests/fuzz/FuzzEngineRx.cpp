// The engine's receive side fed arbitrary slave bytes tick by tick, with calls
// added and removed in between. After every tick the buffer and the engine
// must be in a state the operator can trust, and a block the master sent must
// be whole: SOH, '1' or '3', STX, the data, one ETX and its check character.
#include <algorithm>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"
#include "windows/BufferDisplay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    zelvano::test::FuzzApp t;
    auto& s = t.settings;
    s.lineCheck = static_cast<std::int16_t>(data[0] % 3);
    s.statusCheck = static_cast<std::int16_t>(data[1] % 4);
    s.emulation = static_cast<std::int16_t>(data[2] % 7);
    s.checkInterval = static_cast<std::int8_t>(data[3]);
    s.logLevel = 1;  // screen log only: exercises every message without disk traffic
    t.line.open = true;
    t.engine.Start(false);

    // Enough ticks for every wait and retry chain, few enough to keep each input quick.
    constexpr int kMaxTicks = 400;
    int ticksRun = 0;
    std::size_t fed = 0;
    std::size_t i = 4;
    while (i < size && ticksRun < kMaxTicks) {
        const std::uint8_t op = data[i++];
        int ticks = 1;
        if (op < 0x80) {
            const std::size_t n = std::min<std::size_t>(op & 0x0F, size - i);
            t.line.Feed(std::vector<std::uint8_t>(data + i, data + i + n));
            fed += n;
            i += n;
            ticks = ((op >> 4) & 0x07) + 1;
        } else if (op < 0x90) {
            const std::string addr = std::to_string(op & 0x0F);
            t.calls.Add({addr, "Hello", "1", "3", "3", "1"});
        } else if (op < 0xA0) {
            const int row = (op & 0x0F) % 10;
            if (zelvano::CanRemoveByDoubleClick(t.calls.At(row).state))
                t.calls.Remove(row);
        } else if (op < 0xB0) {
            t.calls.CheckTimeOuts();
        } else if (op == 0xB0) {
            t.line.open = !t.line.open;  // the port fails or comes back
        } else {
            ticks = (op & 0x1F) + 1;  // long waits come from repeated ops
        }
        for (int k = 0; k < ticks; ++k, ++ticksRun) {
            t.engine.Tick();
            const std::string fault = zelvano::test::SoundState(t.calls.Calls(), t.engine.State());
            if (!fault.empty())
                std::fprintf(stderr, "%s\n", fault.c_str());
            FUZZ_CHECK(fault.empty() && t.engine.State().statusBlock.size() <= fed);
            const std::vector<std::uint8_t> w = t.line.TakeWritten();
            const auto soh = std::find(w.begin(), w.end(), zelvano::SOH);
            if (soh == w.end())
                continue;
            const std::string body(soh + 1, w.end() - 1);
            FUZZ_CHECK(body.size() >= 3 && (body[0] == '1' || body[0] == '3') &&
                       body[1] == zelvano::STX && body.back() == zelvano::ETX &&
                       std::count(body.begin(), body.end(), zelvano::ETX) == 1 &&
                       zelvano::BlockCheck(body) == w.back());
        }
    }
    return 0;
}
