// Digest on Windows: CNG, through the calls the patcher's signature check binds.
#include "tools/publish/shared/digest.h"

#include "engine/release_signature.h"

struct Digest::Impl {
    UniqueBCryptAlgorithm algorithm;
    UniqueBCryptHash hash;
    ULONG size = 0;
    bool good = false;  // set up, and no call has failed since
};

Digest::Digest(Kind kind) : impl(new Impl) {
    impl->size = kind == Kind::Md5 ? 16 : 32;
    // No object buffer: CNG allocates it itself from Windows 7 on.
    impl->good = cng::OpenAlgorithmProvider(impl->algorithm.Put(),
                                            kind == Kind::Md5 ? BCRYPT_MD5_ALGORITHM : BCRYPT_SHA256_ALGORITHM,
                                            nullptr, 0) >= 0 &&
                 cng::CreateHash(impl->algorithm.Get(), impl->hash.Put(), nullptr, 0, nullptr, 0, 0) >= 0;
}

Digest::~Digest() = default;

void Digest::Update(const void* data, size_t length) {
    const UCHAR* next = static_cast<const UCHAR*>(data);
    while (impl->good && length > 0) {
        const ULONG piece = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        impl->good = cng::HashData(impl->hash.Get(), const_cast<UCHAR*>(next), piece, 0) >= 0;
        next += piece;
        length -= piece;
    }
}

std::string Digest::Finish() {
    std::string bytes(impl->size, '\0');
    const bool good =
        impl->good && cng::FinishHash(impl->hash.Get(), reinterpret_cast<UCHAR*>(&bytes[0]), impl->size, 0) >= 0;
    impl->good = false;
    return good ? bytes : std::string();
}
