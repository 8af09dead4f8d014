#include <filesystem>
#include <system_error>

#include "base/ascii_case.h"
#include "engine/file_digest.h"
#include "engine/local_path.h"
#include "engine/patcher.h"

bool Patcher::CheckFiles(std::vector<PatchFile>& files) {
    cryptoProvider.Acquire();  // from now on each file's digest gets its context cheaply
    UpdateState state;
    state.fileCount = static_cast<uint32_t>(files.size());
    state.fileIndex = 0;

    for (PatchFile& entry : files) {
        if (cancelRequested.load()) return false;

        std::wstring localPath = LocalPathOf(entry.path);
        state.status = L"Sprawdzanie: " + localPath;
        PublishProgress(state);

        // The non-throwing test: a folder we may not look into must not end the
        // process; such an entry is simply fetched again.
        std::error_code error;
        bool present = std::filesystem::exists(std::filesystem::path(localPath), error);
        if (error || !present) {
            entry.needsUpdate = true;
        } else {
            std::string actual = AsciiLower(fileDigest(localPath));
            entry.needsUpdate = actual != AsciiLower(entry.md5);
        }

        ++state.fileIndex;
        PublishProgress(state);
    }
    return true;
}
