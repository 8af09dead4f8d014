// Utf8ToWide and WideToUtf8 for the native (Linux) build, which has no
// MultiByteToWideChar. Windows builds use text.cpp; only the native build
// (the fuzzers) compiles this file.
//
// The results match the Windows converters with CP_UTF8 and no flags: the input
// ends at its first NUL, and each ill-formed sequence (a stray continuation byte,
// a truncated sequence, an overlong form, an encoded surrogate, anything above
// U+10FFFF) becomes one U+FFFD per maximal ill-formed subpart, so a following
// ASCII byte is never swallowed. On Linux wchar_t is 32 bits wide, so a wide
// string here holds UTF-32 code units: one unit per character, where Windows has
// a surrogate pair for characters above U+FFFF.
#include "engine/text.h"

#if defined(_WIN32)
#error "Windows builds convert with MultiByteToWideChar (engine/text.cpp)"
#endif

#include <cstring>

static_assert(sizeof(wchar_t) == 4, "the native build keeps one UTF-32 unit per wchar_t");

namespace {

const wchar_t kReplacement = 0xFFFD;

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
    return c >= low && c <= high;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text) {
    // Like the Windows call, which is given a NUL-terminated string.
    const size_t end = std::strlen(text.c_str());
    std::wstring wide;
    wide.reserve(end);
    size_t i = 0;
    while (i < end) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            wide += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        // The lead byte fixes the length and the range of the first continuation
        // byte; the narrower ranges exclude overlong forms, surrogates and
        // values above U+10FFFF.
        size_t continuations = 0;
        unsigned char low = 0x80, high = 0xBF;
        char32_t cp = 0;
        if (InRange(lead, 0xC2, 0xDF)) {
            continuations = 1;
            cp = lead & 0x1F;
        } else if (InRange(lead, 0xE0, 0xEF)) {
            continuations = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (InRange(lead, 0xF0, 0xF4)) {
            continuations = 3;
            cp = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            wide += kReplacement;  // 80..C1, F5..FF never start a character
            ++i;
            continue;
        }
        size_t next = i + 1;
        bool complete = true;
        for (size_t k = 0; k < continuations; ++k, ++next) {
            const unsigned char c = next < end ? static_cast<unsigned char>(text[next]) : 0;
            if (next >= end || !InRange(c, low, high)) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        // An incomplete sequence is replaced as a whole, and the byte that broke
        // it is read again as the start of whatever follows.
        wide += complete ? static_cast<wchar_t>(cp) : kReplacement;
        i = next;
    }
    return wide;
}

std::string WideToUtf8(const std::wstring& text) {
    std::string utf8;
    for (wchar_t unit : text) {
        if (unit == L'\0') break;
        char32_t cp = static_cast<char32_t>(unit);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
        AppendUtf8(utf8, cp);
    }
    return utf8;
}
