#pragma once

#include <cstdint>
#include <string>

// A byte count for people: "512 B", "1.5 KiB", "3.2 MiB", "1.25 GiB".
std::string FormatBytes(uint64_t bytes);
