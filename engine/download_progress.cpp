#include "engine/download_progress.h"

#include <cmath>
#include <limits>

SpeedSample MeasureSpeed(uint32_t overallDone, uint32_t overallTotal, uint32_t lastBytes,
                         uint64_t elapsedMs) {
    SpeedSample sample;
    if (elapsedMs == 0) return sample;
    uint32_t received = overallDone > lastBytes ? overallDone - lastBytes : 0;
    sample.speed = static_cast<double>(received) * 1000.0 / static_cast<double>(elapsedMs);
    if (sample.speed > 0.0) {
        uint32_t remaining = overallTotal > overallDone ? overallTotal - overallDone : 0;
        double seconds = std::trunc(static_cast<double>(remaining) / sample.speed);
        if (seconds >= static_cast<double>(std::numeric_limits<int32_t>::max()) + 1.0 ||
            seconds < static_cast<double>(std::numeric_limits<int32_t>::min())) {
            sample.secondsLeft = std::numeric_limits<int32_t>::min();
        } else {
            sample.secondsLeft = static_cast<int32_t>(seconds);
        }
    }
    return sample;
}
