#include <windows.h>

#include "base/names_and_limits.h"
#include "engine/patcher.h"
#include "engine/release_signature.h"
#include "selfupdate/self_update.h"

// With a signing key compiled in, the staged executable must carry the
// publisher's signature over the version it was announced under; one that does
// not is deleted before anything could start it. Without a key: true, unasked.
bool Patcher::CheckPatcherSignature(std::wstring& reason) {
    reason.clear();
    const std::string key = CompiledSigningKey();
    if (key.empty()) return true;
    const std::wstring stagingPath = OwnExecutablePath() + kNewPatcherSuffix.wide;
    std::string signature;
    const std::wstring url = config.serverUrl + L"/" + kPatcherExeName.wide + kSignatureSuffix.wide;
    // A Close stops the fetch; the run then ends as cancelled.
    const bool fetched =
        http.DownloadToMemory(url, signature, kLargestSignatureFile, HttpClient::OnStop::Stop);
    if (!fetched) reason = http.ErrorText();
    const bool good = fetched && VerifyPatcherSignature(key, publishedVersion, stagingPath, signature);
    if (!good) DeleteFileW(stagingPath.c_str());
    return good;
}
