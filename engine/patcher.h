#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/patcher_config.h"
#include "base/release_statement.h"
#include "engine/file_digest.h"
#include "engine/patch_list.h"
#include "engine/signing_keys.h"
#include "engine/update_state.h"
#include "net/http_client.h"

// The update engine: one worker thread runs one update at a time and tells the
// window what it does only through the phase and the published progress record.
class Patcher {
public:
    explicit Patcher(const PatcherConfig& config);
    ~Patcher();
    Patcher(const Patcher&) = delete;
    Patcher& operator=(const Patcher&) = delete;

    bool Initialize();

    // UI thread.
    void StartUpdate();
    void Cancel();
    UpdateState GetProgress() const;
    UpdatePhase GetPhase() const;
    bool IsExitRequested() const;
    void LaunchGame();

    // Worker thread.
    void RunUpdate();
    bool CheckFiles(std::vector<PatchFile>& files);
    bool CheckSelfUpdate();
    void PublishProgress(const UpdateState& state);

private:
    friend class PatcherTestAccess;

    bool DownloadFiles(const std::vector<PatchFile>& files);
    bool DownloadSelfUpdate();
    // The log line of a file transfer that asks again for what it is missing.
    static void LogResumedTransfer(uint32_t offset, uint32_t attempt);
    // Keyed builds: fetches the release statement and takes it, or ends the run.
    bool AcceptSignedRelease(UpdateState& state);
    // Keyed builds: the staged executable is the one the accepted statement
    // names; false deletes it. True without keys.
    bool CheckStagedPatcher();
    enum class PublishedPatcher { Current, Staged, Refused };
    // The version check and the download; Refused (keyed builds) when the
    // version text is not the one the accepted statement signs.
    PublishedPatcher CheckPublishedPatcher();
    void RunStages();
    // The self-update step of a run; false when it ended the run.
    bool RunSelfUpdateStep(UpdateState& state);
    // Ends a run as cancelled: writes `logLine`, enters Idle and shows "Anulowano".
    void EndCancelled(const std::wstring& logLine, UpdateState& state);
    bool IsGameRunning() const;
    void SetPhase(UpdatePhase value);
    void SetLastError(const std::wstring& text);
    std::wstring LastError() const;
    // Keeps `text` as the error for the window and publishes it as the status of
    // a record whose numbers are all zero.
    void ShowError(const std::wstring& text);
    // Ends a run in Error: writes `logLine`, enters the phase, then shows `text`
    // (kept as the last error too, unless `keep` is false).
    void EndInError(const std::wstring& logLine, const std::wstring& text, bool keep = true);

    PatcherConfig config;
    HttpClient http;
    std::atomic<int32_t> phase{static_cast<int32_t>(UpdatePhase::Idle)};
    UpdateState progress;
    mutable std::mutex stateMutex;
    std::wstring lastError;
    mutable std::mutex errorMutex;
    std::thread worker;
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> exitRequested{false};
    uint64_t lastTick = 0;
    uint32_t lastBytes = 0;

    // True from the start of a run until its last step; a start request meanwhile
    // is ignored rather than blocking the window until the run ends.
    std::atomic<bool> runActive{false};
    // The millisecond clock of the speed measurement; tests may replace it.
    std::function<uint64_t()> tickSource;
    // The digest the check compares with the list's; tests may replace it.
    std::function<std::string(const std::wstring&)> fileDigest;
    // Called by the download stage after its cancel check and before each file's
    // transfer; empty unless a test places a Close in that moment.
    std::function<void()> beforeFileTransfer;
    CryptoProviderKeepAlive cryptoProvider;
    // The publishers' keys releases must be signed with; empty: releases are not
    // signed, and nothing about them is fetched or logged.
    std::vector<PublisherKey> signingKeys;
    // Seconds since 1970 (UTC), the time a statement's expiry is compared with;
    // tests may replace it.
    std::function<int64_t()> utcClock;
    // The statement the current run accepted (keyed builds).
    ReleaseStatement release;
    // The highest release number this process accepted: the floor still holds
    // when the game folder's record cannot be written.
    uint64_t acceptedRelease = 0;
};
