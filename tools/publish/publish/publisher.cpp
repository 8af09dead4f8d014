#include "tools/publish/publish/publisher.h"

#include <fstream>
#include <map>
#include <memory>
#include <system_error>
#include <vector>

#include "base/names_and_limits.h"
#include "base/text.h"
#include "engine/patch_list.h"
#include "tools/publish/shared/format_bytes.h"
#include "tools/publish/publish/game_folder.h"
#include "tools/publish/shared/patcher_version.h"
#include "tools/publish/publish/placement.h"
#include "tools/publish/shared/platform_files.h"
#include "tools/publish/publish/publish_lock.h"
#include "tools/publish/publish/publish_record.h"
#include "tools/publish/signing/release_signing.h"
#include "tools/publish/publish/staged_write.h"
#include "tools/publish/publish/tool_files.h"

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

// What the server folder's live list names: its text and, by path, the digest
// it lists.
struct PublishedRelease {
    std::string listText;
    std::map<std::string, std::string> digests;
};

PublishedRelease ReadPublishedRelease(const fs::path& serverFolder) {
    PublishedRelease release;
    if (!ReadWholeFile(serverFolder / kPatchListName.utf8, release.listText, kLargestServerText)) {
        release.listText.clear();
        return release;
    }
    for (PatchFile& entry : ParsePatchList(release.listText)) release.digests[entry.path] = entry.md5;
    return release;
}

// The signature files in the folder, by name: the statement, and the patcher's
// signature that older versions of the tool wrote.
std::vector<std::string> SignaturesInPlace(const fs::path& serverFolder) {
    std::vector<std::string> found;
    for (const std::string& name : {StatementFileName(), RetiredPatcherSignatureName()}) {
        std::error_code code;
        if (fs::exists(serverFolder / name, code)) found.push_back(name);
    }
    return found;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " and ") + name;
    return joined;
}

// What the server folder must allow before anything is written into it.
bool CheckServerFolder(const PublishOptions& options, std::ostream& err) {
    if (!CheckPatcherPair(options, err)) return false;
    if (!options.signingKeys.empty() || options.removeSignatures) return true;
    // A new list beside the old release's signature makes every patcher built
    // with the key refuse the release.
    const std::vector<std::string> signatures = SignaturesInPlace(options.serverFolder);
    if (signatures.empty()) return true;
    return Refuse(err, "the server folder holds " + JoinNames(signatures) +
                           " of a signed release, and this release is not signed: patchers built with the public "
                           "key would refuse it. Sign it with --signing-key, or give --remove-signatures to remove " +
                           (signatures.size() > 1 ? "them" : "it") +
                           " once the new list is in place (patchers built with the key then refuse every "
                           "release); nothing was written");
}

// Says what players get after a publish that stopped part-way.
std::string WhatIsLive(const PublishedRelease& previous, size_t changedInPlace, bool exeWritten) {
    std::string text = previous.listText.empty() ? "no patchlist.txt has been published yet"
                                                 : "patchlist.txt still names the previous release";
    if (changedInPlace > 0) {
        text += ", and " + std::to_string(changedInPlace) +
                (changedInPlace == 1 ? " changed file is" : " changed files are") +
                " already in place: players who fetch " + (changedInPlace == 1 ? "it" : "them") +
                " before a publish completes get a digest error";
    } else if (!previous.listText.empty()) {
        text += ", and no changed file is in place yet";
    }
    if (exeWritten) text += "; the new " + std::string(kPatcherExeName.utf8) + " is already in place";
    return text;
}

// One run of the tool: what it was asked, what it found, what it did so far.
class PublishRun {
public:
    PublishRun(const PublishOptions& options, std::ostream& out, std::ostream& err)
        : options(options), out(out), err(err) {}

    bool Run() {
        if (!CheckInputs() || !CheckServerFolder(options, err)) return false;
        PublishLock lock;
        if (!options.dryRun && !TakeFolder(lock)) return false;
        ReadWhatIsInPlace();
        if (!PlaceFiles()) return false;
        if (options.dryRun) return DryRunReport();
        if (!PublishListAndSignatures() || !RemoveSignaturesIfAsked()) return false;
        SaveRecord(true);
        PrintSummary();
        return true;
    }

private:
    bool CheckInputs() {
        if (!options.patcherVersion.empty() && !ParsePatcherVersion(options.patcherVersion, version)) {
            return Refuse(err, "--patcher-version: '" + options.patcherVersion +
                                   "' is not four numbers joined by dots, such as 1.0.6.0");
        }
        if (!CheckFolders(options, err)) return false;
        if (!options.patcherExe.empty()) {
            if (!CheckPatcherExe(options.patcherExe, err)) return false;
            exe.key = kPatcherExeName.utf8;
            exe.source = options.patcherExe;
            exe.target = options.serverFolder / kPatcherExeName.utf8;
            if (!ReadFileStamp(exe.source, true, exe.sourceStamp)) {
                return Refuse(err, "--patcher-exe: cannot read " + DisplayPath(exe.source));
            }
        }
        std::string keyError;
        if (!LoadKeys(options.signingKeys, true, signingKeys, keyError)) return Refuse(err, "--signing-key: " + keyError);

        std::vector<GameFile> scanned;
        std::vector<std::string> problems;
        ScanGameFolder(options.gameFolder, scanned, problems);
        if (!problems.empty()) {
            err << "vorlen-publish: nothing was published; these files cannot be listed:\n";
            for (size_t i = 0; i < problems.size() && i < kMostProblemsShown; ++i) err << "  " << problems[i] << "\n";
            if (problems.size() > kMostProblemsShown) {
                err << "  ... and " << problems.size() - kMostProblemsShown << " more\n";
            }
            return false;
        }
        if (scanned.empty()) {
            // The patcher takes an empty list for a damaged one.
            return Refuse(err, "the game folder " + DisplayPath(options.gameFolder) + " holds no files");
        }
        // Every line has the path, 32 digits, the size and three separators.
        size_t listBytes = 0;
        for (const GameFile& file : scanned) {
            listBytes += file.path.size() + 32 + std::to_string(file.stamp.size).size() + 3;
        }
        if (listBytes > kLargestServerText) {
            return Refuse(err, "the list would take " + FormatBytes(listBytes) +
                                   ", and the patcher refuses a list over 16 MiB; nothing was published");
        }
        WarnAboutLongPaths(scanned, err);
        for (const GameFile& file : scanned) {
            files.push_back(FileToPlace{file.path, file.source, PathBelow(options.serverFolder, file.path), file.stamp});
            totalBytes += file.stamp.size;
        }
        return true;
    }

    // Takes the folder's lock, checks the folder again (a publish waited for may
    // have changed it), and clears what a stopped publish left behind.
    bool TakeFolder(PublishLock& lock) {
        std::error_code code;
        fs::create_directories(options.serverFolder, code);
        if (code) {
            return Refuse(err, "cannot create the server folder " + DisplayPath(options.serverFolder) + ": " +
                                   code.message());
        }
        auto onWait = [&](const std::string& holder) {
            if (options.quiet) return;
            err << "vorlen-publish: waiting up to " << options.waitSeconds << " s for " << holder
                << ", which is publishing into " << DisplayPath(options.serverFolder) << "\n";
            err.flush();
        };
        std::string holder, error;
        switch (lock.Take(options.serverFolder, options.waitSeconds, onWait, holder, error)) {
            case PublishLock::Result::Taken:
                break;
            case PublishLock::Result::Held:
                return Refuse(err, "another publish into " + DisplayPath(options.serverFolder) + " is running (" +
                                       holder + "); nothing was written. " +
                                       (options.waitSeconds > 0
                                            ? "It still ran after " + std::to_string(options.waitSeconds) + " s."
                                            : "Give --wait SECONDS to wait for it to end."));
            case PublishLock::Result::Failed:
                return Refuse(err, error + "; nothing was written");
        }
        if (!CheckServerFolder(options, err)) return false;
        const size_t leftovers = RemoveLeftoverStagingFiles(options.serverFolder);
        if (leftovers > 0 && !options.quiet) {
            err << "vorlen-publish: removed " << leftovers << " unfinished file(s) that a stopped publish left behind\n";
        }
        return true;
    }

    void ReadWhatIsInPlace() {
        previous = ReadPublishedRelease(options.serverFolder);
        const bool recorded = ReadWholeFile(options.serverFolder / kPublishRecordName, recordText, kLargestRecord) &&
                              ParsePublishRecord(recordText, record);
        trust = options.checkInPlace ? RecordTrust::Distrusted
                                     : recorded ? RecordTrust::Trusted : RecordTrust::Unrecorded;
        // Whatever happens, the record written at the end describes what is in
        // place: it starts as the old one, and each file decided replaces its line.
        next = record;
        next.release = RecordedRelease(recordText);
        std::string problem;
        hasStatement = ReadStatementFile(options.serverFolder / StatementFileName(), inPlaceStatement, problem);
        if (!problem.empty() && !options.quiet) {
            err << "vorlen-publish: note: the " << StatementFileName() << " in place is not a release statement ("
                << problem << "); the release number is taken from " << kPublishRecordName << " alone\n";
        }
        if (trust == RecordTrust::Unrecorded && !previous.listText.empty() && !options.quiet) {
            err << "vorlen-publish: note: " << DisplayPath(options.serverFolder)
                << " has no record of what this tool placed there (" << kPublishRecordName
                << "); the files in place are read once to compare them\n";
        }
    }

    bool PlaceFiles() {
        ProgressLines progress(err, options.quiet, files.size(), totalBytes);
        if (!options.dryRun) flush.reset(new BackgroundFlush(options.serverFolder));
        uint64_t bytesDone = 0;
        for (const FileToPlace& file : files) {
            auto onBytes = [&](uint64_t fileBytes) { progress.Report(entries.size(), bytesDone + fileBytes); };
            RecordedFile placed;
            bool written = false;
            if (!PlaceOne(file, onBytes, placed, written)) return false;
            if (written) {
                ++filesWritten;
                const auto listed = previous.digests.find(file.key);
                if (listed != previous.digests.end() && listed->second != placed.md5) ++changedInPlace;
            }
            PatchFile entry;
            entry.path = file.key;
            entry.md5 = placed.md5;
            entry.size = static_cast<uint32_t>(file.sourceStamp.size);
            entries.push_back(entry);
            bytesDone += file.sourceStamp.size;
            progress.Report(entries.size(), bytesDone);
        }
        if (!exe.key.empty()) {
            RecordedFile placed;
            if (!PlaceOne(exe, nullptr, placed, exeWritten)) return false;
        }
        if (options.dryRun) return true;
        // The copies reach the disk before any file that points players at them.
        flush.reset();
        std::string error;
        if (!FlushCopiesToDisk(options.serverFolder, writtenPaths, error)) return FailPartWay(error);
        return true;
    }

    // Decides one file and, unless this is a dry run, writes it when needed.
    bool PlaceOne(const FileToPlace& file, const CopyProgress& onBytes, RecordedFile& placed, bool& written) {
        const auto recorded = record.files.find(file.key);
        Placement placement;
        std::string error;
        if (!DecidePlacement(file, recorded != record.files.end() ? &recorded->second : nullptr, trust, onBytes,
                             placement, error)) {
            return FailPartWay(error);
        }
        written = false;
        placed = placement.kept;
        if (!placement.write) {
            next.files[file.key] = placed;
            return true;
        }
        if (options.dryRun) {
            plannedWrites.push_back(file.key + " (" + placement.reason + ")");
            // The list's line needs the digest all the same.
            if (placed.md5.empty() && !DigestSourceFile(file, onBytes, placed.md5, error)) return FailPartWay(error);
            written = true;
            return true;
        }
        if (!WriteFileInPlace(file, onBytes, placed, error)) return FailPartWay(error);
        written = true;
        writtenPaths.push_back(file.target);
        flush->Copied(file.sourceStamp.size);
        next.files[file.key] = placed;
        return true;
    }

    std::string ListText() const {
        std::string list;
        for (const PatchFile& entry : entries) list += FormatPatchListLine(entry);
        return list;
    }

    bool VersionChanges() const {
        std::string inPlace;
        return !version.empty() &&
               !(ReadWholeFile(options.serverFolder / kVersionFileName.utf8, inPlace, 64) && inPlace == version + "\n");
    }

    // The number of the release this publish leaves in the folder and, when it
    // is signed, its statement. A number names one content: it goes up whenever
    // the list, the version or the patcher changes (and for a signed release
    // whenever the statement in place does not sign exactly this content under
    // the highest number the folder has seen), and stays when nothing changed.
    // Neither the record nor the statement alone is trusted to hold the highest
    // number: the larger of the two counts.
    bool DecideRelease(const std::string& list, std::string& error) {
        const uint64_t current =
            hasStatement && inPlaceStatement.release > next.release ? inPlaceStatement.release : next.release;
        bool same = current > 0 && !listWritten && !versionWritten && !exeWritten;
        ReleaseStatement fresh;
        if (!signingKeys.empty()) {
            SetListFields(fresh, list);
            std::string versionText = version.empty() ? std::string() : version + "\n";
            if (version.empty() && !ReadWholeFile(options.serverFolder / kVersionFileName.utf8, versionText,
                                                  kLargestServerText)) {
                versionText.clear();
            }
            // The patcher as the folder will hold it: in a dry run a new one is
            // still where it comes from.
            const fs::path exePath =
                options.dryRun && exeWritten ? exe.source : options.serverFolder / kPatcherExeName.utf8;
            std::error_code code;
            if (!versionText.empty() && fs::exists(exePath, code) &&
                !SetPatcherFields(fresh, versionText, exePath, error)) {
                return false;
            }
            same = hasStatement && inPlaceStatement.release == current && SameReleaseContent(inPlaceStatement, fresh);
        }
        if (!same && current == UINT64_MAX) {
            error = "the release number " + std::to_string(current) + " cannot go higher";
            return false;
        }
        release = same ? current : current + 1;
        if (signingKeys.empty()) return true;

        fresh.release = release;
        options.expiry.Apply(fresh, now);
        if (same && SignedByExactly(inPlaceStatement, signingKeys) && options.expiry.Keeps(inPlaceStatement, now)) {
            statement = inPlaceStatement;
            statementWritten = false;
            return true;
        }
        statementWritten = true;
        statement = fresh;
        return SignStatement(statement, signingKeys, error);
    }

    bool PublishListAndSignatures() {
        std::string error;
        const std::string list = ListText();
        // An unchanged list keeps its time and ETag too: caches then keep answering
        // "not modified" for it.
        listWritten = list != previous.listText;
        versionWritten = VersionChanges();
        if (!DecideRelease(list, error)) return FailPartWay("cannot sign the release: " + error);
        const std::string warning = signingKeys.empty() ? std::string() : ExpiryWarning(statement, now);
        if (!warning.empty()) err << "vorlen-publish: warning: " << warning << "\n";

        // The statement goes first, then the version, then the list: each later
        // one is what players fetch after it. Should the version or the list
        // fail, the old statement (and with it the version it signs) goes back.
        const fs::path statementFile = options.serverFolder / StatementFileName();
        const fs::path versionFile = options.serverFolder / kVersionFileName.utf8;
        std::string oldStatement, oldVersion;
        const bool hadStatement = ReadWholeFile(statementFile, oldStatement, kLargestReleaseStatement);
        const bool hadVersion = ReadWholeFile(versionFile, oldVersion, kLargestServerText);
        auto putBack = [&](bool version) {
            std::string ignored;
            std::error_code code;
            if (!statementWritten) return;
            if (hadStatement) WriteFileAtomically(statementFile, oldStatement, nullptr, ignored);
            else fs::remove(statementFile, code);
            if (!version) return;
            if (hadVersion) WriteFileAtomically(versionFile, oldVersion, nullptr, ignored);
            else fs::remove(versionFile, code);
        };
        if (statementWritten) {
            // Once signed, a number is never signed again for another content,
            // even when this publish fails from here on.
            next.release = release;
            if (!WriteStatementFile(statementFile, statement, signingKeys, error)) {
                return FailPartWay("cannot write " + StatementFileName() + ": " + error);
            }
        }
        if (versionWritten) {
            auto isVersion = [&](const std::string& written, std::string& reason) {
                std::string readBack;
                std::string line = written.substr(0, written.find('\n'));
                if (ParsePatcherVersion(line, readBack) && readBack == version) return true;
                reason = "it does not read back as " + version;
                return false;
            };
            if (!WriteFileAtomically(versionFile, version + "\n", isVersion, error)) {
                putBack(false);
                return FailPartWay(error);
            }
        }
        auto readsBack = [&](const std::string& written, std::string& reason) {
            return ListReadsBack(entries, written, reason);
        };
        if (listWritten && !WriteFileAtomically(options.serverFolder / kPatchListName.utf8, list, readsBack, error)) {
            putBack(versionWritten);
            return FailPartWay(error);
        }
        next.release = release;
        if (!signingKeys.empty()) RemoveRetiredSignature();
        return true;
    }

    // The patcher's own signature of older versions of the tool: the statement
    // signs the patcher now, and a signature left behind would only make a later
    // unsigned publish refuse the folder.
    void RemoveRetiredSignature() {
        const fs::path retired = options.serverFolder / RetiredPatcherSignatureName();
        std::error_code code;
        if (!fs::exists(retired, code)) return;
        if (fs::remove(retired, code)) {
            retiredSignatureRemoved = true;
        } else {
            err << "vorlen-publish: warning: cannot remove " << RetiredPatcherSignatureName() << " (" << code.message()
                << "); patchers no longer fetch it\n";
        }
    }

    // Only after the new list is in place: until then keyed patchers still take
    // the previous release. A signature left behind no longer matches the list,
    // so failing to remove one fails the run.
    bool RemoveSignaturesIfAsked() {
        if (!options.removeSignatures) return true;
        std::vector<std::string> removed;
        std::string failed;
        for (const std::string& name : SignaturesInPlace(options.serverFolder)) {
            std::error_code code;
            if (fs::remove(options.serverFolder / name, code)) {
                removed.push_back(name);
            } else {
                failed += (failed.empty() ? "" : ", ") + name + " (" + code.message() + ")";
            }
        }
        signaturesRemoved = removed.size();
        if (!removed.empty()) {
            err << "vorlen-publish: warning: removed " << JoinNames(removed)
                << ": patchers built with the public key now refuse every release\n";
        }
        if (failed.empty()) return true;
        SaveRecord(true);
        return Refuse(err, "the new patchlist.txt is in place, but this could not be removed: " + failed +
                               "; remove it by hand, it no longer matches what it signs");
    }

    // Writes the record of what is in place (at the end, or after a failure: the
    // files not reached keep their old lines, which stay true).
    void SaveRecord(bool complete) {
        if (options.dryRun) return;
        if (complete) {
            // Files the release no longer has are left alone in the folder but no
            // longer recorded; the patcher's file stays recorded while it is there.
            PublishRecord kept;
            kept.release = next.release;
            for (const FileToPlace& file : files) kept.files[file.key] = next.files[file.key];
            const auto patcher = next.files.find(kPatcherExeName.utf8);
            if (patcher != next.files.end()) kept.files.insert(*patcher);
            next = kept;
        }
        const std::string text = FormatPublishRecord(next);
        if (text == recordText) return;
        std::string error;
        if (!WriteFileAtomically(options.serverFolder / kPublishRecordName, text, nullptr, error)) {
            err << "vorlen-publish: warning: " << error << "; the next publish writes the files again\n";
        }
    }

    bool FailPartWay(const std::string& error) {
        SaveRecord(false);
        if (options.dryRun) return Refuse(err, error);
        return Refuse(err, error + "; " + WhatIsLive(previous, changedInPlace, exeWritten));
    }

    bool DryRunReport() {
        const std::string list = ListText();
        listWritten = list != previous.listText;
        versionWritten = VersionChanges();
        std::string error;
        if (!DecideRelease(list, error)) return Refuse(err, "cannot sign the release: " + error);
        if (options.quiet) return true;
        out << "Dry run: nothing was written to " << DisplayPath(options.serverFolder) << "\n";
        for (const std::string& planned : plannedWrites) out << "  would write " << planned << "\n";
        out << "  game files: " << filesWritten << " would be written, " << files.size() - filesWritten
            << " already in place\n";
        out << "  " << kPatchListName.utf8 << ": " << entries.size() << " entries"
            << (listWritten ? ", would be written" : " (unchanged)") << "\n";
        if (!exe.key.empty()) {
            out << "  " << kPatcherExeName.utf8 << ": " << (exeWritten ? "would be written" : "(unchanged)") << "\n";
        }
        if (!version.empty()) {
            out << "  " << kVersionFileName.utf8 << ": " << version
                << (versionWritten ? ", would be written" : " (unchanged)") << "\n";
        }
        if (!signingKeys.empty()) {
            out << "  " << StatementFileName() << ": " << DescribeStatement(statement)
                << (statementWritten ? ", would be written" : " (unchanged)") << "\n";
        }
        if (options.removeSignatures) {
            const std::vector<std::string> signatures = SignaturesInPlace(options.serverFolder);
            if (!signatures.empty()) out << "  " << JoinNames(signatures) << ": would be removed\n";
        }
        return true;
    }

    void PrintSummary() {
        if (totalBytes > kLargestListedSize) {
            err << "vorlen-publish: note: the files add up to 4 GiB or more; the patcher counts its "
                   "totals in 32 bits, so its progress figures for a full download will be off\n";
        }
        if (options.quiet) return;
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
        if (!signingKeys.empty()) {
            out << "  " << StatementFileName() << ": " << DescribeStatement(statement)
                << (statementWritten ? "" : " (unchanged)") << "\n";
        }
        if (retiredSignatureRemoved) {
            out << "  " << RetiredPatcherSignatureName() << ": removed; the statement signs the patcher\n";
        }
        if (signaturesRemoved > 0) out << "  signatures: " << signaturesRemoved << " removed\n";
        if (!version.empty()) {
            out << "  " << kVersionFileName.utf8 << ": " << version << (versionWritten ? "" : " (unchanged)") << "\n";
        }
    }

    // The record is one line per placed file; the list's 16 MiB leaves room for it.
    static constexpr uint64_t kLargestRecord = 256ull << 20;

    const PublishOptions& options;
    std::ostream& out;
    std::ostream& err;
    std::string version;  // canonical form of --patcher-version
    std::vector<SigningKey> signingKeys;
    const int64_t now = StatementClockNow();
    std::vector<FileToPlace> files;
    FileToPlace exe;  // empty key: no --patcher-exe
    uint64_t totalBytes = 0;

    PublishedRelease previous;
    std::string recordText;
    PublishRecord record;
    RecordTrust trust = RecordTrust::Unrecorded;
    PublishRecord next;

    std::vector<PatchFile> entries;
    std::unique_ptr<BackgroundFlush> flush;  // while files are copied
    std::vector<fs::path> writtenPaths;
    std::vector<std::string> plannedWrites;
    size_t filesWritten = 0;
    size_t changedInPlace = 0;
    bool exeWritten = false;
    bool hasStatement = false;
    ReleaseStatement inPlaceStatement;  // when hasStatement
    uint64_t release = 0;               // the release this publish leaves in the folder
    ReleaseStatement statement;         // its statement, when signed
    bool statementWritten = false;
    bool retiredSignatureRemoved = false;
    bool versionWritten = false;
    bool listWritten = false;
    size_t signaturesRemoved = 0;
};

}  // namespace

bool Publish(const PublishOptions& options, std::ostream& out, std::ostream& err) {
    return PublishRun(options, out, err).Run();
}
