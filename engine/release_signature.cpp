#include "engine/release_signature.h"

#include <vector>

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

bool Sha256::Start() {
    hash.Reset();
    if (!algorithm &&
        !Succeeded(cng::OpenAlgorithmProvider(algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    // No object buffer: CNG allocates it itself from Windows 7 on.
    return Succeeded(cng::CreateHash(algorithm.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0));
}

bool Sha256::Add(const void* bytes, size_t count) {
    if (!hash) return false;
    const UCHAR* next = static_cast<const UCHAR*>(bytes);
    while (count > 0) {
        ULONG piece = count > 0x40000000u ? 0x40000000u : static_cast<ULONG>(count);
        if (!Succeeded(cng::HashData(hash.Get(), const_cast<UCHAR*>(next), piece, 0))) return false;
        next += piece;
        count -= piece;
    }
    return true;
}

std::string Sha256::Finish() {
    if (!hash) return std::string();
    std::string digest(32, '\0');
    NTSTATUS status = cng::FinishHash(hash.Get(), reinterpret_cast<UCHAR*>(&digest[0]),
                                       static_cast<ULONG>(digest.size()), 0);
    hash.Reset();
    return Succeeded(status) ? digest : std::string();
}

bool ReleaseSignatureKey::Import(const std::string& publicKey) {
    key.Reset();
    if (publicKey.size() != kSigningKeyBytes) return false;
    if (!algorithm &&
        !Succeeded(cng::OpenAlgorithmProvider(algorithm.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    // BCRYPT_ECCKEY_BLOB, then X and Y of 32 bytes each, big-endian.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + kSigningKeyBytes);
    BCRYPT_ECCKEY_BLOB header = {};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    memcpy(blob.data(), &header, sizeof header);
    memcpy(blob.data() + sizeof header, publicKey.data(), kSigningKeyBytes);
    return Succeeded(cng::ImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Put(),
                                         blob.data(), static_cast<ULONG>(blob.size()), 0));
}

bool ReleaseSignatureKey::VerifyDigest(const std::string& digest, const std::string& signature) const {
    if (!key || digest.size() != 32 || signature.size() != kSignatureBytes) return false;
    std::string digestCopy = digest;
    std::string signatureCopy = signature;
    NTSTATUS status = cng::VerifySignature(
        key.Get(), nullptr, reinterpret_cast<UCHAR*>(&digestCopy[0]), static_cast<ULONG>(digestCopy.size()),
        reinterpret_cast<UCHAR*>(&signatureCopy[0]), static_cast<ULONG>(signatureCopy.size()), 0);
    return status == 0;
}

std::string Sha256OfBytes(const std::string& bytes) {
    Sha256 hash;
    if (!hash.Start() || !hash.Add(bytes.data(), bytes.size())) return std::string();
    return hash.Finish();
}

bool Sha256OfFile(const std::wstring& path, std::string& digest, uint64_t& size) {
    digest.clear();
    size = 0;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    Sha256 hash;
    if (!file || !hash.Start()) return false;
    std::vector<char> buffer(64 * 1024);
    uint64_t total = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
        if (read == 0) break;
        if (!hash.Add(buffer.data(), read)) return false;
        total += read;
    }
    digest = hash.Finish();
    size = total;
    return !digest.empty();
}

std::string StatementSignedBy(const ReleaseStatement& statement, const std::vector<PublisherKey>& keys) {
    const std::string digest = Sha256OfBytes(StatementSignedBytes(statement));
    if (digest.empty()) return std::string();
    for (const StatementSignature& line : statement.signatures) {
        for (const PublisherKey& candidate : keys) {
            if (candidate.id != line.keyId) continue;
            ReleaseSignatureKey key;
            if (key.Import(candidate.point) && key.VerifyDigest(digest, line.signature)) return candidate.id;
        }
    }
    return std::string();
}
