#include "engine/file_digest.h"

#include <windows.h>
#include <wincrypt.h>

#include "base/unique_handle.h"
#include "base/hex.h"

namespace {

struct CryptHashTraits {
    using Type = HCRYPTHASH;
    static Type Invalid() { return 0; }
    static void Close(Type h) { CryptDestroyHash(h); }
};
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;

const DWORD kBlockSize = 8192;

}  // namespace

std::string ComputeFileMd5(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::string();  // missing, a directory, locked, no access

    UniqueCryptProvider provider;
    if (!CryptAcquireContextW(provider.Put(), nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
        return std::string();
    }
    UniqueCryptHash hash;
    if (!CryptCreateHash(provider.Get(), CALG_MD5, 0, 0, hash.Put())) return std::string();

    BYTE block[kBlockSize];
    for (;;) {
        DWORD read = 0;
        // A failed read ends the digest early, like the end of the file.
        if (!ReadFile(file.Get(), block, kBlockSize, &read, nullptr) || read == 0) break;
        if (!CryptHashData(hash.Get(), block, read, 0)) return std::string();
    }

    BYTE digest[16];
    DWORD digestLength = sizeof digest;
    if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &digestLength, 0)) return std::string();

    return ToHex(digest, sizeof digest);
}

void CryptoProviderKeepAlive::Acquire() {
    if (provider) return;
    if (!CryptAcquireContextW(provider.Put(), nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
        provider.Release();  // nothing was acquired: nothing to release
    }
}
