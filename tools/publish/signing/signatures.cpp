#include "tools/publish/signing/signing_key.h"

#include "tools/publish/publish/staged_write.h"
#include "tools/publish/shared/digest.h"

bool SigningKey::Verifies(const std::string& message, const std::string& signature) const {
    Digest sha256(Digest::Kind::Sha256);
    sha256.Update(message.data(), message.size());
    const std::string digest = sha256.Finish();
    return !digest.empty() && VerifiesDigest(digest, signature);
}

std::string PatcherSignedPrefix(const std::string& versionText) { return versionText + std::string(1, '\0'); }

std::string PatcherSignedMessage(const std::string& versionText, const std::string& exeBytes) {
    return PatcherSignedPrefix(versionText) + exeBytes;
}

bool SignatureMatches(const SigningKey& key, const std::filesystem::path& target, const std::string& message) {
    std::string existing;
    return ReadWholeFile(target, existing, 64) && key.Verifies(message, existing);
}

bool PlaceSignature(const SigningKey& key, const std::filesystem::path& target, const std::string& message,
                    bool& written, std::string& error) {
    written = false;
    if (SignatureMatches(key, target, message)) return true;
    std::string signature;
    if (!key.Sign(message, signature, error)) return false;
    auto verifies = [&](const std::string& back, std::string& reason) {
        if (key.Verifies(message, back)) return true;
        reason = "it does not verify";
        return false;
    };
    written = true;
    return WriteFileAtomically(target, signature, verifies, error);
}
