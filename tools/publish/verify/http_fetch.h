#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tools/publish/verify/min_rate.h"

// How one GET ended.
struct FetchResult {
    enum class End {
        Body,       // status 200 and the whole body, as HTTP frames it
        Status,     // a status other than 200 (after redirects); its body is dropped
        OverLimit,  // status 200 and a body longer than the caller's limit
        CutShort,   // status 200 and the connection ended inside the body
        Stalled,    // less than the minimum rate arrived (nothing, or a trickle)
        Failed,     // no answer: no connection, a reset, a refused redirect...
    };
    End end = End::Failed;
    int status = 0;
    int64_t announced = -1;  // Content-Length, or -1 without one
    uint64_t bytes = 0;      // body bytes handed to the sink
    std::string error;       // for Failed and CutShort: the transport's words
    uint64_t windowBytes = 0;  // for Stalled: what arrived in the window that fell short
};

// Receives a 200 body in pieces, in order.
using BodySink = std::function<void(const char* data, size_t length)>;

// Whole-resource GETs as the patcher makes them (redirects followed, but never
// from https to http), one after another over a reused connection. A connection
// that takes longer than the connect time-out, or an answer that brings less
// than the minimum rate, ends the request, so no server can hang the caller.
// Implemented with libcurl on Linux (http_fetch_curl.cpp) and on Windows with
// the patcher's own WinHTTP request core (http_fetch_winhttp.cpp).
class HttpFetch {
public:
    HttpFetch(int connectSeconds, const MinimumRate& floor);
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
