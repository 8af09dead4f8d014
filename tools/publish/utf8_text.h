#pragma once

#include <string>

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& bytes);

// Bytes for a message: valid UTF-8 as it is, any other byte as \xNN.
std::string PrintableName(const std::string& bytes);

// Decodes valid UTF-8 into code points (callers check validity first).
std::u32string DecodeUtf8(const std::string& bytes);
std::string EncodeUtf8(const std::u32string& text);
