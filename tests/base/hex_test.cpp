#include <gtest/gtest.h>

#include <array>
#include <string>

#include "base/hex.h"

namespace {

TEST(Hex, TwoLowerCaseDigitsPerByteWithLeadingZeros) {
    const std::array<unsigned char, 5> bytes = {0x00, 0x0F, 0x9A, 0xF0, 0xFF};
    EXPECT_EQ(ToHex(bytes), "000f9af0ff");
    EXPECT_EQ(ToHex(bytes.data(), 0), "");
}

}  // namespace
