#include "net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <memory>

#include "app/unique_handle.h"
#include "net/tls_protocols.h"
#include "net/winhttp_handle.h"

namespace {

const DWORD kTimeoutMs = 30000;
const DWORD kReadSize = 8192;
const DWORD kHostChars = 256;
const DWORD kPathChars = 2048;

// The connection and request of one download; members close in reverse order,
// so the request closes before its connection.
struct OpenRequest {
    UniqueInternet connection;
    UniqueInternet request;
};

}  // namespace

HttpClient::~HttpClient() {
    if (session != nullptr) {
        WinHttpCloseHandle(static_cast<HINTERNET>(session));
        session = nullptr;
    }
}

bool HttpClient::Initialize(const std::wstring& userAgent) {
    HINTERNET handle = WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (handle == nullptr) {
        errorText = L"Nie można zainicjalizować WinHTTP";
        return false;
    }
    session = handle;
    DWORD timeout = kTimeoutMs;
    WinHttpSetOption(handle, WINHTTP_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    // Without it an https server with current defaults is out of reach from Windows
    // 7; a system that refuses the option keeps its own defaults, and nothing is said.
    RequestModernTls(handle);
    return true;
}

void HttpClient::Cancel() { cancel.store(true); }

std::wstring HttpClient::ErrorText() const { return errorText; }

namespace {

enum class RequestFailure { None, Url, Connect, Open, Send, Receive, Status };

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

    if (!WinHttpSendRequest(out.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return RequestFailure::Send;
    }
    if (!WinHttpReceiveResponse(out.request.Get(), nullptr)) return RequestFailure::Receive;

    status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(out.request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
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

}  // namespace

bool HttpClient::DownloadToFile(const std::wstring& url, const std::wstring& filePath,
                                ProgressCallback onProgress) {
    cancel.store(false);

    OpenRequest request;
    DWORD status = 0;
    RequestFailure failure =
        OpenGetRequest(static_cast<HINTERNET>(session), url, request, status);
    if (failure == RequestFailure::Url) {
        errorText = L"Nieprawidłowy URL: " + url;
        return false;
    }
    if (failure != RequestFailure::None) {
        errorText = FailureText(failure, status);
        return false;
    }

    uint32_t bytesTotal = QueryContentLength(request.request.Get());

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

    std::unique_ptr<char[]> buffer(new char[kReadSize]);
    uint32_t bytesDone = 0;
    bool writeFailed = false;
    for (;;) {
        if (cancel.load()) break;
        // The body ends at its Content-Length, as WinHTTP on Windows ends it; Wine's
        // WinHTTP would go on delivering whatever else the server sends.
        DWORD want = kReadSize;
        if (bytesTotal != 0) {
            if (bytesDone >= bytesTotal) break;
            if (bytesTotal - bytesDone < want) want = bytesTotal - bytesDone;
        }
        DWORD read = 0;
        if (!WinHttpReadData(request.request.Get(), buffer.get(), want, &read) || read == 0) {
            break;
        }
        DWORD written = 0;
        // A full disk must not pass for a finished download.
        if (!WriteFile(file.Get(), buffer.get(), read, &written, nullptr) || written != read) {
            writeFailed = true;
            break;
        }
        bytesDone += read;
        if (onProgress) onProgress(bytesDone, bytesTotal);
    }

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
    DWORD status = 0;
    RequestFailure failure =
        OpenGetRequest(static_cast<HINTERNET>(session), url, request, status);
    if (failure == RequestFailure::Url) {
        errorText = L"Nieprawidłowy URL";
        return false;
    }
    if (failure != RequestFailure::None) {
        errorText = FailureText(failure, status);
        return false;
    }

    // As for files, the body ends at its Content-Length when one is given: Wine's
    // WinHTTP would append whatever else arrives on the connection.
    const uint32_t announced = QueryContentLength(request.request.Get());
    std::unique_ptr<char[]> buffer(new char[kReadSize]);
    for (;;) {
        DWORD want = kReadSize;
        if (announced != 0) {
            if (body.size() >= announced) break;
            if (announced - body.size() < want) want = static_cast<DWORD>(announced - body.size());
        }
        DWORD read = 0;
        if (!WinHttpReadData(request.request.Get(), buffer.get(), want, &read) || read == 0) {
            break;
        }
        if (body.size() + read > kMaxMemoryBody) {
            body.clear();
            errorText = L"Odpowiedź serwera jest zbyt duża (ponad 16 MiB)";
            return false;
        }
        body.append(buffer.get(), read);
    }
    return true;
}
