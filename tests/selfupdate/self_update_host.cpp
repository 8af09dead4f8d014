// Runs one update of the real engine, without a window, in the current folder:
//   self_update_host <server url> [close-in-box]
// It answers the self-update message box with OK (after reading its text), waits
// for the run to end, and writes "host-result.txt": the phase, whether the exit
// was requested, the last status, and the message box text (UTF-8 lines).
// With "close-in-box" it cancels the engine, as the window's close button does,
// while the box is open, and only then answers it.
#include <windows.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "base/text.h"
#include "engine/patcher.h"

namespace {

BOOL CALLBACK ReadStaticText(HWND child, LPARAM param) {
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    wchar_t text[512] = {};
    GetWindowTextW(child, text, 512);
    if (lstrcmpiW(className, L"Static") == 0 && text[0] != 0) {
        *reinterpret_cast<std::wstring*>(param) = text;
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    PatcherConfig config = MakeDefaultConfig();
    config.serverUrl = argv[1];
    const bool closeInBox = argc > 2 && std::wstring(argv[2]) == L"close-in-box";

    int code = 0;
    {
        Patcher patcher(config);
        if (!patcher.Initialize()) code = 1;

        std::wstring boxText;
        std::atomic<bool> done{false};
        std::thread answerer([&] {
            for (int i = 0; i < 3000 && !done.load(); ++i) {
                HWND box = FindWindowW(nullptr, L"Vorlen Patcher - Aktualizacja");
                if (box != nullptr) {
                    // The message is the box's static text control.
                    EnumChildWindows(box, &ReadStaticText, reinterpret_cast<LPARAM>(&boxText));
                    if (closeInBox) patcher.Cancel();
                    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                    return;
                }
                Sleep(20);
            }
        });

        patcher.StartUpdate();
        for (int i = 0; i < 3000; ++i) {
            UpdatePhase phase = patcher.GetPhase();
            if (patcher.IsExitRequested() || phase == UpdatePhase::Completed ||
                phase == UpdatePhase::Error || patcher.GetProgress().status == L"Anulowano") {
                break;
            }
            Sleep(20);
        }
        done.store(true);
        answerer.join();
        // Let the run finish its last step before reading the outcome.
        Sleep(200);
        std::ofstream result("host-result.txt", std::ios::binary);
        result << static_cast<int>(patcher.GetPhase()) << "\n"
               << (patcher.IsExitRequested() ? 1 : 0) << "\n"
               << WideToUtf8(patcher.GetProgress().status) << "\n"
               << WideToUtf8(boxText) << "\n";
    }
    return code;
}
