#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One line of the server's patch list, fields as written there.
struct PatchFile {
    std::string path;  // UTF-8, slash or backslash separators
    std::string md5;
    uint32_t size = 0;
    bool needsUpdate = false;
};

// Lines split at LF, trimmed of " \t\r\n"; fields: path, md5, size. Lines with
// fewer than two fields are dropped. Never fails: bad text gives fewer entries.
std::vector<PatchFile> ParsePatchList(const std::string& text);

// Lower-cases the ASCII letters A-Z only.
std::string AsciiLower(std::string text);
