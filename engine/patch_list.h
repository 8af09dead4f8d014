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

// One list line as the publishing tool writes it: "path md5 size" and LF. The
// path must hold no white space, or the line would not parse back to the entry.
std::string FormatPatchListLine(const PatchFile& entry);

