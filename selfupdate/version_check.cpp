#include "selfupdate/version_check.h"

#include <cwchar>

std::string TrimVersionText(const std::string& body) {
    const char* const blanks = " \t\r\n";
    size_t first = body.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    size_t last = body.find_last_not_of(blanks);
    return body.substr(first, last - first + 1);
}

PatcherVersionNumber ScanVersion(const std::wstring& text) {
    PatcherVersionNumber version;
    int parts[4] = {0, 0, 0, 0};
    std::swscanf(text.c_str(), L"%d.%d.%d.%d", &parts[0], &parts[1], &parts[2], &parts[3]);
    for (int i = 0; i < 4; ++i) version.parts[i] = parts[i];
    return version;
}

bool IsNewerVersion(const PatcherVersionNumber& published, const PatcherVersionNumber& own) {
    for (int i = 0; i < 4; ++i) {
        if (published.parts[i] > own.parts[i]) return true;
        if (published.parts[i] < own.parts[i]) return false;
    }
    return false;
}
