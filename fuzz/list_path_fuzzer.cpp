// A patch-list path, the one field that names a file on the player's disk.
// Whatever the safety rule accepts must stay inside the game folder, as a
// local path and as a path below the server's base URL.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "engine/local_path.h"
#include "engine/path_safety.h"
#include "fuzz/fuzz_check.h"

namespace {

const wchar_t kServerUrl[] = L"http://127.0.0.1:8080/fs";

// Windows drops trailing dots and blanks from a name, so a name made only of
// them ("..", ". .", "...") climbs up or names the folder itself. "." alone
// stays where it is and is allowed.
template <typename Text>
bool IsClimbingName(const Text& name) {
    if (name.empty()) return false;
    if (name.size() == 1 && name[0] == '.') return false;
    for (auto c : name) {
        if (c != '.' && c != ' ') return false;
    }
    return true;
}

template <typename Text>
bool HasClimbingName(const Text& path, typename Text::value_type separatorA,
                     typename Text::value_type separatorB) {
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = begin;
        while (end < path.size() && path[end] != separatorA && path[end] != separatorB) ++end;
        if (IsClimbingName(path.substr(begin, end - begin))) return true;
        begin = end + 1;
    }
    return false;
}

std::string SwapSeparators(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        } else if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

void CheckAccepted(const std::string& path) {
    FUZZ_CHECK(path.find(':') == std::string::npos);
    FUZZ_CHECK(path.front() != '/' && path.front() != '\\');
    FUZZ_CHECK(!HasClimbingName(path, '/', '\\'));

    // The decoding is lossless, so what the checks above saw in the bytes is what
    // every converter gives; converters differ only on damaged sequences.
    const std::wstring local = LocalPathOf(path);
    std::string backslashed = path;
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    FUZZ_CHECK(WideToUtf8(local) == backslashed);
    FUZZ_CHECK(!local.empty());
    FUZZ_CHECK(local.front() != L'\\');
    FUZZ_CHECK(local.find(L':') == std::wstring::npos);
    FUZZ_CHECK(local.find(L'/') == std::wstring::npos);
    FUZZ_CHECK(!HasClimbingName(local, L'\\', L'\\'));

    const std::wstring base = std::wstring(kServerUrl) + L"/";
    const std::wstring url = FileUrlOf(kServerUrl, path);
    FUZZ_CHECK(url.compare(0, base.size(), base) == 0);
    const std::wstring below = url.substr(base.size());
    FUZZ_CHECK(!below.empty());
    FUZZ_CHECK(below.front() != L'/');
    FUZZ_CHECK(below.find(L'\\') == std::wstring::npos);
    FUZZ_CHECK(!HasClimbingName(below, L'/', L'/'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    const bool accepted = IsSafeListPath(path);

    // Slashes and backslashes are the same separator: a path is judged, stored
    // and requested the same whichever it is written with.
    const std::string swapped = SwapSeparators(path);
    FUZZ_CHECK(IsSafeListPath(swapped) == accepted);
    FUZZ_CHECK(LocalPathOf(swapped) == LocalPathOf(path));
    FUZZ_CHECK(FileUrlOf(kServerUrl, swapped) == FileUrlOf(kServerUrl, path));

    if (accepted) CheckAccepted(path);
    return 0;
}
