#include <windows.h>
#include <tlhelp32.h>

#include <exception>

#include "app/logger.h"
#include "base/unique_handle.h"
#include "engine/path_safety.h"
#include "engine/patcher.h"
#include "engine/process_name.h"
#include "engine/release_signature.h"
#include "base/names_and_limits.h"
#include "base/text.h"
#include "selfupdate/self_update.h"

bool Patcher::IsGameRunning() const {
    UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;  // no snapshot: the game counts as not running
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    if (!Process32FirstW(snapshot.Get(), &entry)) return false;
    do {
        if (ProcessNameEquals(entry.szExeFile, config.gameExecutable)) return true;
    } while (Process32NextW(snapshot.Get(), &entry));
    return false;
}

void Patcher::RunUpdate() {
    // No stage should throw, but if one does the run ends in Error, visibly,
    // instead of taking the whole process down.
    try {
        RunStages();
    } catch (const std::exception& e) {
        EndInError(L"BŁĄD: Nieoczekiwany wyjątek: " + Utf8ToWide(e.what()), L"Nieoczekiwany błąd aktualizacji");
    } catch (...) {
        EndInError(L"BŁĄD: Nieoczekiwany wyjątek", L"Nieoczekiwany błąd aktualizacji");
    }
}

void Patcher::ShowError(const std::wstring& text) {
    SetLastError(text);
    UpdateState state;
    state.status = LastError();
    PublishProgress(state);
}

void Patcher::EndInError(const std::wstring& logLine, const std::wstring& text, bool keep) {
    Logger::Write(logLine);
    SetPhase(UpdatePhase::Error);
    if (keep) {
        ShowError(text);
    } else {
        UpdateState state;
        state.status = text;
        PublishProgress(state);
    }
}

// A build with a signing key accepts only a list whose signature, fetched right
// after it, verifies over its bytes as served; then the list's digests vouch for
// every game file. Without a key nothing is fetched and nothing is logged.
bool Patcher::CheckListSignature(const std::string& listText, UpdateState& state) {
    const std::string key = CompiledSigningKey();
    if (key.empty()) return true;
    std::string signature;
    const std::wstring url = config.serverUrl + L"/" + config.patchListFile + kSignatureSuffix.wide;
    const bool fetched = http.DownloadToMemory(url, signature, kLargestSignatureFile);
    if (!fetched || !VerifyListSignature(key, listText, signature)) {
        Logger::Write(L"BŁĄD: Nieprawidłowy podpis listy plików" +
                      (fetched ? std::wstring() : L": " + http.ErrorText()));
        SetPhase(UpdatePhase::Error);
        SetLastError(L"Podpis listy plików jest nieprawidłowy");
        state.status = LastError();
        PublishProgress(state);
        return false;
    }
    Logger::Write(L"Podpis listy plików poprawny");
    return true;
}

void Patcher::EndCancelled(const std::wstring& logLine, UpdateState& state) {
    Logger::Write(logLine);
    SetPhase(UpdatePhase::Idle);
    state.status = L"Anulowano";
    PublishProgress(state);
}

// A Close at any point of this step ends the run as a cancel: nothing more is
// fetched, nothing is started, and a staged executable is deleted unchecked.
// Otherwise a staged executable reaches the hand-over only through its
// signature check.
bool Patcher::RunSelfUpdateStep(UpdateState& state) {
    const std::wstring stagingPath = OwnExecutablePath() + kNewPatcherSuffix.wide;
    Logger::Write(L"Sprawdzanie wersji patchera...");
    state.status = L"Sprawdzanie wersji patchera...";
    PublishProgress(state);
    const bool staged = CheckSelfUpdate();
    if (cancelRequested.load()) {
        if (staged) DeleteFileW(stagingPath.c_str());
        EndCancelled(L"Anulowano przez użytkownika", state);
        return false;
    }
    if (!staged) {
        Logger::Write(L"Patcher aktualny");
        return true;
    }

    Logger::Write(L"Dostępna nowa wersja patchera - aktualizacja");
    state.status = L"Uruchamianie nowej wersji patchera...";
    PublishProgress(state);
    if (cancelRequested.load()) {
        DeleteFileW(stagingPath.c_str());
        EndCancelled(L"Aktualizacja patchera anulowana", state);
        return false;
    }
    std::wstring reason;
    if (!CheckPatcherSignature(reason)) {
        if (cancelRequested.load()) {
            EndCancelled(L"Aktualizacja patchera anulowana", state);
            return false;
        }
        Logger::Write(L"BŁĄD: Nieprawidłowy podpis nowej wersji patchera" +
                      (reason.empty() ? std::wstring() : L": " + reason));
        SetPhase(UpdatePhase::Error);
        SetLastError(L"Podpis nowej wersji patchera jest nieprawidłowy");
        state.status = LastError();
        PublishProgress(state);
        return false;
    }
    switch (ApplySelfUpdate(cancelRequested)) {
        case SelfUpdateStart::Started:
            SetPhase(UpdatePhase::Idle);
            exitRequested.store(true);
            return false;
        case SelfUpdateStart::Cancelled:
            EndCancelled(L"Aktualizacja patchera anulowana", state);
            return false;
        case SelfUpdateStart::Failed:
            // The staged file is gone; the player still gets the game files.
            Logger::Write(L"BŁĄD: Nie można uruchomić aktualizacji patchera");
            return true;
    }
    return true;
}

void Patcher::RunStages() {
    UpdateState state;
    Logger::Write(L"--- Rozpoczęcie procesu aktualizacji ---");

    if (IsGameRunning()) {
        EndInError(L"BŁĄD: Gra jest uruchomiona",
                   L"Zamknij grę (" + config.gameExecutable + L") przed aktualizacją!", false);
        return;
    }

    // The player's own proxy, looked up once per process before the first request.
    std::wstring proxy;
    if (http.UseUserProxy(config.serverUrl + L"/" + config.versionFile, proxy)) {
        Logger::Write(L"Serwer proxy: " + (proxy.empty() ? std::wstring(L"brak") : proxy));
        if (cancelRequested.load()) {
            EndCancelled(L"Anulowano przez użytkownika", state);
            return;
        }
    }
    if (!RunSelfUpdateStep(state)) return;

    Logger::Write(L"Pobieranie listy plików...");
    state.status = L"Pobieranie listy plików...";
    PublishProgress(state);
    SetPhase(UpdatePhase::Checking);

    const std::wstring listUrl = config.serverUrl + L"/" + config.patchListFile;
    std::string listText;
    if (!http.DownloadToMemory(listUrl, listText)) {
        const std::wstring clientError = http.ErrorText();
        EndInError(L"BŁĄD: Nie można pobrać patchlist: " + clientError,
                   L"Nie można pobrać listy plików: " + clientError);
        return;
    }
    Logger::Write(L"Patchlist pobrany, rozmiar: " + std::to_wstring(listText.size()) + L" bajtów");
    if (!CheckListSignature(listText, state)) return;

    std::vector<PatchFile> files = ParsePatchList(listText);
    Logger::Write(L"Sparsowano plików: " + std::to_wstring(files.size()));
    if (files.empty()) {
        EndInError(L"BŁĄD: Lista plików pusta", L"Lista plików jest pusta lub uszkodzona");
        return;
    }

    // A path that leaves the game folder is never hashed, fetched or written:
    // the whole list is refused as damaged before any file is touched.
    for (const PatchFile& entry : files) {
        if (!IsSafeListPath(entry.path)) {
            EndInError(L"BŁĄD: Niedozwolona ścieżka w liście plików: " + Utf8ToWide(entry.path),
                       L"Lista plików jest pusta lub uszkodzona");
            return;
        }
    }

    Logger::Write(L"Sprawdzanie plików lokalnych...");
    state.status = L"Sprawdzanie plików...";
    state.fileCount = static_cast<uint32_t>(files.size());
    PublishProgress(state);

    if (!CheckFiles(files) && cancelRequested.load()) {
        EndCancelled(L"Anulowano przez użytkownika", state);
        return;
    }
    Logger::Write(L"Sprawdzanie plików zakończone");

    std::vector<PatchFile> toUpdate;
    uint32_t totalSize = 0;
    for (const PatchFile& entry : files) {
        if (entry.needsUpdate) {
            toUpdate.push_back(entry);
            totalSize += entry.size;
        }
    }
    Logger::Write(L"Plików do aktualizacji: " + std::to_wstring(toUpdate.size()));
    Logger::Write(L"Łączny rozmiar: " + std::to_wstring(totalSize / 1048576u) + L" MB");

    if (toUpdate.empty()) {
        Logger::Write(L"Wszystkie pliki aktualne - brak do pobrania");
        SetPhase(UpdatePhase::Completed);
        state.status = L"Wszystkie pliki są aktualne!";
        state.fileDone = state.fileTotal = state.overallDone = state.overallTotal = 1;
        PublishProgress(state);
        return;
    }

    Logger::Write(L"--- Rozpoczęcie pobierania ---");
    SetPhase(UpdatePhase::Downloading);
    state.overallTotal = totalSize;
    state.fileCount = static_cast<uint32_t>(toUpdate.size());
    lastTick = tickSource();
    lastBytes = 0;

    if (DownloadFiles(toUpdate)) {
        Logger::Write(L"--- Pobieranie zakończone pomyślnie ---");
        SetPhase(UpdatePhase::Completed);
        state.status = L"Aktualizacja zakończona! Możesz uruchomić grę.";
        state.overallDone = state.overallTotal;
        state.fileDone = state.fileTotal;
        PublishProgress(state);
    } else if (cancelRequested.load()) {
        EndCancelled(L"Pobieranie anulowane", state);
    } else {
        Logger::Write(L"BŁĄD: Pobieranie nie powiodło się");
        SetPhase(UpdatePhase::Error);
    }
}
