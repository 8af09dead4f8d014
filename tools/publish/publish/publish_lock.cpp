#include "tools/publish/publish/publish_lock.h"

#include <chrono>
#include <ctime>
#include <sstream>
#include <thread>

#include "tools/publish/shared/platform_files.h"
#include "tools/publish/publish/tool_files.h"

#ifdef _WIN32
#include <windows.h>

#include <system_error>

#include "base/text.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace fs = std::filesystem;

namespace {

// Where the holder's lock starts: far past its text, which stays readable.
const uint32_t kLockedRangeStart = 1u << 20;
const size_t kLongestHolderText = 4096;

std::string StartTime() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

#ifdef _WIN32

std::string HostName() {
    wchar_t name[256];
    DWORD length = 256;
    return GetComputerNameExW(ComputerNameDnsHostname, name, &length) ? WideToUtf8(std::wstring(name, length))
                                                                       : "unknown";
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

std::string SystemMessage() { return std::system_category().message(static_cast<int>(GetLastError())); }

#else

std::string HostName() {
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : "unknown";
}

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

#endif

std::string HolderText() {
    return "pid " + std::to_string(ProcessId()) + "\nhost " + HostName() + "\nstarted " + StartTime() + "\n";
}

}  // namespace

std::string DescribeLockHolder(const std::string& holderText) {
    std::istringstream lines(holderText);
    std::string line, pid, host, started;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string key = line.substr(0, space);
        const std::string value = line.substr(space + 1);
        if (key == "pid") pid = value;
        else if (key == "host") host = value;
        else if (key == "started") started = value;
    }
    // The holder writes its text just after taking the lock; it may not be there yet.
    if (pid.empty()) return "a publish that has not yet written who it is";
    return "process " + pid + " on host " + (host.empty() ? "unknown" : host) +
           (started.empty() ? "" : ", started " + started);
}

PublishLock::Result PublishLock::Take(const fs::path& serverFolder, int waitSeconds,
                                      const std::function<void(const std::string&)>& onWait,
                                      std::string& holder, std::string& error) {
    const fs::path file = serverFolder / kPublishLockName;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    bool told = false;
    for (;;) {
        std::string holderText;
        const Result result = TryOnce(file, holderText, error);
        if (result != Result::Held) return result;
        holder = DescribeLockHolder(holderText);
        if (std::chrono::steady_clock::now() >= deadline) return Result::Held;
        if (!told && onWait) onWait(holder);
        told = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

#ifdef _WIN32

PublishLock::PublishLock() : handle(INVALID_HANDLE_VALUE) {}

PublishLock::~PublishLock() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);  // releases the lock
}

PublishLock::Result PublishLock::TryOnce(const fs::path& file, std::string& holderText, std::string& error) {
    HANDLE opened = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        error = "cannot open " + DisplayPath(file) + ": " + SystemMessage();
        return Result::Failed;
    }
    OVERLAPPED range{};
    range.Offset = kLockedRangeStart;
    if (!LockFileEx(opened, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        const DWORD code = GetLastError();
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
            char text[kLongestHolderText];
            DWORD got = 0;
            if (ReadFile(opened, text, sizeof text, &got, nullptr)) holderText.assign(text, got);
            CloseHandle(opened);
            return Result::Held;
        }
        error = "cannot lock " + DisplayPath(file) + ": " + SystemMessage();
        CloseHandle(opened);
        return Result::Failed;
    }
    handle = opened;
    const std::string text = HolderText();
    DWORD written = 0;
    // Who holds the lock only informs a second publish; the lock holds without it.
    if (SetEndOfFile(handle)) WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return Result::Taken;
}

#else

PublishLock::PublishLock() = default;

PublishLock::~PublishLock() {
    if (descriptor >= 0) ::close(descriptor);  // releases the lock
}

PublishLock::Result PublishLock::TryOnce(const fs::path& file, std::string& holderText, std::string& error) {
    const int opened = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (opened < 0) {
        error = "cannot open " + DisplayPath(file) + ": " + std::strerror(errno);
        return Result::Failed;
    }
    // flock locks the whole file, and readers can still read it.
    if (::flock(opened, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        if (code == EWOULDBLOCK) {
            char text[kLongestHolderText];
            const ssize_t got = ::pread(opened, text, sizeof text, 0);
            if (got > 0) holderText.assign(text, static_cast<size_t>(got));
            ::close(opened);
            return Result::Held;
        }
        error = "cannot lock " + DisplayPath(file) + ": " + std::strerror(code);
        ::close(opened);
        return Result::Failed;
    }
    descriptor = opened;
    const std::string text = HolderText();
    // Who holds the lock only informs a second publish; the lock holds without it.
    if (::ftruncate(descriptor, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(descriptor, text.data(), text.size(), 0);
    }
    return Result::Taken;
}

#endif
