// The Windows build of the signing side, on CNG: keys as the PEM files openssl
// writes. Base64 and the public key's SubjectPublicKeyInfo ("PUBLIC KEY") are
// crypt32's. Private keys (PKCS#8 "PRIVATE KEY", or SEC1 "EC PRIVATE KEY" with
// its public point) are read and written by a small DER reader and writer of
// their own: Wine's crypt32, under which the Windows tests run, cannot decode
// either form.
#include "tools/publish/signing/signing_key.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "base/unique_handle.h"
#include "engine/release_signature.h"
#include "tools/publish/publish/staged_write.h"
#include "tools/publish/shared/digest.h"

namespace fs = std::filesystem;

namespace {

const size_t kCoordinate = 32;
const std::string kEcPublicKeyOid("\x2a\x86\x48\xce\x3d\x02\x01", 7);
const std::string kP256Oid("\x2a\x86\x48\xce\x3d\x03\x01\x07", 8);
// The curve as the algorithm's parameters carry it: the OID's DER.
const std::string kP256Parameters = std::string("\x06\x08", 2) + kP256Oid;

// Frees what crypt32 allocated for a decoded or encoded object.
struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

std::string Pem(const std::string& label, const std::string& der) {
    DWORD length = 0;
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(der.data());
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(der.size()), flags, nullptr, &length)) return std::string();
    std::string body(length, '\0');
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(der.size()), flags, &body[0], &length)) return std::string();
    body.resize(length);
    // Lines of 64 characters ending in LF, as openssl writes them.
    std::string text = "-----BEGIN " + label + "-----\n";
    for (size_t i = 0; i < body.size(); i += 64) text += body.substr(i, 64) + "\n";
    return text + "-----END " + label + "-----\n";
}

// The DER inside the first "-----BEGIN <label>-----" block; false when none.
bool PemBody(const std::string& text, const std::string& label, std::string& der) {
    const std::string begin = "-----BEGIN " + label + "-----";
    const std::string end = "-----END " + label + "-----";
    const size_t from = text.find(begin);
    if (from == std::string::npos) return false;
    const size_t to = text.find(end, from);
    if (to == std::string::npos) return false;
    const std::string body = text.substr(from + begin.size(), to - from - begin.size());
    DWORD length = 0;
    if (!CryptStringToBinaryA(body.c_str(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64, nullptr, &length,
                              nullptr, nullptr)) {
        return false;
    }
    der.assign(length, '\0');
    return CryptStringToBinaryA(body.c_str(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64,
                                reinterpret_cast<BYTE*>(&der[0]), &length, nullptr, nullptr) != FALSE;
}

// The SubjectPublicKeyInfo of a P-256 point (X‖Y), as openssl writes it.
std::string PublicKeyInfo(const std::string& point) {
    std::string key = std::string(1, '\x04') + point;
    CERT_PUBLIC_KEY_INFO info = {};
    info.Algorithm.pszObjId = const_cast<char*>(szOID_ECC_PUBLIC_KEY);
    info.Algorithm.Parameters.cbData = static_cast<DWORD>(kP256Parameters.size());
    info.Algorithm.Parameters.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(kP256Parameters.data()));
    info.PublicKey.cbData = static_cast<DWORD>(key.size());
    info.PublicKey.pbData = reinterpret_cast<BYTE*>(&key[0]);
    BYTE* encoded = nullptr;
    DWORD length = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                             &encoded, &length)) {
        return std::string();
    }
    std::unique_ptr<BYTE, LocalFreer> owned(encoded);
    return std::string(reinterpret_cast<const char*>(encoded), length);
}

// One DER element at a time: tag, then contents.
class DerReader {
public:
    explicit DerReader(const std::string& bytes) : data(bytes) {}
    bool Next(unsigned char& tag, std::string& contents) {
        if (at + 2 > data.size()) return false;
        tag = static_cast<unsigned char>(data[at]);
        size_t length = static_cast<unsigned char>(data[at + 1]);
        at += 2;
        if (length & 0x80) {
            const size_t count = length & 0x7F;
            if (count == 0 || count > 2 || at + count > data.size()) return false;
            length = 0;
            for (size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(data[at++]);
        }
        if (length > data.size() - at) return false;
        contents = data.substr(at, length);
        at += length;
        return true;
    }
    bool Expect(unsigned char wanted, std::string& contents) {
        unsigned char tag = 0;
        return Next(tag, contents) && tag == wanted;
    }
    bool AtEnd() const { return at == data.size(); }

private:
    std::string data;
    size_t at = 0;
};

// ECPrivateKey (SEC1): version 1, d, optionally [0] the curve, [1] the public point.
bool ReadEcPrivateKey(const std::string& der, std::string& d, std::string& point) {
    std::string sequence, version, curve;
    DerReader outer(der);
    if (!outer.Expect(0x30, sequence)) return false;
    DerReader fields(sequence);
    if (!fields.Expect(0x02, version) || version != std::string(1, '\x01') || !fields.Expect(0x04, d) ||
        d.size() != kCoordinate) {
        return false;
    }
    unsigned char tag = 0;
    std::string contents;
    while (fields.Next(tag, contents)) {
        if (tag == 0xA0) {
            DerReader inner(contents);
            if (!inner.Expect(0x06, curve) || curve != kP256Oid) return false;
        } else if (tag == 0xA1) {
            DerReader inner(contents);
            std::string bits;
            if (!inner.Expect(0x03, bits) || bits.size() != 2 + 2 * kCoordinate || bits[0] != 0 || bits[1] != 4) {
                return false;
            }
            point = bits.substr(2);
        }
    }
    return fields.AtEnd();
}

// PKCS#8: version 0, { id-ecPublicKey, prime256v1 }, OCTET STRING holding the ECPrivateKey.
bool ReadPkcs8(const std::string& der, std::string& d, std::string& point) {
    std::string sequence, version, algorithm, oid, curve, key;
    DerReader outer(der);
    if (!outer.Expect(0x30, sequence)) return false;
    DerReader fields(sequence);
    if (!fields.Expect(0x02, version) || version != std::string(1, '\0') || !fields.Expect(0x30, algorithm)) {
        return false;
    }
    DerReader ids(algorithm);
    if (!ids.Expect(0x06, oid) || oid != kEcPublicKeyOid || !ids.Expect(0x06, curve) || curve != kP256Oid) {
        return false;
    }
    return fields.Expect(0x04, key) && ReadEcPrivateKey(key, d, point);
}

std::string BlobOf(ULONG magic, const std::string& keyBytes) {
    BCRYPT_ECCKEY_BLOB header = {};
    header.dwMagic = magic;
    header.cbKey = kCoordinate;
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + keyBytes;
}

bool Import(const std::string& blob, LPCWSTR type, UniqueBCryptAlgorithm& algorithm, UniqueBCryptKey& key) {
    if (BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0) return false;
    std::string copy = blob;
    return BCryptImportKeyPair(algorithm.Get(), nullptr, type, key.Put(), reinterpret_cast<UCHAR*>(&copy[0]),
                               static_cast<ULONG>(copy.size()), 0) >= 0;
}

// A file only the current user may open: its DACL holds one entry, for the
// user, and inherits nothing from the folder.
bool WriteOwnerOnlyFile(const fs::path& path, const std::string& text, bool ownerOnly, std::string& error) {
    error = "cannot create " + path.string() + " (it must not exist yet)";
    std::vector<unsigned char> tokenUser;
    std::vector<unsigned char> aclBytes;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (ownerOnly) {
        UniqueKernelHandle token;
        DWORD size = 0;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
        GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
        tokenUser.resize(size);
        if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, tokenUser.data(), size, &size)) return false;
        PSID user = reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
        aclBytes.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user));
        PACL acl = reinterpret_cast<PACL>(aclBytes.data());
        if (!InitializeAcl(acl, static_cast<DWORD>(aclBytes.size()), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) ||
            !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
            !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            return false;
        }
        attributes.lpSecurityDescriptor = &descriptor;
    }
    UniqueFile file(CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file.Get())) {
        error = "cannot write " + path.string();
        return false;
    }
    error.clear();
    return true;
}

}  // namespace

struct SigningKey::Impl {
    UniqueBCryptAlgorithm algorithm;
    UniqueBCryptKey key;
};

SigningKey::SigningKey() : impl(new Impl) {}
SigningKey::~SigningKey() = default;
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;

bool SigningKey::LoadPrivate(const fs::path& pem, std::string& error) {
    std::string text, der, d, point;
    if (!ReadWholeFile(pem, text, 1u << 16)) {
        error = "cannot read " + pem.string();
        return false;
    }
    const bool parsed = (PemBody(text, "PRIVATE KEY", der) && ReadPkcs8(der, d, point)) ||
                        (PemBody(text, "EC PRIVATE KEY", der) && ReadEcPrivateKey(der, d, point));
    if (!parsed) {
        error = (text.find("PRIVATE KEY-----") == std::string::npos ? pem.string() + " holds no PEM private key"
                                                                   : pem.string() + " is not an ECDSA P-256 (prime256v1) key");
        return false;
    }
    if (point.empty()) {
        error = pem.string() + " holds no public point; write it again with openssl pkey";
        return false;
    }
    if (!Import(BlobOf(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, point + d), BCRYPT_ECCPRIVATE_BLOB, impl->algorithm,
                impl->key)) {
        error = pem.string() + ": the key does not load";
        return false;
    }
    return true;
}

bool SigningKey::LoadPublic(const fs::path& pem, std::string& error) {
    std::string text, der;
    if (!ReadWholeFile(pem, text, 1u << 16) || !PemBody(text, "PUBLIC KEY", der)) {
        error = pem.string() + " holds no PEM public key";
        return false;
    }
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, reinterpret_cast<const BYTE*>(der.data()),
                             static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size)) {
        error = pem.string() + " holds no PEM public key";
        return false;
    }
    std::unique_ptr<CERT_PUBLIC_KEY_INFO, LocalFreer> owned(info);
    const CRYPT_ALGORITHM_IDENTIFIER& algorithm = info->Algorithm;
    if (algorithm.pszObjId == nullptr || std::strcmp(algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0 ||
        std::string(reinterpret_cast<const char*>(algorithm.Parameters.pbData), algorithm.Parameters.cbData) !=
            kP256Parameters) {
        error = pem.string() + " is not an ECDSA P-256 (prime256v1) key";
        return false;
    }
    impl->algorithm.Reset();
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, CRYPT_OID_INFO_PUBKEY_SIGN_KEY_FLAG, nullptr,
                                     impl->key.Put())) {
        error = pem.string() + ": the key does not load";
        return false;
    }
    return true;
}

bool SigningKey::Sign(const std::string& message, std::string& signature, std::string& error) const {
    error = "cannot sign with the key";
    std::string digest = DigestOf(Digest::Kind::Sha256, message);
    if (!impl->key || digest.empty()) return false;
    std::string raw(2 * kCoordinate, '\0');
    ULONG length = 0;
    if (BCryptSignHash(impl->key.Get(), nullptr, reinterpret_cast<UCHAR*>(&digest[0]),
                       static_cast<ULONG>(digest.size()), reinterpret_cast<UCHAR*>(&raw[0]),
                       static_cast<ULONG>(raw.size()), &length, 0) < 0 ||
        length != raw.size()) {
        return false;
    }
    signature = raw;
    error.clear();
    return true;
}

bool SigningKey::VerifiesDigest(const std::string& sha256, const std::string& signature) const {
    std::string digest = sha256;
    std::string copy = signature;
    if (!impl->key || digest.size() != 32 || copy.size() != 2 * kCoordinate) return false;
    return BCryptVerifySignature(impl->key.Get(), nullptr, reinterpret_cast<UCHAR*>(&digest[0]),
                                 static_cast<ULONG>(digest.size()), reinterpret_cast<UCHAR*>(&copy[0]),
                                 static_cast<ULONG>(copy.size()), 0) == 0;
}

std::string SigningKey::PublicPoint() const {
    if (!impl->key) return std::string();
    std::string blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate, '\0');
    ULONG length = 0;
    if (BCryptExportKey(impl->key.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, reinterpret_cast<UCHAR*>(&blob[0]),
                        static_cast<ULONG>(blob.size()), &length, 0) < 0 ||
        length != blob.size()) {
        return std::string();
    }
    return blob.substr(sizeof(BCRYPT_ECCKEY_BLOB));
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
    error = "cannot make a new key";
    UniqueBCryptAlgorithm algorithm;
    UniqueBCryptKey key;
    if (BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0 ||
        BCryptGenerateKeyPair(algorithm.Get(), key.Put(), 256, 0) < 0 || BCryptFinalizeKeyPair(key.Get(), 0) < 0) {
        return false;
    }
    std::string blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate, '\0');
    ULONG length = 0;
    if (BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, reinterpret_cast<UCHAR*>(&blob[0]),
                        static_cast<ULONG>(blob.size()), &length, 0) < 0 ||
        length != blob.size()) {
        return false;
    }
    const std::string point = blob.substr(sizeof(BCRYPT_ECCKEY_BLOB), 2 * kCoordinate);
    const std::string d = blob.substr(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate);
    // The DER openssl writes for a P-256 key: PKCS#8 around an ECPrivateKey with
    // its public point, and the SubjectPublicKeyInfo.
    const std::string ecPrivateKey = std::string("\x30\x6b\x02\x01\x01\x04\x20", 7) + d +
                                     std::string("\xa1\x44\x03\x42\x00\x04", 6) + point;
    const std::string pkcs8 = std::string("\x30\x81\x87\x02\x01\x00\x30\x13\x06\x07", 10) + kEcPublicKeyOid +
                              std::string("\x06\x08", 2) + kP256Oid + std::string("\x04\x6d", 2) + ecPrivateKey;
    const std::string spki = PublicKeyInfo(point);
    const std::string privateText = Pem("PRIVATE KEY", pkcs8);
    const std::string publicText = spki.empty() ? std::string() : Pem("PUBLIC KEY", spki);
    if (privateText.empty() || publicText.empty()) return false;
    if (!WriteOwnerOnlyFile(privatePath, privateText, true, error)) return false;
    if (!WriteOwnerOnlyFile(publicPath, publicText, false, error)) {
        fs::remove(privatePath, code);
        return false;
    }
    return true;
}
