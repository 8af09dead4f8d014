#pragma once

#include <cstdint>
#include <string>

enum class UpdatePhase : int32_t {
    Idle = 0,
    Checking = 1,
    Downloading = 2,
    Completed = 3,
    Error = 4,
};

// The progress record the worker publishes whole and the window copies whole.
struct UpdateState {
    std::wstring status;
    uint32_t fileDone = 0;
    uint32_t fileTotal = 0;
    uint32_t overallDone = 0;
    uint32_t overallTotal = 0;
    double speed = 0.0;
    int32_t secondsLeft = 0;
    uint32_t fileIndex = 0;
    uint32_t fileCount = 0;
};
