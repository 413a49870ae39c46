// When a misbehaviour strikes: never, always, every Nth time, the first N
// times, after the first N times, or by chance.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace zelvano::slave {

struct FaultRule {
    enum class Mode { Never, Always, Every, First, After, Chance };
    Mode mode = Mode::Never;
    int count = 0;        // N of Every, First and After
    double chance = 0.0;  // 0..1 for Chance

    bool IsActive() const { return mode != Mode::Never; }
};

// "always", "never", "every=N", "first=N", "after=N", "prob=P" (P 0..1) or
// "P%". Sets error and returns nullopt on anything else.
std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error);

// Whether the rule strikes at the occurrence'th event (counted from 1). Only a
// Chance rule draws from rng, so the other rules leave the sequence alone.
bool Strikes(const FaultRule& rule, long occurrence, std::mt19937& rng);

// "every 3rd time" style text for the start-up summary.
std::string DescribeFaultRule(const FaultRule& rule);

}  // namespace zelvano::slave
