#pragma once
// The WinHTTP steps of one GET, the same for the patcher's HttpClient and for
// vorlen-publish's verify on Windows, so that verify sees a server as a player's
// patcher does: the session's settings, the request's start (URL, connection,
// request, a proxy's challenge, status, Content-Length) and the body's read loop.
// No texts: each caller says what a failure means in its own words.

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <string>

#include "net/system_proxy.h"
#include "net/winhttp_handle.h"

// A synchronous session through `choice`'s proxy (OpenSession) with the connect
// and receive time-outs and the TLS protocols the patcher asks for
// (RequestModernTls); null when WinHTTP cannot open one.
HINTERNET OpenConfiguredSession(const std::wstring& userAgent, const ProxyChoice& choice, DWORD connectMs,
                                DWORD receiveMs);

// The step at which a request's start failed.
enum class RequestFailure { None, Url, Connect, Open, Send, Receive, ProxyAuth };

// One GET: its handles, which close when it goes (the request before its
// connection), and what its start found.
struct GetRequest {
    UniqueInternet connection;
    UniqueInternet request;
    DWORD status = 0;  // the response's status code; 0 until the headers are in
    DWORD error = 0;   // GetLastError() of the step that failed
};

// Cracks `url` (a host of at most 255 and a path of at most 2047 characters;
// redirects follow WinHTTP's default policy, which never leaves https for http),
// connects, sends the GET with `headers` when there are any, and receives the
// response's headers. A proxy that asks for Windows sign-in is answered once.
RequestFailure StartGet(HINTERNET session, const std::wstring& url, const std::wstring& headers, GetRequest& get);

// The response's Content-Length; false when it has none or it is not a number
// below 2^63.
bool QueryContentLength(HINTERNET request, uint64_t& length);

// How a body's read loop ended.
struct BodyRead {
    uint64_t received = 0;
    bool readFailed = false;  // a read failed (a reset connection, a time-out) rather than find the end
    DWORD error = 0;          // that read's GetLastError()
};

// `announced` for a response without a Content-Length.
const uint64_t kNoContentLength = UINT64_MAX;

// How long one read waits. Wine's WinHTTP fills the whole block before a read
// returns, however slowly the bytes come, unless the read asks for no more than
// has arrived; that costs one call more per read.
enum class ReadPace {
    Blocks,         // each read asks for a whole block
    AsItArrives,    // each read takes what has arrived, so a trickle is seen between reads
};

// Reads the body in blocks of at most `blockSize` bytes until it ends, or until
// `goOn()` (asked before each read) or `take(block, size)` says stop. A body with
// a Content-Length (`announced`) ends there, as WinHTTP on Windows ends it:
// Wine's WinHTTP would go on delivering whatever else the server sends on the
// connection.
BodyRead ReadBody(HINTERNET request, uint64_t announced, DWORD blockSize, ReadPace pace,
                  const std::function<bool()>& goOn, const std::function<bool(const char* block, DWORD size)>& take);
