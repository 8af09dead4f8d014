#include "selfupdate/self_update.h"

#include <windows.h>

#include <cwchar>

#include "app/logger.h"
#include "base/unique_handle.h"
#include "base/names_and_limits.h"
#include "base/system_folder.h"
#include "engine/patcher.h"
#include "base/text.h"
#include "selfupdate/version_check.h"

namespace {

const size_t kCommandChars = 4 * MAX_PATH;

const wchar_t* const kReplacementFormat =
    L"cmd.exe /C echo. & echo   Aktualizacja Vorlen Patcher... & echo. & "
    L"ping 127.0.0.1 -n 3 > nul & del \"%ls\" & move \"%ls\" \"%ls\" & "
    L"echo   Gotowe! Uruchamianie... & ping 127.0.0.1 -n 2 > nul & start \"\" \"%ls\"";

}  // namespace

std::wstring OwnExecutablePath() {
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    // A full buffer means the path was cut: no usable path.
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}

bool BuildReplacementCommand(const std::wstring& exePath, std::wstring& command) {
    if (exePath.empty()) return false;
    const std::wstring stagingPath = exePath + kNewPatcherSuffix.wide;
    wchar_t buffer[kCommandChars];
    int length = std::swprintf(buffer, kCommandChars, kReplacementFormat, exePath.c_str(),
                               stagingPath.c_str(), exePath.c_str(), exePath.c_str());
    if (length < 0 || static_cast<size_t>(length) >= kCommandChars) return false;
    command.assign(buffer, static_cast<size_t>(length));
    return true;
}

bool StartReplacementCommand(const std::wstring& exePath) {
    std::wstring command;
    if (!BuildReplacementCommand(exePath, command)) return false;
    // The interpreter by its full path: by the command line's bare name Windows
    // would look in this program's folder first, the game folder. Never %ComSpec%,
    // which anyone can point elsewhere.
    const std::wstring interpreter = SystemFolderFile(L"cmd.exe");
    if (interpreter.empty()) return false;
    // The interpreter's own "ping" must not come from its current directory, the
    // game folder: with this variable present, whatever its value, Windows'
    // cmd.exe looks for programs named without a path only along PATH. It is
    // set in this process's environment, which the interpreter inherits, and
    // with it the new patcher and the game that one starts.
    SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(interpreter.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    return true;
}

SelfUpdateStart ApplySelfUpdate(const std::atomic<bool>& cancelRequested) {
    const std::wstring exePath = OwnExecutablePath();
    const std::wstring stagingPath = exePath + kNewPatcherSuffix.wide;
    // The window stays usable while the box is open: a Close before it, or while
    // it is shown, means the user wants no restart.
    if (cancelRequested.load()) {
        DeleteFileW(stagingPath.c_str());
        return SelfUpdateStart::Cancelled;
    }
    MessageBoxW(nullptr,
                L"Dostępna jest nowa wersja patchera.\n\nPatcher zostanie teraz zaktualizowany.\n"
                L"Po kliknięciu OK aplikacja zamknie się i uruchomi ponownie.",
                L"Vorlen Patcher - Aktualizacja", MB_OK | MB_ICONINFORMATION);
    if (cancelRequested.load()) {
        DeleteFileW(stagingPath.c_str());
        return SelfUpdateStart::Cancelled;
    }
    if (!StartReplacementCommand(exePath)) {
        // Nothing will move it into place; the next run fetches it again.
        DeleteFileW(stagingPath.c_str());
        return SelfUpdateStart::Failed;
    }
    return SelfUpdateStart::Started;
}

bool Patcher::CheckSelfUpdate() { return CheckPublishedPatcher() == PublishedPatcher::Staged; }

Patcher::PublishedPatcher Patcher::CheckPublishedPatcher() {
    std::string body;
    // A Close stops the fetch at its next block: nothing more is asked for then.
    if (!http.DownloadToMemory(config.serverUrl + L"/" + config.versionFile, body, HttpClient::kMaxMemoryBody,
                               HttpClient::OnStop::Stop)) {
        return PublishedPatcher::Current;
    }
    if (cancelRequested.load()) return PublishedPatcher::Current;
    std::string trimmed = TrimVersionText(body);
    if (trimmed.empty()) return PublishedPatcher::Current;
    // Keyed builds: a version text beside a statement that signs another one
    // belongs to another release.
    const bool keyed = !signingKeys.empty();
    if (keyed && release.hasPatcher && trimmed != release.patcherVersion) return PublishedPatcher::Refused;

    PatcherVersionNumber published = ScanVersion(Utf8ToWide(trimmed));
    PatcherVersionNumber own = ScanVersion(PatcherVersion);
    if (!IsNewerVersion(published, own)) return PublishedPatcher::Current;
    if (keyed && !release.hasPatcher) {
        // Nothing vouches for whatever executable the server has: the game files
        // are still updated.
        Logger::Write(L"BŁĄD: Wersja patchera nie jest podpisana");
        return PublishedPatcher::Current;
    }
    // The command line that swaps the executable needs the whole path; one that
    // would not fit is never started, so the update is skipped here.
    std::wstring command;
    if (!BuildReplacementCommand(OwnExecutablePath(), command)) {
        Logger::Write(L"BŁĄD: Ścieżka patchera jest zbyt długa - pominięto aktualizację patchera");
        return PublishedPatcher::Current;
    }
    return DownloadSelfUpdate() ? PublishedPatcher::Staged : PublishedPatcher::Current;
}

bool Patcher::DownloadSelfUpdate() {
    // A Close while the version file was on its way must not be undone by the
    // transfer, which clears the client's own cancel flag when it starts.
    if (cancelRequested.load()) return false;
    UpdateState state;
    state.status = L"Pobieranie nowej wersji patchera...";
    PublishProgress(state);

    const std::wstring url = config.serverUrl + L"/" + kPatcherExeName.wide;
    const std::wstring target = OwnExecutablePath() + kNewPatcherSuffix.wide;

    uint32_t received = 0;
    uint32_t announced = 0;
    auto onProgress = [&](uint32_t bytesDone, uint32_t bytesTotal) {
        received = bytesDone;
        announced = bytesTotal;
        state.fileDone = state.overallDone = bytesDone;
        state.fileTotal = state.overallTotal = bytesTotal;
        PublishProgress(state);
    };
    if (!http.DownloadToFile(url, target, onProgress, LogResumedTransfer) || cancelRequested.load()) {
        DeleteFileW(target.c_str());
        return false;
    }
    // A body that ended early would replace a working patcher with a broken one
    // that can no longer update itself. A resumed transfer reports the whole
    // resource's length throughout, so the comparison holds for it too.
    if (received == 0 || (announced != 0 && received != announced)) {
        Logger::Write(L"BŁĄD: Nowa wersja patchera pobrana niekompletnie (" +
                      std::to_wstring(received) + L" z " + std::to_wstring(announced) +
                      L" bajtów)");
        DeleteFileW(target.c_str());
        return false;
    }
    return true;
}
