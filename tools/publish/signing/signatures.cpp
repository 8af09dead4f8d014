#include "tools/publish/signing/signing_key.h"
#include "tools/publish/publish/staged_write.h"

std::string PatcherSignedMessage(const std::string& versionText, const std::string& exeBytes) {
    std::string message = versionText;
    message.push_back('\0');
    message += exeBytes;
    return message;
}

bool SignatureMatches(const SigningKey& key, const std::filesystem::path& target, const std::string& message) {
    std::string existing;
    return ReadWholeFile(target, existing, 64) && key.Verifies(message, existing);
}

bool PlaceSignature(const SigningKey& key, const std::filesystem::path& target, const std::string& message,
                    bool& written, std::string& error) {
    written = false;
    if (SignatureMatches(key, target, message)) return true;
    std::string signature;
    if (!key.Sign(message, signature, error)) return false;
    auto verifies = [&](const std::string& back, std::string& reason) {
        if (key.Verifies(message, back)) return true;
        reason = "it does not verify";
        return false;
    };
    written = true;
    return WriteFileAtomically(target, signature, verifies, error);
}
