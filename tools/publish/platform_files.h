#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
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
// Copies `source` into a new file `target` inside the kernel, the bytes never
// passing through this process on the way, and stops after `limit` bytes; then
// hands the copy's bytes, read back from the page cache, to `readBack` and
// starts writing them to the disk (see StartWriteBack). `Unsupported` (nothing
// written) where the system or the file systems cannot; `Failed` with `error`
// set otherwise.
enum class KernelCopy { Done, Unsupported, Failed };
KernelCopy CopyInKernel(const std::filesystem::path& source, const std::filesystem::path& target,
                        uint64_t limit, const std::function<bool(const char*, size_t)>& readBack,
                        uint64_t& copied, std::string& error);

// Starts writing a finished file's bytes to the disk without waiting for it, so
// that the flush after a batch of copies finds little left to do.
void StartWriteBack(const std::filesystem::path& path);
// Flushes every file written so far, at once: after a batch of copies, before the
// list that names them goes out.
void FlushAllToDisk();
