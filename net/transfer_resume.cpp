#include "net/transfer_resume.h"

namespace {

// A header value that goes back to the server must not carry a line break or
// any other control character into the request.
bool IsPlainHeaderText(const std::wstring& text) {
    if (text.empty()) return false;
    for (wchar_t c : text) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

// Reads the decimal digits at `at` (at least one, at most what fits 64 bits
// comfortably) and moves `at` past them.
bool ReadNumber(const std::wstring& text, size_t& at, uint64_t& value) {
    const size_t start = at;
    value = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
        if (at - start >= 18) return false;
        value = value * 10 + static_cast<uint64_t>(text[at] - L'0');
        ++at;
    }
    return at > start;
}

}  // namespace

uint32_t ResumePauseMs(uint32_t attempt) {
    if (attempt < 1) attempt = 1;
    if (attempt > kResumeAttempts) attempt = kResumeAttempts;
    return 1000u << (attempt - 1);
}

std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified) {
    // A strong entity tag is a quoted string; a weak one starts with W/ and may
    // not be used to join byte ranges.
    if (IsPlainHeaderText(etag) && etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"') {
        return etag;
    }
    if (IsPlainHeaderText(lastModified)) return lastModified;
    return std::wstring();
}

std::wstring ResumeHeaders(uint32_t offset, const std::wstring& validator) {
    return L"Range: bytes=" + std::to_wstring(offset) + L"-\r\nIf-Range: " + validator;
}

bool ContentRangeContinues(const std::wstring& contentRange, uint32_t offset, uint32_t total) {
    const std::wstring unit = L"bytes ";
    if (total == 0 || offset >= total || contentRange.compare(0, unit.size(), unit) != 0) return false;
    size_t at = unit.size();
    uint64_t first = 0, last = 0, length = 0;
    if (!ReadNumber(contentRange, at, first) || at >= contentRange.size() || contentRange[at++] != L'-') return false;
    if (!ReadNumber(contentRange, at, last) || at >= contentRange.size() || contentRange[at++] != L'/') return false;
    if (!ReadNumber(contentRange, at, length) || at != contentRange.size()) return false;
    return first == offset && last + 1 == total && length == total;
}
