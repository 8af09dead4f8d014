#include <gtest/gtest.h>

#include <string>

#include "tools/publish/shared/digest.h"

namespace {

std::string Md5Hex(const std::string& bytes) {
    Digest md5(Digest::Kind::Md5);
    md5.Update(bytes.data(), bytes.size());
    return md5.FinishHex();
}

TEST(Md5, MatchesTheTestSuiteOfRfc1321) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456789"
                     "0"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// Lengths around the 56-byte padding limit and the 64-byte block.
TEST(Md5, PadsMessagesEndingNearABlockBoundary) {
    EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(Md5Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
    EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, GivesOneDigestHoweverTheInputIsCutIntoPieces) {
    std::string message;
    for (int i = 0; i < 1000; ++i) message += static_cast<char>((i * 131 + 7) & 0xFF);
    const std::string whole = Md5Hex(message);
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 127u, 999u}) {
        Digest md5(Digest::Kind::Md5);
        for (size_t pos = 0; pos < message.size(); pos += piece) {
            md5.Update(message.data() + pos, std::min(piece, message.size() - pos));
        }
        EXPECT_EQ(md5.FinishHex(), whole) << "pieces of " << piece;
    }
}

// FIPS 180-2's examples: what signatures cover.
TEST(Sha256Digest, MatchesTheExamplesOfFips180) {
    auto sha256 = [](const std::string& message) {
        Digest digest(Digest::Kind::Sha256);
        digest.Update(message.data(), message.size());
        return digest.FinishHex();
    };
    EXPECT_EQ(sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
