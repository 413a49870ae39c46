// Engine and buffer against a randomized in-process slave: random answers,
// delays, noise, silence, wrong check characters, aborted and split status
// blocks, calls added and removed, settings changed under way. After every
// tick the buffer and the engine must be in a sound state.
//
// ZELVANO_SOAK_TICKS sets the number of ticks (default 200000) and
// ZELVANO_SOAK_SEED the seed; scripts/soak.sh runs the long version.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <random>

#include "buffer/BufferDisplay.h"
#include "buffer/CallBuffer.h"
#include "common/Text.h"
#include "espa/AfhandelEspa.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

long EnvNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : fallback;
}

struct Figures {
    long callsAdded = 0, callsRemoved = 0, callBlocks = 0, statusCallBlocks = 0,
         statusBlocksSent = 0, statusAccepted = 0, lineChecks = 0, noiseBursts = 0;
    std::map<std::string, long> transitions;  // to each state word
};

class RandomSlave {
  public:
    RandomSlave(FakeSerialLine& line, std::mt19937& rng, Figures& figures)
        : line_(line), rng_(rng), figures_(figures) {}

    // Reacts to what the master wrote in the last tick; feeds due replies.
    void Tick(long now, const std::vector<std::uint8_t>& sent) {
        if (!sent.empty())
            React(now, sent);
        while (!due_.empty() && due_.front().first <= now) {
            line_.Feed(due_.front().second);
            due_.pop_front();
        }
        if (Chance(0.002)) {
            ++figures_.noiseBursts;
            std::vector<std::uint8_t> noise(1 + rng_() % 5);
            for (auto& b : noise)
                b = static_cast<std::uint8_t>(rng_());
            line_.Feed(noise);
        }
    }

  private:
    enum class Phase { Idle, SelectedMaster, SentStatus };

    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    long Delay() { return Chance(0.05) ? rng_() % 120 : rng_() % 4; }
    void Later(long at, std::vector<std::uint8_t> bytes) {
        // Replies keep their order on the line.
        if (!due_.empty() && due_.back().first > at)
            at = due_.back().first;
        due_.emplace_back(at, std::move(bytes));
    }

    // A mostly right answer: the wanted byte, else NAK, noise or silence.
    void Answer(long now, std::uint8_t wanted) {
        const double r = std::uniform_real_distribution<double>(0, 1)(rng_);
        if (r < 0.8) {
            Later(now + Delay(), {wanted});
        } else if (r < 0.9) {
            Later(now + Delay(), {Chance(0.5) ? NAK : static_cast<std::uint8_t>(rng_())});
        }  // else silence
    }

    static bool EndsWith(const std::vector<std::uint8_t>& s, std::vector<std::uint8_t> tail) {
        return s.size() >= tail.size() &&
               std::equal(tail.begin(), tail.end(), s.end() - tail.size());
    }

    void CheckBlock(const std::vector<std::uint8_t>& sent) {
        // SOH header STX data ETX check: exactly one of each frame byte and the
        // check character over everything after SOH up to ETX.
        const auto soh = std::find(sent.begin(), sent.end(), SOH);
        ASSERT_TRUE(soh != sent.end());
        const std::string body(soh + 1, sent.end() - 1);
        ASSERT_GE(body.size(), 3u);
        EXPECT_TRUE(body[0] == '1' || body[0] == '3');
        EXPECT_EQ(body[1], static_cast<char>(STX));
        EXPECT_EQ(body.back(), static_cast<char>(ETX));
        EXPECT_EQ(std::count(body.begin(), body.end(), static_cast<char>(ETX)), 1);
        EXPECT_EQ(std::count(body.begin(), body.end(), static_cast<char>(STX)), 1);
        EXPECT_EQ(std::count(body.begin(), body.end(), static_cast<char>(SOH)), 0);
        EXPECT_EQ(BlockCheck(body), sent.back());
        ++(body[0] == '1' ? figures_.callBlocks : figures_.statusCallBlocks);
    }

    void SendStatusBlock(long now) {
        std::string body =
            "2\x02"
            "1\x1F" +
            std::to_string(rng_() % 1000) +
            "\x1E"
            "7\x1F";
        body += static_cast<char>('1' + rng_() % 8);
        body += static_cast<char>(ETX);
        std::vector<std::uint8_t> bytes{SOH};
        bytes.insert(bytes.end(), body.begin(), body.end());
        std::uint8_t check = BlockCheck(body);
        if (Chance(0.1))
            check = static_cast<std::uint8_t>(check ^ (1 + rng_() % 255));
        bytes.push_back(check);
        if (Chance(0.05))
            bytes.resize(1 + rng_() % (bytes.size() - 1));  // cut short
        if (Chance(0.05)) {                                 // aborted somewhere after SOH
            const std::size_t at = 1 + rng_() % bytes.size();
            bytes.insert(bytes.begin() + static_cast<long>(at), EOT);
        }
        ++figures_.statusBlocksSent;
        // Sometimes in pieces over several ticks.
        long at = now + Delay();
        for (std::size_t i = 0; i < bytes.size();) {
            const std::size_t n = Chance(0.3) ? 1 + rng_() % 4 : bytes.size() - i;
            const std::size_t take = std::min(n, bytes.size() - i);
            Later(at, std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(i),
                                                bytes.begin() + static_cast<long>(i + take)));
            i += take;
            at += rng_() % 3;
        }
    }

    void React(long now, const std::vector<std::uint8_t>& sent) {
        if (std::find(sent.begin(), sent.end(), SOH) != sent.end()) {
            CheckBlock(sent);
            Answer(now, ACK);
            phase_ = Phase::Idle;
        } else if (EndsWith(sent, {'1', ENQ, '2', ENQ})) {
            ++figures_.lineChecks;
            Answer(now, ACK);
            phase_ = Phase::Idle;
        } else if (EndsWith(sent, {'2', ENQ})) {
            const double r = std::uniform_real_distribution<double>(0, 1)(rng_);
            if (r < 0.45) {
                Later(now + Delay(), {'1'});
                Later(now + Delay(), {ENQ});
                phase_ = Phase::SelectedMaster;
            } else if (r < 0.8) {
                Later(now + Delay(), {Chance(0.5) ? EOT : ACK});
            } else if (r < 0.9) {
                Later(now + Delay(), {static_cast<std::uint8_t>(rng_())});
            }
        } else if (sent.back() == ACK && phase_ == Phase::SelectedMaster) {
            SendStatusBlock(now);
            phase_ = Phase::SentStatus;
        } else if (sent.back() == ACK && phase_ == Phase::SentStatus) {
            ++figures_.statusAccepted;
            phase_ = Phase::Idle;
        } else if (sent.back() == EOT) {
            phase_ = Phase::Idle;
        }
    }

    FakeSerialLine& line_;
    std::mt19937& rng_;
    Figures& figures_;
    Phase phase_ = Phase::Idle;
    std::deque<std::pair<long, std::vector<std::uint8_t>>> due_;
};

std::string RandomField(std::mt19937& rng) {
    static const char* const kPieces[] = {"1",       "23",       "HELLO",
                                          "",        "\xC3\xA9", "\xE2\x82\xAC",
                                          "\x01",    "\x1E",     "\xF0\x9F\x98\x80",
                                          "Room 12", "7"};
    std::string out;
    const int n = static_cast<int>(rng() % 3);
    for (int i = 0; i < n; ++i)
        out += kPieces[rng() % std::size(kPieces)];
    return out;
}

void ChangeSettings(App& app, std::mt19937& rng) {
    Settings& s = app.settings;
    s.LineCheck = static_cast<std::int16_t>(rng() % 3);  // 2 is outside the list
    s.CallStatusCheck = static_cast<std::int16_t>(rng() % 4);
    s.Emulatie = static_cast<std::int16_t>(rng() % 6);
    s.CheckInterval = static_cast<std::int16_t>(static_cast<int>(rng() % 30) - 2);
    s.EspaEnable = static_cast<std::int16_t>(rng() % 2);
    for (auto& item : s.EspaSet)
        item = static_cast<std::int16_t>(rng() % 8);
    s.Logfile = static_cast<std::int16_t>(rng() % 2);  // screen only: no file I/O
}

void ExpectSoundState(const App& app, long tick) {
    bool freeSeen = false;
    for (int i = 0; i < kCallBufferSize; ++i) {
        const CallBufferEntry& e = app.CallBuffer[static_cast<std::size_t>(i)];
        static const char* const kWords[] = {"",       "NEW",      "QUEUE",      "PAGED",
                                             "ABSENT", "BUSY",     "TERMINATED", "SPEECHPAGED",
                                             "ERROR",  "NO STATUS"};
        ASSERT_NE(std::find(std::begin(kWords), std::end(kWords), e.Status), std::end(kWords))
            << "tick " << tick << " position " << i << ": '" << e.Status << "'";
        if (e.IsFree()) {
            freeSeen = true;
            ASSERT_EQ(e.CallId, 0u) << "tick " << tick;
        } else {
            ASSERT_FALSE(freeSeen) << "gap before position " << i << " at tick " << tick;
            ASSERT_NE(e.CallId, 0u) << "state in a free position " << i << " at tick " << tick;
        }
    }
    const ProtocolState& s = app.espa;
    ASSERT_TRUE(engine::IsValidStep(s.EspaState)) << s.EspaState << " at tick " << tick;
    ASSERT_NE(s.EspaState, 0) << "tick " << tick;
    ASSERT_GE(s.EspaTimer, 0) << "tick " << tick;
    ASSERT_LE(s.EspaTimer, 100) << "tick " << tick;
    ASSERT_GE(s.EspaPosition, 0);
    ASSERT_LT(s.EspaPosition, kCallBufferSize);
    ASSERT_LE(s.StatusBlock.size(), 4096u) << "tick " << tick;
    ASSERT_TRUE(s.LineOk == -1 || s.LineOk == 0 || s.LineOk == 1);
    ASSERT_LE(s.ScanDelay, 10);
    ASSERT_GE(s.ScanDelay, 0);
    ASSERT_LE(app.screenLog.LogLineCount, 10);
    ASSERT_GE(app.screenLog.LogLineCount, 0);
}

// Counts state changes of each call (by identity) since the last tick.
void CountTransitions(const CallBufferArray& before, const CallBufferArray& after,
                      Figures& figures) {
    for (const CallBufferEntry& now : after) {
        if (now.CallId == 0)
            continue;
        for (const CallBufferEntry& was : before) {
            if (was.CallId == now.CallId && was.Status != now.Status) {
                ++figures.transitions[now.Status];
            }
        }
    }
}

TEST(Soak, EngineAndBufferStaySoundAgainstARandomSlave) {
    const long ticks = EnvNumber("ZELVANO_SOAK_TICKS", 200000);
    const auto seed = static_cast<std::uint32_t>(EnvNumber("ZELVANO_SOAK_SEED", 4444));
    std::mt19937 rng(seed);
    TestApp t;
    t.line.open = true;
    t.app.settings.Logfile = 1;
    t.app.settings.Emulatie = 1;
    t.app.settings.CheckInterval = 10;
    Figures figures;
    RandomSlave slave(t.line, rng, figures);
    HandleEspa(t.app, 10);
    CallBufferArray before = t.app.CallBuffer;

    const auto start = std::chrono::steady_clock::now();
    for (long tick = 1; tick <= ticks; ++tick) {
        HandleEspa(t.app, 0);
        slave.Tick(tick, t.line.TakeWritten());
        if (rng() % 200 == 0) {
            AddCall(t.app, RandomField(rng), RandomField(rng), RandomField(rng), RandomField(rng),
                    RandomField(rng), RandomField(rng));
            ++figures.callsAdded;
        }
        if (rng() % 300 == 0) {
            LabReturnedStatus_DblClick(t.app, static_cast<std::int16_t>(rng() % 10));
            ++figures.callsRemoved;
        }
        if (rng() % 3000 == 0) {
            DeleteCall(t.app, static_cast<std::int16_t>(rng() % 10));
            ++figures.callsRemoved;
        }
        if (rng() % 20000 == 0)
            ChangeSettings(t.app, rng);
        if (tick % 10 == 0)
            CheckBufferTimeOuts(t.app);
        ExpectSoundState(t.app, tick);
        CountTransitions(before, t.app.CallBuffer, figures);
        before = t.app.CallBuffer;
        if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) {
            std::printf("seed %u failed at tick %ld\n", seed, tick);
            return;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("soak: %ld ticks (%.1f days of line time) in %.1f s, seed %u\n", ticks,
                static_cast<double>(ticks) / 10.0 / 86400.0, seconds, seed);
    std::printf("soak: calls added %ld, removed %ld; call blocks %ld, status call blocks %ld\n",
                figures.callsAdded, figures.callsRemoved, figures.callBlocks,
                figures.statusCallBlocks);
    std::printf(
        "soak: status blocks offered %ld, accepted %ld; 1 ENQ 2 ENQ selects and line checks %ld; "
        "noise %ld\n",
        figures.statusBlocksSent, figures.statusAccepted, figures.lineChecks, figures.noiseBursts);
    for (const auto& [word, n] : figures.transitions) {
        std::printf("soak: -> %-12s %ld\n", word.c_str(), n);
    }
    // The soak must have exercised the road of a call, not idled.
    EXPECT_GT(figures.callBlocks, ticks / 2000);
    EXPECT_GT(figures.statusAccepted, ticks / 5000);
    EXPECT_GT(figures.transitions["QUEUE"], 0);
    EXPECT_GT(figures.transitions["ERROR"], 0);
    EXPECT_GT(figures.transitions["PAGED"], 0);
}

}  // namespace
}  // namespace zelvano::test
