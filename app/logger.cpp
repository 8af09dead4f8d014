#include "app/logger.h"
#include "app/patcher_version.h"
#include "base/unique_handle.h"
#include "base/text.h"

#include <windows.h>

#include <cstdio>
#include <string>

#define VORLEN_WIDEN2(text) L##text
#define VORLEN_WIDEN(text) VORLEN_WIDEN2(text)
const wchar_t* const PatcherVersion = VORLEN_WIDEN(VORLEN_VERSION_TEXT);

namespace {
// The log is the program's one piece of global state; its handle closes at the
// latest when the program ends.
UniqueFile logFile;
}  // namespace

void Logger::Open(const std::wstring& path) {
    Close();
    // Others may read the log while we run, but not write or delete it.
    logFile.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    Write(std::wstring(L"=== Vorlen Patcher ") + PatcherVersion + L" ===");
}

void Logger::Write(const std::wstring& message) {
    if (!logFile) return;

    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", now.wHour, now.wMinute, now.wSecond);
    std::string line = stamp;

    // A message that does not convert is left out: the line is the stamp alone.
    line += WideToUtf8(message);
    line += "\r\n";

    DWORD written = 0;
    WriteFile(logFile.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void Logger::Close() { logFile.Reset(); }

bool Logger::IsOpen() { return logFile.Valid(); }
