#include <gtest/gtest.h>

#include <string>

#include "base/ascii_case.h"

namespace {

TEST(AsciiLowerCase, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(AsciiLower("ABCdef09@[\xC5\x81"), "abcdef09@[\xC5\x81");
    EXPECT_EQ(AsciiLowerChar(L'Z'), L'z');
    EXPECT_EQ(AsciiLowerChar(L'\u0141'), L'\u0141');  // Ł
    EXPECT_EQ(AsciiLowerChar(U'\U0001F600'), U'\U0001F600');
}

}  // namespace
