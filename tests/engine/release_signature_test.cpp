#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/release_signature.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// A P-256 key pair made with openssl for these tests (the private half was
// thrown away), a second unrelated public key, and two signatures by the first:
// over kList, and over "1.0.6.0", a zero byte and ExeBytes().
const std::string kPublisherKey(
    "\x8f\xdd\xd0\xb8\x7c\xb3\xac\x5d\x94\x02\x51\x77\x72\xb8\x66\x18"
    "\xab\x4c\x85\x22\x55\x97\xf1\xa9\x52\xbc\x38\xc4\x7d\xdc\x9c\x94"
    "\x07\x65\x9c\x8b\x83\xee\x1a\xec\x38\x38\xa5\xc1\xc0\x39\x93\x62"
    "\x34\x41\xa5\xc3\x32\xe3\xf5\xe6\x89\x23\xd8\x11\x6a\xac\x99\xc3", 64);
const std::string kOtherKey(
    "\x96\x25\x35\x69\xa6\x13\xd9\x53\x3b\xd5\xbf\x75\x03\x9d\x42\xda"
    "\xc7\x25\x4f\xcc\x10\x41\x4f\xcb\x9c\xeb\xac\xf8\xbc\xeb\x2b\x4d"
    "\xcd\x79\xac\x88\xd2\x9a\xcb\x5a\x5c\x05\x1a\x1d\x9e\x61\x3e\xb5"
    "\xbb\x29\x69\xb6\x77\x46\x10\x63\x61\x2e\x77\x57\xed\x2a\xba\xf8", 64);
const std::string kList =
    "data/a.bin 0cc175b9c0f1b6a831c399e269772661 1\ndata/b.bin 900150983cd24fb0d6963f7d28e17f72 3\n";
const std::string kListSignature(
    "\x14\x97\xf3\x64\xea\x66\x53\x3a\x8e\x40\xcc\xda\xcb\x9f\x4a\xe0"
    "\xc8\xb5\xf3\x10\xa3\x45\xf5\x3a\x97\x4a\x41\x43\x85\xc8\xa0\x04"
    "\xef\x27\x78\xaa\x75\xee\x15\xa2\xb2\xdf\x4e\x88\x1e\x88\x10\xd6"
    "\xb8\x15\xfc\x3a\xef\xcc\xaa\xb5\x73\xc4\x76\xab\x41\x38\x16\x1a", 64);
const std::string kExeSignature(
    "\x2f\x6f\xe1\xa2\xd2\x88\x88\x69\xc0\x15\x9d\x52\x02\x68\x02\xe5"
    "\x4b\xd7\x07\x20\xd9\x12\xaa\xef\xd8\xea\xef\x47\x5e\xe2\x3c\x7c"
    "\x93\x10\x5b\x24\x15\x88\x6a\x72\x3a\xb3\x6d\x4d\xd6\x9f\x1d\x11"
    "\x0c\x1a\x20\xe2\xff\xc7\x76\xd2\xa7\xdc\x3f\xa3\x91\x81\xad\x10", 64);

std::string ExeBytes() {
    std::string bytes("MZ\x90\x00", 4);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    }
    return bytes;
}

std::string Flipped(std::string bytes, size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

class ReleaseSignatureTest : public ::testing::Test {
protected:
    bool ExeVerifies(const std::string& exe, const std::string& version, const std::string& signature,
                     const std::string& key = kPublisherKey) {
        WriteBytes(exePath, exe);
        return VerifyPatcherSignature(key, version, exePath, signature);
    }
    TempDir dir;
    std::wstring exePath = dir / L"Vorlen-Patcher.exe.new";
};

TEST(Sha256, DigestsInPiecesAsOneWhole) {
    Sha256 hash;
    ASSERT_TRUE(hash.Start());
    ASSERT_TRUE(hash.Add("a", 1));
    ASSERT_TRUE(hash.Add("bc", 2));
    EXPECT_EQ(hash.Finish(), std::string("\xba\x78\x16\xbf\x8f\x01\xcf\xea\x41\x41\x40\xde\x5d\xae\x22\x23"
                                         "\xb0\x03\x61\xa3\x96\x17\x7a\x9c\xb4\x10\xff\x61\xf2\x00\x15\xad",
                                         32));
    EXPECT_EQ(hash.Finish(), "") << "a finished hash takes no more";
    ASSERT_TRUE(hash.Start());
    EXPECT_EQ(hash.Finish().size(), 32u) << "the same object starts again";
}

TEST_F(ReleaseSignatureTest, AListVerifiesOnlyAsSignedWithItsKey) {
    EXPECT_TRUE(VerifyListSignature(kPublisherKey, kList, kListSignature));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, kList, Flipped(kListSignature, 10)));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, kList, Flipped(kListSignature, 63)));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, kList, kListSignature.substr(0, 63)));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, kList, kListSignature + '\0'));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, kList, ""));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, kList, std::string(64, '\0')));
    EXPECT_FALSE(VerifyListSignature(kOtherKey, kList, kListSignature));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, Flipped(kList, 20), kListSignature));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, kList + "\n", kListSignature));
    EXPECT_FALSE(VerifyListSignature(kPublisherKey, "", kListSignature));
}

TEST_F(ReleaseSignatureTest, AnExecutableVerifiesOnlyUnderItsOwnVersion) {
    EXPECT_TRUE(ExeVerifies(ExeBytes(), "1.0.6.0", kExeSignature));
    EXPECT_FALSE(ExeVerifies(ExeBytes(), "1.0.7.0", kExeSignature)) << "replayed under a newer version";
    EXPECT_FALSE(ExeVerifies(ExeBytes(), "1.0.6.0 ", kExeSignature));
    EXPECT_FALSE(ExeVerifies(Flipped(ExeBytes(), 500), "1.0.6.0", kExeSignature));
    EXPECT_FALSE(ExeVerifies(ExeBytes() + "x", "1.0.6.0", kExeSignature));
    EXPECT_FALSE(ExeVerifies(ExeBytes(), "1.0.6.0", Flipped(kExeSignature, 0)));
    EXPECT_FALSE(ExeVerifies(ExeBytes(), "1.0.6.0", kExeSignature.substr(0, 32)));
    EXPECT_FALSE(ExeVerifies(ExeBytes(), "1.0.6.0", ""));
    EXPECT_FALSE(ExeVerifies(ExeBytes(), "1.0.6.0", kExeSignature, kOtherKey));
    EXPECT_FALSE(ExeVerifies(ExeBytes(), "1.0.6.0", kListSignature));
    EXPECT_FALSE(VerifyPatcherSignature(kPublisherKey, "1.0.6.0", dir / L"missing.exe", kExeSignature));
}

TEST(ReleaseSignatureKey, TakesOnlyAWholePointAndVerifiesNothingAfterARefusal) {
    ReleaseSignatureKey key;
    EXPECT_TRUE(key.Import(kPublisherKey));
    EXPECT_FALSE(key.Import(kPublisherKey.substr(0, 63)));
    EXPECT_FALSE(key.VerifyDigest(std::string(32, 'x'), kListSignature)) << "no key held after a refusal";
    // A point off the curve: Windows refuses it when imported, Wine 8 takes it;
    // either way nothing verifies with it.
    EXPECT_FALSE(VerifyListSignature(Flipped(kPublisherKey, 63), kList, kListSignature));
}

}  // namespace
