#include "net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "base/unique_handle.h"
#include "net/system_proxy.h"
#include "net/tls_protocols.h"
#include "net/transfer_resume.h"
#include "net/winhttp_handle.h"

namespace {

const DWORD kTimeoutMs = 30000;
const DWORD kReadSize = 8192;
const DWORD kHostChars = 256;
const DWORD kPathChars = 2048;
// A pause before a resumed request sees a Close within this long.
const ULONGLONG kPauseStepMs = 50;
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

void HttpClient::StopAlsoOn(const std::atomic<bool>& ownerFlag) { ownerCancel = &ownerFlag; }

// Both flags: a Close that lands between the owner's last check and the start of
// a download, which clears the client's own flag, still stops the transfer.
bool HttpClient::StopRequested() const {
    return cancel.load() || (ownerCancel != nullptr && ownerCancel->load());
}

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

// Steps shared by every request: crack the URL, connect, send the GET (with
// `headers` when there are any) and receive the response's headers; `status`
// is its code. The handles in `out` close when it goes.
RequestFailure SendGet(HINTERNET session, const std::wstring& url, const std::wstring& headers,
                       OpenRequest& out, DWORD& status) {
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
        const BOOL sent = headers.empty()
                              ? WinHttpSendRequest(out.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                                   WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
                              : WinHttpSendRequest(out.request.Get(), headers.c_str(), static_cast<DWORD>(-1L),
                                                   WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
        if (!sent) return RequestFailure::Send;
        if (!WinHttpReceiveResponse(out.request.Get(), nullptr)) return RequestFailure::Receive;
        status = StatusOf(out.request.Get());
        if (status != HTTP_STATUS_PROXY_AUTH_REQ) break;
        if (answered || !AnswerProxyChallenge(out.request.Get())) return RequestFailure::ProxyAuth;
        answered = true;
    }
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

// One response header as text; empty when it is absent or longer than any
// value this client uses.
std::wstring QueryHeaderText(HINTERNET request, DWORD query) {
    wchar_t text[512] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::wstring();
    }
    return std::wstring(text, size / sizeof(wchar_t));
}

std::wstring ValidatorOf(HINTERNET request) {
    return ResumeValidator(QueryHeaderText(request, WINHTTP_QUERY_ETAG),
                           QueryHeaderText(request, WINHTTP_QUERY_LAST_MODIFIED));
}

// Opens the GET (see SendGet), accepts status 200 only and reads its
// Content-Length; on failure the Polish text for it, `badUrlText` when the URL
// does not parse.
bool StartGet(HINTERNET session, const std::wstring& url, const std::wstring& badUrlText, OpenRequest& out,
              uint32_t& announced, std::wstring& error) {
    DWORD status = 0;
    RequestFailure failure = SendGet(session, url, std::wstring(), out, status);
    if (failure == RequestFailure::None && status != 200) failure = RequestFailure::Status;
    if (failure != RequestFailure::None) {
        error = failure == RequestFailure::Url ? badUrlText : FailureText(failure, status);
        return false;
    }
    announced = QueryContentLength(out.request.Get());
    return true;
}

// How a body read ended: the bytes received, and whether WinHTTP reported the
// last read as failed (a reset connection or a time-out) rather than the end.
struct BodyRead {
    uint32_t received = 0;
    bool readFailed = false;
};

// Reads a body in blocks of at most kReadSize bytes until it ends, `goOn()`
// (asked before each read) or `take(block, size)` says stop. A body with a
// Content-Length ends there, as WinHTTP on Windows ends it: Wine's WinHTTP would
// go on delivering whatever else the server sends on the connection.
template <typename GoOn, typename Take>
BodyRead ReadBody(HINTERNET request, uint32_t announced, GoOn goOn, Take take) {
    std::unique_ptr<char[]> buffer(new char[kReadSize]);
    BodyRead result;
    while (goOn()) {
        DWORD want = kReadSize;
        if (announced != 0) {
            if (result.received >= announced) break;
            if (announced - result.received < want) want = announced - result.received;
        }
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.get(), want, &read)) {
            result.readFailed = true;
            break;
        }
        if (read == 0) break;
        result.received += read;
        if (!take(buffer.get(), read)) break;
    }
    return result;
}

// "Odpowiedź serwera jest zbyt duża (ponad 16 MiB)" for a limit in whole MiB or KiB.
std::wstring TooLargeText(size_t limit) {
    std::wstring size = limit % (1024 * 1024) == 0 ? std::to_wstring(limit / (1024 * 1024)) + L" MiB"
                        : limit % 1024 == 0       ? std::to_wstring(limit / 1024) + L" KiB"
                                                  : std::to_wstring(limit) + L" B";
    return L"Odpowiedź serwera jest zbyt duża (ponad " + size + L")";
}

}  // namespace

// The .tmp file of one download and what is known of the resource it receives.
struct HttpClient::FileTransfer {
    FileTransfer(HANDLE file, const ProgressCallback& onProgress) : file(file), onProgress(onProgress) {}

    // Only a body with a Content-Length can be known to have ended short.
    bool EndedShort() const { return !writeFailed && total != 0 && done < total; }

    // Appends one block and reports it; false when the disk refuses it.
    bool Take(const char* block, DWORD size) {
        DWORD written = 0;
        // A full disk must not pass for a finished download.
        if (!WriteFile(file, block, size, &written, nullptr) || written != size) {
            writeFailed = true;
            return false;
        }
        done += size;
        if (onProgress) onProgress(done, total);
        return true;
    }

    // Empties the file for a response that sends the whole resource again.
    bool StartOver() {
        if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(file)) {
            writeFailed = true;
            return false;
        }
        done = 0;
        return true;
    }

    HANDLE file;
    const ProgressCallback& onProgress;
    uint32_t done = 0;
    uint32_t total = 0;       // the resource's length; 0 when none was announced
    std::wstring validator;   // for If-Range; empty when the resource has none
    bool writeFailed = false;
};

// Waits in short steps, so that a Close is seen within one of them; false when
// the transfer is to stop.
bool HttpClient::PauseUnlessStopped(uint32_t ms) const {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!StopRequested()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return true;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(end - now, kPauseStepMs)));
    }
    return false;
}

bool HttpClient::DownloadToFile(const std::wstring& url, const std::wstring& filePath,
                                ProgressCallback onProgress, ResumeCallback onResume) {
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

    FileTransfer transfer(file.Get(), onProgress);
    transfer.total = bytesTotal;
    transfer.validator = ValidatorOf(request.request.Get());
    ReadBody(
        request.request.Get(), bytesTotal, [this] { return !StopRequested(); },
        [&](const char* block, DWORD size) { return transfer.Take(block, size); });
    request.request.Reset();
    request.connection.Reset();

    if (transfer.EndedShort() && !StopRequested()) ResumeTransfer(url, transfer, onResume);
    file.Reset();

    if (StopRequested()) {
        DeleteFileW(filePath.c_str());
        errorText = L"Anulowano";
        return false;
    }
    if (transfer.writeFailed) {
        DeleteFileW(filePath.c_str());
        errorText = L"Błąd zapisu pliku: " + filePath;
        return false;
    }
    return true;
}

// A body that ended short (the link dropped, a read failed or timed out) is asked
// for again: from where it stopped, with If-Range naming the resource the bytes
// came from, or, when it has no validator, once from the start. A 206 with the
// rest of the same resource continues the file; a 200 sends it whole, and the
// file starts over; any other answer ends the transfer with what it has, as a
// cut body ended before. Each attempt waits first (ResumePauseMs), and one that
// cannot even reach the server counts as one that brought nothing; after
// kResumeAttempts of those in a row it gives up. The digest of the whole file
// stays the caller's judge.
void HttpClient::ResumeTransfer(const std::wstring& url, FileTransfer& transfer, const ResumeCallback& onResume) {
    HINTERNET handle = static_cast<HINTERNET>(session.get());
    uint32_t furthest = transfer.done;
    uint32_t attempt = 0;  // attempts in a row that brought no new byte
    bool startedOver = false;
    while (transfer.EndedShort() && !StopRequested()) {
        const bool ranged = !transfer.validator.empty();
        if (attempt == kResumeAttempts || (!ranged && startedOver)) return;
        ++attempt;
        const uint32_t from = ranged ? transfer.done : 0;
        if (onResume) onResume(from, attempt);
        if (!PauseUnlessStopped(ResumePauseMs(attempt))) return;

        OpenRequest request;
        DWORD status = 0;
        if (SendGet(handle, url, ranged ? ResumeHeaders(from, transfer.validator) : std::wstring(), request,
                    status) != RequestFailure::None) {
            continue;
        }
        uint32_t announced = 0;
        if (status == 206 && ranged &&
            ContentRangeContinues(QueryHeaderText(request.request.Get(), WINHTTP_QUERY_CONTENT_RANGE), from,
                                  transfer.total)) {
            // The range says how much follows, whatever else the headers claim.
            announced = transfer.total - from;
        } else if (status == 200) {
            if (!transfer.StartOver()) return;
            announced = transfer.total = QueryContentLength(request.request.Get());
            transfer.validator = ValidatorOf(request.request.Get());
            startedOver = startedOver || !ranged;
        } else {
            return;
        }
        ReadBody(
            request.request.Get(), announced, [this] { return !StopRequested(); },
            [&](const char* block, DWORD size) { return transfer.Take(block, size); });
        if (transfer.done > furthest) {
            furthest = transfer.done;
            attempt = 0;
        }
    }
}

bool HttpClient::DownloadToMemory(const std::wstring& url, std::string& body, size_t limit, OnStop onStop) {
    cancel.store(false);
    body.clear();

    OpenRequest request;
    uint32_t announced = 0;
    if (!StartGet(static_cast<HINTERNET>(session.get()), url, L"Nieprawidłowy URL", request, announced,
                  errorText)) {
        return false;
    }
    auto stopped = [&] { return onStop == OnStop::Stop && StopRequested(); };
    bool tooLarge = false;
    const BodyRead read = ReadBody(
        request.request.Get(), announced, [&] { return !stopped(); },
        [&](const char* block, DWORD size) {
            if (body.size() + size > limit) {
                tooLarge = true;
                return false;
            }
            body.append(block, size);
            return true;
        });
    // Unlike a file, whose digest judges it, a text is used as it arrived: a list
    // cut short would pass for a shorter list.
    const bool incomplete = announced != 0 ? read.received < announced : read.readFailed;
    const bool wasStopped = stopped();
    if (wasStopped || tooLarge || incomplete) {
        body.clear();
        errorText = wasStopped ? L"Anulowano" : tooLarge ? TooLargeText(limit) : L"Niepełna odpowiedź serwera";
        return false;
    }
    return true;
}
