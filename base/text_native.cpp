// Utf8ToWide and WideToUtf8 for the native (Linux) build, which has no
// MultiByteToWideChar; Windows builds use text_windows.cpp.
//
// The results match the Windows converters with CP_UTF8 and no flags: the input
// ends at its first NUL, and each ill-formed sequence becomes one U+FFFD per
// maximal ill-formed subpart. On Linux wchar_t is 32 bits wide, so a wide string
// here holds UTF-32 code units: one unit per character, where Windows has a
// surrogate pair for characters above U+FFFF.
#include "base/text.h"

#if defined(_WIN32)
#error "Windows builds convert with MultiByteToWideChar (base/text_windows.cpp)"
#endif

static_assert(sizeof(wchar_t) == 4, "the native build keeps one UTF-32 unit per wchar_t");

std::wstring Utf8ToWide(const std::string& text) {
    const std::u32string code = DecodeUtf8(text.substr(0, text.find('\0')));
    return std::wstring(code.begin(), code.end());
}

std::string WideToUtf8(const std::wstring& text) {
    const std::wstring untilNul = text.substr(0, text.find(L'\0'));
    return EncodeUtf8(std::u32string(untilNul.begin(), untilNul.end()));
}
