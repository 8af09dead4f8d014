#pragma once

#include <string>

// Tells the user, then starts the command line that swaps in the staged
// "<own path>.new" once this process has exited, and starts the new patcher.
void ApplySelfUpdate();

// The replacement command line for an executable path; false when it would not
// fit the 1040-character buffer (a truncated command must never run).
bool BuildReplacementCommand(const std::wstring& exePath, std::wstring& command);

// Starts the replacement command for `exePath` without asking; false when the
// command could not be built or started.
bool StartReplacementCommand(const std::wstring& exePath);

// The running executable's full path; empty when it does not fit MAX_PATH.
std::wstring OwnExecutablePath();
