#pragma once

#include <cstdint>
#include <string>

struct PatcherVersionNumber {
    int32_t parts[4] = {0, 0, 0, 0};  // major, minor, build, revision
};

// Drops blanks, tabs, CR and LF from both ends of the version file's body.
std::string TrimVersionText(const std::string& body);

// Reads "%d.%d.%d.%d"; scanning stops at the first mismatch and the components
// not reached stay 0, so "1.1" is 1.1.0.0 and "v1.0.6.0" is 0.0.0.0.
PatcherVersionNumber ScanVersion(const std::wstring& text);

// Component-wise signed comparison, major first.
bool IsNewerVersion(const PatcherVersionNumber& published, const PatcherVersionNumber& own);
