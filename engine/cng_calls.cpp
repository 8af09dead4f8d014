#include "engine/cng_calls.h"

#include "base/system_folder.h"

namespace cng {
namespace {

const NTSTATUS kDllNotFound = static_cast<NTSTATUS>(0xC0000135L);  // STATUS_DLL_NOT_FOUND

using OpenAlgorithmProviderFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using CloseAlgorithmProviderFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
using CreateHashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG,
                                       PUCHAR, ULONG, ULONG);
using HashDataFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using FinishHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using DestroyHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);
using ImportKeyPairFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR,
                                          BCRYPT_KEY_HANDLE*, PUCHAR, ULONG, ULONG);
using DestroyKeyFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE);
using VerifySignatureFn = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG,
                                            ULONG);

// Every entry point, or none: a library that lacks one of them is not used at all.
struct Library {
    OpenAlgorithmProviderFn openAlgorithmProvider = nullptr;
    CloseAlgorithmProviderFn closeAlgorithmProvider = nullptr;
    CreateHashFn createHash = nullptr;
    HashDataFn hashData = nullptr;
    FinishHashFn finishHash = nullptr;
    DestroyHashFn destroyHash = nullptr;
    ImportKeyPairFn importKeyPair = nullptr;
    DestroyKeyFn destroyKey = nullptr;
    VerifySignatureFn verifySignature = nullptr;
    bool loaded = false;
};

template <typename Fn>
bool Bind(HMODULE module, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return target != nullptr;
}

Library LoadLibraryOnce() {
    Library library;
    // By its full path in the system folder, and its own imports from there too:
    // never a DLL from the game folder. The library stays loaded for the life
    // of the process.
    HMODULE module = LoadSystemLibrary(L"bcrypt.dll");
    if (module == nullptr) return library;
    library.loaded = Bind(module, "BCryptOpenAlgorithmProvider", library.openAlgorithmProvider) &&
                     Bind(module, "BCryptCloseAlgorithmProvider", library.closeAlgorithmProvider) &&
                     Bind(module, "BCryptCreateHash", library.createHash) &&
                     Bind(module, "BCryptHashData", library.hashData) &&
                     Bind(module, "BCryptFinishHash", library.finishHash) &&
                     Bind(module, "BCryptDestroyHash", library.destroyHash) &&
                     Bind(module, "BCryptImportKeyPair", library.importKeyPair) &&
                     Bind(module, "BCryptDestroyKey", library.destroyKey) &&
                     Bind(module, "BCryptVerifySignature", library.verifySignature);
    return library;
}

const Library& Cng() {
    static const Library library = LoadLibraryOnce();  // once, also with several threads
    return library;
}

}  // namespace

NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithmId,
                               LPCWSTR implementation, ULONG flags) {
    const Library& c = Cng();
    return c.loaded ? c.openAlgorithmProvider(algorithm, algorithmId, implementation, flags)
                    : kDllNotFound;
}

NTSTATUS CloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
    const Library& c = Cng();
    return c.loaded ? c.closeAlgorithmProvider(algorithm, flags) : kDllNotFound;
}

NTSTATUS CreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject,
                    ULONG hashObjectLength, PUCHAR secret, ULONG secretLength, ULONG flags) {
    const Library& c = Cng();
    return c.loaded ? c.createHash(algorithm, hash, hashObject, hashObjectLength, secret,
                                   secretLength, flags)
                    : kDllNotFound;
}

NTSTATUS HashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputLength, ULONG flags) {
    const Library& c = Cng();
    return c.loaded ? c.hashData(hash, input, inputLength, flags) : kDllNotFound;
}

NTSTATUS FinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputLength, ULONG flags) {
    const Library& c = Cng();
    return c.loaded ? c.finishHash(hash, output, outputLength, flags) : kDllNotFound;
}

NTSTATUS DestroyHash(BCRYPT_HASH_HANDLE hash) {
    const Library& c = Cng();
    return c.loaded ? c.destroyHash(hash) : kDllNotFound;
}

NTSTATUS ImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType,
                       BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG inputLength, ULONG flags) {
    const Library& c = Cng();
    return c.loaded ? c.importKeyPair(algorithm, importKey, blobType, key, input, inputLength, flags)
                    : kDllNotFound;
}

NTSTATUS DestroyKey(BCRYPT_KEY_HANDLE key) {
    const Library& c = Cng();
    return c.loaded ? c.destroyKey(key) : kDllNotFound;
}

NTSTATUS VerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR hash, ULONG hashLength,
                         PUCHAR signature, ULONG signatureLength, ULONG flags) {
    const Library& c = Cng();
    return c.loaded ? c.verifySignature(key, paddingInfo, hash, hashLength, signature,
                                        signatureLength, flags)
                    : kDllNotFound;
}

}  // namespace cng
