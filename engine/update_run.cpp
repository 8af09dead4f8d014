#include <windows.h>
#include <tlhelp32.h>

#include <exception>

#include "app/logger.h"
#include "base/unique_handle.h"
#include "engine/path_safety.h"
#include "engine/patcher.h"
#include "engine/process_name.h"
#include "engine/release_check.h"
#include "engine/release_record.h"
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

// A keyed build takes a release only through its statement, fetched before
// anything else: signed by one of the compiled-in keys, not older than the
// highest release accepted before, not expired. The number is recorded before
// any file is installed. Without keys nothing is fetched and nothing is logged.
bool Patcher::AcceptSignedRelease(UpdateState& state) {
    Logger::Write(L"Sprawdzanie podpisu wydania...");
    state.status = L"Sprawdzanie podpisu wydania...";
    PublishProgress(state);
    const std::wstring url = config.serverUrl + L"/" + config.patchListFile + kSignatureSuffix.wide;
    std::string text;
    const bool fetched = http.DownloadToMemory(url, text, kLargestReleaseStatement, HttpClient::OnStop::Stop);
    if (cancelRequested.load()) {
        EndCancelled(L"Anulowano przez użytkownika", state);
        return false;
    }
    const std::wstring recordPath = kReleaseStateFileName.wide;
    uint64_t recorded = 0;
    if (ReadReleaseRecord(recordPath, recorded) == ReleaseRecord::Unreadable) {
        Logger::Write(L"BŁĄD: Plik " + recordPath + L" jest nieczytelny - pominięto");
    }
    const uint64_t floor = recorded > acceptedRelease ? recorded : acceptedRelease;
    const int64_t now = utcClock();
    const ReleaseCheck check = fetched ? CheckReleaseStatement(text, signingKeys, floor, now) : ReleaseCheck();
    const ReleaseStatement& statement = check.statement;
    if (!fetched || check.verdict == ReleaseVerdict::Malformed || check.verdict == ReleaseVerdict::Unsigned) {
        std::wstring reason = L": " + http.ErrorText();
        if (fetched) {
            reason = check.verdict == ReleaseVerdict::Malformed ? L": plik jest uszkodzony"
                                                                : L": żaden podpis nie pasuje do kluczy patchera";
        }
        EndInError(L"BŁĄD: Nieprawidłowy podpis wydania" + reason, L"Podpis wydania jest nieprawidłowy");
        return false;
    }
    if (check.verdict == ReleaseVerdict::Older) {
        EndInError(L"BŁĄD: Wydanie starsze niż zainstalowane (" + std::to_wstring(statement.release) + L" < " +
                       std::to_wstring(floor) + L")",
                   L"Serwer podaje starsze wydanie niż zainstalowane");
        return false;
    }
    if (check.verdict == ReleaseVerdict::Expired) {
        EndInError(L"BŁĄD: Podpis wydania wygasł (ważny do " + Utf8ToWide(FormatStatementTime(statement.expires)) +
                       L", teraz " + Utf8ToWide(FormatStatementTime(now)) + L")",
                   L"Podpis wydania wygasł - sprawdź datę i godzinę w systemie");
        return false;
    }
    Logger::Write(L"Podpis wydania poprawny: wydanie " + std::to_wstring(statement.release) + L", klucz " +
                  Utf8ToWide(check.keyId) +
                  (statement.hasExpiry ? L", ważny do " + Utf8ToWide(FormatStatementTime(statement.expires))
                                       : std::wstring()));
    release = statement;
    if (statement.release > acceptedRelease) acceptedRelease = statement.release;
    if (statement.release > recorded && !WriteReleaseRecord(recordPath, statement.release)) {
        Logger::Write(L"BŁĄD: Nie można zapisać pliku " + recordPath);
    }
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
// Otherwise a staged executable reaches the hand-over only through its check
// against the accepted release (keyed builds).
bool Patcher::RunSelfUpdateStep(UpdateState& state) {
    const std::wstring stagingPath = OwnExecutablePath() + kNewPatcherSuffix.wide;
    Logger::Write(L"Sprawdzanie wersji patchera...");
    state.status = L"Sprawdzanie wersji patchera...";
    PublishProgress(state);
    const PublishedPatcher published = CheckPublishedPatcher();
    const bool staged = published == PublishedPatcher::Staged;
    if (cancelRequested.load()) {
        if (staged) DeleteFileW(stagingPath.c_str());
        EndCancelled(L"Anulowano przez użytkownika", state);
        return false;
    }
    if (published == PublishedPatcher::Refused) {
        EndInError(L"BŁĄD: Wersja patchera nie zgadza się z podpisanym wydaniem",
                   L"Wersja patchera nie zgadza się z podpisanym wydaniem");
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
    if (!CheckStagedPatcher()) {
        EndInError(L"BŁĄD: Nowa wersja patchera nie zgadza się z podpisanym wydaniem",
                   L"Nowa wersja patchera nie zgadza się z podpisanym wydaniem");
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

    // The player's own proxy, looked up once per process for the first request.
    const bool keyed = !signingKeys.empty();
    const std::wstring firstUrl = config.serverUrl + L"/" +
                                  (keyed ? config.patchListFile + kSignatureSuffix.wide : config.versionFile);
    std::wstring proxy;
    if (http.UseUserProxy(firstUrl, proxy)) {
        Logger::Write(L"Serwer proxy: " + (proxy.empty() ? std::wstring(L"brak") : proxy));
        if (cancelRequested.load()) {
            EndCancelled(L"Anulowano przez użytkownika", state);
            return;
        }
    }
    if (keyed && !AcceptSignedRelease(state)) return;
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
    // The list's digests vouch for every game file; the statement vouches for the list.
    if (keyed) {
        if (!MatchesSignedBytes(listText, release.listSha256, release.listSize)) {
            EndInError(L"BŁĄD: Lista plików nie zgadza się z podpisanym wydaniem",
                       L"Lista plików nie zgadza się z podpisanym wydaniem");
            return;
        }
        Logger::Write(L"Lista plików zgodna z podpisanym wydaniem");
    }

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
