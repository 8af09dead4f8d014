#pragma once

#include <string>

// Whole-name comparison that ignores the case of ASCII A-Z only; every other
// character must match exactly.
bool ProcessNameEquals(const std::wstring& a, const std::wstring& b);
