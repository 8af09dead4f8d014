#include "tools/publish/signing/release_signing.h"

#include <set>
#include <system_error>
#include <vector>

#include "base/hex.h"
#include "base/names_and_limits.h"
#include "selfupdate/version_check.h"
#include "tools/publish/publish/staged_write.h"
#include "tools/publish/shared/digest.h"
#include "tools/publish/shared/platform_files.h"

namespace fs = std::filesystem;

namespace {

std::string ShortDigest(const std::string& digest) {
    return ToHex(reinterpret_cast<const unsigned char*>(digest.data()), digest.size() < 6 ? digest.size() : 6);
}

}  // namespace

std::string StatementFileName() { return std::string(kPatchListName.utf8) + kSignatureSuffix.utf8; }

std::string RetiredPatcherSignatureName() { return std::string(kPatcherExeName.utf8) + kSignatureSuffix.utf8; }

bool LoadKeys(const std::vector<fs::path>& files, bool isPrivate, std::vector<SigningKey>& keys, std::string& error) {
    keys.clear();
    std::set<std::string> ids;
    for (const fs::path& file : files) {
        SigningKey key;
        if (!(isPrivate ? key.LoadPrivate(file, error) : key.LoadPublic(file, error))) return false;
        const std::string id = key.Id();
        if (id.empty()) {
            error = DisplayPath(file) + ": the key's id cannot be computed";
            return false;
        }
        if (!ids.insert(id).second) {
            error = DisplayPath(file) + ": key " + id + " is given twice";
            return false;
        }
        keys.push_back(std::move(key));
    }
    return true;
}

void SetListFields(ReleaseStatement& statement, const std::string& listText) {
    statement.listSha256 = DigestOf(Digest::Kind::Sha256, listText);
    statement.listSize = listText.size();
}

bool SetPatcherFields(ReleaseStatement& statement, const std::string& versionFileText, const fs::path& exe,
                      std::string& error) {
    statement.hasPatcher = true;
    statement.patcherVersion = TrimVersionText(versionFileText);
    if (!DigestOfFile(Digest::Kind::Sha256, exe, statement.patcherSha256, statement.patcherSize)) {
        error = "cannot read " + DisplayPath(exe);
        return false;
    }
    return true;
}

bool ReadFolderRelease(const fs::path& serverFolder, ReleaseStatement& statement, std::string& error) {
    std::string list;
    if (!ReadWholeFile(serverFolder / kPatchListName.utf8, list, kLargestServerText)) {
        error = "cannot read " + DisplayPath(serverFolder / kPatchListName.utf8);
        return false;
    }
    SetListFields(statement, list);
    statement.hasPatcher = false;
    const fs::path exe = serverFolder / kPatcherExeName.utf8;
    const fs::path versionFile = serverFolder / kVersionFileName.utf8;
    std::error_code code;
    if (!fs::exists(exe, code) || !fs::exists(versionFile, code)) return true;
    std::string version;
    if (!ReadWholeFile(versionFile, version, kLargestServerText)) {
        error = "cannot read " + DisplayPath(versionFile);
        return false;
    }
    return SetPatcherFields(statement, version, exe, error);
}

bool SameReleaseContent(const ReleaseStatement& a, const ReleaseStatement& b) {
    return ReleaseContentDifference(a, b).empty();
}

std::string ReleaseContentDifference(const ReleaseStatement& statement, const ReleaseStatement& found) {
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
    // A file's size, and its SHA-256 when the sizes agree.
    auto compareBytes = [&](const std::string& what, uint64_t statedSize, uint64_t foundSize,
                            const std::string& statedSha256, const std::string& foundSha256) {
        if (statedSize != foundSize) {
            add("the " + what + " has " + std::to_string(foundSize) + " bytes, the statement says " +
                std::to_string(statedSize));
        } else if (statedSha256 != foundSha256) {
            add("the " + what + "'s SHA-256 begins " + ShortDigest(foundSha256) + ", the statement's " +
                ShortDigest(statedSha256));
        }
    };
    compareBytes("list", statement.listSize, found.listSize, statement.listSha256, found.listSha256);
    if (statement.hasPatcher != found.hasPatcher) {
        add(statement.hasPatcher ? "the statement signs patcher " + statement.patcherVersion + ", which is not published"
                                 : "patcher " + found.patcherVersion + " is published, and the statement signs none");
    } else if (statement.hasPatcher) {
        if (statement.patcherVersion != found.patcherVersion) {
            add("the version is " + found.patcherVersion + ", the statement's " + statement.patcherVersion);
        }
        compareBytes("patcher", statement.patcherSize, found.patcherSize, statement.patcherSha256,
                     found.patcherSha256);
    }
    return text;
}

bool SignStatement(ReleaseStatement& statement, const std::vector<SigningKey>& keys, std::string& error) {
    const std::string problem = StatementFieldProblem(statement);
    if (!problem.empty()) {
        error = "the release cannot be signed as it is: " + problem;
        return false;
    }
    const std::string message = StatementSignedBytes(statement);
    statement.signatures.clear();
    for (const SigningKey& key : keys) {
        StatementSignature line;
        line.keyId = key.Id();
        if (!key.Sign(message, line.signature, error)) return false;
        if (!key.Verifies(message, line.signature)) {
            error = "the signature by key " + line.keyId + " does not verify";
            return false;
        }
        statement.signatures.push_back(line);
    }
    if (SerializeReleaseStatement(statement).size() > kLargestReleaseStatement) {
        error = "the statement would be larger than " + std::to_string(kLargestReleaseStatement) +
                " bytes, which patchers refuse; sign with fewer keys";
        return false;
    }
    return true;
}

bool SignedBy(const ReleaseStatement& statement, const SigningKey& key) {
    const std::string id = key.Id();
    for (const StatementSignature& line : statement.signatures) {
        if (line.keyId == id) return key.Verifies(StatementSignedBytes(statement), line.signature);
    }
    return false;
}

bool SignedByExactly(const ReleaseStatement& statement, const std::vector<SigningKey>& keys) {
    if (statement.signatures.size() != keys.size()) return false;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (statement.signatures[i].keyId != keys[i].Id() || !SignedBy(statement, keys[i])) return false;
    }
    return true;
}

bool ReadStatementFile(const fs::path& path, ReleaseStatement& statement, std::string& problem) {
    problem.clear();
    std::error_code code;
    if (!fs::exists(path, code)) return false;
    std::string text;
    if (!ReadWholeFile(path, text, kLargestReleaseStatement)) {
        problem = "cannot be read, or is larger than " + std::to_string(kLargestReleaseStatement) + " bytes";
        return false;
    }
    return ParseReleaseStatement(text, statement, problem);
}

bool WriteStatementFile(const fs::path& path, const ReleaseStatement& statement, const std::vector<SigningKey>& keys,
                        std::string& error) {
    const std::string text = SerializeReleaseStatement(statement);
    auto readsBack = [&](const std::string& written, std::string& reason) {
        ReleaseStatement back;
        if (!ParseReleaseStatement(written, back, reason) || SerializeReleaseStatement(back) != text ||
            !SignedByExactly(back, keys)) {
            if (reason.empty()) reason = "it does not verify with every key";
            return false;
        }
        return true;
    };
    return WriteFileAtomically(path, text, readsBack, error);
}

std::string DescribeStatement(const ReleaseStatement& statement) {
    std::string text = "release " + std::to_string(statement.release) + ", ";
    text += statement.hasExpiry ? "expires " + FormatStatementTime(statement.expires) : std::string("no expiry");
    if (!statement.signatures.empty()) {
        text += ", signed by ";
        for (size_t i = 0; i < statement.signatures.size(); ++i) {
            if (i > 0) text += i + 1 == statement.signatures.size() ? " and " : ", ";
            text += statement.signatures[i].keyId;
        }
    }
    return text;
}
