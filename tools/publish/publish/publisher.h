#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tools/publish/signing/statement_expiry.h"

// What one run of the tool publishes.
struct PublishOptions {
    std::filesystem::path gameFolder;
    std::filesystem::path serverFolder;
    std::string patcherVersion;         // empty: the version file is left alone
    std::filesystem::path patcherExe;   // empty: the executable is left alone
    std::vector<std::filesystem::path> signingKeys;  // none: nothing is signed
    StatementExpiry expiry;             // of the release statement, when signed
    bool quiet = false;                 // no summary and no progress lines
    bool dryRun = false;                // say what would be written; write nothing
    bool checkInPlace = false;          // read every file in place instead of trusting the record
    bool removeSignatures = false;      // an unsigned release into a signed folder removes the signatures
    int waitSeconds = 0;                // how long to wait for another publish into the folder
};

// Copies the game files into the server folder, then the new patcher and its
// version file when given, and writes patchlist.txt last, so the list names only
// files that are already in place; then the record of what it placed. Holds the
// folder's publish lock throughout. Refuses the whole run, before anything is
// written, when any game file cannot be listed, or when an unsigned release would
// leave a signature in place that does not match. A signed release gets one
// statement (patchlist.txt.sig), written before the version file and the list,
// signed by every key given. Reports on `out` (summary) and
// `err` (progress, refusals, failures); true when everything was published.
bool Publish(const PublishOptions& options, std::ostream& out, std::ostream& err);
