#include "tools/publish/publisher.h"

#include <fstream>
#include <map>
#include <system_error>
#include <vector>

#include "base/names_and_limits.h"
#include "base/text.h"
#include "engine/patch_list.h"
#include "selfupdate/version_check.h"
#include "tools/publish/format_bytes.h"
#include "tools/publish/game_folder.h"
#include "tools/publish/patcher_version.h"
#include "tools/publish/platform_files.h"
#include "tools/publish/signing_key.h"
#include "tools/publish/staged_write.h"

namespace fs = std::filesystem;

namespace {

const size_t kMostProblemsShown = 100;

// Windows paths stop at 259 characters unless a program opts out, and the
// patcher's paths are the game folder's own path, the listed path and ".tmp".
// Leaving some 60 characters for the game folder is a guess, so this only warns.
const size_t kLongestSafeListPath = 196;

void WarnAboutLongPaths(const std::vector<GameFile>& files, std::ostream& err) {
    size_t count = 0;
    const GameFile* longest = nullptr;
    for (const GameFile& file : files) {
        if (Utf16Length(file.path) <= kLongestSafeListPath) continue;
        ++count;
        if (longest == nullptr || Utf16Length(file.path) > Utf16Length(longest->path)) longest = &file;
    }
    if (count == 0) return;
    err << "vorlen-publish: note: " << count << " path(s) are longer than " << kLongestSafeListPath
        << " characters, the longest " << longest->path << " (" << Utf16Length(longest->path)
        << "); with the game folder's own path they may pass Windows' 259-character limit and fail "
           "to install\n";
}

// True when `inner` is `outer` or lies inside it, compared by path components.
bool IsSameOrInside(const fs::path& inner, const fs::path& outer) {
    auto innerIt = inner.begin();
    for (auto outerIt = outer.begin(); outerIt != outer.end(); ++outerIt, ++innerIt) {
        if (outerIt->empty()) continue;  // the empty element after a trailing separator
        if (innerIt == inner.end() || *innerIt != *outerIt) return false;
    }
    return true;
}

fs::path Resolved(const fs::path& path) {
    std::error_code code;
    fs::path resolved = fs::weakly_canonical(fs::absolute(path, code), code);
    return code ? fs::absolute(path) : resolved;
}

// Progress for large folders: a line every so many files or bytes, to stderr.
class ProgressLines {
public:
    ProgressLines(std::ostream& err, bool quiet, size_t fileCount, uint64_t byteCount)
        : err(err), fileCount(fileCount), byteCount(byteCount),
          enabled(!quiet && (fileCount > kFileStep || byteCount > kByteStep)) {}

    void Report(size_t filesDone, uint64_t bytesDone) {
        if (!enabled) return;
        if (filesDone < nextFiles && bytesDone < nextBytes && filesDone != fileCount) return;
        if (filesDone == fileCount && finished) return;
        finished = filesDone == fileCount;
        err << "vorlen-publish: " << filesDone << "/" << fileCount << " files, " << FormatBytes(bytesDone)
            << " of " << FormatBytes(byteCount) << "\n";
        err.flush();
        nextFiles = filesDone + kFileStep;
        nextBytes = bytesDone + kByteStep;
    }

private:
    static constexpr size_t kFileStep = 1000;
    static constexpr uint64_t kByteStep = 256ull << 20;
    std::ostream& err;
    size_t fileCount;
    uint64_t byteCount;
    bool enabled;
    bool finished = false;
    size_t nextFiles = kFileStep;
    uint64_t nextBytes = kByteStep;
};

bool Refuse(std::ostream& err, const std::string& message) {
    err << "vorlen-publish: " << message << "\n";
    return false;
}

// The new patcher is installed without further checks by every player that
// fetches it, so only something that at least looks like a Windows program goes.
bool CheckPatcherExe(const fs::path& exe, std::ostream& err) {
    std::error_code code;
    if (!fs::is_regular_file(exe, code)) {
        return Refuse(err, "--patcher-exe: " + DisplayPath(exe) + " is not a file");
    }
    const uint64_t size = fs::file_size(exe, code);
    if (code || size == 0 || size > kLargestListedSize) {
        return Refuse(err, "--patcher-exe: " + DisplayPath(exe) + " is empty, unreadable or 4 GiB or larger");
    }
    std::ifstream file(exe, std::ios::binary);
    char magic[2] = {0, 0};
    const bool got = file.read(magic, 2).gcount() == 2;
    if (!got || magic[0] != 'M' || magic[1] != 'Z') {
        return Refuse(err, "--patcher-exe: " + DisplayPath(exe) + " is not a Windows executable");
    }
    return true;
}

bool CheckFolders(const PublishOptions& options, std::ostream& err) {
    std::error_code code;
    if (!fs::is_directory(options.gameFolder, code)) {
        return Refuse(err, "the game folder " + DisplayPath(options.gameFolder) + " is not a folder");
    }
    if (fs::exists(options.serverFolder, code) && !fs::is_directory(options.serverFolder, code)) {
        return Refuse(err, "the server folder " + DisplayPath(options.serverFolder) + " is not a folder");
    }
    const fs::path game = Resolved(options.gameFolder);
    const fs::path server = Resolved(options.serverFolder);
    if (IsSameOrInside(server, game) || IsSameOrInside(game, server)) {
        return Refuse(err, "the game folder and the server folder must not be the same or inside each other");
    }
    return true;
}

// The version file and the executable only work as a pair: a newer version
// without the executable makes every player ask for a file that is not there.
bool CheckPatcherPair(const PublishOptions& options, std::ostream& err) {
    if (options.patcherVersion.empty() && options.patcherExe.empty()) return true;
    std::error_code code;
    const bool hasExe = !options.patcherExe.empty() || fs::exists(options.serverFolder / kPatcherExeName.utf8, code);
    const bool hasVersion =
        !options.patcherVersion.empty() || fs::exists(options.serverFolder / kVersionFileName.utf8, code);
    if (!hasExe) {
        return Refuse(err, "--patcher-version needs --patcher-exe: the server folder has no " +
                               std::string(kPatcherExeName.utf8));
    }
    if (!hasVersion) {
        return Refuse(err, "--patcher-exe needs --patcher-version: the server folder has no " +
                               std::string(kVersionFileName.utf8));
    }
    return true;
}

// The list as it will be served must read back as exactly these entries.
bool ListReadsBack(const std::vector<PatchFile>& meant, const std::string& written, std::string& reason) {
    std::vector<PatchFile> parsed = ParsePatchList(written);
    if (parsed.size() != meant.size()) {
        reason = "it parses into " + std::to_string(parsed.size()) + " entries instead of " +
                 std::to_string(meant.size());
        return false;
    }
    for (size_t i = 0; i < meant.size(); ++i) {
        if (parsed[i].path != meant[i].path || parsed[i].md5 != meant[i].md5 ||
            parsed[i].size != meant[i].size || parsed[i].needsUpdate) {
            reason = "its entry " + std::to_string(i + 1) + " does not read back as written";
            return false;
        }
    }
    return true;
}

// What the server folder holds from the previous release: its list's text and,
// by path, the digest and size it recorded for each file.
struct PublishedRelease {
    std::string listText;
    std::map<std::string, PatchFile> entries;
};

PublishedRelease ReadPublishedRelease(const fs::path& serverFolder) {
    PublishedRelease release;
    if (!ReadWholeFile(serverFolder / kPatchListName.utf8, release.listText, kLargestServerText)) {
        release.listText.clear();
        return release;
    }
    for (PatchFile& entry : ParsePatchList(release.listText)) {
        if (entry.md5.size() == 32) release.entries[entry.path] = entry;
    }
    return release;
}

bool IsFileOfSize(const fs::path& path, uint64_t size) {
    std::error_code code;
    return fs::is_regular_file(path, code) && fs::file_size(path, code) == size && !code;
}

// Puts `source` at `target` unless the bytes there are already the same, which
// `recorded` (a digest and size the previous release wrote down, or empty)
// vouches for together with the target's size. A file rewritten with the same
// bytes would still get a new time and inode, and with them a new ETag and
// Last-Modified: every cache in front of the server would fetch it again. A
// file that differs is read twice (digest, then copy); a new one, or one whose
// size changed, is read once, digested while it is copied.
bool PlaceFile(const fs::path& source, const fs::path& target, uint64_t expectedSize,
               const PatchFile* recorded, const CopyProgress& onBytes, CopiedFile& placed, bool& written,
               std::string& error) {
    written = false;
    if (recorded != nullptr && recorded->size == expectedSize && IsFileOfSize(target, expectedSize)) {
        if (!DigestFile(source, kLargestListedSize, onBytes, placed, error)) return false;
        if (placed.md5 == recorded->md5 && placed.size == recorded->size) return true;
    }
    written = true;
    return CopyFileWithDigest(source, target, kLargestListedSize, onBytes, placed, error);
}

}  // namespace

bool Publish(const PublishOptions& options, std::ostream& out, std::ostream& err) {
    std::string version;
    if (!options.patcherVersion.empty() && !ParsePatcherVersion(options.patcherVersion, version)) {
        return Refuse(err, "--patcher-version: '" + options.patcherVersion +
                               "' is not four numbers joined by dots, such as 1.0.6.0");
    }
    if (!CheckFolders(options, err)) return false;
    if (!options.patcherExe.empty() && !CheckPatcherExe(options.patcherExe, err)) return false;
    if (!CheckPatcherPair(options, err)) return false;
    SigningKey signingKey;
    if (!options.signingKey.empty()) {
        std::string keyError;
        if (!signingKey.LoadPrivate(options.signingKey, keyError)) return Refuse(err, "--signing-key: " + keyError);
    }

    std::vector<GameFile> files;
    std::vector<std::string> problems;
    ScanGameFolder(options.gameFolder, files, problems);
    if (!problems.empty()) {
        err << "vorlen-publish: nothing was published; these files cannot be listed:\n";
        for (size_t i = 0; i < problems.size() && i < kMostProblemsShown; ++i) err << "  " << problems[i] << "\n";
        if (problems.size() > kMostProblemsShown) {
            err << "  ... and " << problems.size() - kMostProblemsShown << " more\n";
        }
        return false;
    }
    if (files.empty()) {
        // The patcher takes an empty list for a damaged one.
        return Refuse(err, "the game folder " + DisplayPath(options.gameFolder) + " holds no files");
    }

    // Every line has the path, 32 digits, the size and three separators.
    size_t listBytes = 0;
    for (const GameFile& file : files) listBytes += file.path.size() + 32 + std::to_string(file.size).size() + 3;
    if (listBytes > kLargestServerText) {
        return Refuse(err, "the list would take " + FormatBytes(listBytes) +
                               ", and the patcher refuses a list over 16 MiB; nothing was published");
    }
    WarnAboutLongPaths(files, err);

    uint64_t totalBytes = 0;
    for (const GameFile& file : files) totalBytes += file.size;
    ProgressLines progress(err, options.quiet, files.size(), totalBytes);

    const PublishedRelease previous = ReadPublishedRelease(options.serverFolder);
    std::vector<PatchFile> entries;
    uint64_t bytesDone = 0;
    size_t filesWritten = 0;
    std::string error;
    for (const GameFile& file : files) {
        CopiedFile copied;
        bool written = false;
        auto onBytes = [&](uint64_t fileBytes) { progress.Report(entries.size(), bytesDone + fileBytes); };
        const auto recorded = previous.entries.find(file.path);
        if (!PlaceFile(file.source, PathBelow(options.serverFolder, file.path), file.size,
                       recorded != previous.entries.end() ? &recorded->second : nullptr, onBytes, copied,
                       written, error)) {
            return Refuse(err, error + "; the list was not changed");
        }
        PatchFile entry;
        entry.path = file.path;
        entry.md5 = copied.md5;
        entry.size = static_cast<uint32_t>(copied.size);
        entries.push_back(entry);
        bytesDone += copied.size;
        if (written) ++filesWritten;
        progress.Report(entries.size(), bytesDone);
    }

    bool exeWritten = false;
    if (!options.patcherExe.empty()) {
        // The executable is in no list: the copy in place is its own record.
        const fs::path target = options.serverFolder / kPatcherExeName.utf8;
        PatchFile inPlace;
        CopiedFile digested;
        std::error_code code;
        const uint64_t exeSize = fs::file_size(options.patcherExe, code);
        const bool comparable = !code && IsFileOfSize(target, exeSize) &&
                                DigestFile(target, kLargestListedSize, nullptr, digested, error);
        inPlace.md5 = digested.md5;
        inPlace.size = static_cast<uint32_t>(digested.size);
        CopiedFile copied;
        if (!PlaceFile(options.patcherExe, target, exeSize, comparable ? &inPlace : nullptr, nullptr, copied,
                       exeWritten, error)) {
            return Refuse(err, error + "; the list was not changed");
        }
    }
    // The copies reach the disk before any file that points players at them.
    if (filesWritten > 0 || exeWritten) FlushAllToDisk();
    std::string versionInPlace;
    // A player fetches the version, the executable and then its signature: the
    // signature is in place before a new version points anyone at it.
    // The executable in place is signed whenever a version names it, so a first
    // signed release also covers a patcher published before.
    bool exeSignatureWritten = false;
    std::error_code exeCode;
    if (!options.signingKey.empty() && fs::exists(options.serverFolder / kPatcherExeName.utf8, exeCode)) {
        std::string versionText = version;
        std::string exeBytes;
        if (versionText.empty() && ReadWholeFile(options.serverFolder / kVersionFileName.utf8, versionInPlace, 64)) {
            versionText = TrimVersionText(versionInPlace);
        }
        error = "cannot read it";
        if (!versionText.empty() &&
            (!ReadWholeFile(options.serverFolder / kPatcherExeName.utf8, exeBytes, kLargestListedSize) ||
             !PlaceSignature(signingKey,
                             options.serverFolder / (std::string(kPatcherExeName.utf8) + kSignatureSuffix.utf8),
                             PatcherSignedMessage(versionText, exeBytes), exeSignatureWritten, error))) {
            return Refuse(err, "cannot sign " + std::string(kPatcherExeName.utf8) + ": " + error +
                                   "; the list was not changed");
        }
    }
    const bool versionWritten =
        !version.empty() &&
        !(ReadWholeFile(options.serverFolder / kVersionFileName.utf8, versionInPlace, 64) &&
          versionInPlace == version + "\n");
    if (versionWritten) {
        auto isVersion = [&](const std::string& written, std::string& reason) {
            std::string readBack;
            std::string line = written.substr(0, written.find('\n'));
            if (ParsePatcherVersion(line, readBack) && readBack == version) return true;
            reason = "it does not read back as " + version;
            return false;
        };
        if (!WriteFileAtomically(options.serverFolder / kVersionFileName.utf8, version + "\n", isVersion, error)) {
            return Refuse(err, error + "; the list was not changed");
        }
    }

    std::string list;
    for (const PatchFile& entry : entries) list += FormatPatchListLine(entry);
    auto readsBack = [&](const std::string& written, std::string& reason) {
        return ListReadsBack(entries, written, reason);
    };
    // An unchanged list keeps its time and ETag too: caches then keep answering
    // "not modified" for it.
    const bool listWritten = list != previous.listText;
    // The signature goes first: a list in place without it is refused by keyed patchers.
    bool listSignatureWritten = false;
    if (!options.signingKey.empty() &&
        !PlaceSignature(signingKey, options.serverFolder / (std::string(kPatchListName.utf8) + kSignatureSuffix.utf8),
                        list, listSignatureWritten, error)) {
        return Refuse(err, "cannot sign " + std::string(kPatchListName.utf8) + ": " + error + "; the list was not changed");
    }
    if (listWritten && !WriteFileAtomically(options.serverFolder / kPatchListName.utf8, list, readsBack, error)) {
        return Refuse(err, error);
    }

    if (totalBytes > kLargestListedSize) {
        err << "vorlen-publish: note: the files add up to 4 GiB or more; the patcher counts its "
               "totals in 32 bits, so its progress figures for a full download will be off\n";
    }
    if (!options.quiet) {
        out << "Published " << entries.size() << " files (" << FormatBytes(totalBytes) << ") to "
            << DisplayPath(options.serverFolder) << "\n";
        out << "  game files: " << filesWritten << " written, " << entries.size() - filesWritten
            << " already in place\n";
        out << "  " << kPatchListName.utf8 << ": " << entries.size() << " entries"
            << (listWritten ? "" : " (unchanged)") << "\n";
        if (!options.patcherExe.empty()) {
            out << "  " << kPatcherExeName.utf8 << ": " << DisplayPath(options.patcherExe)
                << (exeWritten ? "" : " (unchanged)") << "\n";
        }
        if (!options.signingKey.empty()) {
            out << "  signatures: " << (listSignatureWritten + exeSignatureWritten) << " written\n";
        }
        if (!version.empty()) out << "  " << kVersionFileName.utf8 << ": " << version << (versionWritten ? "" : " (unchanged)") << "\n";
    }
    return true;
}
