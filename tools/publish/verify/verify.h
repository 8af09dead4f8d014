#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

// What one verify run checks, and how it reports.
struct VerifyOptions {
    std::string baseUrl;                // as ParseBaseUrl leaves it: no trailing slash
    std::filesystem::path localFolder;  // empty: no comparison with a server folder
    std::vector<std::filesystem::path> publicKeys;  // none: the release statement is not checked
    int timeoutSeconds = 30;            // for a connection, and the window of the minimum rate
    uint64_t minRateBytes = 16 * 1024;  // what must arrive in every window, or the answer stalls
    bool quiet = false;                 // problems only: no summary
    bool progress = false;              // a progress line on `err`, which is a terminal
};

// Fetches, from the base URL, what a patcher fetches: patchlist.txt, then the
// version file and, when that is published, the patcher; then every listed
// file, streamed through MD5 and compared with its listed size and digest. A
// resource fails when less than the minimum rate arrives. With
// a local folder the live list, version file and patcher must also equal the
// folder's. With public keys, the release statement is fetched first and must
// be signed by each key, unexpired, name the list, version and patcher served,
// and be no older than the local folder's release. Writes one line per problem
// and a summary to `out`; true when everything matches.
bool Verify(const VerifyOptions& options, std::ostream& out, std::ostream& err);
