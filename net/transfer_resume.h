#pragma once
// The rules by which a file transfer that ended short of its Content-Length asks
// the server for the rest. Plain text and numbers, no platform calls.

#include <cstdint>
#include <string>

// A transfer gives up after this many attempts in a row that bring no new byte.
const uint32_t kResumeAttempts = 5;

// The pause before attempt `attempt` (1 to kResumeAttempts) of a row: 1, 2, 4,
// 8 and 16 seconds.
uint32_t ResumePauseMs(uint32_t attempt);

// What names the first response's resource in If-Range: its ETag when that is
// strong, else its Last-Modified. Empty when neither can be used, and then the
// transfer may only start over.
std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified);

// The request headers that ask for the bytes from `offset` on, provided the
// resource is still the one `validator` names.
std::wstring ResumeHeaders(uint32_t offset, const std::wstring& validator);

// True when a 206's Content-Range is exactly "bytes <offset>-<total - 1>/<total>":
// the rest of the same resource, from where the file stopped to its end.
bool ContentRangeContinues(const std::wstring& contentRange, uint32_t offset, uint32_t total);
