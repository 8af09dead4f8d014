#include "app/message_loop.h"

int RunMessageLoop(HWND window) {
    MSG message = {};
    for (;;) {
        const BOOL got = GetMessageW(&message, window, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);  // WM_QUIT
        // -1: nothing was filled in (an invalid window, say); the caller still
        // shuts down in order, with a failure code.
        if (got == -1) return 1;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
