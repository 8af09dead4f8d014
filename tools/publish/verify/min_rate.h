#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>

// The least a transfer must bring: `bytes` in every `seconds`. Less is a stall,
// whether nothing arrives or a trickle does.
struct MinimumRate {
    uint64_t bytes = 16 * 1024;
    int seconds = 30;
};

// Watches one transfer against a MinimumRate, told the bytes received so far as
// time passes (at one-second resolution: it keeps one sample a second).
class RateWatch {
public:
    using Clock = std::chrono::steady_clock;

    RateWatch(const MinimumRate& floor, Clock::time_point start);

    // False once fewer than the floor's bytes arrived in the last `seconds`,
    // which needs that long to have passed since the start.
    bool Holds(uint64_t received, Clock::time_point now);
    // What arrived in the window that fell short.
    uint64_t ShortWindowBytes() const { return shortBytes; }

private:
    MinimumRate floor;
    std::deque<std::pair<Clock::time_point, uint64_t>> samples;  // oldest first
    uint64_t shortBytes = 0;
};
