#pragma once
// Reaches the engine's private stages and state from outside: the tests and the
// benchmarks drive single stages and replace the clock and the check's digest.

#include <functional>
#include <string>
#include <vector>

#include "engine/patcher.h"

class PatcherTestAccess {
public:
    static bool DownloadFiles(Patcher& p, const std::vector<PatchFile>& files) {
        return p.DownloadFiles(files);
    }
    static bool DownloadSelfUpdate(Patcher& p) { return p.DownloadSelfUpdate(); }
    static void SetTickSource(Patcher& p, std::function<uint64_t()> source) {
        p.tickSource = std::move(source);
    }
    static void SetFileDigest(Patcher& p, std::function<std::string(const std::wstring&)> digest) {
        p.fileDigest = std::move(digest);
    }
    static void SetBeforeFileTransfer(Patcher& p, std::function<void()> hook) {
        p.beforeFileTransfer = std::move(hook);
    }
    static void StartSpeedSampling(Patcher& p, uint64_t tick) {
        p.lastTick = tick;
        p.lastBytes = 0;
    }
    // Makes the engine check releases as a build with these keys compiled in does.
    static void SetSigningKeys(Patcher& p, std::vector<PublisherKey> keys) { p.signingKeys = std::move(keys); }
    static void SetUtcClock(Patcher& p, std::function<int64_t()> clock) { p.utcClock = std::move(clock); }
    static void SetPhase(Patcher& p, UpdatePhase value) { p.SetPhase(value); }
    static std::wstring LastError(const Patcher& p) { return p.LastError(); }
    static HttpClient& Http(Patcher& p) { return p.http; }
    static bool CancelRequested(const Patcher& p) { return p.cancelRequested.load(); }
    static bool HasWorker(const Patcher& p) { return p.worker.joinable(); }
    static void SetExitRequested(Patcher& p, bool value) { p.exitRequested.store(value); }
    // Waits for the current run to end.
    static void WaitForRun(Patcher& p) {
        if (p.worker.joinable()) p.worker.join();
    }
};
