#include "tools/publish/utf8_text.h"

#include <cstdio>

namespace {

// Length of the valid sequence starting at `pos`, or 0 when it is not one.
size_t SequenceLength(const std::string& bytes, size_t pos) {
    const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byteAt(pos);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // UTF-16 surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (pos + length > bytes.size()) return 0;
    if (byteAt(pos + 1) < low || byteAt(pos + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((byteAt(pos + i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
    for (size_t pos = 0; pos < bytes.size();) {
        size_t length = SequenceLength(bytes, pos);
        if (length == 0) return false;
        pos += length;
    }
    return true;
}

std::string PrintableName(const std::string& bytes) {
    std::string text;
    for (size_t pos = 0; pos < bytes.size();) {
        size_t length = SequenceLength(bytes, pos);
        unsigned char byte = static_cast<unsigned char>(bytes[pos]);
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
            ++pos;
        } else {
            text.append(bytes, pos, length);
            pos += length;
        }
    }
    return text;
}

std::u32string DecodeUtf8(const std::string& bytes) {
    std::u32string text;
    for (size_t pos = 0; pos < bytes.size();) {
        size_t length = SequenceLength(bytes, pos);
        if (length == 0) length = 1;  // not expected: keep going byte by byte
        unsigned char lead = static_cast<unsigned char>(bytes[pos]);
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (size_t i = 1; i < length; ++i) code = (code << 6) | (static_cast<unsigned char>(bytes[pos + i]) & 0x3F);
        text += code;
        pos += length;
    }
    return text;
}

std::string EncodeUtf8(const std::u32string& text) {
    std::string bytes;
    for (char32_t code : text) {
        if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | (code >> 6));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += static_cast<char>(0xE0 | (code >> 12));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (code >> 18));
            bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}
