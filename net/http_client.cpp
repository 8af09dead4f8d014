#include "net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <memory>

#include "base/unique_handle.h"
#include "net/system_proxy.h"
#include "net/tls_protocols.h"
#include "net/winhttp_handle.h"

namespace {

const DWORD kTimeoutMs = 30000;
const DWORD kReadSize = 8192;
const DWORD kHostChars = 256;
const DWORD kPathChars = 2048;
// The longest wait for an auto-config script's answer before going direct.
const DWORD kProxyLookupMs = 5000;

// Time-outs and TLS protocols, the same for every session the client opens.
void ConfigureSession(HINTERNET handle) {
    DWORD timeout = kTimeoutMs;
    WinHttpSetOption(handle, WINHTTP_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    // Without it an https server with current defaults is out of reach from Windows
    // 7; a system that refuses the option keeps its own defaults, and nothing is said.
    RequestModernTls(handle);
}

// The connection and request of one download; members close in reverse order,
// so the request closes before its connection.
struct OpenRequest {
    UniqueInternet connection;
    UniqueInternet request;
};

}  // namespace

void HttpClient::SessionCloser::operator()(void* handle) const { WinHttpCloseHandle(handle); }

HttpClient::~HttpClient() = default;

bool HttpClient::Initialize(const std::wstring& userAgent) {
    this->userAgent = userAgent;
    HINTERNET handle = OpenSession(userAgent, ProxyChoice());
    if (handle == nullptr) {
        errorText = L"Nie można zainicjalizować WinHTTP";
        return false;
    }
    session.reset(handle);
    ConfigureSession(handle);
    return true;
}

bool HttpClient::UseUserProxy(const std::wstring& url, std::wstring& proxy) {
    if (proxyChosen) return false;
    proxyChosen = true;
    const ProxyChoice choice = FindUserProxy(userAgent, url, kProxyLookupMs);
    // Wine's WinHTTP ignores a proxy set on a request, and Windows 7 knows no
    // automatic-proxy session: the proxy has to be the session's own.
    if (!choice.proxy.empty()) {
        HINTERNET handle = OpenSession(userAgent, choice);
        if (handle != nullptr) {
            session.reset(handle);
            ConfigureSession(handle);
            proxyInUse = choice.proxy;
        }
    }
    proxy = proxyInUse;
    return true;
}

void HttpClient::Cancel() { cancel.store(true); }

std::wstring HttpClient::ErrorText() const { return errorText; }

namespace {

enum class RequestFailure { None, Url, Connect, Open, Send, Receive, Status, ProxyAuth };

// A proxy that asks for Windows' own sign-in (Negotiate or NTLM) is given the
// logged-on user's credentials, as office proxies expect. One that wants a name
// and a password (Basic, Digest) is not answered: the patcher never asks for one.
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

// Steps shared by both downloads: crack the URL, connect, send, receive, and
// accept status 200 only. On failure the handles are closed and `status` holds
// the code a status failure carried.
RequestFailure OpenGetRequest(HINTERNET session, const std::wstring& url, OpenRequest& out,
                              DWORD& status) {
    wchar_t host[kHostChars] = {};
    wchar_t path[kPathChars] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostChars;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kPathChars;
    if (session == nullptr || !WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        return RequestFailure::Url;
    }

    out.connection.Reset(WinHttpConnect(session, host, parts.nPort, 0));
    if (!out.connection) return RequestFailure::Connect;

    DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    out.request.Reset(WinHttpOpenRequest(out.connection.Get(), L"GET", path, nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!out.request) return RequestFailure::Open;

    // A proxy's challenge is answered at most once: a second 407 ends the request.
    for (bool answered = false;;) {
        if (!WinHttpSendRequest(out.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
            return RequestFailure::Send;
        }
        if (!WinHttpReceiveResponse(out.request.Get(), nullptr)) return RequestFailure::Receive;
        status = StatusOf(out.request.Get());
        if (status != HTTP_STATUS_PROXY_AUTH_REQ) break;
        if (answered || !AnswerProxyChallenge(out.request.Get())) return RequestFailure::ProxyAuth;
        answered = true;
    }
    if (status != 200) return RequestFailure::Status;
    return RequestFailure::None;
}

std::wstring FailureText(RequestFailure failure, DWORD status) {
    switch (failure) {
        case RequestFailure::Connect: return L"Nie można połączyć z serwerem";
        case RequestFailure::Open: return L"Nie można utworzyć żądania";
        case RequestFailure::Send: return L"Nie można wysłać żądania";
        case RequestFailure::Receive: return L"Brak odpowiedzi z serwera";
        case RequestFailure::Status: return L"HTTP Error: " + std::to_wstring(status);
        case RequestFailure::ProxyAuth: return L"Serwer proxy wymaga uwierzytelnienia (HTTP 407)";
        default: return L"";
    }
}

// Content-Length as text; 0 when absent or not a number that fits 32 bits.
uint32_t QueryContentLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    wchar_t* end = nullptr;
    unsigned long long value = std::wcstoull(text, &end, 10);
    if (end == text || value > 0xFFFFFFFFull) return 0;
    return static_cast<uint32_t>(value);
}

// Opens the GET (see OpenGetRequest) and reads its Content-Length; on failure
// the Polish text for it, `badUrlText` when the URL does not parse.
bool StartGet(HINTERNET session, const std::wstring& url, const std::wstring& badUrlText, OpenRequest& out,
              uint32_t& announced, std::wstring& error) {
    DWORD status = 0;
    const RequestFailure failure = OpenGetRequest(session, url, out, status);
    if (failure != RequestFailure::None) {
        error = failure == RequestFailure::Url ? badUrlText : FailureText(failure, status);
        return false;
    }
    announced = QueryContentLength(out.request.Get());
    return true;
}

// Reads a body in blocks of at most kReadSize bytes until it ends, `goOn()`
// (asked before each read) or `take(block, size)` says stop. A body with a
// Content-Length ends there, as WinHTTP on Windows ends it: Wine's WinHTTP would
// go on delivering whatever else the server sends on the connection.
template <typename GoOn, typename Take>
void ReadBody(HINTERNET request, uint32_t announced, GoOn goOn, Take take) {
    std::unique_ptr<char[]> buffer(new char[kReadSize]);
    uint32_t done = 0;
    while (goOn()) {
        DWORD want = kReadSize;
        if (announced != 0) {
            if (done >= announced) break;
            if (announced - done < want) want = announced - done;
        }
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.get(), want, &read) || read == 0) break;
        done += read;
        if (!take(buffer.get(), read)) break;
    }
}

}  // namespace

bool HttpClient::DownloadToFile(const std::wstring& url, const std::wstring& filePath,
                                ProgressCallback onProgress) {
    cancel.store(false);

    OpenRequest request;
    uint32_t bytesTotal = 0;
    if (!StartGet(static_cast<HINTERNET>(session.get()), url, L"Nieprawidłowy URL: " + url, request, bytesTotal,
                  errorText)) {
        return false;
    }

    // One folder level only; a missing parent shows up when the file is opened.
    size_t separator = filePath.find_last_of(L"\\/");
    if (separator != std::wstring::npos) {
        CreateDirectoryW(filePath.substr(0, separator).c_str(), nullptr);
    }

    UniqueFile file(CreateFileW(filePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        errorText = L"Nie można utworzyć pliku: " + filePath;
        return false;
    }

    uint32_t bytesDone = 0;
    bool writeFailed = false;
    ReadBody(
        request.request.Get(), bytesTotal, [&] { return !cancel.load(); },
        [&](const char* block, DWORD size) {
            DWORD written = 0;
            // A full disk must not pass for a finished download.
            if (!WriteFile(file.Get(), block, size, &written, nullptr) || written != size) {
                writeFailed = true;
                return false;
            }
            bytesDone += size;
            if (onProgress) onProgress(bytesDone, bytesTotal);
            return true;
        });

    file.Reset();
    request.request.Reset();
    request.connection.Reset();

    if (cancel.load()) {
        DeleteFileW(filePath.c_str());
        errorText = L"Anulowano";
        return false;
    }
    if (writeFailed) {
        DeleteFileW(filePath.c_str());
        errorText = L"Błąd zapisu pliku: " + filePath;
        return false;
    }
    return true;
}

bool HttpClient::DownloadToMemory(const std::wstring& url, std::string& body) {
    cancel.store(false);
    body.clear();

    OpenRequest request;
    uint32_t announced = 0;
    if (!StartGet(static_cast<HINTERNET>(session.get()), url, L"Nieprawidłowy URL", request, announced,
                  errorText)) {
        return false;
    }
    bool tooLarge = false;
    ReadBody(
        request.request.Get(), announced, [] { return true; },
        [&](const char* block, DWORD size) {
            if (body.size() + size > kMaxMemoryBody) {
                tooLarge = true;
                return false;
            }
            body.append(block, size);
            return true;
        });
    if (tooLarge) {
        body.clear();
        errorText = L"Odpowiedź serwera jest zbyt duża (ponad 16 MiB)";
        return false;
    }
    return true;
}
