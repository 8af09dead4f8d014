#pragma once

#include <cstdint>
#include <string>

#include "base/names_and_limits.h"

#ifndef VORLEN_SERVER_URL
#define VORLEN_SERVER_URL L"http://127.0.0.1:8080/fs"
#endif

// The built-in settings. Nothing is read from the command line, the environment,
// the registry or a file; every copy stays unchanged after start-up.
struct PatcherConfig {
    std::wstring serverUrl = VORLEN_SERVER_URL;
    std::wstring patchListFile = kPatchListName.wide;
    std::wstring versionFile = kVersionFileName.wide;
    std::wstring windowTitle = L"Vorlen Patcher";
    std::wstring gameExecutable = L"Vorlen.exe";
    int32_t windowWidth = 600;
    int32_t windowHeight = 450;
};

// The values the entry point settles on.
PatcherConfig MakeDefaultConfig();
