#pragma once

#include <array>
#include <cstddef>
#include <string>

// Bytes as two lower-case hexadecimal digits each, the form in which the patch
// list carries digests.
std::string ToHex(const unsigned char* bytes, size_t count);

template <size_t Size>
std::string ToHex(const std::array<unsigned char, Size>& bytes) {
    return ToHex(bytes.data(), Size);
}
