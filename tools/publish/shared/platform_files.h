#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
// hands the copy's bytes, read back from the page cache, to `readBack`.
// `Unsupported` (nothing written) where the system or the file systems cannot;
// `Failed` with `error` set otherwise.
enum class KernelCopy { Done, Unsupported, Failed };
KernelCopy CopyInKernel(const std::filesystem::path& source, const std::filesystem::path& target,
                        uint64_t limit, const std::function<bool(const char*, size_t)>& readBack,
                        uint64_t& copied, std::string& error);

// Has the system write a batch of copies to the disk while the batch is still
// being made, so that FlushCopiesToDisk finds little left to do, without the
// copying thread ever waiting for the disk or doing its work. Told of each copy;
// stops when destroyed. Linux asks for it every so many bytes; Windows' cache
// needs no asking.
class BackgroundFlush {
public:
    explicit BackgroundFlush(const std::filesystem::path& serverFolder);
    ~BackgroundFlush();
    BackgroundFlush(const BackgroundFlush&) = delete;
    BackgroundFlush& operator=(const BackgroundFlush&) = delete;
    void Copied(uint64_t bytes);

private:
    static constexpr uint64_t kFlushStep = 64ull << 20;
    struct Worker;
    std::unique_ptr<Worker> worker;
};
// Flushes the copies renamed into `serverFolder` (their paths given) to the disk,
// at once after a batch of copies and before the list that names them goes out:
// on Linux the whole file system the folder is on, on Windows each file.
bool FlushCopiesToDisk(const std::filesystem::path& serverFolder, const std::vector<std::filesystem::path>& copies,
                       std::string& error);

// What tells one file's content apart without reading it: its size, its
// modification time at the system's full resolution, the time of its last change
// of any kind (content, times, attributes; nothing sets it back), and its file id
// (the inode, or Windows' file index). Times and ids are as the system gives them
// (nanoseconds and inodes on Linux, 100-ns ticks and file indexes on Windows), so
// stamps are compared only with stamps from the same system.
struct FileStamp {
    uint64_t size = 0;
    uint64_t modified = 0;
    uint64_t changed = 0;
    uint64_t id = 0;
};
// The name of the system whose stamps these are, as the record of placed files
// keeps it.
extern const char kFileStampSystem[];
// False when `path` is missing or is not a regular file; with `followLink` false
// a symbolic link is not a regular file either.
bool ReadFileStamp(const std::filesystem::path& path, bool followLink, FileStamp& stamp);
