// A stand-in for the game (and for a newly published patcher) in the tests.
// Started, it writes "stand-in-started.txt" into its current directory: its own
// path, its command line, its current directory and the value of the variable
// NoDefaultCurrentDirectoryInExePath ("-" when absent), one per line (UTF-8). With
// the argument "wait N" it then stays alive for N seconds, so a test can find it
// among the running processes.
#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace {

std::string ToUtf8(const std::wstring& text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], length, nullptr, nullptr);
    bytes.resize(static_cast<size_t>(length) - 1);
    return bytes;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    wchar_t module[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH * 2);
    wchar_t folder[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, folder);
    wchar_t variable[64] = {};
    const DWORD length = GetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", variable, 64);
    const std::wstring noCurrentDirectory = length > 0 && length < 64 ? variable : L"-";
    std::string report = ToUtf8(module) + "\n" + ToUtf8(GetCommandLineW()) + "\n" + ToUtf8(folder) + "\n" +
                         ToUtf8(noCurrentDirectory) + "\n";

    UniqueFile file(CreateFileW(L"stand-in-started.txt.part", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        DWORD written = 0;
        WriteFile(file.Get(), report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
        file.Reset();
        MoveFileExW(L"stand-in-started.txt.part", L"stand-in-started.txt", MOVEFILE_REPLACE_EXISTING);
    }

    std::wstring args = arguments ? arguments : L"";
    if (args.rfind(L"wait ", 0) == 0) {
        int seconds = _wtoi(args.c_str() + 5);
        if (seconds > 0 && seconds <= 600) Sleep(static_cast<DWORD>(seconds) * 1000);
    }
    return 0;
}
