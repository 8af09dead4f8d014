// Digest on Linux: OpenSSL's EVP interface.
#include "tools/publish/shared/digest.h"

#include <openssl/evp.h>

struct Digest::Impl {
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextFree> context;
    bool good = false;  // set up, and no call has failed since
};

Digest::Digest(Kind kind) : impl(new Impl) {
    impl->context.reset(EVP_MD_CTX_new());
    impl->good = impl->context &&
                 EVP_DigestInit_ex(impl->context.get(), kind == Kind::Md5 ? EVP_md5() : EVP_sha256(), nullptr) == 1;
}

Digest::~Digest() = default;

void Digest::Update(const void* data, size_t length) {
    if (impl->good && EVP_DigestUpdate(impl->context.get(), data, length) != 1) impl->good = false;
}

std::string Digest::Finish() {
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool good = impl->good && EVP_DigestFinal_ex(impl->context.get(), bytes, &length) == 1;
    impl->good = false;
    return good ? std::string(reinterpret_cast<const char*>(bytes), length) : std::string();
}
