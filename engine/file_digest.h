#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "base/unique_handle.h"

// MD5 of a file as 32 lowercase hex digits, or "" when the file cannot be read or
// hashed. The file is shared for reading and writing while it is hashed.
std::string ComputeFileMd5(const std::wstring& path);

struct CryptProviderTraits {
    using Type = HCRYPTPROV;  // pointer-sized
    static Type Invalid() { return 0; }
    static void Close(Type h) { ::CryptReleaseContext(h, 0); }
};
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;

// Holding one provider context keeps the crypto provider's library loaded, so the
// context each digest acquires for itself comes cheap. The engine acquires one
// when its first stage that digests files begins, and keeps it for its whole life.
class CryptoProviderKeepAlive {
public:
    CryptoProviderKeepAlive() = default;
    // Acquires the context unless one is held; one thread at a time.
    void Acquire();
    // The held context; 0 when none is held or none could be acquired.
    HCRYPTPROV Get() const { return provider.Get(); }

private:
    UniqueCryptProvider provider;
};
