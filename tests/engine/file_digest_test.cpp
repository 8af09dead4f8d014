#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "base/unique_handle.h"
#include "engine/file_digest.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class FileDigestTest : public ::testing::Test {
protected:
    std::string DigestOf(const std::string& bytes) {
        std::wstring path = dir / L"f.bin";
        WriteBytes(path, bytes);
        return ComputeFileMd5(path);
    }
    TempDir dir;
};

TEST_F(FileDigestTest, Rfc1321TestSuite) {
    EXPECT_EQ(DigestOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DigestOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(DigestOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(DigestOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(DigestOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(DigestOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(DigestOf("1234567890123456789012345678901234567890123456789012345678901234567890"
                       "1234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(CryptoProviderKeepAlive, HoldsAContextThatHashes) {
    CryptoProviderKeepAlive keepAlive;
    EXPECT_EQ(keepAlive.Get(), 0u);  // nothing is held before the first Acquire
    keepAlive.Acquire();
    // A handle cut to 32 bits names no context once contexts lie above 4 GiB.
    static_assert(sizeof keepAlive.Get() == sizeof(void*), "a provider handle is pointer-sized");
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(keepAlive.Get(), CALG_MD5, 0, 0, &hash));
    const BYTE abc[] = {'a', 'b', 'c'};
    BYTE digest[16] = {};
    DWORD length = sizeof digest;
    EXPECT_TRUE(CryptHashData(hash, abc, sizeof abc, 0));
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0));
    CryptDestroyHash(hash);
    EXPECT_EQ(digest[0], 0x90);  // MD5("abc") = 900150983cd24fb0d6963f7d28e17f72
    EXPECT_EQ(digest[15], 0x72);
}

TEST_F(FileDigestTest, BlockBoundariesAgreeWithMd5sum) {
    // The session made these files and ran md5sum over them.
    std::istringstream sums(ReadBytes(SessionDir() + L"\\digest\\md5sums.txt"));
    std::string digest, name;
    int checked = 0;
    while (sums >> digest >> name) {
        std::wstring path = SessionDir() + L"\\digest\\" + Utf8(name);
        EXPECT_EQ(ComputeFileMd5(path), digest) << name;
        ++checked;
    }
    EXPECT_EQ(checked, 6) << "0, 1, 8191, 8192, 8193 and 5 MiB + 3 bytes";
}

TEST_F(FileDigestTest, ResultIsLowerCaseHexAndRepeatable) {
    std::string first = DigestOf(PatternBytes(100000, 9));
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(ComputeFileMd5(dir / L"f.bin"), first);
}

TEST_F(FileDigestTest, UnreadableThingsGiveAnEmptyResult) {
    EXPECT_EQ(ComputeFileMd5(dir / L"missing.bin"), "");
    CreateDirectoryW((dir / L"folder").c_str(), nullptr);
    EXPECT_EQ(ComputeFileMd5(dir / L"folder"), "");

    std::wstring locked = dir / L"locked.bin";
    WriteBytes(locked, "secret");
    UniqueFile exclusive(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive);
    EXPECT_EQ(ComputeFileMd5(locked), "");
    exclusive.Reset();
    EXPECT_EQ(ComputeFileMd5(locked), Md5Hex("secret"));
}

TEST_F(FileDigestTest, FileOpenForWritingByAnotherHandleCanStillBeHashed) {
    std::wstring path = dir / L"shared.bin";
    WriteBytes(path, "shared");
    UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(ComputeFileMd5(path), Md5Hex("shared"));
}

TEST_F(FileDigestTest, PolishFileNamesWork) {
    std::wstring path = dir / L"zażółć gęślą.bin";
    WriteBytes(path, "abc");
    EXPECT_EQ(ComputeFileMd5(path), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
