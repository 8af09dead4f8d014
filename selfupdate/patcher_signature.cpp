#include <windows.h>

#include "base/names_and_limits.h"
#include "engine/patcher.h"
#include "engine/release_signature.h"
#include "selfupdate/self_update.h"

// With signing keys compiled in, the staged executable must be exactly the one
// the accepted statement names, by size and SHA-256; one that is not is deleted
// before anything could start it. Without keys: true, unchecked.
bool Patcher::CheckStagedPatcher() {
    if (signingKeys.empty()) return true;
    const std::wstring stagingPath = OwnExecutablePath() + kNewPatcherSuffix.wide;
    std::string digest;
    uint64_t size = 0;
    const bool good = release.hasPatcher && Sha256OfFile(stagingPath, digest, size) &&
                      size == release.patcherSize && digest == release.patcherSha256;
    if (!good) DeleteFileW(stagingPath.c_str());
    return good;
}
