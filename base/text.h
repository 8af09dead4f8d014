#pragma once

#include <cstddef>
#include <string>

// UTF-8: the patch list, the version file, file names and the log are UTF-8;
// paths, URLs and messages are wide strings.

// Well-formed UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& bytes);

// Code points of UTF-8 text. Each ill-formed sequence becomes one U+FFFD per
// maximal ill-formed subpart, as Windows' converter replaces it.
std::u32string DecodeUtf8(const std::string& bytes);
// A code point that is no Unicode scalar value is written as U+FFFD.
std::string EncodeUtf8(const std::u32string& text);

// UTF-16 to UTF-8; false when a surrogate has no partner, which UTF-8 cannot carry.
bool Utf16ToUtf8(const std::u16string& text, std::string& utf8);

// How many UTF-16 units (Windows' wide characters) valid UTF-8 text takes.
size_t Utf16Length(const std::string& utf8);

// Bytes for a message: valid UTF-8 as it is, control and other bytes as \xNN.
std::string PrintableName(const std::string& bytes);

// UTF-8 to the program's wide strings and back. Both stop at the first NUL,
// ill-formed input becomes U+FFFD, and a failed conversion gives an empty
// string. On Windows these are MultiByteToWideChar and WideCharToMultiByte
// (CP_UTF8, no flags); the native build has a stand-in with the same results,
// one UTF-32 unit per character.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
