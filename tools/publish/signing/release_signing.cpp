#include "tools/publish/signing/release_signing.h"

#include <fstream>
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

std::string Sha256Of(const std::string& bytes) {
    Digest sha256(Digest::Kind::Sha256);
    sha256.Update(bytes.data(), bytes.size());
    return sha256.Finish();
}

// SHA-256 and size of a file, read in pieces: the patcher may be large.
bool Sha256OfFile(const fs::path& path, std::string& digest, uint64_t& size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    Digest sha256(Digest::Kind::Sha256);
    std::vector<char> buffer(1 << 18);
    size = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        sha256.Update(buffer.data(), static_cast<size_t>(got));
        size += static_cast<uint64_t>(got);
    }
    if (in.bad()) return false;
    digest = sha256.Finish();
    return digest.size() == kStatementDigestBytes;
}

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
    statement.listSha256 = Sha256Of(listText);
    statement.listSize = listText.size();
}

bool SetPatcherFields(ReleaseStatement& statement, const std::string& versionFileText, const fs::path& exe,
                      std::string& error) {
    statement.hasPatcher = true;
    statement.patcherVersion = TrimVersionText(versionFileText);
    if (!Sha256OfFile(exe, statement.patcherSha256, statement.patcherSize)) {
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
    if (statement.listSize != found.listSize) {
        add("the list has " + std::to_string(found.listSize) + " bytes, the statement says " +
            std::to_string(statement.listSize));
    } else if (statement.listSha256 != found.listSha256) {
        add("the list's SHA-256 begins " + ShortDigest(found.listSha256) + ", the statement's " +
            ShortDigest(statement.listSha256));
    }
    if (statement.hasPatcher != found.hasPatcher) {
        add(statement.hasPatcher ? "the statement signs patcher " + statement.patcherVersion + ", which is not published"
                                 : "patcher " + found.patcherVersion + " is published, and the statement signs none");
    } else if (statement.hasPatcher) {
        if (statement.patcherVersion != found.patcherVersion) {
            add("the version is " + found.patcherVersion + ", the statement's " + statement.patcherVersion);
        }
        if (statement.patcherSize != found.patcherSize) {
            add("the patcher has " + std::to_string(found.patcherSize) + " bytes, the statement says " +
                std::to_string(statement.patcherSize));
        } else if (statement.patcherSha256 != found.patcherSha256) {
            add("the patcher's SHA-256 begins " + ShortDigest(found.patcherSha256) + ", the statement's " +
                ShortDigest(statement.patcherSha256));
        }
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
