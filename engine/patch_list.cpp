#include "engine/patch_list.h"

#include <sstream>

namespace {

const char* const kTrimSet = " \t\r\n";

bool IsFieldSpace(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::vector<PatchFile> ParsePatchList(const std::string& text) {
    std::vector<PatchFile> files;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        std::string line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        size_t first = line.find_first_not_of(kTrimSet);
        if (first == std::string::npos) continue;
        size_t last = line.find_last_not_of(kTrimSet);
        line = line.substr(first, last - first + 1);

        // Fields are runs of non-space; the size is read the way a stream reads an
        // unsigned number, so "12kb" gives 12 and a field without digits gives 0.
        PatchFile entry;
        size_t pos = 0;
        auto nextField = [&]() {
            while (pos < line.size() && IsFieldSpace(line[pos])) ++pos;
            size_t begin = pos;
            while (pos < line.size() && !IsFieldSpace(line[pos])) ++pos;
            return line.substr(begin, pos - begin);
        };
        entry.path = nextField();
        entry.md5 = nextField();
        if (entry.path.empty() || entry.md5.empty()) continue;

        std::istringstream rest(line.substr(pos));
        uint32_t size = 0;
        rest >> size;  // no digits: 0; too large: the largest value
        entry.size = size;
        files.push_back(std::move(entry));
    }
    return files;
}

std::string FormatPatchListLine(const PatchFile& entry) {
    return entry.path + " " + entry.md5 + " " + std::to_string(entry.size) + "\n";
}
