// HttpFetch on Windows: WinHTTP, as the patcher uses it (the user's proxy,
// redirects followed, the URL handed over as text). WinHTTP keeps the session's
// connections open between requests.
#include "tools/publish/verify/http_fetch.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <vector>

#include "base/text.h"
#include "net/system_proxy.h"
#include "net/winhttp_handle.h"

namespace {

const DWORD kReadBufferBytes = 256 * 1024;
const wchar_t* const kUserAgent = L"vorlen-publish verify";
// As in the patcher: the longest wait for an auto-config script's answer.
const DWORD kProxyLookupMs = 5000;

// Windows reports a time-out as ERROR_WINHTTP_TIMEOUT; Wine's WinHTTP passes
// the socket's WSAETIMEDOUT through.
bool IsTimeout(DWORD error) { return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT; }

std::string WinHttpErrorText(DWORD error) {
    if (IsTimeout(error)) return "timed out";
    switch (error) {
        case ERROR_WINHTTP_CANNOT_CONNECT: return "cannot connect to the server";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the server name cannot be resolved";
        case ERROR_WINHTTP_CONNECTION_ERROR: return "the connection was reset or closed";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "the server's answer is not HTTP";
        case ERROR_WINHTTP_REDIRECT_FAILED: return "a redirect could not be followed";
        case ERROR_WINHTTP_SECURE_FAILURE: return "the secure connection failed (certificate?)";
        case ERROR_WINHTTP_INVALID_URL: return "not a valid URL";
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return "not an http or https URL";
        default: return "WinHTTP error " + std::to_string(error);
    }
}

// Content-Length as a number; -1 when absent or not a number.
int64_t QueryContentLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                             &size, WINHTTP_NO_HEADER_INDEX)) {
        return -1;
    }
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text, &end, 10);
    if (end == text || value > static_cast<unsigned long long>(INT64_MAX)) return -1;
    return static_cast<int64_t>(value);
}

}  // namespace

struct HttpFetch::Session {
    UniqueInternet handle;
    std::string setupError;
    int connectSeconds = 0;
    int stallSeconds = 0;
    bool proxyChosen = false;

    // Sending and receiving time out after the stall time without progress; the
    // receive time-out applies to the answer's headers and to every read.
    void SetTimeouts() {
        WinHttpSetTimeouts(handle.Get(), 0, connectSeconds * 1000, stallSeconds * 1000, stallSeconds * 1000);
    }

    // Before the first request, as the patcher does: the proxy the user's settings
    // name for the server (the session is opened again for it).
    void UseUserProxy(const std::wstring& url) {
        if (proxyChosen) return;
        proxyChosen = true;
        const ProxyChoice choice = FindUserProxy(kUserAgent, url, kProxyLookupMs);
        if (choice.proxy.empty()) return;
        UniqueInternet proxied(OpenSession(kUserAgent, choice));
        if (!proxied) return;
        handle = std::move(proxied);
        SetTimeouts();
    }
};

HttpFetch::HttpFetch(int connectSeconds, int stallSeconds) : session(new Session) {
    session->connectSeconds = connectSeconds;
    session->stallSeconds = stallSeconds;
    session->handle.Reset(OpenSession(kUserAgent, ProxyChoice()));
    if (!session->handle) {
        session->setupError = "WinHTTP could not be initialised: " + WinHttpErrorText(GetLastError());
        return;
    }
    session->SetTimeouts();
}

HttpFetch::~HttpFetch() = default;

bool HttpFetch::Ready() const { return static_cast<bool>(session->handle); }

std::string HttpFetch::ErrorText() const { return session->setupError; }

FetchResult HttpFetch::Get(const std::string& url, uint64_t limit, const BodySink& sink) {
    FetchResult result;
    auto fail = [&](FetchResult::End end, DWORD error) {
        result.end = end;
        result.error = WinHttpErrorText(error);
        return result;
    };
    if (!session->handle) {
        result.error = session->setupError;
        return result;
    }

    const std::wstring wideUrl = Utf8ToWide(url);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);  // pointers into wideUrl
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (wideUrl.empty() || !WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) {
        return fail(FetchResult::End::Failed, ERROR_WINHTTP_INVALID_URL);
    }
    session->UseUserProxy(wideUrl);
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    // Locals close in reverse order: the request before its connection.
    UniqueInternet connection(WinHttpConnect(session->handle.Get(), host.c_str(), parts.nPort, 0));
    if (!connection) return fail(FetchResult::End::Failed, GetLastError());
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    UniqueInternet request(WinHttpOpenRequest(connection.Get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) return fail(FetchResult::End::Failed, GetLastError());
    if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return fail(FetchResult::End::Failed, GetLastError());
    }
    if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
        const DWORD error = GetLastError();
        return fail(IsTimeout(error) ? FetchResult::End::Stalled : FetchResult::End::Failed, error);
    }

    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    result.status = static_cast<int>(status);
    result.announced = QueryContentLength(request.Get());
    if (status != 200) {
        result.end = FetchResult::End::Status;
        return result;
    }
    if (result.announced >= 0 && static_cast<uint64_t>(result.announced) > limit) {
        result.end = FetchResult::End::OverLimit;
        return result;
    }

    std::vector<char> buffer(kReadBufferBytes);
    for (;;) {
        // The body ends at its Content-Length: Wine's WinHTTP would go on
        // delivering whatever else the server sends. Without one, one byte
        // past the limit is enough to know the body is too long.
        uint64_t want = kReadBufferBytes;
        if (result.announced >= 0) {
            const uint64_t left = static_cast<uint64_t>(result.announced) - result.bytes;
            if (left == 0) break;
            if (left < want) want = left;
        } else if (limit - result.bytes + 1 < want) {
            want = limit - result.bytes + 1;
        }
        DWORD read = 0;
        if (!WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(want), &read)) {
            const DWORD error = GetLastError();
            return fail(IsTimeout(error) ? FetchResult::End::Stalled : FetchResult::End::CutShort, error);
        }
        if (read == 0) break;
        if (read > limit - result.bytes) {
            result.end = FetchResult::End::OverLimit;
            return result;
        }
        sink(buffer.data(), read);
        result.bytes += read;
    }
    const bool whole = result.announced < 0 || result.bytes == static_cast<uint64_t>(result.announced);
    result.end = whole ? FetchResult::End::Body : FetchResult::End::CutShort;
    return result;
}
