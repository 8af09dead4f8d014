#pragma once

#include <string>

// The patcher's own version, shown in the log banner and compared by the self-update.
extern const wchar_t* const PatcherVersion;

// Writes patcher.log: UTF-8, one "[hh:mm:ss] " stamped line per call, CR LF.
// Only one thread writes at a time (the main thread before and after the worker,
// the worker while it runs), so there is no lock.
class Logger {
public:
    static void Open(const std::wstring& path);   // create or truncate, then the banner
    static void Write(const std::wstring& message); // does nothing while not open
    static void Close();
    static bool IsOpen();
};
