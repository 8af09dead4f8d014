#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/names_and_limits.h"

// (bytesDone, bytesTotal): bytesTotal is the Content-Length, or 0 without one.
using ProgressCallback = std::function<void(uint32_t bytesDone, uint32_t bytesTotal)>;

// (offset, attempt): a file transfer that ended short asks again for the bytes
// from `offset` on (0 when it starts over); `attempt` counts the attempts since
// the last one that brought bytes, from 1 to kResumeAttempts.
using ResumeCallback = std::function<void(uint32_t offset, uint32_t attempt)>;

// One WinHTTP session for the engine's life; whole-resource GETs into a file or
// into memory. Failures give false and a Polish text in ErrorText().
class HttpClient {
public:
    HttpClient() = default;
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Once per client, before its first request: goes through the proxy that the
    // user's Windows settings name for `url` (the session is opened again for it).
    // True the first time, with the proxy in use, "host:port", in `proxy`, or empty
    // for none; false on every later call.
    bool UseUserProxy(const std::wstring& url, std::wstring& proxy);

    // A memory download larger than this is refused: only small text resources
    // are fetched into memory, and a server must not be able to exhaust it.
    static const size_t kMaxMemoryBody = kLargestServerText;

    // What a memory download does when the transfer is stopped while it runs.
    enum class OnStop { Finish, Stop };

    bool Initialize(const std::wstring& userAgent);
    // A body that ends short of its Content-Length is asked for again from where
    // it stopped (see ResumeTransfer); bytesDone then goes on from there, and
    // bytesTotal stays the resource's length.
    bool DownloadToFile(const std::wstring& url, const std::wstring& filePath,
                        ProgressCallback onProgress, ResumeCallback onResume = nullptr);
    // A memory body cut short of its Content-Length, or ended by a failed read, is a
    // failure. With OnStop::Stop the download ends at its next block after a
    // stop, as a file download does.
    bool DownloadToMemory(const std::wstring& url, std::string& body, size_t limit = kMaxMemoryBody,
                          OnStop onStop = OnStop::Finish);
    void Cancel();
    // The owner's own cancel flag, which stops a transfer as Cancel() does; the
    // client's flag is cleared when a download starts, this one is not.
    void StopAlsoOn(const std::atomic<bool>& ownerFlag);
    std::wstring ErrorText() const;

private:
    struct FileTransfer;
    // The one check of every wait and read loop: has the transfer been told to stop?
    bool StopRequested() const;
    bool PauseUnlessStopped(uint32_t ms) const;
    void ResumeTransfer(const std::wstring& url, FileTransfer& transfer, const ResumeCallback& onResume);

    // The session handle (an HINTERNET; <winhttp.h> stays out of this header).
    struct SessionCloser {
        void operator()(void* session) const;
    };
    std::unique_ptr<void, SessionCloser> session;

    std::wstring errorText;
    std::atomic<bool> cancel{false};
    const std::atomic<bool>* ownerCancel = nullptr;
    std::wstring userAgent;
    bool proxyChosen = false;
    std::wstring proxyInUse;
};
