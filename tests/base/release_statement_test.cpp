#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/base64.h"
#include "base/names_and_limits.h"
#include "base/release_statement.h"
#include "tests/support/sample_statement.h"

namespace {

// A statement as the publisher writes it, with every optional line.
const std::string kUnsigned = kSampleUnsignedStatement;
const std::string kSignatures =
    kSampleSignatureLine +
    "signature 3bf4263bb6875e42 AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==\n";
const std::string kStatement = kUnsigned + kSignatures;

// The statement with the first occurrence of `from` replaced by `to`.
std::string With(const std::string& from, const std::string& to, std::string text = kStatement) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

bool Parses(const std::string& text) {
    ReleaseStatement statement;
    std::string problem;
    const bool parsed = ParseReleaseStatement(text, statement, problem);
    EXPECT_EQ(parsed, problem.empty()) << problem;
    return parsed;
}

TEST(Base64, WritesPaddedTextAndReadsOnlyThatText) {
    const char* const pairs[][2] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
                                    {"\xff\xfe\xfd", "//79"}};
    for (const auto& pair : pairs) {
        std::string decoded;
        EXPECT_EQ(EncodeBase64(pair[0]), pair[1]);
        EXPECT_TRUE(DecodeBase64(pair[1], decoded)) << pair[1];
        EXPECT_EQ(decoded, pair[0]);
    }
    // Unpadded, padding inside, bits past the last byte, white space, another alphabet.
    for (const char* text : {"Zg", "Zg=", "Zg==Zg==", "Z===", "Zh==", "Zm9=", "Zm9v\n", "Zm 9", "Zm-_"}) {
        std::string decoded = "untouched";
        EXPECT_FALSE(DecodeBase64(text, decoded)) << text;
    }
}

TEST(ReleaseStatement, ReadsEveryFieldAndWritesTheSameBytesBack) {
    ReleaseStatement statement;
    std::string problem;
    ASSERT_TRUE(ParseReleaseStatement(kStatement, statement, problem)) << problem;
    EXPECT_EQ(statement.release, 42u);
    EXPECT_TRUE(statement.hasExpiry);
    EXPECT_EQ(statement.expires, 1798761599);
    EXPECT_EQ(statement.listSha256.size(), 32u);
    EXPECT_EQ(statement.listSha256.substr(0, 2), "\xd9\xd0");
    EXPECT_EQ(statement.listSize, 41u);
    EXPECT_TRUE(statement.hasPatcher);
    EXPECT_EQ(statement.patcherVersion, "1.0.6.0");
    EXPECT_EQ(statement.patcherSha256.substr(30), "\x9f\x2d");
    EXPECT_EQ(statement.patcherSize, 2u);
    ASSERT_EQ(statement.signatures.size(), 2u);
    EXPECT_EQ(statement.signatures[1].keyId, "3bf4263bb6875e42");
    EXPECT_EQ(statement.signatures[1].signature.size(), 64u);
    EXPECT_EQ(statement.signatures[1].signature[63], '\x3f');

    EXPECT_EQ(StatementFieldProblem(statement), "");
    EXPECT_EQ(SerializeReleaseStatement(statement), kStatement);
    EXPECT_EQ(StatementUnsignedText(statement), kUnsigned);
    EXPECT_EQ(StatementSignedBytes(statement), "vorlen release statement v1\n" + kUnsigned);

    // The shortest statement: no expiry, no patcher, one signature.
    const std::string shortest = "vorlen-release 1\nrelease 1\n"
                                 "list-sha256 " + std::string(64, '0') + "\nlist-size 0\n" +
                                 kSignatures.substr(0, kSignatures.find('\n') + 1);
    ASSERT_TRUE(ParseReleaseStatement(shortest, statement, problem)) << problem;
    EXPECT_FALSE(statement.hasExpiry);
    EXPECT_FALSE(statement.hasPatcher);
    EXPECT_EQ(SerializeReleaseStatement(statement), shortest);
    EXPECT_TRUE(Parses(With("release 42", "release 18446744073709551615")));
    EXPECT_TRUE(Parses(With("list-size 41", "list-size 16777216")));
}

TEST(ReleaseStatement, RefusesAnythingButTheOneForm) {
    const std::string signatureLine = kSignatures.substr(0, kSignatures.find('\n') + 1);
    const std::string cases[] = {
        "",
        kUnsigned,                                                          // no signature
        With("\n", "\r\n"),                                                 // CR LF
        kStatement.substr(0, kStatement.size() - 1),                        // no final line feed
        With("release 42\n", "release 42\n\n"),                             // an empty line
        With("vorlen-release 1", "vorlen-release 2"),
        With("release 42\n", "release 42\ncomment hello\n"),                // an unknown line
        With("release 42\n", "release 42\nrelease 43\n"),                   // a repeated line
        With("list-size 41\n", "") + "list-size 41\n",                      // out of order
        kStatement + "release 43\n",                                        // after the signatures
        With("release 42", "release 0"),
        With("release 42", "release 042"),
        With("release 42", "release +42"),
        With("release 42", "release 18446744073709551616"),
        With("release 42", "release  42"),
        With("release 42", "release 42 "),
        With("T23:59:59Z", " 23:59:59Z"),
        With("T23:59:59Z", "T23:59:59"),
        With("2026-12-31T23:59:59Z", "2026-02-29T00:00:00Z"),               // not a leap year
        With("2026-12-31T23:59:59Z", "2026-12-31T24:00:00Z"),
        With("2026-12-31T23:59:59Z", "2026-12-31T23:59:60Z"),
        With("2026-12-31T23:59:59Z", "1969-12-31T23:59:59Z"),
        With("list-sha256 d9", "list-sha256 D9"),
        With("list-sha256 d9", "list-sha256 d"),
        With("list-size 41", "list-size 16777217"),                          // more than the patcher reads
        With("patcher-sha256 ", "list-sha256 "),
        With("patcher-size 2\n", ""),                                       // an incomplete patcher
        With("patcher-size 2", "patcher-size 0"),
        With("patcher-size 2", "patcher-size 4294967296"),
        With("1.0.6.0", "1.0 6.0"),
        With("1.0.6.0", std::string(kLongestSignedVersion + 1, '1')),
        With("signature fe2992a81a456411 ", "signature fe2992a81a45641 "),  // 15 digits
        With("signature fe2992a81a456411 ", "signature FE2992A81A456411 "),
        With("VCQiv7", "VCQiv7="),                                          // not base64
        With("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==",
             EncodeBase64(std::string(63, 'x'))),                           // 63 bytes
        With("3bf4263bb6875e42", "fe2992a81a456411"),                       // one key twice
        kStatement + std::string(kLargestReleaseStatement, 'x'),
    };
    for (const std::string& text : cases) EXPECT_FALSE(Parses(text)) << text;
    // However many signatures fit, the whole stays within the limit.
    std::string many = kUnsigned;
    for (int i = 0; many.size() + signatureLine.size() <= kLargestReleaseStatement; ++i) {
        char id[17];
        std::snprintf(id, sizeof id, "%016x", i);
        many += "signature " + std::string(id) + signatureLine.substr(26);
    }
    EXPECT_TRUE(Parses(many));
    EXPECT_FALSE(Parses(many + signatureLine));
}

TEST(StatementTime, OneExactUtcFormWithRealDates) {
    const std::pair<int64_t, const char*> pairs[] = {{0, "1970-01-01T00:00:00Z"},
                                                     {951782400, "2000-02-29T00:00:00Z"},
                                                     {1798761599, "2026-12-31T23:59:59Z"},
                                                     {4107542400, "2100-03-01T00:00:00Z"},
                                                     {253402300799, "9999-12-31T23:59:59Z"}};
    for (const auto& pair : pairs) {
        int64_t seconds = -1;
        EXPECT_EQ(FormatStatementTime(pair.first), pair.second);
        EXPECT_TRUE(ParseStatementTime(pair.second, seconds)) << pair.second;
        EXPECT_EQ(seconds, pair.first);
    }
    int64_t seconds = 0;
    for (const char* text : {"2100-02-29T00:00:00Z", "2026-04-31T00:00:00Z", "2026-13-01T00:00:00Z",
                             "2026-00-10T00:00:00Z", "2026-12-31T23:59:59+00:00", "2026-12-31t23:59:59z"}) {
        EXPECT_FALSE(ParseStatementTime(text, seconds)) << text;
    }
}

TEST(StatementKeyId, TheFirstEightBytesOfTheKeysDerDigest) {
    const std::string point(64, '\x11');
    const std::string der = P256SubjectPublicKeyInfo(point);
    ASSERT_EQ(der.size(), 91u);
    EXPECT_EQ(der.substr(0, 4), "\x30\x59\x30\x13");
    EXPECT_EQ(der.substr(23, 4), std::string("\x03\x42\x00\x04", 4));
    EXPECT_EQ(der.substr(27), point);
    EXPECT_EQ(P256SubjectPublicKeyInfo(point.substr(1)), "");
    EXPECT_EQ(StatementKeyId(std::string("\x01\x23\x45\x67\x89\xab\xcd\xef\xff", 9) + std::string(23, '\0')),
              "0123456789abcdef");
}

}  // namespace
