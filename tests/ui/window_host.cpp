// The real PatcherWindow around a real Patcher, driven line by line from standard
// input by window_tests.py so that every phase can be put on screen and looked at.
//
//   window_host.exe <server base URL>
//
// It starts like the patcher (Initialize, Create, which starts the first run),
// waits for that run to end, prints "ready", then answers one line per command:
//   show <phase> <fileDone> <fileTotal> <overallDone> <overallTotal> <speed>
//        <secondsLeft> <fileIndex> <fileCount> [status text]
//                    waits for any run, sets the phase, publishes the record and
//                    repaints at once                                  -> "ok"
//   timer off        stops the refresh timer, so only input repaints     -> "ok"
//   paints           window paints since start                          -> "paints N"
//   wait-run         waits for the current run to end                   -> "phase N"
//   phase            the engine's phase now                             -> "phase N"
//   rect             the window's screen rectangle                      -> "rect l t r b"
//   hittest X Y      the window's answer to WM_NCHITTEST at screen X, Y -> "hit N"
// When the message loop ends (a button, or the end of input) it prints
// "exit <code>" and returns that code.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "ui/patcher_window.h"

namespace {

const UINT kCommand = WM_APP + 1;
const UINT kInputEnded = WM_APP + 2;

std::wstring Widen(const std::string& text) {
    if (text.empty()) return L"";
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

void Reply(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

struct Host {
    Patcher& patcher;
    PatcherWindow& window;
    int paints = 0;

    void Run(const std::string& line) {
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        HWND hwnd = window.Handle();
        if (verb == "show") {
            int phase = 0;
            UpdateState state;
            in >> phase >> state.fileDone >> state.fileTotal >> state.overallDone >>
                state.overallTotal >> state.speed >> state.secondsLeft >> state.fileIndex >>
                state.fileCount;
            std::string status;
            std::getline(in >> std::ws, status);
            state.status = Widen(status);
            PatcherTestAccess::WaitForRun(patcher);
            PatcherTestAccess::SetPhase(patcher, static_cast<UpdatePhase>(phase));
            patcher.PublishProgress(state);
            RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            GdiFlush();
            Reply("ok");
        } else if (verb == "timer") {
            KillTimer(hwnd, 1);
            Reply("ok");
        } else if (verb == "paints") {
            Reply("paints " + std::to_string(paints));
        } else if (verb == "wait-run") {
            PatcherTestAccess::WaitForRun(patcher);
            Reply("phase " + std::to_string(static_cast<int>(patcher.GetPhase())));
        } else if (verb == "phase") {
            Reply("phase " + std::to_string(static_cast<int>(patcher.GetPhase())));
        } else if (verb == "rect") {
            RECT rect = {};
            GetWindowRect(hwnd, &rect);
            Reply("rect " + std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
                  std::to_string(rect.right) + " " + std::to_string(rect.bottom));
        } else if (verb == "hittest") {
            int x = 0;
            int y = 0;
            in >> x >> y;
            LRESULT hit = SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x, y));
            Reply("hit " + std::to_string(static_cast<long long>(hit)));
        } else {
            Reply("unknown " + verb);
        }
    }
};

// Commands arrive on a message-only window, so they are also delivered while
// the system runs a modal loop of its own (a window drag).
LRESULT CALLBACK CommandProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Host* host = reinterpret_cast<Host*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == kCommand && host != nullptr) {
        std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(lParam));
        host->Run(*line);
        return 0;
    }
    if (message == kInputEnded) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    PatcherConfig config = MakeDefaultConfig();
    config.serverUrl = argc > 1 ? Widen(argv[1]) : L"http://127.0.0.1:9/fs";

    Patcher patcher(config);
    if (!patcher.Initialize()) return 1;
    int exitCode = 1;
    {
        PatcherWindow window(&patcher, config);
        if (!window.Create()) {
            Reply("no window");
            return 1;
        }
        PatcherTestAccess::WaitForRun(patcher);
        Host host{patcher, window};

        WNDCLASSEXW commandClass = {};
        commandClass.cbSize = sizeof commandClass;
        commandClass.lpfnWndProc = CommandProc;
        commandClass.hInstance = GetModuleHandleW(nullptr);
        commandClass.lpszClassName = L"VorlenWindowHostCommands";
        RegisterClassExW(&commandClass);
        HWND commands = CreateWindowExW(0, commandClass.lpszClassName, L"", 0, 0, 0, 0, 0,
                                        HWND_MESSAGE, nullptr, commandClass.hInstance, nullptr);
        SetWindowLongPtrW(commands, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&host));

        std::thread reader([commands] {
            std::string line;
            while (std::getline(std::cin, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                PostMessageW(commands, kCommand, 0, reinterpret_cast<LPARAM>(new std::string(line)));
            }
            PostMessageW(commands, kInputEnded, 0, 0);
        });
        reader.detach();  // blocked on input; the process ends it

        Reply("ready");
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_PAINT && message.hwnd == window.Handle()) ++host.paints;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        exitCode = static_cast<int>(message.wParam);
    }
    Reply("exit " + std::to_string(exitCode));
    return exitCode;
}
