// The published-version pipeline: the version file's body is trimmed, decoded and
// scanned, and the result is ordered against the patcher's own version.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "fuzz/fuzz_check.h"
#include "selfupdate/version_check.h"

namespace {

bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool SameVersion(const PatcherVersionNumber& a, const PatcherVersionNumber& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.parts[i] != b.parts[i]) return false;
    }
    return true;
}

PatcherVersionNumber Published(const std::string& body) {
    return ScanVersion(Utf8ToWide(TrimVersionText(body)));
}

void CheckTrim(const std::string& body) {
    const std::string trimmed = TrimVersionText(body);
    FUZZ_CHECK(body.find(trimmed) != std::string::npos);
    FUZZ_CHECK(TrimVersionText(trimmed) == trimmed);
    if (!trimmed.empty()) {
        FUZZ_CHECK(!IsTrimmed(trimmed.front()));
        FUZZ_CHECK(!IsTrimmed(trimmed.back()));
    } else {
        for (char c : body) FUZZ_CHECK(IsTrimmed(c));
    }
    // The scan skips leading blanks and stops before trailing ones anyway, so
    // trimming decides only whether the body counts as empty.
    FUZZ_CHECK(SameVersion(Published(body), ScanVersion(Utf8ToWide(body))));
}

// A strict total order: each pair is equal or exactly one of the two is newer.
void CheckOrder(const PatcherVersionNumber& a, const PatcherVersionNumber& b,
                const PatcherVersionNumber& c) {
    FUZZ_CHECK(!IsNewerVersion(a, a));
    FUZZ_CHECK(!(IsNewerVersion(a, b) && IsNewerVersion(b, a)));
    FUZZ_CHECK(SameVersion(a, b) == (!IsNewerVersion(a, b) && !IsNewerVersion(b, a)));
    if (IsNewerVersion(a, b) && IsNewerVersion(b, c)) FUZZ_CHECK(IsNewerVersion(a, c));
    if (!IsNewerVersion(a, b) && !IsNewerVersion(b, c)) FUZZ_CHECK(!IsNewerVersion(a, c));
}

PatcherVersionNumber Consume(FuzzedDataProvider& input, int32_t low, int32_t high) {
    PatcherVersionNumber version;
    for (int i = 0; i < 4; ++i) version.parts[i] = input.ConsumeIntegralInRange(low, high);
    return version;
}

std::wstring Formatted(const PatcherVersionNumber& v) {
    return std::to_wstring(v.parts[0]) + L"." + std::to_wstring(v.parts[1]) + L"." +
           std::to_wstring(v.parts[2]) + L"." + std::to_wstring(v.parts[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);

    // Three version file bodies.
    std::string bodies[3];
    for (std::string& body : bodies) {
        body = input.ConsumeRandomLengthString(64);
        CheckTrim(body);
    }
    const PatcherVersionNumber a = Published(bodies[0]);
    const PatcherVersionNumber b = Published(bodies[1]);
    const PatcherVersionNumber c = Published(bodies[2]);
    CheckOrder(a, b, c);
    CheckOrder(c, b, a);

    // A leading letter (such as "v1.0.6.0") reads as 0.0.0.0.
    FUZZ_CHECK(SameVersion(ScanVersion(L"v" + Utf8ToWide(bodies[0])), PatcherVersionNumber()));

    // Every version written as four decimal numbers reads back unchanged, from
    // the smallest to the largest 32-bit value.
    const PatcherVersionNumber any = Consume(input, INT32_MIN, INT32_MAX);
    FUZZ_CHECK(SameVersion(ScanVersion(Formatted(any)), any));
    FUZZ_CHECK(SameVersion(ScanVersion(Formatted(any) + L"\r\n"), any));

    // Close versions, where the order is decided by a later component.
    const PatcherVersionNumber x = Consume(input, -1, 1);
    const PatcherVersionNumber y = Consume(input, -1, 1);
    const PatcherVersionNumber z = Consume(input, -1, 1);
    CheckOrder(x, y, z);
    CheckOrder(any, x, y);
    return 0;
}
