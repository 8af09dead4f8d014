#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace {

const char kPolishPath[] = "dane/za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt";  // dane/zażółć.txt

TEST(Utf8Validation, AcceptsWellFormedTextUpToTheLastCodePoint) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8(kPolishPath));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80 \xEF\xBF\xBD \xF4\x8F\xBF\xBF"));
    EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));
}

TEST(Utf8Validation, RefusesOverlongSurrogateTooLargeAndCutSequences) {
    for (const char* bytes : {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xED\xA0\x80",
                              "\xF4\x90\x80\x80", "\xF5\x80", "za\xBF", "z\xC5", "\xE2\x82" "a"}) {
        EXPECT_FALSE(IsValidUtf8(bytes)) << PrintableName(bytes);
    }
}

// Windows' converter replaces each maximal ill-formed subpart, and the byte that
// broke a sequence starts the next character.
TEST(Utf8Decoding, ReplacesEachIllFormedPartAndKeepsWhatFollows) {
    EXPECT_EQ(DecodeUtf8("z\xC5\xBC\xF0\x9F\x98\x80"), U"z\u017C\U0001F600");
    EXPECT_EQ(DecodeUtf8("\xE2\x82" "a"), U"\uFFFDa");
    EXPECT_EQ(DecodeUtf8("\xC0\xAF"), U"\uFFFD\uFFFD");
    EXPECT_EQ(DecodeUtf8("\xF4\x90\x80\x80"), U"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(DecodeUtf8("\xED\xA0\x80z"), U"\uFFFD\uFFFD\uFFFDz");
}

TEST(Utf8Encoding, WritesScalarValuesAndReplacesTheRest) {
    EXPECT_EQ(EncodeUtf8(U"z\u017C\U0001F600\U0010FFFF"), "z\xC5\xBC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(EncodeUtf8(std::u32string{0xD800, 0x110000}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf16ToUtf8, JoinsSurrogatePairsAndRefusesLoneOnes) {
    std::string utf8;
    ASSERT_TRUE(Utf16ToUtf8(u"z\u017C\U0001F600", utf8));
    EXPECT_EQ(utf8, "z\xC5\xBC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16Length(utf8), 4u);
    EXPECT_FALSE(Utf16ToUtf8(std::u16string{u'a', 0xD83D}, utf8));
    EXPECT_FALSE(Utf16ToUtf8(std::u16string{0xDE00, u'a'}, utf8));
    EXPECT_FALSE(Utf16ToUtf8(std::u16string{0xD83D, u'a'}, utf8));
}

TEST(PrintableName, EscapesControlAndIllFormedBytesOnly) {
    EXPECT_EQ(PrintableName(kPolishPath), kPolishPath);
    EXPECT_EQ(PrintableName("n\xFF\x01\x7F.txt"), "n\\xFF\\x01\\x7F.txt");
    EXPECT_EQ(PrintableName("z\xC5"), "z\\xC5");
}

// The conversions every wide path, URL and log line goes through: Windows' own
// converter, or the native stand-in, give the same.
TEST(Utf8ToWideConversion, PolishLettersAndEmptyText) {
    EXPECT_EQ(Utf8ToWide(kPolishPath), L"dane/zażółć.txt");
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
}

TEST(WideToUtf8Conversion, PolishLettersEmptyTextAndNul) {
    EXPECT_EQ(WideToUtf8(L"Patcher zamknięty"), "Patcher zamkni\xC4\x99ty");
    EXPECT_EQ(WideToUtf8(L"dane/zażółć.txt"), kPolishPath);
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(WideToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
}

}  // namespace
