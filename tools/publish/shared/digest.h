#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

// A message digest fed in pieces of any size, computed by the system's own
// cryptography: OpenSSL's EVP interface on Linux (digest_openssl.cpp), CNG on
// Windows (digest_cng.cpp). MD5 is what the patch list carries, SHA-256 what
// signatures cover.
class Digest {
public:
    enum class Kind { Md5, Sha256 };
    explicit Digest(Kind kind);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void Update(const void* data, size_t length);
    // Ends the message: its digest as raw bytes, or empty when the system could
    // not compute it. The object takes no more bytes afterwards.
    std::string Finish();
    // The same as lower-case hex digits, the form the patch list carries.
    std::string FinishHex();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// The digest of one whole message, as raw bytes; empty when it could not be
// computed.
std::string DigestOf(Digest::Kind kind, const std::string& message);

// The digest (raw bytes) and size of a file read in pieces, in constant memory;
// false when the file cannot be read or the digest cannot be computed.
bool DigestOfFile(Digest::Kind kind, const std::filesystem::path& path, std::string& digest, uint64_t& size);
