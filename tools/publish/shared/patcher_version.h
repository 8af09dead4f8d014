#pragma once

#include <string>

// A patcher version as the version file carries it: four decimal numbers joined by
// dots, each small enough for the patcher's signed 32-bit reading. On success
// `canonical` holds the numbers without leading zeros ("01.0.6.0" -> "1.0.6.0").
bool ParsePatcherVersion(const std::string& text, std::string& canonical);
