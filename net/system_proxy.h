#pragma once
// The proxy that the current user's Windows settings (the ones the browser and
// the system's settings dialog use) name for one URL.

#include <windows.h>
#include <winhttp.h>

#include <string>

// The longest wait for an auto-config script's answer before going direct.
const DWORD kProxyLookupMs = 5000;

struct ProxyChoice {
    std::wstring proxy;   // "host:port" for the URL's scheme; empty: no proxy
    std::wstring bypass;  // the user's bypass list, handed to the session as it is
};

// A fixed proxy with its bypass list, or what an auto-config script or automatic
// detection gives for `url`, looked up for at most `lookupLimitMs` (the script is
// fetched directly, with `userAgent`). Without any
// setting, a failed lookup, or a host on the bypass list: an empty proxy. When
// the script and a fixed proxy are both set, the script decides, and the fixed
// proxy stands in when the script cannot be run, as browsers do.
ProxyChoice FindUserProxy(const std::wstring& userAgent, const std::wstring& url, DWORD lookupLimitMs);

// A synchronous WinHTTP session: through the chosen proxy when there is one, else
// with WinHTTP's own default (the machine-wide `netsh winhttp` setting).
HINTERNET OpenSession(const std::wstring& userAgent, const ProxyChoice& choice);

// From a proxy list as Windows writes it ("host:port", or "http=a:1;https=b:2",
// entries apart by ';' or blanks, an entry may carry "http://"): the proxy for an
// http or https URL, "host:port"; empty when the list names none for the scheme.
std::wstring ProxyForScheme(const std::wstring& list, bool https);

// Whether `host` matches the bypass list: "*" wildcards, case ignored, "<local>"
// for names without a dot.
bool BypassesProxy(const std::wstring& bypassList, const std::wstring& host);
