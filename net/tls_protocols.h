#pragma once
// Which TLS versions a WinHTTP session offers.

#include <windows.h>
#include <winhttp.h>

// Asks the session for TLS 1.2 and 1.3, or for TLS 1.2 alone where the system
// refuses that pair. Returns the protocol flags the session took, or 0 when it
// took neither and keeps the system's defaults.
DWORD RequestModernTls(HINTERNET session);
