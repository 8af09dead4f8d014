#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/release_check.h"
#include "engine/release_signature.h"
#include "support/test_signing.h"
#include "support/test_support.h"
#include "support/sample_statement.h"

using namespace testing_support;

namespace {

// A P-256 public key made with openssl for these tests (the private half was
// thrown away), its id as openssl's DER gives it, a second unrelated key, and a
// statement the first one signed with `openssl dgst -sha256 -sign`.
const std::string kPublisherPoint(
    "\xb6\x01\x64\xfb\x4d\x53\x9e\x64\xa9\x97\x98\x13\xde\x3e\x77\xc5"
    "\xb6\xee\xff\x15\x50\x18\xaf\xd4\x6e\xf3\x2e\x5c\xf9\x48\x4c\x73"
    "\xda\x60\x0d\xfe\x11\x03\x7c\x53\xa2\xc2\x74\xf9\xf2\x56\xce\x38"
    "\x5b\x1a\xb0\x54\x59\xb9\x2c\x26\x45\x2d\x96\x07\xc5\x2c\xcd\xdd", 64);
const PublisherKey kPublisher{"fe2992a81a456411", kPublisherPoint};
const PublisherKey kOther{"3bf4263bb6875e42", std::string(
    "\xc5\x58\x02\x2d\xa6\xa4\xb8\x42\x8f\xe4\xb0\x8f\xbd\xbe\x4f\x0b"
    "\x2e\xd6\x82\x32\xae\xac\xd3\x62\x37\x01\xf2\x96\xc7\x4f\x20\x91"
    "\x70\x7d\x32\x46\x48\x6f\x09\x42\x14\x5f\x93\x66\x6c\x87\x9d\xa4"
    "\x52\x68\x91\x94\x84\x81\x80\xe9\xcc\x20\x59\xcc\xa7\xdc\xbb\x5a", 64)};
const std::string kOpensslStatement = kSampleUnsignedStatement + kSampleSignatureLine;
const int64_t kExpiry = 1798761599;  // 2026-12-31T23:59:59Z
const std::string kList = "a.bin 0cc175b9c0f1b6a831c399e269772661 1\n";

ReleaseStatement Parsed(const std::string& text) {
    ReleaseStatement statement;
    std::string problem;
    EXPECT_TRUE(ParseReleaseStatement(text, statement, problem)) << problem;
    return statement;
}

TEST(Sha256, DigestsInPiecesAsOneWhole) {
    const std::string abc("\xba\x78\x16\xbf\x8f\x01\xcf\xea\x41\x41\x40\xde\x5d\xae\x22\x23"
                          "\xb0\x03\x61\xa3\x96\x17\x7a\x9c\xb4\x10\xff\x61\xf2\x00\x15\xad", 32);
    Sha256 hash;
    ASSERT_TRUE(hash.Start());
    ASSERT_TRUE(hash.Add("a", 1));
    ASSERT_TRUE(hash.Add("bc", 2));
    EXPECT_EQ(hash.Finish(), abc);
    EXPECT_EQ(hash.Finish(), "") << "a finished hash takes no more";
    ASSERT_TRUE(hash.Start());
    EXPECT_EQ(hash.Finish().size(), 32u) << "the same object starts again";
    EXPECT_EQ(Sha256OfBytes("abc"), abc);

    TempDir dir;
    std::string digest;
    uint64_t size = 0;
    const std::string big = PatternBytes(200000, 5);  // several reads
    WriteBytes(dir / L"f.bin", big);
    ASSERT_TRUE(Sha256OfFile(dir / L"f.bin", digest, size));
    EXPECT_EQ(digest, Sha256OfBytes(big));
    EXPECT_EQ(size, 200000u);
    EXPECT_FALSE(Sha256OfFile(dir / L"missing.bin", digest, size));
    EXPECT_EQ(digest, "");
}

TEST(StatementSignature, OpensslsSignatureVerifiesUnderTheKeyItNames) {
    // The id the patcher computes is the one openssl's DER gives.
    EXPECT_EQ(StatementKeyId(Sha256OfBytes(P256SubjectPublicKeyInfo(kPublisherPoint))), kPublisher.id);
    EXPECT_EQ(StatementSignedBy(Parsed(kOpensslStatement), {kOther, kPublisher}), kPublisher.id);
    EXPECT_EQ(StatementSignedBy(Parsed(kOpensslStatement), {kOther}), "");
    EXPECT_EQ(StatementSignedBy(Parsed(kOpensslStatement), {}), "");
    // The other key under the publisher's id: the id picks the key, the key must verify.
    EXPECT_EQ(StatementSignedBy(Parsed(kOpensslStatement), {{kPublisher.id, kOther.point}}), "");
    // Any signed field changed: the signature no longer covers it.
    for (const char* changed : {"release 43\n", "expires 2027-12-31T23:59:59Z\n", "list-size 40\n",
                                "patcher-version 1.0.6.1\n"}) {
        std::string text = kOpensslStatement;
        const std::string name = std::string(changed).substr(0, std::string(changed).find(' ') + 1);
        const size_t at = text.find("\n" + name) + 1;
        text.replace(at, text.find('\n', at) + 1 - at, changed);
        EXPECT_EQ(StatementSignedBy(Parsed(text), {kPublisher}), "") << changed;
    }
}

TEST(StatementSignature, AnyOneCompiledInKeyIsEnough) {
    TestSigningKey a, b, c;
    const ReleaseStatement statement = StatementFor(7, kList);
    const std::string byAAndB = Signed(statement, {&a, &b});
    EXPECT_EQ(StatementSignedBy(Parsed(byAAndB), {a.Public()}), a.Public().id) << "a patcher holding A alone";
    EXPECT_EQ(StatementSignedBy(Parsed(byAAndB), {b.Public()}), b.Public().id) << "a patcher holding B alone";
    EXPECT_EQ(StatementSignedBy(Parsed(Signed(statement, {&b})), {a.Public(), b.Public()}), b.Public().id);
    EXPECT_EQ(StatementSignedBy(Parsed(Signed(statement, {&c})), {a.Public(), b.Public()}), "");
    // A good signature by A beside a broken one by B still counts.
    ReleaseStatement broken = Parsed(byAAndB);
    broken.signatures[1].signature[5] ^= 1;
    EXPECT_EQ(StatementSignedBy(broken, {a.Public(), b.Public()}), a.Public().id);
    broken.signatures[0].signature[5] ^= 1;
    EXPECT_EQ(StatementSignedBy(broken, {a.Public(), b.Public()}), "");
}

TEST(ReleaseAcceptance, FloorExpiryAndSignatureDecide) {
    TestSigningKey key, stranger;
    ReleaseStatement statement = StatementFor(5, kList);
    statement.hasExpiry = true;
    statement.expires = kExpiry;
    const std::string text = Signed(statement, {&key});
    const std::vector<PublisherKey> keys = {key.Public()};
    const int64_t hour = 3600;

    ReleaseCheck check = CheckReleaseStatement(text, keys, 5, kExpiry - hour);
    EXPECT_EQ(check.verdict, ReleaseVerdict::Accepted) << "the same release again";
    EXPECT_EQ(check.keyId, key.Public().id);
    EXPECT_EQ(check.statement.release, 5u);
    EXPECT_EQ(CheckReleaseStatement(text, keys, 0, kExpiry - hour).verdict, ReleaseVerdict::Accepted);
    EXPECT_EQ(CheckReleaseStatement(text, keys, 6, kExpiry - hour).verdict, ReleaseVerdict::Older);
    // A day of grace past the expiry for the player's clock, and not a second more.
    EXPECT_EQ(CheckReleaseStatement(text, keys, 5, kExpiry + 12 * hour).verdict, ReleaseVerdict::Accepted);
    EXPECT_EQ(CheckReleaseStatement(text, keys, 5, kExpiry + 24 * hour).verdict, ReleaseVerdict::Accepted);
    EXPECT_EQ(CheckReleaseStatement(text, keys, 5, kExpiry + 24 * hour + 1).verdict, ReleaseVerdict::Expired);
    EXPECT_EQ(CheckReleaseStatement(text, keys, 5, kExpiry + 48 * hour).verdict, ReleaseVerdict::Expired);
    // The signature before anything it vouches for: an unsigned old release is no "older release".
    EXPECT_EQ(CheckReleaseStatement(Signed(statement, {&stranger}), keys, 6, kExpiry + 48 * hour).verdict,
              ReleaseVerdict::Unsigned);
    EXPECT_EQ(CheckReleaseStatement(text.substr(1), keys, 0, 0).verdict, ReleaseVerdict::Malformed);
    statement.hasExpiry = false;
    EXPECT_EQ(CheckReleaseStatement(Signed(statement, {&key}), keys, 0, INT64_MAX / 2).verdict,
              ReleaseVerdict::Accepted)
        << "without an expiry a statement never expires";

    EXPECT_TRUE(MatchesSignedBytes(kList, statement.listSha256, statement.listSize));
    EXPECT_FALSE(MatchesSignedBytes(kList + "b.bin 92eb5ffee6ae2fec3ad71c777531578f 1\n", statement.listSha256,
                                    statement.listSize));
    std::string sameSize = kList;
    sameSize[0] = 'b';
    EXPECT_FALSE(MatchesSignedBytes(sameSize, statement.listSha256, statement.listSize));
    EXPECT_FALSE(MatchesSignedBytes(kList, statement.listSha256, statement.listSize + 1));
}

TEST(ReleaseSignatureKey, TakesOnlyAWholePointAndVerifiesNothingAfterARefusal) {
    const std::string digest = Sha256OfBytes(StatementSignedBytes(Parsed(kOpensslStatement)));
    const std::string signature = Parsed(kOpensslStatement).signatures[0].signature;
    ReleaseSignatureKey key;
    EXPECT_TRUE(key.Import(kPublisherPoint));
    EXPECT_TRUE(key.VerifyDigest(digest, signature));
    EXPECT_FALSE(key.Import(kPublisherPoint.substr(0, 63)));
    EXPECT_FALSE(key.VerifyDigest(digest, signature)) << "no key held after a refusal";
    // A point off the curve: Windows refuses it when imported, Wine 8 takes it;
    // either way nothing verifies with it.
    std::string offCurve = kPublisherPoint;
    offCurve[63] ^= 1;
    EXPECT_EQ(StatementSignedBy(Parsed(kOpensslStatement), {{kPublisher.id, offCurve}}), "");
}

}  // namespace
