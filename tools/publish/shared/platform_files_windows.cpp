// The Windows side of platform_files.h.
#include "tools/publish/shared/platform_files.h"

#include <windows.h>

#include <system_error>

#include "base/text.h"
#include "base/unique_handle.h"

namespace fs = std::filesystem;

namespace {

// A name with a lone surrogate has no UTF-8 form; WideToUtf8 would replace it.
bool WideToUtf8Strict(const std::wstring& wide, std::string& utf8) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()), utf8);
}

}  // namespace

bool NameToUtf8(const fs::path& name, std::string& utf8) { return WideToUtf8Strict(name.native(), utf8); }

fs::path PathBelow(const fs::path& root, const std::string& listPath) {
    std::wstring relative = Utf8ToWide(listPath);
    for (wchar_t& c : relative) {
        if (c == L'/') c = L'\\';
    }
    return root / relative;
}

std::string DisplayPath(const fs::path& path) {
    std::string utf8;
    if (WideToUtf8Strict(path.native(), utf8)) return utf8;
    return path.string();
}

bool SyncFileToDisk(const fs::path& path) {
    UniqueHandle<FileHandleTraits> file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.Get());
}

// NTFS journals its folder entries; there is nothing to flush for a folder.
void SyncFolderToDisk(const fs::path&) {}

// Windows flushes a whole volume only for administrators; the copies are left
// to the cache, which NTFS writes back in order.
KernelCopy CopyInKernel(const fs::path&, const fs::path&, uint64_t,
                        const std::function<bool(const char*, size_t)>&, uint64_t&, std::string&) {
    return KernelCopy::Unsupported;
}

// Windows' cache manager writes a file back soon after it is closed.
struct BackgroundFlush::Worker {};
BackgroundFlush::BackgroundFlush(const fs::path&) {}
BackgroundFlush::~BackgroundFlush() = default;
void BackgroundFlush::Copied(uint64_t) {}

// Flushing a whole volume needs an administrator, so each copy is flushed on its
// own, after the batch: by then the cache has written most of it back.
bool FlushCopiesToDisk(const fs::path&, const std::vector<fs::path>& copies, std::string& error) {
    for (const fs::path& copy : copies) {
        UniqueHandle<FileHandleTraits> file(CreateFileW(copy.c_str(), GENERIC_WRITE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !FlushFileBuffers(file.Get())) {
            error = "cannot flush " + DisplayPath(copy) + " to disk: " +
                    std::system_category().message(static_cast<int>(GetLastError()));
            return false;
        }
    }
    return true;
}

const char kFileStampSystem[] = "windows";

bool ReadFileStamp(const fs::path& path, bool followLink, FileStamp& stamp) {
    // Opening for attributes alone neither reads the file nor gets in a reader's way.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    UniqueHandle<FileHandleTraits> file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                    nullptr, OPEN_EXISTING, flags, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!file || !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic)) {
        return false;
    }
    auto join = [](DWORD high, DWORD low) { return static_cast<uint64_t>(high) << 32 | low; };
    stamp.size = join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.modified = join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    stamp.changed = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    stamp.id = join(info.nFileIndexHigh, info.nFileIndexLow);
    return true;
}
