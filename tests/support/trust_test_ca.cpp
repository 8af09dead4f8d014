// Makes the tests' own CA a trusted root of the Wine prefix this program runs in:
//   trust_test_ca.exe CA.der
// The certificate goes into the local machine's "Root" store, which Wine keeps in
// the prefix's registry; the current user's "Root" store would ask the user to
// confirm on Windows. Certificates with the same subject from earlier runs (each
// test session makes a new CA) are removed first, so the store holds one.
// Exit code 0 when the certificate is in the store, 1 otherwise; it says why on
// standard error.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "base/unique_handle.h"

namespace {

struct CertStoreTraits {
    using Type = HCERTSTORE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CertCloseStore(h, 0); }
};
struct CertContextTraits {
    using Type = PCCERT_CONTEXT;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CertFreeCertificateContext(h); }
};
using UniqueCertStore = UniqueHandle<CertStoreTraits>;
using UniqueCertContext = UniqueHandle<CertContextTraits>;

bool ReadWholeFile(const wchar_t* path, std::string& bytes) {
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > 65536) return false;
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
           read == bytes.size();
}

int Fail(const char* what) {
    std::fprintf(stderr, "trust_test_ca: %s (error %lu)\n", what, GetLastError());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_test_ca.exe CA.der\n");
        return 2;
    }
    std::string der;
    if (!ReadWholeFile(argv[1], der)) return Fail("cannot read the certificate file");
    UniqueCertContext ca(CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
    if (!ca) return Fail("the file holds no DER certificate");

    UniqueCertStore root(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                       CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!root) return Fail("cannot open the local machine's Root store");

    // Earlier copies: found by subject, deleted one at a time. CertFindCertificateInStore
    // frees the context it is given, and CertDeleteCertificateFromStore frees the one
    // it deletes, so the search starts over after each deletion. Bounded, as every
    // deletion shrinks the store.
    for (int removed = 0; removed < 1000; ++removed) {
        PCCERT_CONTEXT old = CertFindCertificateInStore(root.Get(), X509_ASN_ENCODING, 0,
                                                        CERT_FIND_SUBJECT_NAME,
                                                        &ca.Get()->pCertInfo->Subject, nullptr);
        if (old == nullptr) break;
        if (!CertDeleteCertificateFromStore(old)) return Fail("cannot remove an earlier test CA");
    }

    if (!CertAddEncodedCertificateToStore(root.Get(), X509_ASN_ENCODING,
                                          reinterpret_cast<const BYTE*>(der.data()),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        return Fail("cannot add the certificate to the Root store");
    }
    // Wine writes a registry store's changes when the store is freed, and a
    // deleted certificate keeps it alive past CertCloseStore: commit them now.
    if (!CertControlStore(root.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        return Fail("cannot write the Root store");
    }
    root.Reset();

    // Read back from a store opened afresh, as the next program will see it.
    UniqueCertStore check(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG,
                                        L"Root"));
    BYTE hash[20] = {};
    DWORD hashSize = sizeof hash;
    if (!check || !CertGetCertificateContextProperty(ca.Get(), CERT_SHA1_HASH_PROP_ID, hash, &hashSize)) {
        return Fail("cannot read the Root store back");
    }
    CRYPT_HASH_BLOB wanted = {hashSize, hash};
    UniqueCertContext found(CertFindCertificateInStore(check.Get(), X509_ASN_ENCODING, 0,
                                                       CERT_FIND_SHA1_HASH, &wanted, nullptr));
    if (!found) return Fail("the certificate is not in the Root store after all");
    return 0;
}
