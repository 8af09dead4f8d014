#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

// Every file the tool puts into the server folder is written under a temporary
// name in the same folder and renamed into place only once it is complete and
// checked: the web server never serves a half-written file, and a failure leaves
// the previous file as it was.

struct CopiedFile {
    std::string md5;    // lower-case hex of the bytes copied
    uint64_t size = 0;  // bytes copied
};

// Called with the bytes copied so far while a file is copied.
using CopyProgress = std::function<void(uint64_t bytesDone)>;

// Runs once a copy is complete, before it is renamed into place; false, with a
// reason, stops it.
using CopyCheck = std::function<bool(std::string& error)>;

// Copies `source` to `target`, digesting the bytes on the way, and renames the
// copy into place only when it holds exactly `expectedSize` bytes (the size the
// source had when it was chosen) and `check` (when given) passes; otherwise fails
// with the file named, leaving `target` untouched. The copy is not flushed to
// disk: call FlushCopiesToDisk once a batch of copies is done.
bool CopyFileWithDigest(const std::filesystem::path& source, const std::filesystem::path& target,
                        uint64_t expectedSize, const CopyProgress& onProgress, const CopyCheck& check,
                        CopiedFile& copied, std::string& error);

// Reads `source` only for its digest and size; fails when more than `maxSize`
// bytes arrive.
bool DigestFile(const std::filesystem::path& source, uint64_t maxSize, const CopyProgress& onProgress,
                CopiedFile& digested, std::string& error);

// Removes the staging files that a publish stopped half-way left anywhere below
// `folder`; only the holder of the folder's publish lock may call it. Returns
// how many were removed.
size_t RemoveLeftoverStagingFiles(const std::filesystem::path& folder);

// Reads a whole file of at most `maxSize` bytes; false when it cannot, or when
// it is larger.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes, uint64_t maxSize);

// Checks the bytes read back from the temporary file before the rename; false
// and a reason when they are not what was meant.
using ContentCheck = std::function<bool(const std::string& written, std::string& reason)>;

// Writes `content` to `target`; reads it back and runs `check` (when given)
// before the rename, and flushes the file to disk before and after it.
bool WriteFileAtomically(const std::filesystem::path& target, const std::string& content,
                         const ContentCheck& check, std::string& error);
