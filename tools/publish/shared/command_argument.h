#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

// One command-line argument: its text for parsing, and the path it names.
struct CommandArgument {
    std::string text;  // UTF-8 on Windows, the bytes as given on Linux
    std::filesystem::path path;
};

// One word of a command line read as an option: "--name=value", "--name value"
// for the options that take a value, or the word alone.
struct CommandOption {
    std::string name;
    std::string value;
    // The argument the value came from when it was a word of its own: its path
    // is the one to use for a file (on Windows the text is only its UTF-8 form).
    const CommandArgument* valueArgument = nullptr;

    // The value as a path: the argument's own, or the text after '='.
    std::filesystem::path ValuePath() const;
};

// Reads args[index] (and the value after it, moving `index` on) as an option;
// `valued` names the options that take a value. False, with `problem` set, when
// such an option is last and has no value.
bool ReadCommandOption(const std::vector<CommandArgument>& args, size_t& index,
                       std::initializer_list<const char*> valued, CommandOption& option,
                       std::string& problem);

// The value of --wait: whole seconds, up to a day (a longer wait is a mistake,
// not a plan).
bool ReadWaitSeconds(const std::string& value, int& seconds);
