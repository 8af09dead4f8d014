#include "tools/publish/verify/verify.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <vector>

#include "base/ascii_case.h"
#include "base/hex.h"
#include "base/names_and_limits.h"
#include "base/text.h"
#include "engine/patch_list.h"
#include "engine/path_safety.h"
#include "selfupdate/version_check.h"
#include "tools/publish/shared/format_bytes.h"
#include "tools/publish/verify/http_fetch.h"
#include "tools/publish/shared/digest.h"
#include "tools/publish/shared/patcher_version.h"
#include "tools/publish/shared/platform_files.h"
#include "tools/publish/shared/progress_line.h"
#include "tools/publish/shared/server_url.h"
#include "tools/publish/publish/publish_record.h"
#include "tools/publish/publish/staged_write.h"
#include "tools/publish/publish/tool_files.h"
#include "tools/publish/signing/release_signing.h"
#include "tools/publish/signing/statement_expiry.h"

namespace fs = std::filesystem;

namespace {

// What a fetched resource must be. A size and digest come from the list or
// from the server folder's copy (`source` says which, for messages).
struct Expected {
    bool known = false;
    uint64_t size = 0;
    std::string md5;       // lower-case hex
    std::string source;    // "listed", "the folder's"
};

// Why a fetch did not deliver a whole 200 body, in the words of the report;
// empty for a whole body, whose size and digest the caller judges.
std::string FetchProblem(const FetchResult& result, const Expected& expected, const VerifyOptions& options) {
    const std::string sizeText = std::to_string(expected.size);
    const std::string window = std::to_string(options.timeoutSeconds) + " s";
    switch (result.end) {
        case FetchResult::End::Body:
            return "";
        case FetchResult::End::Status:
            if (result.status == 404) return "missing (HTTP 404)";
            return "HTTP status " + std::to_string(result.status);
        case FetchResult::End::OverLimit:
            if (!expected.known) return "wrong size: larger than the patcher takes";
            if (result.announced >= 0) {
                return "wrong size: " + std::to_string(result.announced) + " bytes, " + expected.source + " " +
                       sizeText;
            }
            return "wrong size: more than " + sizeText + " bytes, " + expected.source + " " + sizeText;
        case FetchResult::End::CutShort: {
            const std::string received = std::to_string(result.bytes);
            if (result.announced >= 0) return "cut short: " + received + " of " + std::to_string(result.announced) + " bytes";
            if (expected.known) return "cut short: " + received + " of " + sizeText + " bytes";
            return "cut short after " + received + " bytes";
        }
        case FetchResult::End::Stalled: {
            if (result.status == 0) return "no answer within " + window;
            const std::string where = " after " + std::to_string(result.bytes) + " of " +
                                      (result.announced >= 0 ? std::to_string(result.announced) : sizeText) +
                                      " bytes";
            if (result.windowBytes == 0) return "stalled: no data for " + window + where;
            return "too slow: " + std::to_string(result.windowBytes) + " bytes in " + window + ", less than " +
                   FormatBytes(options.minRateBytes) + "," + where;
        }
        case FetchResult::End::Failed:
            break;
    }
    return "connection failed: " + result.error;
}

// The size and digest of a local file, read in pieces; false when unreadable.
bool LocalSizeAndDigest(const fs::path& path, Expected& expected) {
    std::string md5;
    if (!DigestOfFile(Digest::Kind::Md5, path, md5, expected.size)) return false;
    expected.known = true;
    expected.md5 = ToHex(reinterpret_cast<const unsigned char*>(md5.data()), md5.size());
    expected.source = "the folder's";
    return true;
}

bool ReadLocalText(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// One run: its fetcher, its report and its counters.
class VerifyRun {
public:
    VerifyRun(const VerifyOptions& options, std::ostream& out, std::ostream& err)
        : options(options),
          out(out),
          progress(err, options.progress),
          fetch(options.timeoutSeconds, MinimumRate{options.minRateBytes, options.timeoutSeconds}),
          started(std::chrono::steady_clock::now()) {}

    bool Run();

private:
    bool FetchList(std::string& listText);
    void CheckStatement(const std::string& listText);
    void CompareWithFolderStatement(std::vector<std::string>& problems);
    void CheckAgainstFolderList(const std::string& listText, size_t liveFiles);
    bool CheckPatcher();
    // A game file counts towards the progress line; the patcher must be a program.
    enum class FileKind { Game, Patcher };
    // `sha256`, when given, also takes the file's bytes, and `bytes` is told how
    // many came. True when the file arrived whole and nothing was reported.
    bool CheckFile(const std::string& name, const Expected& expected, FileKind kind, Digest* sha256 = nullptr,
                   uint64_t* bytes = nullptr);
    FetchResult FetchText(const std::string& name, std::string& text);
    void Report(const std::string& name, const std::string& problem);
    void ShowProgress(bool now);
    void Summarize(const std::string& what);

    const VerifyOptions options;
    std::ostream& out;
    ProgressLine progress;
    HttpFetch fetch;
    std::chrono::steady_clock::time_point started;
    uint64_t bytesFetched = 0;
    size_t problems = 0;
    size_t filesChecked = 0;
    size_t filesListed = 0;
    uint64_t listedBytes = 0;
    uint64_t listedBytesDone = 0;
    std::string publishedVersion;  // empty unless the version file holds a version
    // With --public-key: the keys, and the release statement when it was
    // fetched and parsed.
    std::vector<SigningKey> keys;
    bool hasStatement = false;
    ReleaseStatement statement;
};

void VerifyRun::Report(const std::string& name, const std::string& problem) {
    ++problems;
    progress.Clear();
    out << name << ": " << problem << "\n" << std::flush;
}

void VerifyRun::ShowProgress(bool now) {
    if (!options.progress) return;
    progress.Show("Checking " + std::to_string(filesChecked) + "/" + std::to_string(filesListed) + " files, " +
                      FormatBytes(listedBytesDone) + " of " + FormatBytes(listedBytes),
                  now);
}

FetchResult VerifyRun::FetchText(const std::string& name, std::string& text) {
    text.clear();
    FetchResult result = fetch.Get(FileUrl(options.baseUrl, name), kLargestServerText,
                                   [&](const char* data, size_t length) { text.append(data, length); });
    bytesFetched += result.bytes;
    return result;
}

bool VerifyRun::FetchList(std::string& listText) {
    const FetchResult result = FetchText(kPatchListName.utf8, listText);
    if (result.end == FetchResult::End::OverLimit) {
        Report(kPatchListName.utf8, "larger than 16 MiB; the patcher refuses it");
        return false;
    }
    const std::string problem = FetchProblem(result, Expected(), options);
    if (!problem.empty()) {
        Report(kPatchListName.utf8, problem);
        return false;
    }
    return true;
}

// An edge that is stale throughout, old list and old files, is consistent in
// itself; only the folder the release was published into tells it apart.
void VerifyRun::CheckAgainstFolderList(const std::string& listText, size_t liveFiles) {
    const fs::path localList = options.localFolder / kPatchListName.utf8;
    std::string localText;
    if (!ReadLocalText(localList, localText)) {
        Report(kPatchListName.utf8, "cannot read " + DisplayPath(localList) + " to compare");
        return;
    }
    if (localText == listText) return;
    Report(kPatchListName.utf8, "the live list differs from " + DisplayPath(localList) + " (live: " +
                               std::to_string(liveFiles) + " files, " + std::to_string(listText.size()) +
                               " bytes; folder: " + std::to_string(ParsePatchList(localText).size()) +
                               " files, " + std::to_string(localText.size()) + " bytes)");
}

bool VerifyRun::CheckFile(const std::string& name, const Expected& expected, FileKind kind, Digest* sha256,
                          uint64_t* bytes) {
    Digest md5(Digest::Kind::Md5);
    char head[2] = {};
    uint64_t headBytes = 0;
    // The publisher refuses a patcher of 4 GiB or more.
    const uint64_t limit = expected.known ? expected.size : kLargestListedSize;
    const FetchResult result = fetch.Get(FileUrl(options.baseUrl, name), limit, [&](const char* data, size_t length) {
        md5.Update(data, length);
        if (sha256 != nullptr) sha256->Update(data, length);
        for (size_t i = 0; i < length && headBytes < sizeof head; ++i) head[headBytes++] = data[i];
        if (kind == FileKind::Game) {
            listedBytesDone += length;
            ShowProgress(false);
        }
    });
    bytesFetched += result.bytes;
    if (bytes != nullptr) *bytes = result.bytes;

    std::string problem = FetchProblem(result, expected, options);
    if (problem.empty()) {
        const std::string digest = md5.FinishHex();
        if (digest.empty()) {
            problem = "the MD5 could not be computed";
        } else if (expected.known && result.bytes != expected.size) {
            problem = "wrong size: " + std::to_string(result.bytes) + " bytes, " + expected.source + " " +
                      std::to_string(expected.size);
        } else if (expected.known && digest != AsciiLower(expected.md5)) {
            problem = "wrong digest: " + digest + ", " + expected.source + " " + expected.md5;
        } else if (kind == FileKind::Patcher && (headBytes < 2 || head[0] != 'M' || head[1] != 'Z')) {
            problem = result.bytes == 0 ? "empty" : "not a Windows executable";
        }
    }
    if (!problem.empty()) Report(name, problem);
    return problem.empty();
}

// The version file answers 404 when no patcher is published; when it answers,
// the patcher must be there too, or every player's patcher asks for a file that
// is missing. True when the version file answered with a body.
bool VerifyRun::CheckPatcher() {
    std::string versionText;
    const FetchResult result = FetchText(kVersionFileName.utf8, versionText);
    const bool compare = !options.localFolder.empty();
    std::string localVersion;
    const bool localHasVersion = compare && ReadLocalText(options.localFolder / kVersionFileName.utf8, localVersion);
    Expected localExe;
    const bool localHasExe =
        compare && fs::is_regular_file(options.localFolder / kPatcherExeName.utf8) &&
        LocalSizeAndDigest(options.localFolder / kPatcherExeName.utf8, localExe);

    // What a patcher with the keys takes: the version the statement signs, and
    // the executable with its size and SHA-256.
    const bool signedPatcher = hasStatement && statement.hasPatcher;
    bool published = false;
    if (result.end == FetchResult::End::Status && result.status == 404) {
        if (localHasVersion) {
            Report(kVersionFileName.utf8, "missing (HTTP 404); the server folder has one");
        } else if (signedPatcher) {
            Report(kVersionFileName.utf8, "missing (HTTP 404), and the release statement signs patcher " +
                                              statement.patcherVersion);
        }
    } else if (result.end == FetchResult::End::OverLimit) {
        Report(kVersionFileName.utf8, "larger than 16 MiB; not a version");
    } else {
        const std::string problem = FetchProblem(result, Expected(), options);
        if (!problem.empty()) {
            Report(kVersionFileName.utf8, problem);
        } else {
            published = true;
            std::string version;
            const std::string trimmed = TrimVersionText(versionText);
            if (!ParsePatcherVersion(trimmed, version)) {
                Report(kVersionFileName.utf8, "not a version: '" + PrintableName(trimmed) + "'");
            } else if (localHasVersion && versionText != localVersion) {
                Report(kVersionFileName.utf8, "differs from the server folder's: live '" + PrintableName(trimmed) +
                                                  "', folder '" + PrintableName(TrimVersionText(localVersion)) + "'");
            } else if (hasStatement && !statement.hasPatcher) {
                Report(kVersionFileName.utf8, "published, but the release statement signs no patcher; patchers "
                                              "with the key do not take it");
            } else if (signedPatcher && trimmed != statement.patcherVersion) {
                Report(kVersionFileName.utf8, "'" + PrintableName(trimmed) +
                                                  "' is not the version the release statement signs (" +
                                                  statement.patcherVersion +
                                                  "); patchers with the key refuse the release");
            } else {
                publishedVersion = version;
            }
        }
    }
    // The executable's SHA-256 is taken as it streams by: however long a broken
    // server makes it, it is never held whole.
    Digest sha256(Digest::Kind::Sha256);
    uint64_t exeBytes = 0;
    if (published || localHasExe) {
        const bool whole = CheckFile(kPatcherExeName.utf8, localHasExe ? localExe : Expected(), FileKind::Patcher,
                                     signedPatcher ? &sha256 : nullptr, &exeBytes);
        if (whole && signedPatcher) {
            ReleaseStatement served = statement;
            served.patcherSha256 = sha256.Finish();
            served.patcherSize = exeBytes;
            const std::string difference = ReleaseContentDifference(statement, served);
            if (!difference.empty()) {
                Report(kPatcherExeName.utf8, "not the patcher the release statement signs (" + difference +
                                                 "); patchers with the key refuse it");
            }
        }
    }
    return published;
}

// What a patcher with the keys would refuse before anything else: a statement
// missing, broken, not signed by one of its keys, expired past the day of
// grace, or one that does not name the list served; and, against the folder
// the release was published into, an older release than that folder's. The
// statement's own problems make one line.
void VerifyRun::CheckStatement(const std::string& listText) {
    const std::string name = StatementFileName();
    std::string text;
    const FetchResult result = fetch.Get(FileUrl(options.baseUrl, name), kLargestReleaseStatement,
                                         [&](const char* data, size_t length) { text.append(data, length); });
    bytesFetched += result.bytes;
    const std::string refused = "; patchers with the key refuse the release";
    if (result.end == FetchResult::End::OverLimit) {
        Report(name, "larger than " + std::to_string(kLargestReleaseStatement) + " bytes" + refused);
        return;
    }
    std::string problem = FetchProblem(result, Expected(), options);
    if (problem.empty() && !ParseReleaseStatement(text, statement, problem)) {
        problem = "not a release statement: " + problem;
    }
    if (!problem.empty()) {
        Report(name, problem + refused);
        return;
    }
    hasStatement = true;
    if (!options.quiet) {
        progress.Clear();
        out << "Release statement: " << DescribeStatement(statement) << "\n";
    }

    std::vector<std::string> problems;
    for (const SigningKey& key : keys) {
        if (SignedBy(statement, key)) continue;
        bool named = false;
        for (const StatementSignature& line : statement.signatures) named = named || line.keyId == key.Id();
        problems.push_back((named ? "the signature by key " + key.Id() + " does not verify"
                                  : "not signed by key " + key.Id()) +
                           ", so patchers holding only that key refuse the release");
    }
    const int64_t now = StatementClockNow();
    if (StatementExpired(statement, now)) {
        problems.push_back("expired at " + FormatStatementTime(statement.expires) + "; patchers refuse it since " +
                           FormatStatementTime(statement.expires + kStatementGraceSeconds) + " (now " +
                           FormatStatementTime(now) + ")");
    }
    if (!options.localFolder.empty()) CompareWithFolderStatement(problems);
    if (!problems.empty()) {
        std::string joined;
        for (const std::string& one : problems) joined += (joined.empty() ? "" : "; ") + one;
        Report(name, joined);
    }

    ReleaseStatement served = statement;
    SetListFields(served, listText);
    const std::string difference = ReleaseContentDifference(statement, served);
    if (!difference.empty()) {
        Report(kPatchListName.utf8, "not the list the release statement signs (" + difference + ")" + refused);
    }
}

// The folder's release: the higher of its record's number and its statement's.
// A live statement below it is an older release, which patchers that took the
// folder's refuse; one of the same number must be the folder's own.
void VerifyRun::CompareWithFolderStatement(std::vector<std::string>& problems) {
    std::string recordText;
    uint64_t local = 0;
    if (ReadWholeFile(options.localFolder / kPublishRecordName, recordText, 256ull << 20)) {
        local = RecordedRelease(recordText);
    }
    ReleaseStatement folderStatement;
    std::string ignored;
    const bool folderSigned =
        ReadStatementFile(options.localFolder / StatementFileName(), folderStatement, ignored);
    if (folderSigned && folderStatement.release > local) local = folderStatement.release;
    if (statement.release < local) {
        problems.push_back("release " + std::to_string(statement.release) + " is older than release " +
                           std::to_string(local) + " in " + DisplayPath(options.localFolder) +
                           ", which patchers that took it refuse");
    } else if (folderSigned && SerializeReleaseStatement(statement) != SerializeReleaseStatement(folderStatement)) {
        problems.push_back("differs from the server folder's (folder: " + DescribeStatement(folderStatement) + ")");
    }
}

// `what` is what was checked ("7 of 7 listed files and patcher 1.0.6.0"), or
// empty when the list was not usable.
void VerifyRun::Summarize(const std::string& what) {
    progress.Clear();
    if (options.quiet) return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char timing[64];
    std::snprintf(timing, sizeof timing, "%.2f s", seconds);
    if (what.empty()) {
        out << "No usable patch list at " << options.baseUrl;
    } else {
        out << "Checked " << what << " at " << options.baseUrl << ": " << FormatBytes(bytesFetched) << " in "
            << timing;
        if (seconds > 0) out << " (" << FormatBytes(static_cast<uint64_t>(bytesFetched / seconds)) << "/s)";
    }
    if (problems == 0) {
        out << "; all match.\n";
    } else {
        out << "; " << problems << " problem" << (problems == 1 ? "" : "s") << ".\n";
    }
    out << std::flush;
}

bool VerifyRun::Run() {
    if (!fetch.Ready()) {
        Report("vorlen-publish", fetch.ErrorText());
        return false;
    }
    std::string keyError;
    if (!LoadKeys(options.publicKeys, false, keys, keyError)) {
        Report("--public-key", keyError);
        return false;
    }
    std::string listText;
    if (!FetchList(listText)) {
        Summarize("");
        return false;
    }
    if (!keys.empty()) CheckStatement(listText);
    const std::vector<PatchFile> entries = ParsePatchList(listText);
    if (!options.localFolder.empty()) CheckAgainstFolderList(listText, entries.size());

    // The patcher refuses a list that names no file or any path outside the
    // game folder, before it fetches anything: so does this.
    bool usable = !entries.empty();
    if (entries.empty()) Report(kPatchListName.utf8, "names no files; the patcher calls it empty or damaged");
    for (const PatchFile& entry : entries) {
        if (IsSafeListPath(entry.path)) continue;
        Report(kPatchListName.utf8, "names the unsafe path '" + PrintableName(entry.path) + "'; the patcher refuses the list");
        usable = false;
    }
    if (!usable) {
        Summarize("");
        return false;
    }

    filesListed = entries.size();
    for (const PatchFile& entry : entries) listedBytes += entry.size;
    ShowProgress(true);

    const bool patcherPublished = CheckPatcher();
    for (const PatchFile& entry : entries) {
        Expected expected;
        expected.known = true;
        expected.size = entry.size;
        expected.md5 = entry.md5;
        expected.source = "listed";
        const uint64_t doneBefore = listedBytesDone;
        CheckFile(entry.path, expected, FileKind::Game);
        // Whatever arrived, the progress moves on by the listed size.
        listedBytesDone = doneBefore + entry.size;
        ++filesChecked;
        ShowProgress(false);
    }
    ShowProgress(true);

    std::string what = std::to_string(filesChecked) + " listed file" + (filesChecked == 1 ? "" : "s");
    if (!patcherPublished) {
        what += " (no patcher published)";
    } else {
        what += publishedVersion.empty() ? " and the patcher" : " and patcher " + publishedVersion;
    }
    Summarize(what);
    return problems == 0;
}

}  // namespace

bool Verify(const VerifyOptions& options, std::ostream& out, std::ostream& err) {
    VerifyRun run(options, out, err);
    return run.Run();
}
