#pragma once

#include <cstdint>

struct SpeedSample {
    double speed = 0.0;       // bytes per second
    int32_t secondsLeft = 0;  // INT32_MIN when the estimate does not fit
};

// One speed measurement over `elapsedMs` milliseconds. Both differences are taken
// at zero when they would go negative (a list whose sizes do not match the files
// can make overallDone pass overallTotal, or fall below the last sample), so the
// window never shows a wrapped value.
SpeedSample MeasureSpeed(uint32_t overallDone, uint32_t overallTotal, uint32_t lastBytes,
                         uint64_t elapsedMs);

// Speed and time left are measured at most this often; in between the last
// published values are shown again.
const uint64_t kSpeedSampleMs = 500;
