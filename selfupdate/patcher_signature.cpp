#include <windows.h>

#include "engine/patcher.h"
#include "engine/release_signature.h"
#include "selfupdate/self_update.h"

// With a signing key compiled in, the staged executable must carry the
// publisher's signature over the version it was announced under; one that does
// not is deleted before anything could start it. Without a key: true, unasked.
bool Patcher::CheckPatcherSignature() {
    const std::string key = CompiledSigningKey();
    if (key.empty()) return true;
    const std::wstring stagingPath = OwnExecutablePath() + L".new";
    std::string signature;
    const bool good = http.DownloadToMemory(config.serverUrl + L"/Vorlen-Patcher.exe.sig", signature) &&
                      VerifyPatcherSignature(key, publishedVersion, stagingPath, signature);
    if (!good) DeleteFileW(stagingPath.c_str());
    return good;
}
