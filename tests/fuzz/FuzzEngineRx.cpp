// The engine's receive side fed arbitrary slave bytes tick by tick, with calls
// added and removed in between. After every tick the buffer and the engine
// must be in a state the operator can trust.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "buffer/BufferDisplay.h"
#include "buffer/CallBuffer.h"
#include "espa/AfhandelEspa.h"
#include "support/TestApp.h"

namespace {

constexpr std::array<std::int16_t, 22> kSteps = {0,   10,  11,  15,  20,  30,  35,  37,
                                                 40,  45,  100, 105, 107, 108, 110, 150,
                                                 160, 170, 180, 200, 210, 220};
constexpr std::array<const char*, 9> kWords = {"NEW",        "QUEUE",       "PAGED",
                                               "ABSENT",     "BUSY",        "TERMINATED",
                                               "SPEECHPAGED", "ERROR",      "NO STATUS"};

void CheckInvariants(const zelvano::App& app, std::size_t bytesFed) {
    bool seenFree = false;
    for (const auto& e : app.CallBuffer) {
        if (e.Status.empty()) {
            seenFree = true;
            FUZZ_CHECK(e.Address.empty() && e.Alfa.empty() && e.CallId == 0);
            continue;
        }
        FUZZ_CHECK(!seenFree);  // occupied positions run unbroken from 0
        FUZZ_CHECK(std::find(kWords.begin(), kWords.end(), e.Status) != kWords.end());
    }
    FUZZ_CHECK(std::find(kSteps.begin(), kSteps.end(), app.espa.EspaState) != kSteps.end());
    FUZZ_CHECK(app.espa.EspaTimer >= 0);
    FUZZ_CHECK(app.espa.EspaPosition >= 0 && app.espa.EspaPosition < 10);
    FUZZ_CHECK(app.espa.StatusBlock.size() <= bytesFed);
    FUZZ_CHECK(app.espa.LineOk >= -1 && app.espa.LineOk <= 1);
    FUZZ_CHECK(app.screenLog.LogLineCount >= 0 && app.screenLog.LogLineCount <= 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    zelvano::test::FuzzApp t;
    auto& s = t.app.settings;
    s.LineCheck = static_cast<std::int16_t>(data[0] % 3);
    s.CallStatusCheck = static_cast<std::int16_t>(data[1] % 4);
    s.Emulatie = static_cast<std::int16_t>(data[2] % 7);
    s.CheckInterval = static_cast<std::int8_t>(data[3]);
    s.Logfile = 1;  // screen log only: exercises every message without disk traffic
    t.line.open = true;
    zelvano::HandleEspa(t.app, 10);

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
            zelvano::AddCall(t.app, addr, "1", "Hello", "3", "1", "3");
        } else if (op < 0xA0) {
            zelvano::LabReturnedStatus_DblClick(t.app, static_cast<std::int16_t>((op & 0x0F) % 10));
        } else if (op < 0xB0) {
            zelvano::CheckBufferTimeOuts(t.app);
        } else if (op == 0xB0) {
            t.line.open = !t.line.open;  // the port fails or comes back
        } else {
            ticks = (op & 0x1F) + 1;  // long waits come from repeated ops
        }
        for (int k = 0; k < ticks; ++k, ++ticksRun) {
            zelvano::HandleEspa(t.app, 0);
            CheckInvariants(t.app, fed);
        }
        t.line.TakeWritten();
    }
    return 0;
}
