#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <string>

#include "base/unique_handle.h"
#include "engine/cng_calls.h"

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

// The key compiled in with -DVORLEN_SIGNING_PUBLIC_KEY; empty when releases are
// not signed (no signature is fetched or checked then).
std::string CompiledSigningKey();

// The list's signature covers its bytes exactly as served.
bool VerifyListSignature(const std::string& publicKey, const std::string& listBytes,
                         const std::string& signature);

// The executable's signature covers the trimmed version text, one zero byte and
// the executable's bytes, so a signed executable is only good under its own
// version number. False also when the file cannot be read.
bool VerifyPatcherSignature(const std::string& publicKey, const std::string& versionText,
                            const std::wstring& exePath, const std::string& signature);
