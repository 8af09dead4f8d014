#pragma once

#include <string>

// UTF-8 bytes from the server to UTF-16; stops at the first NUL byte, and invalid
// sequences become the replacement character.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
