#include "tools/publish/md5.h"

#include <cstring>

namespace {

// Per-round shift amounts and the sine-derived constants of RFC 1321, section 3.4.
const uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                             5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                             4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                             6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

uint32_t RotateLeft(uint32_t value, uint32_t bits) { return (value << bits) | (value >> (32 - bits)); }

}  // namespace

Md5::Md5() : state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::Transform(const uint8_t block[64]) {
    // The message words are little-endian whatever the host's byte order.
    uint32_t words[16];
    for (int i = 0; i < 16; ++i) {
        words[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
                   static_cast<uint32_t>(block[i * 4 + 2]) << 16 |
                   static_cast<uint32_t>(block[i * 4 + 3]) << 24;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int index;
        if (i < 16) {
            f = (b & c) | (~b & d);
            index = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            index = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            index = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            index = (7 * i) % 16;
        }
        uint32_t next = b + RotateLeft(a + f + kSine[i] + words[index], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void Md5::Update(const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    messageBytes += length;
    if (pendingBytes > 0) {
        size_t take = pending.size() - pendingBytes;
        if (take > length) take = length;
        std::memcpy(pending.data() + pendingBytes, bytes, take);
        pendingBytes += take;
        bytes += take;
        length -= take;
        if (pendingBytes < pending.size()) return;
        Transform(pending.data());
        pendingBytes = 0;
    }
    while (length >= 64) {
        Transform(bytes);
        bytes += 64;
        length -= 64;
    }
    std::memcpy(pending.data(), bytes, length);
    pendingBytes = length;
}

std::array<uint8_t, 16> Md5::Finish() {
    // Padding: one 0x80 byte, zeros up to 56 bytes mod 64, then the bit length
    // as a little-endian 64-bit number (modulo 2^64, as the RFC says).
    const uint64_t bitLength = messageBytes * 8;
    const uint8_t marker = 0x80;
    Update(&marker, 1);
    const uint8_t zero = 0;
    while (pendingBytes != 56) Update(&zero, 1);
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bitLength >> (8 * i));
    Update(lengthBytes, 8);

    std::array<uint8_t, 16> digest;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<uint8_t>(state[i] >> (8 * j));
    }
    return digest;
}

std::string ToHex(const std::array<uint8_t, 16>& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

std::string Md5Hex(const std::string& bytes) {
    Md5 md5;
    md5.Update(bytes.data(), bytes.size());
    return ToHex(md5.Finish());
}
