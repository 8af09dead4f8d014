// Speed and time left from byte counts that come from the server: the list's
// sizes and the bytes received need not agree, so any combination can occur.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "engine/download_progress.h"
#include "fuzz/fuzz_check.h"

namespace {

const int32_t kNoEstimate = std::numeric_limits<int32_t>::min();

void CheckSample(const SpeedSample& sample) {
    FUZZ_CHECK(std::isfinite(sample.speed));
    FUZZ_CHECK(sample.speed >= 0.0);
    FUZZ_CHECK(sample.secondsLeft >= 0 || sample.secondsLeft == kNoEstimate);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t done = input.ConsumeIntegral<uint32_t>();
    const uint32_t total = input.ConsumeIntegral<uint32_t>();
    const uint32_t last = input.ConsumeIntegral<uint32_t>();
    const uint64_t elapsed = input.ConsumeIntegral<uint64_t>();
    const uint64_t later = elapsed + input.ConsumeIntegral<uint32_t>();

    const SpeedSample sample = MeasureSpeed(done, total, last, elapsed);
    CheckSample(sample);

    if (elapsed > 0) {
        // Bytes counted since the last sample are what makes a speed.
        FUZZ_CHECK((sample.speed > 0.0) == (done > last));
        // Nothing left to fetch means no time left, not an unknown one.
        if (done >= total) FUZZ_CHECK(sample.secondsLeft == 0);
        // The estimate never promises more than the bytes left at the speed seen.
        if (sample.secondsLeft > 0) {
            FUZZ_CHECK(static_cast<double>(sample.secondsLeft) * sample.speed <=
                       static_cast<double>(total - done) * (1.0 + 1e-9));
        }
    }

    // The same bytes over a longer time are never faster.
    if (later >= elapsed && elapsed > 0) {
        const SpeedSample slower = MeasureSpeed(done, total, last, later);
        CheckSample(slower);
        FUZZ_CHECK(slower.speed <= sample.speed);
    }
    // More bytes over the same time are never slower.
    if (done < UINT32_MAX) {
        const SpeedSample faster = MeasureSpeed(done + 1, total, last, elapsed);
        CheckSample(faster);
        FUZZ_CHECK(faster.speed >= sample.speed);
    }
    return 0;
}
