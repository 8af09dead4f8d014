#include "engine/release_record.h"

#include <windows.h>

#include "base/names_and_limits.h"
#include "base/release_statement.h"
#include "base/unique_handle.h"

namespace {

const char kPrefix[] = "release ";
const DWORD kLongestRecord = 64;

}  // namespace

ReleaseRecord ReadReleaseRecord(const std::wstring& path, uint64_t& release) {
    release = 0;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReleaseRecord::Missing
                                                                                : ReleaseRecord::Unreadable;
    }
    char buffer[kLongestRecord + 1];
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) || read > kLongestRecord) {
        return ReleaseRecord::Unreadable;
    }
    const std::string text(buffer, read);
    const size_t prefix = sizeof kPrefix - 1;
    if (text.size() < prefix + 2 || text.compare(0, prefix, kPrefix) != 0 || text.back() != '\n') {
        return ReleaseRecord::Unreadable;
    }
    uint64_t value = 0;
    if (!ParseReleaseNumber(text.substr(prefix, text.size() - prefix - 1), value)) return ReleaseRecord::Unreadable;
    release = value;
    return ReleaseRecord::Read;
}

bool WriteReleaseRecord(const std::wstring& path, uint64_t release) {
    const std::wstring temporary = path + kDownloadSuffix.wide;
    const std::string text = kPrefix + std::to_string(release) + "\n";
    {
        UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.Get())) {
            file.Reset();
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}
