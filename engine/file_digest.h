#pragma once

#include <string>

// MD5 of a file as 32 lowercase hex digits, or "" when the file cannot be read or
// hashed. The file is shared for reading and writing while it is hashed.
std::string ComputeFileMd5(const std::wstring& path);

// Holding one provider context keeps the crypto provider's library loaded, so the
// context each digest acquires for itself comes cheap. The engine keeps one alive
// for its whole life.
class CryptoProviderKeepAlive {
public:
    CryptoProviderKeepAlive();
    ~CryptoProviderKeepAlive();
    CryptoProviderKeepAlive(const CryptoProviderKeepAlive&) = delete;
    CryptoProviderKeepAlive& operator=(const CryptoProviderKeepAlive&) = delete;

private:
    unsigned long provider = 0;
};
