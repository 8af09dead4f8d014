#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// MD5 as RFC 1321 defines it, fed in pieces of any size.
class Md5 {
public:
    Md5();
    void Update(const void* data, size_t length);
    // Ends the message; the object must not be fed afterwards.
    std::array<uint8_t, 16> Finish();

private:
    void Transform(const uint8_t block[64]);

    std::array<uint32_t, 4> state;
    uint64_t messageBytes = 0;
    std::array<uint8_t, 64> pending = {};
    size_t pendingBytes = 0;
};

// The 32 lower-case hex digits the patch list carries.
std::string Md5Hex(const std::string& bytes);
