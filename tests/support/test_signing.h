#pragma once
// A publisher's side for the Windows tests: P-256 keys made with CNG for one
// test, and release statements signed with them.

#include <string>
#include <vector>

#include "base/release_statement.h"
#include "engine/release_signature.h"
#include "engine/signing_keys.h"

namespace testing_support {

class TestSigningKey {
public:
    TestSigningKey();  // a new key pair; the test fails when CNG cannot make one
    // The public half as the patcher holds it: id and X‖Y.
    const PublisherKey& Public() const { return publicKey; }
    // r‖s over the SHA-256 of `message`.
    std::string Sign(const std::string& message) const;

private:
    UniqueBCryptAlgorithm algorithm;
    UniqueBCryptKey key;
    PublisherKey publicKey;
};

// A statement for `list` (and, unless `patcherVersion` is empty, the executable
// `exe` under it), signed by each of `keys` in turn.
ReleaseStatement StatementFor(uint64_t release, const std::string& list, const std::string& patcherVersion = "",
                              const std::string& exe = "");
std::string Signed(ReleaseStatement statement, const std::vector<const TestSigningKey*>& keys);

}  // namespace testing_support
