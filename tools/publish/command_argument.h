#pragma once

#include <filesystem>
#include <string>

// One command-line argument: its text for parsing, and the path it names.
struct CommandArgument {
    std::string text;  // UTF-8 on Windows, the bytes as given on Linux
    std::filesystem::path path;
};
