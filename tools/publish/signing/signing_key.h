#pragma once

#include <filesystem>
#include <memory>
#include <string>

// The publisher's ECDSA P-256 key. Signatures are the 64-byte r‖s over SHA-256
// of the message, the form the patcher checks with CNG. OpenSSL on Linux
// (signing_openssl.cpp), CNG and crypt32 on Windows (signing_cng.cpp); what
// both share is in signatures.cpp.
class SigningKey {
public:
    SigningKey();
    ~SigningKey();
    SigningKey(SigningKey&&) noexcept;
    SigningKey& operator=(SigningKey&&) noexcept;

    // A private key as `openssl genpkey`/`ecparam -genkey` write it (PEM).
    bool LoadPrivate(const std::filesystem::path& pem, std::string& error);
    // A public key as `openssl ec -pubout` writes it (PEM); verification only.
    bool LoadPublic(const std::filesystem::path& pem, std::string& error);

    bool Sign(const std::string& message, std::string& signature, std::string& error) const;
    bool Verifies(const std::string& message, const std::string& signature) const;
    // The same for a message whose SHA-256 was taken as it streamed by
    // (Digest::Kind::Sha256), so that it never has to be held whole.
    bool VerifiesDigest(const std::string& sha256, const std::string& signature) const;

    // The key's public point, X‖Y (64 bytes); empty when no key is loaded.
    std::string PublicPoint() const;
    // The id a release statement names the key by (16 hex digits); empty when
    // no key is loaded.
    std::string Id() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};

// Writes FOLDER/private.pem (readable by its owner alone) and FOLDER/public.pem
// for a new key; refuses when either exists.
bool GenerateSigningKeyPair(const std::filesystem::path& folder, std::string& error);
