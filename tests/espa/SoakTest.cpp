// The engine and the buffer against a random slave: mostly right answers, else
// NAK, noise, silence, late replies, wrong check characters, aborted and split
// status blocks; calls added and removed and settings changed under way. After
// every tick the buffer and the engine must be sound and every block the master
// sends well framed. ZELVANO_SOAK_TICKS and ZELVANO_SOAK_SEED set the run;
// scripts/soak.sh runs a long one.
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "buffer/BufferDisplay.h"
#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

long EnvNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : fallback;
}

using Bytes = std::vector<std::uint8_t>;

TEST(Soak, EngineAndBufferStaySoundAgainstARandomSlave) {
    const long ticks = EnvNumber("ZELVANO_SOAK_TICKS", 100000);
    const auto seed = static_cast<std::uint32_t>(EnvNumber("ZELVANO_SOAK_SEED", 4444));
    std::mt19937 rng(seed);
    const auto chance = [&](unsigned percentTenths) { return rng() % 1000 < percentTenths; };
    std::deque<std::pair<long, Bytes>> due;  // replies keep their order on the line
    const auto later = [&](long at, Bytes bytes) {
        due.emplace_back(due.empty() ? at : std::max(at, due.back().first), std::move(bytes));
    };
    const auto delay = [&] { return static_cast<long>(chance(50) ? rng() % 120 : rng() % 4); };
    const auto answer = [&](long now, std::uint8_t right) {
        if (chance(800))
            later(now + delay(), {right});
        else if (chance(500))
            later(now + delay(), {chance(500) ? NAK : static_cast<std::uint8_t>(rng())});
    };
    const auto field = [&] {
        static const char* const kPieces[] = {
            "1", "23", "HELLO", "", "\xC3\xA9", "\xE2\x82\xAC", "\x01", "\x1E", "\xF0\x9F\x98\x80",
            "7"};
        std::string out;
        for (unsigned n = rng() % 3; n > 0; --n)
            out += kPieces[rng() % std::size(kPieces)];
        return out;
    };
    TestApp t;
    t.line.open = true;
    t.app.settings.Logfile = 1;  // screen only: no file traffic
    t.app.settings.Emulatie = 1;
    t.app.settings.CheckInterval = 10;
    std::map<std::string, long> seen;  // blocks, status blocks accepted, states reached
    int phase = 0;                     // 1: the slave selected the master, 2: its status sent
    HandleEspa(t.app, 10);
    for (long tick = 1; tick <= ticks; ++tick) {
        const CallBufferArray before = t.app.CallBuffer;
        HandleEspa(t.app, 0);
        const Bytes w = t.line.TakeWritten();
        const auto soh = std::find(w.begin(), w.end(), SOH);
        const auto endsWith = [&](const Bytes& tail) {
            return w.size() >= tail.size() &&
                   std::equal(tail.begin(), tail.end(), w.end() - tail.size());
        };
        if (soh != w.end()) {  // SOH, '1' or '3', STX, data, one ETX, its check character
            const std::string body(soh + 1, w.end() - 1);
            ASSERT_TRUE(body.size() >= 3 && (body[0] == '1' || body[0] == '3') && body[1] == STX);
            ASSERT_TRUE(body.back() == ETX && std::count(body.begin(), body.end(), ETX) == 1);
            ASSERT_EQ(std::count(body.begin(), body.end(), STX), 1);
            ASSERT_EQ(BlockCheck(body), w.back());
            ++seen["blocks"];
            answer(tick, ACK);
        } else if (endsWith({'1', ENQ, '2', ENQ})) {
            answer(tick, ACK);
        } else if (endsWith({'2', ENQ})) {
            phase = 0;
            if (chance(450)) {
                later(tick + delay(), {'1'});
                later(tick + delay(), {ENQ});
                phase = 1;
            } else if (chance(700)) {
                later(tick + delay(), {chance(500) ? EOT : ACK});
            }
        } else if (!w.empty() && w.back() == ACK && phase == 1) {
            std::string body =
                "2\x02"
                "1\x1F" +
                std::to_string(rng() % 1000) +
                "\x1E"
                "7\x1F";
            body += static_cast<char>('1' + rng() % 8);
            body += static_cast<char>(ETX);
            Bytes block{SOH};
            block.insert(block.end(), body.begin(), body.end());
            block.push_back(BlockCheck(body) ^ (chance(100) ? 1 + rng() % 255 : 0));
            if (chance(50))
                block.resize(1 + rng() % (block.size() - 1));  // cut short
            if (chance(50))
                block.insert(block.begin() + 1 + rng() % block.size(), EOT);  // aborted
            for (std::size_t i = 0, at = tick + delay(); i < block.size(); at += rng() % 3) {
                const std::size_t n = std::min<std::size_t>(
                    chance(300) ? 1 + rng() % 4 : block.size(), block.size() - i);
                later(static_cast<long>(at), Bytes(block.begin() + i, block.begin() + i + n));
                i += n;
            }
            phase = 2;
        } else if (!w.empty() && w.back() == ACK && phase == 2) {
            ++seen["accepted"];
            phase = 0;
        }
        for (; !due.empty() && due.front().first <= tick; due.pop_front())
            t.line.Feed(due.front().second);
        if (chance(2))
            t.line.Feed(Bytes(1 + rng() % 5, static_cast<std::uint8_t>(rng())));  // noise
        if (rng() % 200 == 0)
            AddCall(t.app, field(), field(), field(), field(), field(), field());
        if (rng() % 300 == 0)
            LabReturnedStatus_DblClick(t.app, static_cast<std::int16_t>(rng() % 10));
        if (rng() % 3000 == 0)
            DeleteCall(t.app, static_cast<std::int16_t>(rng() % 10));
        if (rng() % 20000 == 0) {
            Settings& s = t.app.settings;
            s.LineCheck = static_cast<std::int16_t>(rng() % 3);  // 2 is outside the list
            s.CallStatusCheck = static_cast<std::int16_t>(rng() % 4);
            s.Emulatie = static_cast<std::int16_t>(rng() % 6);
            s.CheckInterval = static_cast<std::int16_t>(static_cast<int>(rng() % 30) - 2);
            s.EspaEnable = static_cast<std::int16_t>(rng() % 2);
            for (auto& item : s.EspaSet)
                item = static_cast<std::int16_t>(rng() % 8);
        }
        if (tick % 10 == 0)
            CheckBufferTimeOuts(t.app);
        ASSERT_EQ(SoundState(t.app), "") << "tick " << tick << ", seed " << seed;
        for (const CallBufferEntry& now : t.app.CallBuffer) {
            for (const CallBufferEntry& was : before) {
                if (now.CallId != 0 && was.CallId == now.CallId && was.Status != now.Status)
                    ++seen[now.Status];
            }
        }
    }
    for (const auto& [what, n] : seen)
        std::printf("soak: %s %ld\n", what.c_str(), n);
    // The road of a call was travelled, not idled.
    EXPECT_GT(seen["blocks"], ticks / 2000);
    EXPECT_GT(seen["accepted"], ticks / 5000);
    EXPECT_GT(seen["QUEUE"] * seen["ERROR"] * seen["PAGED"], 0);
}

}  // namespace
}  // namespace zelvano::test
