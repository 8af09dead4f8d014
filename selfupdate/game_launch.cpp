#include <windows.h>

#include "base/unique_handle.h"
#include "engine/patcher.h"

void Patcher::LaunchGame() {
    wchar_t folder[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    // A folder that does not fit the buffer would give a wrong path: start nothing.
    if (length == 0 || length >= MAX_PATH) return;

    std::wstring gamePath = std::wstring(folder, length) + L"\\" + config.gameExecutable;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(gamePath.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder,
                       &startup, &process)) {
        UniqueKernelHandle processHandle(process.hProcess);
        UniqueKernelHandle threadHandle(process.hThread);
    }
}
