#include "support/test_support.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/patcher_version.h"

namespace fs = std::filesystem;

namespace testing_support {

namespace {

std::wstring FromUnixPath(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') return L"";
    std::wstring path = L"Z:" + Utf8(value);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

}  // namespace

std::wstring SessionDir() { return FromUnixPath("VORLEN_TEST_SESSION"); }
std::wstring SourceDir() { return FromUnixPath("VORLEN_SOURCE_DIR"); }
std::wstring BuildDir() { return FromUnixPath("VORLEN_BUILD_DIR"); }

int ServerPort() {
    std::string text = ReadBytes(SessionDir() + L"\\port");
    return std::atoi(text.c_str());
}

std::wstring ServerRoot() { return L"http://127.0.0.1:" + std::to_wstring(ServerPort()); }

std::wstring TlsServerRoot() {
    std::string port = ReadBytes(SessionDir() + L"\\tls-port");
    return L"https://localhost:" + std::to_wstring(std::atoi(port.c_str())) + L"/fs";
}

ServedFolder::ServedFolder(const std::wstring& folderName) {
    // Tests run in parallel, each in its own Wine process: the test's own name
    // and a tick count keep their folders apart.
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    name = folderName;
    if (test != nullptr) name += L"-" + Utf8(test->name());
    name += L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(GetCurrentProcessId());
    path = SessionDir() + L"\\www\\" + name;
    std::error_code error;
    fs::remove_all(path, error);
    fs::create_directories(path);
}

ServedFolder::~ServedFolder() {
    std::error_code error;
    fs::remove_all(path, error);
}

void ServedFolder::Put(const std::string& relativePath, const std::string& bytes) const {
    std::wstring target = path + L"\\" + Utf8(relativePath);
    std::replace(target.begin(), target.end(), L'/', L'\\');
    fs::create_directories(fs::path(target).parent_path());
    WriteBytes(target, bytes);
}

PatchFile ServedFolder::Publish(const std::string& relativePath, const std::string& bytes) const {
    Put(relativePath, bytes);
    PatchFile entry;
    entry.path = relativePath;
    entry.md5 = Md5Hex(bytes);
    entry.size = static_cast<uint32_t>(bytes.size());
    return entry;
}

std::wstring ServedFolder::Url() const { return ServerRoot() + L"/" + name; }

std::vector<std::string> ServedFolder::Requests() const {
    std::vector<std::string> mine;
    std::istringstream all(ReadBytes(SessionDir() + L"\\www\\requests.log"));
    std::string line;
    std::string prefix = "/" + ToUtf8(name) + "/";
    while (std::getline(all, line)) {
        size_t at = line.find(prefix);
        if (at != std::string::npos) mine.push_back(line.substr(at + prefix.size()));
    }
    return mine;
}

TempDir::TempDir(const std::wstring& prefix) {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path = std::wstring(base) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++);
    std::error_code error;
    fs::remove_all(path, error);
    fs::create_directories(path);
}

TempDir::~TempDir() {
    std::error_code error;
    // Read-only files left by a test must not survive it.
    for (auto it = fs::recursive_directory_iterator(path, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(path, error);
}

ScopedCurrentDir::ScopedCurrentDir(const std::wstring& dir) {
    wchar_t buffer[MAX_PATH * 4];
    GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    previous = buffer;
    SetCurrentDirectoryW(dir.c_str());
}

ScopedCurrentDir::~ScopedCurrentDir() { SetCurrentDirectoryW(previous.c_str()); }

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << ToUtf8(path);
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string NextVersionText() {
    return std::to_string(VORLEN_VERSION_MAJOR) + "." + std::to_string(VORLEN_VERSION_MINOR) + "." +
           std::to_string(VORLEN_VERSION_PATCH) + "." + std::to_string(VORLEN_VERSION_TWEAK + 1);
}

std::string PatternBytes(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string Md5Hex(const std::string& bytes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::string text;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
            CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()), 0);
            BYTE digest[16];
            DWORD length = 16;
            if (CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
                static const char hex[] = "0123456789abcdef";
                for (BYTE b : digest) {
                    text += hex[b >> 4];
                    text += hex[b & 15];
                }
            }
            CryptDestroyHash(hash);
        }
        CryptReleaseContext(provider, 0);
    }
    return text;
}

std::vector<std::wstring> ReadLogMessages(const std::wstring& path) {
    std::vector<std::wstring> messages;
    std::string bytes = ReadBytes(path);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "log line without CR LF: " << bytes.substr(start);
            break;
        }
        std::string line = bytes.substr(start, end - start);
        start = end + 2;
        bool stamped = line.size() >= 11 && line[0] == '[' && line[3] == ':' && line[6] == ':' &&
                       line[9] == ']' && line[10] == ' ';
        EXPECT_TRUE(stamped) << "unstamped log line: " << line;
        messages.push_back(Utf8(stamped ? line.substr(11) : line));
    }
    return messages;
}

std::wstring Utf8(const std::string& bytes) {
    if (bytes.empty()) return L"";
    int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                     nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return text;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return "";
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length,
                        nullptr, nullptr);
    return bytes;
}

bool WaitStep(int& remainingMs) {
    if (remainingMs <= 0) return false;
    Sleep(20);
    remainingMs -= 20;
    return true;
}

}  // namespace testing_support
