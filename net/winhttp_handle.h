#pragma once
// An owning WinHTTP handle (session, connection or request).

#include <windows.h>
#include <winhttp.h>

#include "base/unique_handle.h"

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetHandleTraits>;
