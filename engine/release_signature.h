#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/release_statement.h"
#include "base/unique_handle.h"
#include "engine/cng_calls.h"
#include "engine/signing_keys.h"

// Releases can be signed by their publisher: ECDSA P-256 over SHA-256, checked
// with Windows' own CNG (Windows 7 and later). A public key is the 64-byte X‖Y of
// the curve point, a signature the 64-byte r‖s.

struct BCryptAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { cng::CloseAlgorithmProvider(h, 0); }
};
struct BCryptKeyTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { cng::DestroyKey(h); }
};
struct BCryptHashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { cng::DestroyHash(h); }
};
using UniqueBCryptAlgorithm = UniqueHandle<BCryptAlgorithmTraits>;
using UniqueBCryptKey = UniqueHandle<BCryptKeyTraits>;
using UniqueBCryptHash = UniqueHandle<BCryptHashTraits>;

const size_t kSigningKeyBytes = 64;
const size_t kSignatureBytes = 64;

// SHA-256 fed in pieces.
class Sha256 {
public:
    bool Start();
    bool Add(const void* bytes, size_t count);
    // The 32-byte digest; empty on failure. Ends the hash.
    std::string Finish();

private:
    UniqueBCryptAlgorithm algorithm;
    UniqueBCryptHash hash;
};

// One publisher key; verification only.
class ReleaseSignatureKey {
public:
    // False when the 64 bytes are no point of the curve, or CNG cannot load it.
    bool Import(const std::string& publicKey);
    // True only for a 64-byte r‖s that this key made over `digest` (SHA-256).
    bool VerifyDigest(const std::string& digest, const std::string& signature) const;

private:
    UniqueBCryptAlgorithm algorithm;
    UniqueBCryptKey key;
};

// SHA-256 of bytes in memory; empty on failure.
std::string Sha256OfBytes(const std::string& bytes);

// SHA-256 and size of a file, read in pieces; false when it cannot be read.
bool Sha256OfFile(const std::wstring& path, std::string& digest, uint64_t& size);

// The id of one of `keys` whose signature line in the statement verifies over
// its signed bytes; empty when none does. Lines that name no key of ours are
// skipped: a release signed for other patchers as well is still ours.
std::string StatementSignedBy(const ReleaseStatement& statement, const std::vector<PublisherKey>& keys);
