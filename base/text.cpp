#include "base/text.h"

#include <cstdio>

namespace {

const char32_t kReplacement = 0xFFFD;

// One character read at a position of UTF-8 text.
struct Utf8Char {
    char32_t code = kReplacement;
    size_t length = 1;  // bytes read; of an ill-formed sequence, its maximal ill-formed subpart
    bool valid = false;
};

// The lead byte fixes the length and the range of the first continuation byte;
// the narrower ranges exclude overlong forms, surrogates and values above
// U+10FFFF. An incomplete sequence ends before the byte that broke it, which is
// then read again as the start of whatever follows, so a damaged sequence never
// swallows an ASCII byte.
Utf8Char ReadUtf8Char(const std::string& bytes, size_t pos) {
    Utf8Char read;
    const unsigned char lead = static_cast<unsigned char>(bytes[pos]);
    size_t continuations = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t code = 0;
    if (lead < 0x80) {
        read.code = lead;
        read.valid = true;
        return read;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // UTF-16 surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return read;  // 80..C1 and F5..FF never start a character
    }
    for (size_t k = 1; k <= continuations; ++k) {
        if (pos + k >= bytes.size()) return read;
        const unsigned char next = static_cast<unsigned char>(bytes[pos + k]);
        if (next < low || next > high) return read;
        code = (code << 6) | (next & 0x3F);
        low = 0x80;
        high = 0xBF;
        read.length = k + 1;
    }
    read.code = code;
    read.valid = true;
    return read;
}

void AppendUtf8(std::string& bytes, char32_t code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
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

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
    for (size_t pos = 0; pos < bytes.size();) {
        const Utf8Char read = ReadUtf8Char(bytes, pos);
        if (!read.valid) return false;
        pos += read.length;
    }
    return true;
}

std::u32string DecodeUtf8(const std::string& bytes) {
    std::u32string text;
    text.reserve(bytes.size());
    for (size_t pos = 0; pos < bytes.size();) {
        const Utf8Char read = ReadUtf8Char(bytes, pos);
        text += read.code;
        pos += read.length;
    }
    return text;
}

std::string EncodeUtf8(const std::u32string& text) {
    std::string bytes;
    for (char32_t code : text) AppendUtf8(bytes, code);
    return bytes;
}

bool Utf16ToUtf8(const std::u16string& text, std::string& utf8) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 1 >= text.size()) return false;
            const char32_t low = text[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        AppendUtf8(bytes, code);
    }
    utf8 = bytes;
    return true;
}

size_t Utf16Length(const std::string& utf8) {
    size_t units = 0;
    for (char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;  // a lead byte starts one code point
        if (byte >= 0xF0) ++units;           // beyond U+FFFF: a surrogate pair
    }
    return units;
}

std::string PrintableName(const std::string& bytes) {
    std::string text;
    for (size_t pos = 0; pos < bytes.size();) {
        const Utf8Char read = ReadUtf8Char(bytes, pos);
        const unsigned char byte = static_cast<unsigned char>(bytes[pos]);
        if (!read.valid || byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
            ++pos;
        } else {
            text.append(bytes, pos, read.length);
            pos += read.length;
        }
    }
    return text;
}
