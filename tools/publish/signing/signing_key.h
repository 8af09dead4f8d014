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

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};

// Writes FOLDER/private.pem (readable by its owner alone) and FOLDER/public.pem
// for a new key; refuses when either exists.
bool GenerateSigningKeyPair(const std::filesystem::path& folder, std::string& error);

// The message an executable's signature covers: the version text, one zero byte,
// the executable's bytes.
std::string PatcherSignedMessage(const std::string& versionText, const std::string& exeBytes);
// What comes before the executable's bytes in that message.
std::string PatcherSignedPrefix(const std::string& versionText);

// The signature file at `target` verifies over `message`.
bool SignatureMatches(const SigningKey& key, const std::filesystem::path& target, const std::string& message);

// Keeps a signature at `target` that verifies over `message`, or writes a new one
// atomically; `written` says which. Signatures are randomised, so keeping a good
// one leaves an unchanged release's files untouched.
bool PlaceSignature(const SigningKey& key, const std::filesystem::path& target, const std::string& message,
                    bool& written, std::string& error);
