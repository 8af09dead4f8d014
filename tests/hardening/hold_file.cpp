// Holds a file open without sharing, the way another program (an editor, a
// virus scanner, the running game) can lock a game file on Windows.
//   hold_file PATH SECONDS
// Writes "PATH.held" beside the file once it holds it, so a test can wait for that.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "base/unique_handle.h"

namespace {

struct LocalFreeDeleter {
    void operator()(wchar_t** block) const { LocalFree(block); }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    std::unique_ptr<wchar_t*, LocalFreeDeleter> args(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!args || count != 3) return 2;
    std::wstring path = args.get()[1];
    int seconds = _wtoi(args.get()[2]);
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    {
        // Made and closed at once; only the file itself stays held.
        UniqueFile marker(CreateFileW((path + L".held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (seconds > 0 && seconds <= 600) Sleep(static_cast<DWORD>(seconds) * 1000);
    return 0;
}
