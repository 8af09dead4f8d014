#include "tools/publish/publish/list_path_rules.h"

#include <map>

#include "base/ascii_case.h"
#include "base/names_and_limits.h"
#include "base/text.h"
#include "engine/path_safety.h"
#include "tools/publish/publish/tool_files.h"

namespace {

// Bytes the list parser splits fields at, and LF, which ends a line.
bool IsListSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char32_t FoldCodePoint(char32_t c) {
    if (c < 0x80) return AsciiLowerChar(c);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    // Latin Extended-A alternates capital and small letters, in runs that
    // start on an even or an odd code point.
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
        return c | 1;
    }
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

}  // namespace

std::string ListPathProblem(const std::string& path) {
    if (!IsValidUtf8(path)) return "the name is not valid UTF-8, and the list is UTF-8";
    for (char c : path) {
        if (IsListSpace(c)) return "the name holds white space, which separates the fields of a list line";
    }
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "the name holds a control character";
    }
    for (char c : path) {
        switch (c) {
            case '\\': case '<': case '>': case ':': case '"': case '|': case '?': case '*':
                return std::string("the name holds '") + c + "', which a Windows file name cannot hold";
            case '%': case '#':
                // The patcher puts the path into the URL as it is, without encoding.
                return std::string("the name holds '") + c + "', which a URL cannot carry unencoded";
            default:
                break;
        }
    }
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find('/', begin);
        if (end == std::string::npos) end = path.size();
        std::string name = path.substr(begin, end - begin);
        // Windows drops a trailing dot, so "a." and "a" would be one file there.
        if (!name.empty() && name.back() == '.' && name != "." && name != "..") {
            return "a name ends with a dot, which Windows drops";
        }
        begin = end + 1;
    }
    // The tool's own files in the server folder: the server never serves such a
    // name, and a publish would take it for a file a stopped publish left behind.
    const std::string fileName = path.substr(path.rfind('/') + 1);
    if (FoldCaseKey(fileName).compare(0, sizeof kToolFilePrefix - 1, kToolFilePrefix) == 0) {
        return std::string("the name begins with ") + kToolFilePrefix + ", which the publishing tool keeps for its own files";
    }
    // The server's own files, and the patcher's own files in the game folder:
    // a game file under one of these names would overwrite or shadow them.
    // The signatures of a signed release sit beside what they sign.
    const std::string reservedRootNames[] = {kPatchListName.utf8, kVersionFileName.utf8, kPatcherExeName.utf8,
                                             std::string(kPatchListName.utf8) + kSignatureSuffix.utf8,
                                             std::string(kPatcherExeName.utf8) + kSignatureSuffix.utf8,
                                             std::string(kPatcherExeName.utf8) + kNewPatcherSuffix.utf8,
                                             kLogFileName.utf8, kReleaseStateFileName.utf8};
    const std::string key = FoldCaseKey(path);
    const std::string rootName = key.substr(0, key.find('/'));
    for (const std::string& reserved : reservedRootNames) {
        if (rootName == FoldCaseKey(reserved)) return "the name is the patcher's or the server's own file";
    }
    if (!IsSafeListPath(path)) {
        return "the patcher refuses this path (it leaves the game folder, names a device or begins with the "
               "patcher's release record)";
    }
    return "";
}

std::string FoldCaseKey(const std::string& path) {
    std::u32string text = DecodeUtf8(path);
    for (char32_t& c : text) c = FoldCodePoint(c);
    return EncodeUtf8(text);
}

std::vector<std::string> FindNameCollisions(const std::vector<std::string>& paths) {
    std::vector<std::string> problems;
    std::map<std::string, std::string> files;    // folded key -> first path
    std::map<std::string, std::string> folders;  // folded key -> a path inside it
    for (const std::string& path : paths) {
        const std::string key = FoldCaseKey(path);
        auto inserted = files.emplace(key, path);
        if (!inserted.second) {
            problems.push_back("'" + inserted.first->second + "' and '" + path +
                               "' differ only in letter case: on Windows they are one file");
        }
        for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
            folders.emplace(key.substr(0, slash), path);
        }
    }
    for (const auto& folder : folders) {
        auto file = files.find(folder.first);
        if (file != files.end()) {
            problems.push_back("'" + file->second + "' is a file, but '" + folder.second +
                               "' needs a folder of that name");
        }
    }
    for (const auto& file : files) {
        const std::string staging = file.first + kDownloadSuffix.utf8;
        std::string other;
        auto clashingFile = files.find(staging);
        auto clashingFolder = folders.find(staging);
        if (clashingFile != files.end()) other = clashingFile->second;
        else if (clashingFolder != folders.end()) other = clashingFolder->second;
        if (!other.empty()) {
            problems.push_back("'" + file.second + "' is downloaded to '" + file.second +
                               ".tmp' first, which '" + other + "' also needs");
        }
    }
    return problems;
}
