#include "tools/publish/signing/signing_key.h"

#include "base/release_statement.h"
#include "tools/publish/shared/digest.h"

bool SigningKey::Verifies(const std::string& message, const std::string& signature) const {
    Digest sha256(Digest::Kind::Sha256);
    sha256.Update(message.data(), message.size());
    const std::string digest = sha256.Finish();
    return !digest.empty() && VerifiesDigest(digest, signature);
}

std::string SigningKey::Id() const {
    const std::string info = P256SubjectPublicKeyInfo(PublicPoint());
    if (info.empty()) return std::string();
    Digest sha256(Digest::Kind::Sha256);
    sha256.Update(info.data(), info.size());
    return StatementKeyId(sha256.Finish());
}
