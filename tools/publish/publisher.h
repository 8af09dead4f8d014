#pragma once

#include <filesystem>
#include <ostream>
#include <string>

// What one run of the tool publishes.
struct PublishOptions {
    std::filesystem::path gameFolder;
    std::filesystem::path serverFolder;
    std::string patcherVersion;         // empty: the version file is left alone
    std::filesystem::path patcherExe;   // empty: the executable is left alone
    std::filesystem::path signingKey;   // empty: nothing is signed
    bool quiet = false;                 // no summary and no progress lines
};

// Copies the game files into the server folder, then the new patcher and its
// version file when given, and writes patchlist.txt last, so the list names only
// files that are already in place. Refuses the whole run, before anything is
// written, when any game file cannot be listed. Reports on `out` (summary) and
// `err` (progress, refusals, failures); true when everything was published.
bool Publish(const PublishOptions& options, std::ostream& out, std::ostream& err);
