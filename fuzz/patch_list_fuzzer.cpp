// The patch list as the server sends it: any bytes at all.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/patch_list.h"
#include "fuzz/fuzz_check.h"

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool HasWhiteSpace(const std::string& field) {
    for (char c : field) {
        if (IsWhiteSpace(c)) return true;
    }
    return false;
}

// Pieces between LFs; a final LF ends the last line and starts no new one.
size_t CountLines(const std::string& text) {
    size_t lines = 0;
    for (char c : text) {
        if (c == '\n') ++lines;
    }
    if (!text.empty() && text.back() != '\n') ++lines;
    return lines;
}

bool SameEntries(const std::vector<PatchFile>& a, const std::vector<PatchFile>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].path != b[i].path || a[i].md5 != b[i].md5 || a[i].size != b[i].size ||
            a[i].needsUpdate != b[i].needsUpdate) {
            return false;
        }
    }
    return true;
}

// Every LF preceded by a CR, as a list saved with Windows line ends.
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// One CR dropped before each LF, as the same list converted to Unix line ends.
std::string WithoutCrBeforeLf(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

// The list as the publishing tool writes it for these entries.
std::string Format(const std::vector<PatchFile>& files) {
    std::string out;
    for (const PatchFile& file : files) out += FormatPatchListLine(file);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<PatchFile> files = ParsePatchList(text);

    FUZZ_CHECK(files.size() <= CountLines(text));
    size_t searchFrom = 0;
    for (const PatchFile& file : files) {
        FUZZ_CHECK(!file.path.empty());
        FUZZ_CHECK(!file.md5.empty());
        FUZZ_CHECK(!HasWhiteSpace(file.path));
        FUZZ_CHECK(!HasWhiteSpace(file.md5));
        FUZZ_CHECK(!file.needsUpdate);
        // Paths are kept as written, in list order.
        size_t at = text.find(file.path, searchFrom);
        FUZZ_CHECK(at != std::string::npos);
        searchFrom = at + 1;
    }

    FUZZ_CHECK(SameEntries(ParsePatchList(text), files));
    FUZZ_CHECK(SameEntries(ParsePatchList(WithCrLf(text)), files));
    FUZZ_CHECK(SameEntries(ParsePatchList(WithoutCrBeforeLf(text)), files));

    const std::string formatted = Format(files);
    const std::vector<PatchFile> reparsed = ParsePatchList(formatted);
    FUZZ_CHECK(SameEntries(reparsed, files));
    FUZZ_CHECK(Format(reparsed) == formatted);
    return 0;
}
