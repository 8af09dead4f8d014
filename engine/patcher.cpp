#include "engine/patcher.h"

#include <windows.h>

#include "app/logger.h"
#include "base/names_and_limits.h"

Patcher::Patcher(const PatcherConfig& config)
    : config(config),
      tickSource([] { return static_cast<uint64_t>(GetTickCount64()); }),
      fileDigest(ComputeFileMd5),
      signingKeys(CompiledSigningKeys()),
      utcClock([] {
          FILETIME now = {};
          GetSystemTimeAsFileTime(&now);
          const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
          // 100-ns ticks since 1601 to seconds since 1970.
          return static_cast<int64_t>(ticks / 10000000u) - 11644473600;
      }) {
    http.StopAlsoOn(cancelRequested);
}

Patcher::~Patcher() {
    Cancel();
    if (worker.joinable()) worker.join();
    Logger::Write(L"Patcher zamknięty");
    Logger::Close();
}

bool Patcher::Initialize() {
    Logger::Open(kLogFileName.wide);
    Logger::Write(L"Inicjalizacja patchera...");
    Logger::Write(L"URL serwera: " + config.serverUrl);
    Logger::Write(L"Plik gry: " + config.gameExecutable);
    bool opened = http.Initialize(L"Vorlen Patcher/1.0");
    Logger::Write(opened ? L"HTTP zainicjalizowany" : L"Błąd inicjalizacji HTTP");
    return opened;
}

void Patcher::StartUpdate() {
    UpdatePhase current = GetPhase();
    if (current == UpdatePhase::Downloading || current == UpdatePhase::Checking) return;
    // A run still in its first stages: ignore the request instead of making the
    // window wait for the whole run to end.
    if (runActive.load()) return;

    if (worker.joinable()) worker.join();
    cancelRequested.store(false);
    exitRequested.store(false);
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        progress = UpdateState();
    }
    runActive.store(true);
    try {
        worker = std::thread([this] {
            RunUpdate();
            runActive.store(false);
        });
    } catch (const std::system_error&) {
        // No thread could be started: say so in the log and on screen.
        runActive.store(false);
        Logger::Write(L"BŁĄD: Nie można uruchomić wątku aktualizacji");
        SetPhase(UpdatePhase::Error);
        UpdateState state;
        state.status = L"Nie można uruchomić aktualizacji";
        PublishProgress(state);
    }
}

void Patcher::Cancel() {
    cancelRequested.store(true);
    http.Cancel();
}

UpdateState Patcher::GetProgress() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return progress;
}

UpdatePhase Patcher::GetPhase() const { return static_cast<UpdatePhase>(phase.load()); }

bool Patcher::IsExitRequested() const { return exitRequested.load(); }

void Patcher::PublishProgress(const UpdateState& state) {
    std::lock_guard<std::mutex> lock(stateMutex);
    progress = state;
}

void Patcher::SetPhase(UpdatePhase value) { phase.store(static_cast<int32_t>(value)); }

void Patcher::SetLastError(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(errorMutex);
    lastError = text;
}

std::wstring Patcher::LastError() const {
    std::lock_guard<std::mutex> lock(errorMutex);
    return lastError;
}
