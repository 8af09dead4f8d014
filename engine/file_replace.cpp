#include "engine/file_replace.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

#include "app/logger.h"

namespace fs = std::filesystem;

namespace {

// Remove the old file and rename the new one over it; any error ends this way.
bool ReplaceWithStandardLibrary(const std::wstring& tmpPath, const std::wstring& localPath) {
    std::error_code error;
    bool present = fs::exists(fs::path(localPath), error);
    if (error) return false;
    if (present) {
        Logger::Write(L"Usuwanie starego pliku: " + localPath);
        fs::remove(fs::path(localPath), error);
        if (error) return false;
    }
    Logger::Write(L"Przenoszenie: " + tmpPath + L" -> " + localPath);
    fs::rename(fs::path(tmpPath), fs::path(localPath), error);
    if (error) return false;
    Logger::Write(L"OK");
    return true;
}

}  // namespace

bool InstallDownloadedFile(const std::wstring& tmpPath, const std::wstring& localPath) {
    if (ReplaceWithStandardLibrary(tmpPath, localPath)) return true;

    Logger::Write(L"fs::rename nie powiodło się, próba Windows API...");
    DeleteFileW(localPath.c_str());
    if (MoveFileW(tmpPath.c_str(), localPath.c_str())) return true;

    Logger::Write(L"MoveFileW nie powiodło się, próba CopyFileW...");
    if (CopyFileW(tmpPath.c_str(), localPath.c_str(), FALSE)) {
        DeleteFileW(tmpPath.c_str());
        Logger::Write(L"OK (fallback)");
        return true;
    }

    Logger::Write(L"BŁĄD: CopyFileW też nie powiodło się!");
    DeleteFileW(tmpPath.c_str());
    return false;
}
