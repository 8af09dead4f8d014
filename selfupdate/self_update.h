#pragma once

#include <atomic>
#include <string>

enum class SelfUpdateStart {
    Started,    // the replacement command runs; the program should now end
    Cancelled,  // closed before or during the message box: nothing started
    Failed,     // the command could not be started
};

// Tells the user, then starts the command line that swaps in the staged
// "<own path>.new" once this process has exited, and starts the new patcher.
// Unless it was started the staged file is deleted: a Close before the message
// box or while it is open means the user wants no restart.
SelfUpdateStart ApplySelfUpdate(const std::atomic<bool>& cancelRequested);

// The replacement command line for an executable path; false when it would not
// fit the 1040-character buffer (a truncated command must never run).
bool BuildReplacementCommand(const std::wstring& exePath, std::wstring& command);

// Starts the replacement command for `exePath` without asking, with the system
// folder's cmd.exe and the current directory; false when the command could not
// be built or started.
bool StartReplacementCommand(const std::wstring& exePath);

// The running executable's full path; empty when it does not fit MAX_PATH.
std::wstring OwnExecutablePath();
