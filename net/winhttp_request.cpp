#include "net/winhttp_request.h"

#include <cwchar>
#include <memory>

#include "net/tls_protocols.h"

namespace {

const DWORD kHostChars = 256;
const DWORD kPathChars = 2048;

// A proxy that asks for Windows' own sign-in (Negotiate or NTLM) is given the
// logged-on user's credentials, as office proxies expect. One that wants a name
// and a password (Basic, Digest) is not answered: neither program asks for one.
bool AnswerProxyChallenge(HINTERNET request) {
    DWORD supported = 0, first = 0, target = 0;
    if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target) || target != WINHTTP_AUTH_TARGET_PROXY) {
        return false;
    }
    DWORD scheme = 0;
    if (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) {
        scheme = WINHTTP_AUTH_SCHEME_NEGOTIATE;
    } else if (supported & WINHTTP_AUTH_SCHEME_NTLM) {
        scheme = WINHTTP_AUTH_SCHEME_NTLM;
    } else {
        return false;
    }
    // The default policy gives the user's credentials to intranet hosts only; this
    // request offers them to its proxy alone, never to a server.
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof policy);
    return WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr) != FALSE;
}

DWORD StatusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    return status;
}

RequestFailure Failed(RequestFailure failure, GetRequest& get) {
    get.error = GetLastError();
    return failure;
}

}  // namespace

HINTERNET OpenConfiguredSession(const std::wstring& userAgent, const ProxyChoice& choice, DWORD connectMs,
                                DWORD receiveMs) {
    HINTERNET handle = OpenSession(userAgent, choice);
    if (handle == nullptr) return nullptr;
    WinHttpSetOption(handle, WINHTTP_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
    // Without it an https server with current defaults is out of reach from Windows
    // 7; a system that refuses the option keeps its own defaults, and nothing is said.
    RequestModernTls(handle);
    return handle;
}

RequestFailure StartGet(HINTERNET session, const std::wstring& url, const std::wstring& headers, GetRequest& get) {
    wchar_t host[kHostChars] = {};
    wchar_t path[kPathChars] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostChars;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kPathChars;
    if (session == nullptr || !WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        return Failed(RequestFailure::Url, get);
    }

    get.connection.Reset(WinHttpConnect(session, host, parts.nPort, 0));
    if (!get.connection) return Failed(RequestFailure::Connect, get);

    DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    get.request.Reset(WinHttpOpenRequest(get.connection.Get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!get.request) return Failed(RequestFailure::Open, get);

    // A proxy's challenge is answered at most once: a second 407 ends the request.
    for (bool answered = false;;) {
        const BOOL sent = headers.empty()
                              ? WinHttpSendRequest(get.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                                   WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
                              : WinHttpSendRequest(get.request.Get(), headers.c_str(), static_cast<DWORD>(-1L),
                                                   WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
        if (!sent) return Failed(RequestFailure::Send, get);
        if (!WinHttpReceiveResponse(get.request.Get(), nullptr)) return Failed(RequestFailure::Receive, get);
        get.status = StatusOf(get.request.Get());
        if (get.status != HTTP_STATUS_PROXY_AUTH_REQ) break;
        if (answered || !AnswerProxyChallenge(get.request.Get())) return Failed(RequestFailure::ProxyAuth, get);
        answered = true;
    }
    return RequestFailure::None;
}

bool QueryContentLength(HINTERNET request, uint64_t& length) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    // Digits only: wcstoull would take a sign, and "-1" for a huge length.
    if (text[0] < L'0' || text[0] > L'9') return false;
    const unsigned long long value = std::wcstoull(text, nullptr, 10);
    if (value > static_cast<unsigned long long>(INT64_MAX)) return false;
    length = value;
    return true;
}

BodyRead ReadBody(HINTERNET request, uint64_t announced, DWORD blockSize, ReadPace pace,
                  const std::function<bool()>& goOn, const std::function<bool(const char* block, DWORD size)>& take) {
    std::unique_ptr<char[]> buffer(new char[blockSize]);
    BodyRead result;
    while (goOn()) {
        DWORD want = blockSize;
        if (announced != kNoContentLength) {
            if (result.received >= announced) break;
            if (announced - result.received < want) want = static_cast<DWORD>(announced - result.received);
        }
        DWORD read = 0;
        if (pace == ReadPace::AsItArrives) {
            // Waits for the first bytes, or the end, within the receive time-out.
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request, &available)) {
                result.readFailed = true;
                result.error = GetLastError();
                break;
            }
            if (available == 0) break;
            if (available < want) want = available;
        }
        if (!WinHttpReadData(request, buffer.get(), want, &read)) {
            result.readFailed = true;
            result.error = GetLastError();
            break;
        }
        if (read == 0) break;
        result.received += read;
        if (!take(buffer.get(), read)) break;
    }
    return result;
}
