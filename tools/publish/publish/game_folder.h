#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/publish/shared/platform_files.h"

// One regular file found in the game folder.
struct GameFile {
    std::string path;  // relative, UTF-8, forward slashes: the list's path field
    std::filesystem::path source;
    FileStamp stamp;  // as the scan found it; its size is the size listed
};

// Walks `root` and gathers every file, sorted bytewise by list path. Anything the
// list cannot carry is described in `problems` (one line each) instead: names
// outside the rules, files of 4 GiB or more, special files, links to folders,
// and names that collide in the player's folder. Empty folders are not listed:
// the patcher makes the folders that its files need.
void ScanGameFolder(const std::filesystem::path& root, std::vector<GameFile>& files,
                    std::vector<std::string>& problems);
