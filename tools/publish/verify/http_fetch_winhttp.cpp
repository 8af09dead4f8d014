// HttpFetch on Windows: the patcher's own WinHTTP request core (net/), with the
// patcher's session settings, its redirect rule and the proxy the user's
// settings name. WinHTTP keeps the session's connections open between requests.
#include "tools/publish/verify/http_fetch.h"

#include "base/text.h"
#include "net/system_proxy.h"
#include "net/winhttp_request.h"

namespace {

// Larger than the patcher's blocks: an operator checks whole releases.
const DWORD kReadBufferBytes = 256 * 1024;
const wchar_t* const kUserAgent = L"vorlen-publish verify";

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
        case ERROR_WINHTTP_REDIRECT_FAILED:
            return "a redirect could not be followed (the patcher follows none from https to http)";
        case ERROR_WINHTTP_SECURE_FAILURE: return "the secure connection failed (certificate?)";
        case ERROR_WINHTTP_INVALID_URL: return "not a valid URL";
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return "not an http or https URL";
        default: return "WinHTTP error " + std::to_string(error);
    }
}

}  // namespace

struct HttpFetch::Session {
    UniqueInternet handle;
    std::string setupError;
    DWORD connectMs = 0;
    DWORD receiveMs = 0;
    MinimumRate floor;
    bool proxyChosen = false;

    // Before the first request, as the patcher does: the proxy the user's settings
    // name for the server (the session is opened again for it).
    void UseUserProxy(const std::wstring& url) {
        if (proxyChosen) return;
        proxyChosen = true;
        const ProxyChoice choice = FindUserProxy(kUserAgent, url, kProxyLookupMs);
        if (choice.proxy.empty()) return;
        UniqueInternet proxied(OpenConfiguredSession(kUserAgent, choice, connectMs, receiveMs));
        if (proxied) handle = std::move(proxied);
    }
};

HttpFetch::HttpFetch(int connectSeconds, const MinimumRate& floor) : session(new Session) {
    session->connectMs = static_cast<DWORD>(connectSeconds) * 1000;
    // A read that brings nothing for the whole window fails at once; a trickle is
    // caught by the rate watch between reads, each of which takes what arrived.
    session->receiveMs = static_cast<DWORD>(floor.seconds) * 1000;
    session->floor = floor;
    session->handle.Reset(OpenConfiguredSession(kUserAgent, ProxyChoice(), session->connectMs, session->receiveMs));
    if (!session->handle) {
        session->setupError = "WinHTTP could not be initialised: " + WinHttpErrorText(GetLastError());
    }
}

HttpFetch::~HttpFetch() = default;

bool HttpFetch::Ready() const { return static_cast<bool>(session->handle); }

std::string HttpFetch::ErrorText() const { return session->setupError; }

FetchResult HttpFetch::Get(const std::string& url, uint64_t limit, const BodySink& sink) {
    FetchResult result;
    if (!session->handle) {
        result.error = session->setupError;
        return result;
    }
    const std::wstring wideUrl = Utf8ToWide(url);
    session->UseUserProxy(wideUrl);

    RateWatch watch(session->floor, RateWatch::Clock::now());
    GetRequest get;
    const RequestFailure failure = StartGet(session->handle.Get(), wideUrl, std::wstring(), get);
    result.status = static_cast<int>(get.status);
    if (failure != RequestFailure::None) {
        if (failure == RequestFailure::Receive && IsTimeout(get.error)) {
            result.end = FetchResult::End::Stalled;
            result.status = 0;
        } else {
            result.end = FetchResult::End::Failed;
            result.error = failure == RequestFailure::Url         ? WinHttpErrorText(ERROR_WINHTTP_INVALID_URL)
                           : failure == RequestFailure::ProxyAuth ? "the proxy wants a password (HTTP 407)"
                                                                  : WinHttpErrorText(get.error);
        }
        return result;
    }
    uint64_t length = 0;
    if (QueryContentLength(get.request.Get(), length)) result.announced = static_cast<int64_t>(length);
    if (get.status != 200) {
        result.end = FetchResult::End::Status;
        return result;
    }
    if (result.announced >= 0 && length > limit) {
        result.end = FetchResult::End::OverLimit;
        return result;
    }

    bool overLimit = false;
    bool tooSlow = false;
    const BodyRead read = ReadBody(
        get.request.Get(), result.announced >= 0 ? length : kNoContentLength, kReadBufferBytes,
        ReadPace::AsItArrives,
        [&] {
            tooSlow = !watch.Holds(result.bytes, RateWatch::Clock::now());
            return !tooSlow;
        },
        [&](const char* block, DWORD size) {
            if (size > limit - result.bytes) {
                overLimit = true;
                return false;
            }
            sink(block, size);
            result.bytes += size;
            return true;
        });
    if (overLimit) {
        result.end = FetchResult::End::OverLimit;
    } else if (tooSlow) {
        result.end = FetchResult::End::Stalled;
        result.windowBytes = watch.ShortWindowBytes();
    } else if (read.readFailed && IsTimeout(read.error)) {
        result.end = FetchResult::End::Stalled;
    } else if (read.readFailed) {
        result.end = FetchResult::End::CutShort;
        result.error = WinHttpErrorText(read.error);
    } else {
        const bool whole = result.announced < 0 || result.bytes == length;
        result.end = whole ? FetchResult::End::Body : FetchResult::End::CutShort;
    }
    return result;
}
