// The Windows build of the tool: no signing yet (the Linux build signs with
// OpenSSL). Every use says so instead of publishing an unsigned release.
#include "tools/publish/signing_key.h"

namespace {
const char kUnsupported[] = "signing needs the Linux build of vorlen-publish";
}

struct SigningKey::Impl {};

SigningKey::SigningKey() : impl(new Impl) {}
SigningKey::~SigningKey() = default;
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;

bool SigningKey::LoadPrivate(const std::filesystem::path&, std::string& error) {
    error = kUnsupported;
    return false;
}
bool SigningKey::LoadPublic(const std::filesystem::path&, std::string& error) {
    error = kUnsupported;
    return false;
}
bool SigningKey::Sign(const std::string&, std::string&, std::string& error) const {
    error = kUnsupported;
    return false;
}
bool SigningKey::Verifies(const std::string&, const std::string&) const { return false; }

bool GenerateSigningKeyPair(const std::filesystem::path&, std::string& error) {
    error = kUnsupported;
    return false;
}
