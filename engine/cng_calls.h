#pragma once
// The CNG calls the release signatures make, bound from bcrypt.dll in the system
// folder when the first of them is made. The library is not one of the program's
// imports, so a process that never checks a signature never loads or starts it.
// When it cannot be loaded every call fails with STATUS_DLL_NOT_FOUND, and a
// signature check that needs it fails.

#include <windows.h>
#include <bcrypt.h>

namespace cng {

NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithmId,
                               LPCWSTR implementation, ULONG flags);
NTSTATUS CloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS CreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject,
                    ULONG hashObjectLength, PUCHAR secret, ULONG secretLength, ULONG flags);
NTSTATUS HashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputLength, ULONG flags);
NTSTATUS FinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputLength, ULONG flags);
NTSTATUS DestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS ImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType,
                       BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG inputLength, ULONG flags);
NTSTATUS DestroyKey(BCRYPT_KEY_HANDLE key);
NTSTATUS VerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR hash, ULONG hashLength,
                         PUCHAR signature, ULONG signatureLength, ULONG flags);

}  // namespace cng
