#include "support/test_signing.h"

#include <windows.h>
#include <bcrypt.h>

#include <gtest/gtest.h>

namespace testing_support {

TestSigningKey::TestSigningKey() {
    std::string blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64, '\0');
    ULONG length = 0;
    const bool made =
        BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) >= 0 &&
        BCryptGenerateKeyPair(algorithm.Get(), key.Put(), 256, 0) >= 0 && BCryptFinalizeKeyPair(key.Get(), 0) >= 0 &&
        BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, reinterpret_cast<UCHAR*>(&blob[0]),
                        static_cast<ULONG>(blob.size()), &length, 0) >= 0 &&
        length == blob.size();
    EXPECT_TRUE(made) << "CNG made no P-256 key";
    publicKey.point = blob.substr(sizeof(BCRYPT_ECCKEY_BLOB));
    publicKey.id = StatementKeyId(Sha256OfBytes(P256SubjectPublicKeyInfo(publicKey.point)));
}

std::string TestSigningKey::Sign(const std::string& message) const {
    std::string digest = Sha256OfBytes(message);
    std::string signature(64, '\0');
    ULONG length = 0;
    const bool signedIt = BCryptSignHash(key.Get(), nullptr, reinterpret_cast<UCHAR*>(&digest[0]),
                                         static_cast<ULONG>(digest.size()), reinterpret_cast<UCHAR*>(&signature[0]),
                                         static_cast<ULONG>(signature.size()), &length, 0) >= 0 &&
                          length == signature.size();
    EXPECT_TRUE(signedIt);
    return signature;
}

ReleaseStatement StatementFor(uint64_t release, const std::string& list, const std::string& patcherVersion,
                              const std::string& exe) {
    ReleaseStatement statement;
    statement.release = release;
    statement.listSha256 = Sha256OfBytes(list);
    statement.listSize = list.size();
    if (!patcherVersion.empty()) {
        statement.hasPatcher = true;
        statement.patcherVersion = patcherVersion;
        statement.patcherSha256 = Sha256OfBytes(exe);
        statement.patcherSize = exe.size();
    }
    return statement;
}

std::string Signed(ReleaseStatement statement, const std::vector<const TestSigningKey*>& keys) {
    statement.signatures.clear();
    for (const TestSigningKey* key : keys) {
        statement.signatures.push_back({key->Public().id, key->Sign(StatementSignedBytes(statement))});
    }
    return SerializeReleaseStatement(statement);
}

}  // namespace testing_support
