#include "tools/publish/signing/signing_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <openssl/x509.h>

#include <cstdio>

#include "base/release_statement.h"
#include "tools/publish/publish/staged_write.h"

namespace fs = std::filesystem;

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct EcdsaSigFree {
    void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using UniquePkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using UniquePkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using UniqueMdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using UniqueEcdsaSig = std::unique_ptr<ECDSA_SIG, EcdsaSigFree>;
using UniqueBio = std::unique_ptr<BIO, BioFree>;

bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    size_t length = 0;
    return EVP_PKEY_is_a(key, "EC") && EVP_PKEY_get_group_name(key, group, sizeof group, &length) &&
           std::string(group) == "prime256v1";
}

UniquePkey ReadPem(const fs::path& pem, bool isPrivate, std::string& error) {
    std::string text;
    if (!ReadWholeFile(pem, text, 1u << 16)) {
        error = "cannot read " + pem.string();
        return nullptr;
    }
    UniqueBio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    UniquePkey key(isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                             : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key) {
        error = pem.string() + std::string(" holds no PEM ") + (isPrivate ? "private" : "public") + " key";
    } else if (!IsP256(key.get())) {
        error = pem.string() + " is not an ECDSA P-256 (prime256v1) key";
        key.reset();
    }
    return key;
}

bool WriteNewFile(const fs::path& path, const std::string& text, mode_t mode, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "cannot create " + path.string() + " (it must not exist yet)";
        return false;
    }
    // The mode asked for is cut by the umask; the private key's must be exactly it.
    bool good = ::fchmod(fd, mode) == 0 &&
                ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    good = ::close(fd) == 0 && good;
    if (!good) error = "cannot write " + path.string();
    return good;
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<size_t>(length));
}

}  // namespace

struct SigningKey::Impl {
    UniquePkey key;
};

SigningKey::SigningKey() : impl(new Impl) {}
SigningKey::~SigningKey() = default;
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;

bool SigningKey::LoadPrivate(const fs::path& pem, std::string& error) {
    impl->key = ReadPem(pem, true, error);
    return impl->key != nullptr;
}

bool SigningKey::LoadPublic(const fs::path& pem, std::string& error) {
    impl->key = ReadPem(pem, false, error);
    return impl->key != nullptr;
}

bool SigningKey::Sign(const std::string& message, std::string& signature, std::string& error) const {
    error = "cannot sign with the key";
    if (!impl->key) return false;
    UniqueMdCtx context(EVP_MD_CTX_new());
    size_t length = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, impl->key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
        return false;
    }
    std::string der(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&der[0]), &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
        return false;
    }
    // OpenSSL writes DER (SEQUENCE of r and s); the patcher reads r‖s, 32 bytes each.
    const unsigned char* next = reinterpret_cast<const unsigned char*>(der.data());
    UniqueEcdsaSig parsed(d2i_ECDSA_SIG(nullptr, &next, static_cast<long>(length)));
    if (!parsed) return false;
    std::string raw(64, '\0');
    if (BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), reinterpret_cast<unsigned char*>(&raw[0]), 32) != 32 ||
        BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), reinterpret_cast<unsigned char*>(&raw[32]), 32) != 32) {
        return false;
    }
    signature = raw;
    error.clear();
    return true;
}

bool SigningKey::VerifiesDigest(const std::string& sha256, const std::string& signature) const {
    if (!impl->key || sha256.size() != 32 || signature.size() != 64) return false;
    // The patcher's r‖s, as the DER OpenSSL takes.
    UniqueEcdsaSig parsed(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(reinterpret_cast<const unsigned char*>(signature.data()), 32, nullptr);
    BIGNUM* s = BN_bin2bn(reinterpret_cast<const unsigned char*>(signature.data()) + 32, 32, nullptr);
    if (!parsed || !r || !s || ECDSA_SIG_set0(parsed.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(parsed.get(), &der);
    if (length <= 0) return false;
    UniquePkeyCtx context(EVP_PKEY_CTX_new(impl->key.get(), nullptr));
    const bool good = context && EVP_PKEY_verify_init(context.get()) == 1 &&
                      EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1 &&
                      EVP_PKEY_verify(context.get(), der, static_cast<size_t>(length),
                                      reinterpret_cast<const unsigned char*>(sha256.data()), sha256.size()) == 1;
    OPENSSL_free(der);
    return good;
}

std::string SigningKey::PublicPoint() const {
    if (!impl->key) return std::string();
    // The DER SubjectPublicKeyInfo ends in the uncompressed point's X‖Y.
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(impl->key.get(), &der);
    if (length <= 0) return std::string();
    const std::string info(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    const std::string point = info.size() > 64 ? info.substr(info.size() - 64) : std::string();
    return P256SubjectPublicKeyInfo(point) == info ? point : std::string();
}

bool GenerateSigningKeyPair(const fs::path& folder, std::string& error) {
    const fs::path privatePath = folder / "private.pem";
    const fs::path publicPath = folder / "public.pem";
    std::error_code code;
    if (fs::exists(privatePath, code) || fs::exists(publicPath, code)) {
        error = "refusing to overwrite a key in " + folder.string();
        return false;
    }
    fs::create_directories(folder, code);
    UniquePkey key(EVP_EC_gen("P-256"));
    UniqueBio privateText(BIO_new(BIO_s_mem()));
    UniqueBio publicText(BIO_new(BIO_s_mem()));
    if (!key || !privateText || !publicText ||
        PEM_write_bio_PrivateKey(privateText.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_PUBKEY(publicText.get(), key.get()) != 1) {
        error = "cannot make a new key";
        return false;
    }
    if (!WriteNewFile(privatePath, BioText(privateText.get()), 0600, error)) return false;
    if (!WriteNewFile(publicPath, BioText(publicText.get()), 0644, error)) {
        fs::remove(privatePath, code);
        return false;
    }
    return true;
}
