// HttpFetch on Linux: libcurl's easy interface, one handle for the whole run so
// that consecutive requests to one server share a connection.
#include "tools/publish/verify/http_fetch.h"

#include <curl/curl.h>

#include <cstdlib>

#include "tools/publish/shared/server_url.h"

namespace {

const long kMostRedirects = 10;  // as many as WinHTTP follows by default
const long kReadBufferBytes = 256 * 1024;

struct CurlHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using UniqueCurl = std::unique_ptr<CURL, CurlHandleDeleter>;

// libcurl's process-wide set-up, counted by libcurl itself: each init is
// matched by one cleanup.
class CurlLibrary {
public:
    CurlLibrary() : ready(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
    ~CurlLibrary() {
        if (ready) curl_global_cleanup();
    }
    CurlLibrary(const CurlLibrary&) = delete;
    CurlLibrary& operator=(const CurlLibrary&) = delete;
    bool Ready() const { return ready; }

private:
    bool ready;
};

// One request's state, seen by the body and progress callbacks.
struct Transfer {
    explicit Transfer(const MinimumRate& floor) : watch(floor, RateWatch::Clock::now()) {}

    CURL* handle = nullptr;
    uint64_t limit = 0;
    const BodySink* sink = nullptr;
    uint64_t bytes = 0;
    RateWatch watch;
    bool headersSeen = false;
    bool notOk = false;      // the status is not 200: the body is not wanted
    bool overLimit = false;  // the body passed the limit
    bool tooSlow = false;    // less than the minimum rate arrived
};

// Any return value other than `length` makes libcurl end the request.
size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (transfer.notOk || transfer.overLimit) return 0;
    if (!transfer.headersSeen) {
        // The first piece of the final answer's body: its status and length are known.
        transfer.headersSeen = true;
        long status = 0;
        curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
        if (status != 200) {
            transfer.notOk = true;
            return 0;
        }
        curl_off_t announced = -1;
        curl_easy_getinfo(transfer.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced >= 0 && static_cast<uint64_t>(announced) > transfer.limit) {
            transfer.overLimit = true;
            return 0;
        }
    }
    const uint64_t room = transfer.limit - transfer.bytes;
    if (length > room) {
        transfer.overLimit = true;
        return 0;
    }
    (*transfer.sink)(data, length);
    transfer.bytes += length;
    return length;
}

// libcurl calls it about once a second even while nothing arrives; any value
// but 0 ends the request.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    if (transfer.watch.Holds(transfer.bytes, RateWatch::Clock::now())) return 0;
    transfer.tooSlow = true;
    return 1;
}

bool IsHttps(const std::string& url) { return url.compare(0, 8, "https://") == 0; }

}  // namespace

struct HttpFetch::Session {
    CurlLibrary library;
    UniqueCurl handle;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::string setupError;
    MinimumRate floor;
};

HttpFetch::HttpFetch(int connectSeconds, const MinimumRate& floor) : session(new Session) {
    session->floor = floor;
    if (!session->library.Ready()) {
        session->setupError = "libcurl could not be initialised";
        return;
    }
    session->handle.reset(curl_easy_init());
    CURL* handle = session->handle.get();
    if (handle == nullptr) {
        session->setupError = "libcurl could not make a handle";
        return;
    }
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, session->errorBuffer);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "vorlen-publish verify");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMostRedirects);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectSeconds));
    // The minimum rate, before or inside the body, is watched by OnProgress.
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReadBufferBytes);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
    // The system's CA certificates decide whom https trusts, unless the operator
    // names a bundle as for openssl and curl.
    if (const char* bundle = std::getenv("SSL_CERT_FILE")) {
        if (*bundle != '\0') curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
    }
}

HttpFetch::~HttpFetch() = default;

bool HttpFetch::Ready() const { return session->handle != nullptr; }

std::string HttpFetch::ErrorText() const { return session->setupError; }

FetchResult HttpFetch::Get(const std::string& url, uint64_t limit, const BodySink& sink) {
    FetchResult result;
    CURL* handle = session->handle.get();
    if (handle == nullptr) {
        result.error = session->setupError;
        return result;
    }

    Transfer transfer(session->floor);
    transfer.handle = handle;
    transfer.limit = limit;
    transfer.sink = &sink;
    session->errorBuffer[0] = '\0';
    // As WinHTTP's default policy does for the patcher: a redirect may go from
    // http to https, never from https back to http.
    const bool https = IsHttps(url);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
#else
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS,
                     static_cast<long>(https ? CURLPROTO_HTTPS : CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(handle, CURLOPT_URL, EncodeUrlBytes(url).c_str());
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    const CURLcode code = curl_easy_perform(handle);

    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t announced = -1;
    curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    curl_off_t connectMicroseconds = 0;
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connectMicroseconds);
    result.status = static_cast<int>(status);
    result.announced = announced;
    result.bytes = transfer.bytes;
    result.error = session->errorBuffer[0] != '\0' ? session->errorBuffer : curl_easy_strerror(code);
    if (code == CURLE_UNSUPPORTED_PROTOCOL && https) {
        result.error = "a redirect from https to http, which the patcher does not follow";
    }

    const bool redirecting = status >= 300 && status < 400;
    if (transfer.notOk || (status != 0 && status != 200 && !(redirecting && code != CURLE_OK))) {
        result.end = FetchResult::End::Status;
    } else if (transfer.overLimit) {
        result.end = FetchResult::End::OverLimit;
    } else if (transfer.tooSlow) {
        result.end = FetchResult::End::Stalled;
        result.windowBytes = transfer.watch.ShortWindowBytes();
    } else if (code == CURLE_OK) {
        result.end = status == 200 ? FetchResult::End::Body : FetchResult::End::Failed;
    } else if (code == CURLE_OPERATION_TIMEDOUT && connectMicroseconds > 0) {
        result.end = FetchResult::End::Stalled;
    } else if (status == 200) {
        result.end = FetchResult::End::CutShort;
    } else {
        result.end = FetchResult::End::Failed;
    }
    return result;
}
