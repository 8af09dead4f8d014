#include "tools/publish/verify/min_rate.h"

RateWatch::RateWatch(const MinimumRate& floor, Clock::time_point start) : floor(floor) {
    samples.emplace_back(start, 0);
}

bool RateWatch::Holds(uint64_t received, Clock::time_point now) {
    if (now - samples.back().first >= std::chrono::seconds(1)) samples.emplace_back(now, received);
    const Clock::time_point windowStart = now - std::chrono::seconds(floor.seconds);
    // The window is measured from the newest sample at or before its start; the
    // older ones are no longer needed.
    while (samples.size() > 1 && samples[1].first <= windowStart) samples.pop_front();
    if (samples.front().first > windowStart) return true;  // not that long yet
    const uint64_t inWindow = received - samples.front().second;
    if (inWindow >= floor.bytes) return true;
    shortBytes = inWindow;
    return false;
}
