// The decoding of the server's UTF-8 (list paths, digests, the version text).
// The path checks rely on it: a separator, a dot or a colon in the decoded text
// must be one that was written as that ASCII byte, never the product of a
// damaged sequence.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/text.h"
#include "fuzz/fuzz_check.h"

namespace {

bool IsScalarValue(wchar_t unit) {
    const uint32_t cp = static_cast<uint32_t>(unit);
    return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

// Well-formed UTF-8 as the standard defines it: shortest forms, no surrogates,
// nothing above U+10FFFF.
bool IsWellFormed(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t cp = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            length = 2;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string AsciiOf(const std::string& text) {
    std::string ascii;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x80) ascii += c;
    }
    return ascii;
}

std::string AsciiOf(const std::wstring& text) {
    std::string ascii;
    for (wchar_t c : text) {
        if (static_cast<uint32_t>(c) < 0x80) ascii += static_cast<char>(c);
    }
    return ascii;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string text = raw.substr(0, std::strlen(raw.c_str()));  // up to the first NUL
    const std::wstring wide = Utf8ToWide(raw);

    FUZZ_CHECK(wide == Utf8ToWide(text));
    FUZZ_CHECK(wide.size() <= text.size());
    for (wchar_t unit : wide) {
        FUZZ_CHECK(unit != L'\0');
        FUZZ_CHECK(IsScalarValue(unit));
    }
    // ASCII passes through one for one, in order; damaged sequences neither
    // swallow an ASCII byte nor turn into one.
    FUZZ_CHECK(AsciiOf(wide) == AsciiOf(text));

    // The validator the path checks rely on agrees with the definition.
    FUZZ_CHECK(IsValidUtf8(text) == IsWellFormed(text));
    if (IsWellFormed(text)) {
        FUZZ_CHECK(wide.find(static_cast<wchar_t>(0xFFFD)) == std::wstring::npos ||
                   text.find("\xEF\xBF\xBD") != std::string::npos);
        FUZZ_CHECK(WideToUtf8(wide) == text);
    } else {
        FUZZ_CHECK(wide.find(static_cast<wchar_t>(0xFFFD)) != std::wstring::npos);
    }
    // Whatever was decoded encodes to well-formed UTF-8 that decodes the same.
    const std::string encoded = WideToUtf8(wide);
    FUZZ_CHECK(IsWellFormed(encoded));
    FUZZ_CHECK(Utf8ToWide(encoded) == wide);
    return 0;
}
