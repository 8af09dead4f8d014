#pragma once
// What the Windows test programs share: the session's patch server and folders,
// temporary game folders, file and log helpers.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/patch_list.h"

namespace testing_support {

// The session folder (made by tests/harness/session) as a Windows path.
std::wstring SessionDir();
// The source tree as a Windows path.
std::wstring SourceDir();
// The build tree as a Windows path.
std::wstring BuildDir();
int ServerPort();
// "http://127.0.0.1:<port>"
std::wstring ServerRoot();
// The session's nginx serves the same folder over https, under /fs, with a
// certificate for localhost from the CA that the session's prefix trusts:
// "https://localhost:<port>/fs"
std::wstring TlsServerRoot();

// A folder the patch server serves, private to one test: <session>\www\<name>.
// Its URL is ServerRoot() + "/" + name.
struct ServedFolder {
    explicit ServedFolder(const std::wstring& name);
    ~ServedFolder();
    void Put(const std::string& relativePath, const std::string& bytes) const;
    // Puts the file and returns its list entry (digest and size of the bytes).
    PatchFile Publish(const std::string& relativePath, const std::string& bytes) const;
    std::wstring Url() const;               // base URL, no trailing slash
    std::vector<std::string> Requests() const;  // paths the server was asked for, in order
    std::wstring name;
    std::wstring path;
};

// A fresh empty folder, removed with everything in it at the end of the scope.
class TempDir {
public:
    explicit TempDir(const std::wstring& prefix = L"vorlen-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path; }
    std::wstring operator/(const std::wstring& relative) const { return path + L"\\" + relative; }

private:
    std::wstring path;
};

// Makes `dir` the current directory for the scope.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const std::wstring& dir);
    ~ScopedCurrentDir();

private:
    std::wstring previous;
};

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

// True under Wine, whose ntdll names its own version; false on Windows.
bool RunningUnderWine();

// A version one release after the patcher's own (VORLEN_VERSION_TEXT of the
// generated app/patcher_version.h): the same numbers, the last one higher.
std::string NextVersionText();

// Deterministic content of a given size.
std::string PatternBytes(size_t size, uint32_t seed = 1);
// MD5 of bytes in lower-case hex, independent of the code under test.
std::string Md5Hex(const std::string& bytes);

// patcher.log as its messages, stamps removed; checks every line's shape.
std::vector<std::wstring> ReadLogMessages(const std::wstring& path);
std::wstring Utf8(const std::string& bytes);
std::string ToUtf8(const std::wstring& text);

// Waits (bounded) until `condition` holds; false on time-out.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = 20000);
bool WaitStep(int& remainingMs);

template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs) {
    int remaining = timeoutMs;
    while (!condition()) {
        if (!WaitStep(remaining)) return condition();
    }
    return true;
}

}  // namespace testing_support
