#pragma once

#include <string>

// Lower-cases the ASCII letters A-Z only; every other character stays as it is,
// whatever its width.
template <typename Char>
constexpr Char AsciiLowerChar(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

inline std::string AsciiLower(std::string text) {
    for (char& c : text) c = AsciiLowerChar(c);
    return text;
}
