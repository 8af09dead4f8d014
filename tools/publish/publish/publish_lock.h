#pragma once

#include <filesystem>
#include <functional>
#include <string>

// One publish at a time per server folder: an operating-system lock on the
// folder's .vorlen-publish-lock, which the system releases however the holder
// ends, so a killed publish leaves no lock behind. The holder writes who it is
// at the start of the file (process id, host, start time) and locks a range
// beyond that text, since on Windows a locked range cannot be read: a second
// publish can then say who holds the folder.
class PublishLock {
public:
    PublishLock();
    ~PublishLock();
    PublishLock(const PublishLock&) = delete;
    PublishLock& operator=(const PublishLock&) = delete;

    enum class Result { Taken, Held, Failed };
    // Takes the lock, trying again until `waitSeconds` have passed (0: once).
    // While another publish holds it, `onWait` is told who, once, before the
    // first wait. `Held`: `holder` says who still holds it. `Failed`: `error`.
    Result Take(const std::filesystem::path& serverFolder, int waitSeconds,
                const std::function<void(const std::string& holder)>& onWait, std::string& holder,
                std::string& error);

private:
    // One try: Taken, Held (with the holder's text) or Failed.
    Result TryOnce(const std::filesystem::path& file, std::string& holderText, std::string& error);

#ifdef _WIN32
    void* handle;  // the lock file's HANDLE, INVALID_HANDLE_VALUE when none
#else
    int descriptor = -1;
#endif
};

// The holder's text as a phrase for messages: "process 123 on host h, started
// 2030-01-02 03:04:05 UTC".
std::string DescribeLockHolder(const std::string& holderText);
