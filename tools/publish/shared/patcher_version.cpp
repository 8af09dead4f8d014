#include "tools/publish/shared/patcher_version.h"

#include <cstdint>

bool ParsePatcherVersion(const std::string& text, std::string& canonical) {
    std::string result;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t begin = pos;
        int64_t value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + (text[pos] - '0');
            if (value > INT32_MAX) return false;
            ++pos;
        }
        if (pos == begin) return false;
        if (part > 0) result += '.';
        result += std::to_string(value);
    }
    if (pos != text.size()) return false;
    canonical = result;
    return true;
}
