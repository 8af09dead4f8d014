#include "net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>

#include "base/unique_handle.h"
#include "net/system_proxy.h"
#include "net/transfer_resume.h"
#include "net/winhttp_request.h"

namespace {

const DWORD kTimeoutMs = 30000;
const DWORD kReadSize = 8192;
// A pause before a resumed request sees a Close within this long.
const ULONGLONG kPauseStepMs = 50;

}  // namespace

void HttpClient::SessionCloser::operator()(void* handle) const { WinHttpCloseHandle(handle); }

HttpClient::~HttpClient() = default;

bool HttpClient::Initialize(const std::wstring& userAgent) {
    this->userAgent = userAgent;
    HINTERNET handle = OpenConfiguredSession(userAgent, ProxyChoice(), kTimeoutMs, kTimeoutMs);
    if (handle == nullptr) {
        errorText = L"Nie można zainicjalizować WinHTTP";
        return false;
    }
    session.reset(handle);
    return true;
}

bool HttpClient::UseUserProxy(const std::wstring& url, std::wstring& proxy) {
    if (proxyChosen) return false;
    proxyChosen = true;
    const ProxyChoice choice = FindUserProxy(userAgent, url, kProxyLookupMs);
    // Wine's WinHTTP ignores a proxy set on a request, and Windows 7 knows no
    // automatic-proxy session: the proxy has to be the session's own.
    if (!choice.proxy.empty()) {
        HINTERNET handle = OpenConfiguredSession(userAgent, choice, kTimeoutMs, kTimeoutMs);
        if (handle != nullptr) {
            session.reset(handle);
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

std::wstring FailureText(RequestFailure failure) {
    switch (failure) {
        case RequestFailure::Connect: return L"Nie można połączyć z serwerem";
        case RequestFailure::Open: return L"Nie można utworzyć żądania";
        case RequestFailure::Send: return L"Nie można wysłać żądania";
        case RequestFailure::Receive: return L"Brak odpowiedzi z serwera";
        case RequestFailure::ProxyAuth: return L"Serwer proxy wymaga uwierzytelnienia (HTTP 407)";
        default: return L"";
    }
}

// Content-Length in 32 bits; 0 when absent or larger.
uint32_t ContentLength32(HINTERNET request) {
    uint64_t length = 0;
    return QueryContentLength(request, length) && length <= 0xFFFFFFFFull ? static_cast<uint32_t>(length) : 0;
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

// Starts the GET (StartGet), accepts status 200 only and reads its
// Content-Length; on failure the Polish text for it, `badUrlText` when the URL
// does not parse.
bool StartOkGet(HINTERNET session, const std::wstring& url, const std::wstring& badUrlText, GetRequest& get,
                uint32_t& announced, std::wstring& error) {
    const RequestFailure failure = StartGet(session, url, std::wstring(), get);
    if (failure != RequestFailure::None) {
        error = failure == RequestFailure::Url ? badUrlText : FailureText(failure);
        return false;
    }
    if (get.status != 200) {
        error = L"HTTP Error: " + std::to_wstring(get.status);
        return false;
    }
    announced = ContentLength32(get.request.Get());
    return true;
}

// Reads a body in the client's blocks; `announced` 0 means none was given.
template <typename GoOn, typename Take>
BodyRead ReadBlocks(HINTERNET request, uint32_t announced, GoOn goOn, Take take) {
    return ReadBody(request, announced != 0 ? announced : kNoContentLength, kReadSize, ReadPace::Blocks, goOn,
                    take);
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

    GetRequest request;
    uint32_t bytesTotal = 0;
    if (!StartOkGet(static_cast<HINTERNET>(session.get()), url, L"Nieprawidłowy URL: " + url, request, bytesTotal,
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
    ReadBlocks(
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

        GetRequest request;
        if (StartGet(handle, url, ranged ? ResumeHeaders(from, transfer.validator) : std::wstring(), request) !=
            RequestFailure::None) {
            continue;
        }
        const DWORD status = request.status;
        uint32_t announced = 0;
        if (status == 206 && ranged &&
            ContentRangeContinues(QueryHeaderText(request.request.Get(), WINHTTP_QUERY_CONTENT_RANGE), from,
                                  transfer.total)) {
            // The range says how much follows, whatever else the headers claim.
            announced = transfer.total - from;
        } else if (status == 200) {
            if (!transfer.StartOver()) return;
            announced = transfer.total = ContentLength32(request.request.Get());
            transfer.validator = ValidatorOf(request.request.Get());
            startedOver = startedOver || !ranged;
        } else {
            return;
        }
        ReadBlocks(
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

    GetRequest request;
    uint32_t announced = 0;
    if (!StartOkGet(static_cast<HINTERNET>(session.get()), url, L"Nieprawidłowy URL", request, announced,
                    errorText)) {
        return false;
    }
    auto stopped = [&] { return onStop == OnStop::Stop && StopRequested(); };
    bool tooLarge = false;
    const BodyRead read = ReadBlocks(
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
