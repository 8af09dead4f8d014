#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/names_and_limits.h"

// (bytesDone, bytesTotal): bytesTotal is the Content-Length, or 0 without one.
using ProgressCallback = std::function<void(uint32_t bytesDone, uint32_t bytesTotal)>;

// One WinHTTP session for the engine's life; whole-resource GETs into a file or
// into memory. Failures give false and a Polish text in ErrorText().
class HttpClient {
public:
    HttpClient() = default;
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    bool Initialize(const std::wstring& userAgent);
    // Once per client, before its first request: goes through the proxy that the
    // user's Windows settings name for `url` (the session is opened again for it).
    // True the first time, with the proxy in use, "host:port", in `proxy`, or empty
    // for none; false on every later call.
    bool UseUserProxy(const std::wstring& url, std::wstring& proxy);
    bool DownloadToFile(const std::wstring& url, const std::wstring& filePath,
                        ProgressCallback onProgress);
    bool DownloadToMemory(const std::wstring& url, std::string& body);
    void Cancel();
    std::wstring ErrorText() const;

    // A memory download larger than this is refused: only small text resources
    // are fetched into memory, and a server must not be able to exhaust it.
    static const size_t kMaxMemoryBody = kLargestServerText;

private:
    // The session handle (an HINTERNET; <winhttp.h> stays out of this header).
    struct SessionCloser {
        void operator()(void* session) const;
    };
    std::unique_ptr<void, SessionCloser> session;
    std::wstring errorText;
    std::atomic<bool> cancel{false};
    std::wstring userAgent;
    bool proxyChosen = false;
    std::wstring proxyInUse;
};
