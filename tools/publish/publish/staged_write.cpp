#include "tools/publish/publish/staged_write.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "base/hex.h"
#include "tools/publish/shared/digest.h"
#include "tools/publish/shared/platform_files.h"
#include "tools/publish/publish/tool_files.h"

namespace fs = std::filesystem;

namespace {

// A temporary file beside the target; removed when the scope ends unless it was
// renamed into place. Its name comes from the target's: one publish at a time
// holds the server folder and writes one file at a time, so no two staging files
// meet, and what a stopped publish left is removed before the next one writes.
class StagingFile {
public:
    explicit StagingFile(const fs::path& target) : target(target) {
        // FNV-1a over the target's name: short, and the same for the same name.
        uint64_t hash = 14695981039346656037ull;
        const fs::path::string_type name = target.filename().native();
        for (const auto c : name) hash = (hash ^ static_cast<uint64_t>(c)) * 1099511628211ull;
        std::array<unsigned char, 8> digits;
        for (size_t i = 0; i < digits.size(); ++i) digits[i] = static_cast<unsigned char>(hash >> (8 * i));
        path = target.parent_path() / (kToolFilePrefix + ToHex(digits) + kStagingSuffix);
    }
    ~StagingFile() {
        if (!committed) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;

    const fs::path& Path() const { return path; }

    // `durable`: flush the bytes and the folder entry before returning. Copies
    // skip it, one flush per file being slow; see FlushAllToDisk.
    bool Commit(bool durable, std::string& error) {
        if (durable && !SyncFileToDisk(path)) {
            error = "cannot flush " + DisplayPath(path) + " to disk";
            return false;
        }
        std::error_code code;
        fs::rename(path, target, code);
        if (code) {
            error = "cannot rename " + DisplayPath(path) + " to " + DisplayPath(target) + ": " +
                    code.message();
            return false;
        }
        committed = true;
        if (durable) SyncFolderToDisk(target.parent_path());
        return true;
    }

private:
    fs::path target;
    fs::path path;
    bool committed = false;
};

bool MakeParentFolder(const fs::path& target, std::string& error) {
    std::error_code code;
    fs::create_directories(target.parent_path(), code);
    if (code) {
        error = "cannot create the folder " + DisplayPath(target.parent_path()) + ": " + code.message();
        return false;
    }
    return true;
}

// The operating system's reason for the last failed call, when it left one.
std::string Reason() {
    const int code = errno;
    return code != 0 ? std::string(": ") + std::strerror(code) : std::string();
}

}  // namespace

bool ReadWholeFile(const fs::path& path, std::string& bytes, uint64_t maxSize) {
    std::error_code code;
    const uintmax_t size = fs::file_size(path, code);
    if (code || size > maxSize) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && bytes.size() <= maxSize;
}

namespace {

std::string GrewMessage(const fs::path& file, uint64_t size) {
    return DisplayPath(file) + " grew past its " + std::to_string(size) +
           " bytes while it was being published; is something still writing it?";
}

// Reads `source` to its end through the digest, handing every block to `sink`
// (when given). Fails when more than `maxSize` bytes arrive (the file grew);
// reads at most one byte more to tell.
bool ReadWithDigest(const fs::path& source, uint64_t maxSize, const CopyProgress& onProgress,
                    const std::function<bool(const char*, size_t)>& sink, CopiedFile& digested,
                    std::string& error) {
    errno = 0;
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        error = "cannot open " + DisplayPath(source) + Reason();
        return false;
    }
    Digest md5(Digest::Kind::Md5);
    uint64_t done = 0;
    // Sized for the file: most game files are small, and a fresh megabyte costs
    // page faults every time.
    std::vector<char> buffer(maxSize < (1u << 20) ? static_cast<size_t>(maxSize) + 1 : (1u << 20));
    while (in) {
        const uint64_t room = maxSize - done + 1;
        in.read(buffer.data(), static_cast<std::streamsize>(room < buffer.size() ? room : buffer.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        done += static_cast<uint64_t>(got);
        if (done > maxSize) {
            error = GrewMessage(source, maxSize);
            return false;
        }
        md5.Update(buffer.data(), static_cast<size_t>(got));
        if (sink && !sink(buffer.data(), static_cast<size_t>(got))) return false;
        if (onProgress) onProgress(done);
    }
    if (in.bad()) {
        error = "cannot read " + DisplayPath(source) + Reason();
        return false;
    }
    digested.md5 = md5.FinishHex();
    digested.size = done;
    if (digested.md5.empty()) error = "cannot compute the MD5 of " + DisplayPath(source);
    return !digested.md5.empty();
}

}  // namespace

bool DigestFile(const fs::path& source, uint64_t maxSize, const CopyProgress& onProgress,
                CopiedFile& digested, std::string& error) {
    return ReadWithDigest(source, maxSize, onProgress, nullptr, digested, error);
}

bool CopyFileWithDigest(const fs::path& source, const fs::path& target, uint64_t expectedSize,
                        const CopyProgress& onProgress, const CopyCheck& check, CopiedFile& copied,
                        std::string& error) {
    if (!MakeParentFolder(target, error)) return false;
    StagingFile staging(target);
    // Where the kernel copies, the digest is of the copy itself, read back from
    // the page cache: of the very bytes that go out.
    Digest md5(Digest::Kind::Md5);
    uint64_t inKernel = 0;
    uint64_t readBack = 0;
    auto digest = [&](const char* bytes, size_t count) {
        md5.Update(bytes, count);
        readBack += count;
        if (onProgress) onProgress(readBack);
        return true;
    };
    const KernelCopy kernel = CopyInKernel(source, staging.Path(), expectedSize + 1, digest, inKernel, error);
    if (kernel == KernelCopy::Failed) return false;
    if (kernel == KernelCopy::Done) {
        copied.md5 = md5.FinishHex();
        copied.size = inKernel;
        if (copied.md5.empty()) {
            error = "cannot compute the MD5 of " + DisplayPath(source);
            return false;
        }
    } else {
        errno = 0;
        std::ofstream out(staging.Path(), std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot create a temporary file for " + DisplayPath(target) + Reason();
            return false;
        }
        auto write = [&](const char* bytes, size_t count) {
            errno = 0;
            if (out.write(bytes, static_cast<std::streamsize>(count))) return true;
            error = "cannot write " + DisplayPath(target) + Reason();
            return false;
        };
        if (!ReadWithDigest(source, expectedSize, onProgress, write, copied, error)) return false;
        errno = 0;
        out.close();
        if (out.fail()) {
            error = "cannot write " + DisplayPath(target) + Reason();
            return false;
        }
    }
    // A source still being written, or a file system whose copy stops early,
    // would otherwise put other bytes in place than the ones chosen.
    if (copied.size > expectedSize) {
        error = GrewMessage(source, expectedSize);
        return false;
    }
    if (copied.size < expectedSize) {
        error = DisplayPath(source) + " gave only " + std::to_string(copied.size) + " of its " +
                std::to_string(expectedSize) + " bytes while it was being published; is something still writing it?";
        return false;
    }
    if (check && !check(error)) return false;
    return staging.Commit(false, error);
}

size_t RemoveLeftoverStagingFiles(const fs::path& folder) {
    // Compared in the system's own form: a name need not convert to anything else.
    const fs::path::string_type prefix = fs::path(kToolFilePrefix).native();
    const fs::path::string_type suffix = fs::path(kStagingSuffix).native();
    std::vector<fs::path> leftovers;
    std::error_code code;
    for (fs::recursive_directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
        const fs::path::string_type name = it->path().filename().native();
        if (name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            leftovers.push_back(it->path());
        }
    }
    size_t removed = 0;
    for (const fs::path& leftover : leftovers) removed += fs::remove(leftover, code) ? 1 : 0;
    return removed;
}

bool WriteFileAtomically(const fs::path& target, const std::string& content, const ContentCheck& check,
                         std::string& error) {
    if (!MakeParentFolder(target, error)) return false;
    StagingFile staging(target);
    {
        errno = 0;
        std::ofstream out(staging.Path(), std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot create a temporary file for " + DisplayPath(target) + Reason();
            return false;
        }
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (out.fail()) {
            error = "cannot write " + DisplayPath(target) + Reason();
            return false;
        }
    }
    std::string written;
    if (!ReadWholeFile(staging.Path(), written, content.size()) || written != content) {
        error = "cannot write " + DisplayPath(target) + ": reading it back did not give what was written";
        return false;
    }
    std::string reason;
    if (check && !check(written, reason)) {
        error = DisplayPath(target) + " was not written: " + reason;
        return false;
    }
    return staging.Commit(true, error);
}
