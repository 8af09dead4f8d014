#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// How one GET ended.
struct FetchResult {
    enum class End {
        Body,       // status 200 and the whole body, as HTTP frames it
        Status,     // a status other than 200 (after redirects); its body is dropped
        OverLimit,  // status 200 and a body longer than the caller's limit
        CutShort,   // status 200 and the connection ended inside the body
        Stalled,    // no byte arrived for the stall time
        Failed,     // no answer: no connection, a reset, a refused redirect...
    };
    End end = End::Failed;
    int status = 0;
    int64_t announced = -1;  // Content-Length, or -1 without one
    uint64_t bytes = 0;      // body bytes handed to the sink
    std::string error;       // for Stalled and Failed: the transport's words
};

// Receives a 200 body in pieces, in order.
using BodySink = std::function<void(const char* data, size_t length)>;

// Whole-resource GETs as the patcher makes them (redirects followed), one
// after another over a reused connection. A connection that takes longer than
// the connect time-out, or an answer that stalls for the stall time-out, ends
// the request, so no server can hang the caller. Implemented with libcurl on
// Linux and WinHTTP on Windows.
class HttpFetch {
public:
    HttpFetch(int connectSeconds, int stallSeconds);
    ~HttpFetch();
    HttpFetch(const HttpFetch&) = delete;
    HttpFetch& operator=(const HttpFetch&) = delete;

    // False when the transport could not be set up; ErrorText() says why.
    bool Ready() const;
    std::string ErrorText() const;

    // GETs `url` (UTF-8). At most `limit` body bytes reach `sink`: a body
    // announced longer, or found longer as it arrives, ends the request there as
    // OverLimit, so an endless body costs no more than the limit.
    FetchResult Get(const std::string& url, uint64_t limit, const BodySink& sink);

private:
    struct Session;
    std::unique_ptr<Session> session;
};
