#pragma once

#include <windows.h>

// Gets, translates and dispatches the calling thread's messages until the quit
// message and returns its wParam as the exit code; 1 when getting a message
// fails. A non-null `window` limits the loop to that window's messages (and the
// quit message).
int RunMessageLoop(HWND window = nullptr);
