#pragma once

#include <filesystem>
#include <string>

// The few places where the tool's file handling differs between Linux and Windows.

// A file or folder name as list bytes: on Linux the name's own bytes, which must
// be valid UTF-8; on Windows its UTF-16, which must hold no lone surrogate.
bool NameToUtf8(const std::filesystem::path& name, std::string& utf8);

// A list path (UTF-8, forward slashes) as a path below `root`.
std::filesystem::path PathBelow(const std::filesystem::path& root, const std::string& listPath);

// A path for messages, in UTF-8.
std::string DisplayPath(const std::filesystem::path& path);

// Forces a written file's bytes, or a folder's entries, to the disk, so a rename
// that follows never exposes a name whose content is not there yet.
bool SyncFileToDisk(const std::filesystem::path& path);
void SyncFolderToDisk(const std::filesystem::path& folder);
// Flushes every file written so far, at once: after a batch of copies, before the
// list that names them goes out.
void FlushAllToDisk();
