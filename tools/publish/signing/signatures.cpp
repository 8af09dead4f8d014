#include "tools/publish/signing/signing_key.h"

#include "base/release_statement.h"
#include "tools/publish/shared/digest.h"

bool SigningKey::Verifies(const std::string& message, const std::string& signature) const {
    const std::string digest = DigestOf(Digest::Kind::Sha256, message);
    return !digest.empty() && VerifiesDigest(digest, signature);
}

std::string SigningKey::Id() const {
    const std::string info = P256SubjectPublicKeyInfo(PublicPoint());
    if (info.empty()) return std::string();
    return StatementKeyId(DigestOf(Digest::Kind::Sha256, info));
}
