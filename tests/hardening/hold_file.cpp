// Holds a file open without sharing, the way another program (an editor, a
// virus scanner, the running game) can lock a game file on Windows.
//   hold_file PATH SECONDS
// Writes "PATH.held" beside the file once it holds it, so a test can wait for that.
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr || count != 3) return 2;
    std::wstring path = args[1];
    int seconds = _wtoi(args[2]);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE marker = CreateFileW((path + L".held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    if (seconds > 0 && seconds <= 600) Sleep(static_cast<DWORD>(seconds) * 1000);
    CloseHandle(file);
    LocalFree(args);
    return 0;
}
