// The Linux side of platform_files.h.
#include "tools/publish/shared/platform_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/text.h"

namespace fs = std::filesystem;

namespace {

// Closes a POSIX descriptor on every path out of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd; }

private:
    int fd;
};

}  // namespace

bool NameToUtf8(const fs::path& name, std::string& utf8) {
    utf8 = name.native();
    return IsValidUtf8(utf8);
}

fs::path PathBelow(const fs::path& root, const std::string& listPath) { return root / listPath; }

std::string DisplayPath(const fs::path& path) { return PrintableName(path.native()); }

bool SyncFileToDisk(const fs::path& path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return file.Get() >= 0 && ::fsync(file.Get()) == 0;
}

void SyncFolderToDisk(const fs::path& folder) {
    // Best effort: not every file system can sync a folder, and the data is safe
    // either way; only the rename might not survive a power cut.
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) ::fsync(dir.Get());
}

KernelCopy CopyInKernel(const fs::path& source, const fs::path& target, uint64_t limit,
                        const std::function<bool(const char*, size_t)>& readBack, uint64_t& copied,
                        std::string& error) {
    copied = 0;
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) {
        error = "cannot open " + DisplayPath(source) + ": " + std::strerror(errno);
        return KernelCopy::Failed;
    }
    Descriptor out(::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.Get() < 0) {
        error = "cannot create a temporary file for " + DisplayPath(target) + ": " + std::strerror(errno);
        return KernelCopy::Failed;
    }
    while (copied < limit) {
        const uint64_t left = limit - copied;
        const ssize_t got = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr,
                                              left < (1u << 30) ? static_cast<size_t>(left) : (1u << 30), 0);
        if (got == 0) break;
        if (got < 0) {
            const int code = errno;
            if (copied == 0 && (code == ENOSYS || code == EXDEV || code == EOPNOTSUPP || code == EINVAL)) {
                return KernelCopy::Unsupported;
            }
            error = "cannot copy " + DisplayPath(source) + " to " + DisplayPath(target) + ": " +
                    std::strerror(code);
            return KernelCopy::Failed;
        }
        copied += static_cast<uint64_t>(got);
    }
    std::vector<char> buffer(copied < (1u << 20) ? static_cast<size_t>(copied) : (1u << 20));
    for (uint64_t offset = 0; offset < copied;) {
        const ssize_t got = ::pread(out.Get(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (got <= 0) {
            error = "cannot read back " + DisplayPath(target) + ": " +
                    (got < 0 ? std::strerror(errno) : "it is shorter than what was copied");
            return KernelCopy::Failed;
        }
        if (!readBack(buffer.data(), static_cast<size_t>(got))) return KernelCopy::Failed;
        offset += static_cast<uint64_t>(got);
    }
    return KernelCopy::Done;
}

// The flushes run on a thread of their own: syncfs hands the writing to the
// kernel's flusher threads and only waits for them, so the copying thread neither
// waits for the disk nor does the disk's work.
struct BackgroundFlush::Worker {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t unflushed = 0;
    bool stopping = false;
    Descriptor folder;
    std::thread thread;

    explicit Worker(const fs::path& serverFolder)
        : folder(::open(serverFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stopping || unflushed >= kFlushStep; });
            if (stopping) return;
            unflushed = 0;
            lock.unlock();
            ::syncfs(folder.Get());  // best effort: FlushCopiesToDisk is what the release relies on
            lock.lock();
        }
    }
};

BackgroundFlush::BackgroundFlush(const fs::path& serverFolder) : worker(new Worker(serverFolder)) {
    if (worker->folder.Get() < 0) {
        worker.reset();
        return;
    }
    worker->thread = std::thread([this] { worker->Run(); });
}

BackgroundFlush::~BackgroundFlush() {
    if (!worker) return;
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->stopping = true;
    }
    worker->changed.notify_one();
    worker->thread.join();
}

void BackgroundFlush::Copied(uint64_t bytes) {
    if (!worker) return;
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->unflushed += bytes;
        if (worker->unflushed < kFlushStep) return;
    }
    worker->changed.notify_one();
}

bool FlushCopiesToDisk(const fs::path& serverFolder, const std::vector<fs::path>& copies, std::string& error) {
    if (copies.empty()) return true;
    // One call for the file system the server folder is on, not every file system
    // of the machine; it also reports a copy whose write-back failed.
    Descriptor folder(::open(serverFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0 || ::syncfs(folder.Get()) != 0) {
        error = "cannot flush the copies in " + DisplayPath(serverFolder) + " to disk: " + std::strerror(errno);
        return false;
    }
    return true;
}

const char kFileStampSystem[] = "linux";

bool ReadFileStamp(const fs::path& path, bool followLink, FileStamp& stamp) {
    struct stat info;
    const int result = followLink ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (result != 0 || !S_ISREG(info.st_mode)) return false;
    auto nanoseconds = [](const timespec& time) {
        return static_cast<uint64_t>(time.tv_sec) * 1000000000u + static_cast<uint64_t>(time.tv_nsec);
    };
    stamp.size = static_cast<uint64_t>(info.st_size);
    stamp.modified = nanoseconds(info.st_mtim);
    stamp.changed = nanoseconds(info.st_ctim);
    stamp.id = static_cast<uint64_t>(info.st_ino);
    return true;
}

