#pragma once

#include <atomic>
#include <string>

// Tells the user, then starts the command line that swaps in the staged
// "<own path>.new" once this process has exited, and starts the new patcher.
// False when `cancelRequested` is set before the message box or while it is
// open: the user closed the patcher, so the staged file is deleted and nothing
// is started.
bool ApplySelfUpdate(const std::atomic<bool>& cancelRequested);

// The replacement command line for an executable path; false when it would not
// fit the 1040-character buffer (a truncated command must never run).
bool BuildReplacementCommand(const std::wstring& exePath, std::wstring& command);

// Starts the replacement command for `exePath` without asking; false when the
// command could not be built or started.
bool StartReplacementCommand(const std::wstring& exePath);

// The running executable's full path; empty when it does not fit MAX_PATH.
std::wstring OwnExecutablePath();
