#include "engine/path_safety.h"

#include <vector>

#include "base/ascii_case.h"
#include "base/names_and_limits.h"
#include "base/text.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Windows drops trailing dots and blanks from a name, so ".. " means "..".
bool IsDotsAndBlanksOnly(const std::string& name) {
    for (char c : name) {
        if (c != '.' && c != ' ') return false;
    }
    return true;
}

bool IsReservedDeviceName(const std::string& name) {
    // The device is reached whatever the extension: "nul.txt" is NUL too.
    std::string base = AsciiLower(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices) {
        if (base == device) return true;
    }
    const bool port = base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0;
    if (port && base.size() == 4 && base[3] >= '0' && base[3] <= '9') return true;
    // Windows also reads COM and LPT followed by a superscript 1, 2 or 3 as devices.
    if (port && base.size() == 5 && base[3] == '\xC2' &&
        (base[4] == '\xB9' || base[4] == '\xB2' || base[4] == '\xB3')) {
        return true;
    }
    return false;
}

}  // namespace

bool IsSafeListPath(const std::string& path) {
    if (path.empty()) return false;
    if (IsSeparator(path.front())) return false;  // rooted, UNC or \\?\ forms
    for (char c : path) {
        if (c == ':') return false;  // drive letters and alternate data streams
        if (static_cast<unsigned char>(c) < 0x20) return false;
    }
    // Converters disagree on damaged UTF-8: Wine's swallows whatever follows a
    // truncated sequence at the end of the text, so "..\xF4a" decodes to "..".
    // Only a well-formed path means the same file on every system.
    if (!IsValidUtf8(path)) return false;

    size_t begin = 0;
    bool inRoot = true;
    while (begin <= path.size()) {
        size_t end = begin;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::string name = path.substr(begin, end - begin);
        if (!name.empty() && name != ".") {
            if (IsDotsAndBlanksOnly(name)) return false;
            if (IsReservedDeviceName(name)) return false;
            // The release record, as a file or a folder, and its temporary file;
            // "vorlen-release.dat." is the same file on Windows.
            if (inRoot && AsciiLower(name).compare(0, sizeof kReleaseStateFileName.utf8 - 1,
                                                   kReleaseStateFileName.utf8) == 0) {
                return false;
            }
            inRoot = false;
        }
        begin = end + 1;
    }
    // The last component names the file itself and must not be empty or ".".
    size_t lastSep = path.find_last_of("/\\");
    std::string fileName = lastSep == std::string::npos ? path : path.substr(lastSep + 1);
    return !fileName.empty() && fileName != ".";
}
