#include <windows.h>

#include <filesystem>
#include <system_error>

#include "app/logger.h"
#include "engine/download_progress.h"
#include "engine/file_digest.h"
#include "engine/file_replace.h"
#include "engine/local_path.h"
#include "engine/patcher.h"
#include "base/ascii_case.h"
#include "base/names_and_limits.h"
#include "base/text.h"
#include "net/transfer_resume.h"

namespace fs = std::filesystem;

void Patcher::LogResumedTransfer(uint32_t offset, uint32_t attempt) {
    Logger::Write(L"Wznawianie pobierania od " + std::to_wstring(offset) + L" bajtów (próba " +
                  std::to_wstring(attempt) + L"/" + std::to_wstring(kResumeAttempts) + L")");
}

bool Patcher::DownloadFiles(const std::vector<PatchFile>& files) {
    cryptoProvider.Acquire();  // each downloaded file is digested
    uint32_t totalBytes = 0;
    for (const PatchFile& entry : files) totalBytes += entry.size;
    uint32_t completedBytes = 0;
    int32_t index = 0;
    const uint32_t count = static_cast<uint32_t>(files.size());
    if (files.empty()) return true;
    // Between two speed samples every record repeats the last published speed
    // and time left; only this stage publishes them, so they are kept here.
    double shownSpeed = 0.0;
    int32_t shownSecondsLeft = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        shownSpeed = progress.speed;
        shownSecondsLeft = progress.secondsLeft;
    }

    // Every failure that sets the error text shows it with all numbers at zero;
    // the run logs its own last line and enters Error after this returns.
    auto fail = [this](const std::wstring& text) {
        ShowError(text);
        return false;
    };

    for (const PatchFile& entry : files) {
        if (cancelRequested.load()) return false;

        const std::wstring localPath = LocalPathOf(entry.path);
        const std::wstring tmpPath = localPath + kDownloadSuffix.wide;
        const std::wstring fileUrl = FileUrlOf(config.serverUrl, entry.path);

        Logger::Write(L"[" + std::to_wstring(index + 1) + L"/" + std::to_wstring(count) +
                      L"] Pobieranie: " + localPath);

        fs::path parent = fs::path(localPath).parent_path();
        if (!parent.empty()) {
            std::error_code error;
            fs::create_directories(parent, error);
            if (error) Logger::Write(L"BŁĄD: Nie można utworzyć katalogu: " + parent.wstring());
        }

        // The file's record: its name and place are set once, the numbers on
        // every block; speed and time left stay as last published until the
        // next sample.
        UpdateState state;
        state.status = localPath;
        state.overallTotal = totalBytes;
        state.fileIndex = static_cast<uint32_t>(index);
        state.fileCount = count;
        state.speed = shownSpeed;
        state.secondsLeft = shownSecondsLeft;
        auto onProgress = [&](uint32_t received, uint32_t announced) {
            state.fileDone = received;
            state.fileTotal = announced;
            state.overallDone = completedBytes + received;

            uint64_t now = tickSource();
            uint64_t elapsed = now - lastTick;
            if (elapsed > kSpeedSampleMs) {
                SpeedSample sample =
                    MeasureSpeed(state.overallDone, state.overallTotal, lastBytes, elapsed);
                state.speed = shownSpeed = sample.speed;
                state.secondsLeft = shownSecondsLeft = sample.secondsLeft;
                lastTick = now;
                lastBytes = state.overallDone;
            }
            PublishProgress(state);
        };

        if (beforeFileTransfer) beforeFileTransfer();
        // While the transfer pauses before asking for the rest, nothing is
        // published: the window keeps the file's line as it stood.
        if (!http.DownloadToFile(fileUrl, tmpPath, onProgress, LogResumedTransfer)) {
            Logger::Write(L"BŁĄD: Pobieranie nie powiodło się: " + localPath);
            DeleteFileW(tmpPath.c_str());
            if (cancelRequested.load()) return false;
            return fail(L"Błąd pobierania: " + localPath + L"\n" + http.ErrorText());
        }

        Logger::Write(L"Pobrano, weryfikacja MD5...");
        std::string actual;
        try {
            actual = ComputeFileMd5(tmpPath);
        } catch (...) {
            Logger::Write(L"BŁĄD: Nie można odczytać pliku do weryfikacji: " + tmpPath);
            DeleteFileW(tmpPath.c_str());
            return fail(L"Błąd odczytu pliku: " + localPath);
        }

        std::string expected = AsciiLower(entry.md5);
        actual = AsciiLower(actual);
        if (actual != expected) {
            Logger::Write(L"BŁĄD: MD5 nie pasuje! Oczekiwano: " + Utf8ToWide(expected) +
                          L", otrzymano: " + Utf8ToWide(actual));
            DeleteFileW(tmpPath.c_str());
            return fail(L"Błąd weryfikacji pliku: " + localPath);
        }

        Logger::Write(L"MD5 OK, zamiana plików...");
        if (!InstallDownloadedFile(tmpPath, localPath)) {
            return fail(L"Nie można zapisać pliku: " + localPath);
        }

        Logger::Write(L"Plik zaktualizowany pomyślnie");
        completedBytes += entry.size;
        ++index;
    }
    return true;
}
