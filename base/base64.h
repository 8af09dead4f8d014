#pragma once

#include <string>

// Standard base64 (RFC 4648, the alphabet with + and /), always padded with =.
std::string EncodeBase64(const std::string& bytes);

// Only the one text EncodeBase64 writes for some bytes: padded to a multiple of
// four, no white space, and no bits set past the last byte. Anything else is
// refused, so one value has one spelling.
bool DecodeBase64(const std::string& text, std::string& bytes);
