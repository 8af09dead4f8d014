// Downloads of the listed files from a server, timed inside the process.
//   bench_download stage URL LIST [PASSES]   the engine's download stage (download,
//                                            digest check, installation), as the
//                                            update run calls it
//   bench_download bare URL LIST [PASSES]    a bare WinHTTP loop: the same requests,
//                                            8192-byte reads, nothing kept: the most
//                                            this platform's HTTP stack delivers
//   bench_download limit URL LIST [PASSES]   the design's own limit: the same requests
//                                            through the bare loop, every 8192-byte
//                                            block written to a file as it comes, then
//                                            one MD5 pass over each file with the same
//                                            CryptoAPI calls as the engine's digest
//   bench_download parts URL LIST            the stage's steps timed apart: its log
//                                            lines, the folder, HttpClient::DownloadToFile,
//                                            ComputeFileMd5, InstallDownloadedFile
//   bench_download memory URL SMALL_LIST BIG_LIST
//                                            the stage for a small list, then a big
//                                            one, with the peak working set after each
// URL is the base the list paths hang below. Files land in the current directory
// and are deleted after each pass.
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/logger.h"
#include "base/unique_handle.h"
#include "base/ascii_case.h"
#include "bench/bench_support.h"
#include "engine/file_digest.h"
#include "engine/file_replace.h"
#include "engine/local_path.h"
#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "net/winhttp_handle.h"

namespace {

uint64_t TotalBytes(const std::vector<PatchFile>& files) {
    uint64_t total = 0;
    for (const PatchFile& f : files) total += f.size;
    return total;
}

void DeleteInstalled(const std::vector<PatchFile>& files) {
    for (const PatchFile& f : files) DeleteFileW(LocalPathOf(f.path).c_str());
}

PatcherConfig ConfigFor(const std::wstring& url) {
    PatcherConfig config = MakeDefaultConfig();
    config.serverUrl = url;
    return config;
}

double TimedStage(Patcher& patcher, const std::vector<PatchFile>& files, bool& ok) {
    PatcherTestAccess::StartSpeedSampling(patcher, GetTickCount64());
    double start = bench::NowMs();
    ok = PatcherTestAccess::DownloadFiles(patcher, files);
    return bench::NowMs() - start;
}

// One GET read to its end in 8192-byte blocks; each block goes to `file`, or is
// dropped when there is none.
bool BareGet(HINTERNET session, const std::wstring& url, uint64_t& received,
             HANDLE file = INVALID_HANDLE_VALUE) {
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    UniqueInternet connection(WinHttpConnect(session, host, parts.nPort, 0));
    if (!connection) return false;
    UniqueInternet request(WinHttpOpenRequest(connection.Get(), L"GET", path, nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request) return false;
    if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.Get(), nullptr)) {
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) return false;
    std::unique_ptr<char[]> buffer(new char[8192]);
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request.Get(), buffer.get(), 8192, &read) || read == 0) break;
        received += read;
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (!WriteFile(file, buffer.get(), read, &written, nullptr) || written != read) return false;
        }
    }
    return true;
}

// One MD5 pass as the engine's digest makes it: a provider context of its own,
// 8192-byte reads, CryptHashData; true when the digest is `expected`.
bool BareMd5Matches(const std::wstring& path, const std::string& expected) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    UniqueCryptProvider provider;
    if (!file || !CryptAcquireContextW(provider.Put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        return false;
    }
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider.Get(), CALG_MD5, 0, 0, &hash)) return false;
    static BYTE block[8192];
    bool ok = true;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), block, sizeof block, &read, nullptr) || read == 0) break;
        if (!CryptHashData(hash, block, read, 0)) ok = false;
    }
    BYTE digest[16];
    DWORD length = sizeof digest;
    ok = CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && ok;
    CryptDestroyHash(hash);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : digest) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return ok && text == AsciiLower(expected);
}

// `limit`: every block written to "<n>.limit" in the current folder, each file then
// digested once; the files are deleted after each pass.
int RunBare(const std::wstring& url, const std::vector<PatchFile>& files, int passes, bool limit) {
    UniqueInternet session(WinHttpOpen(L"Vorlen Patcher/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return bench::Fail("WinHttpOpen failed");
    DWORD timeout = 30000;
    WinHttpSetOption(session.Get(), WINHTTP_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    WinHttpSetOption(session.Get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    for (int i = 0; i < passes; ++i) {
        uint64_t received = 0;
        bool ok = true;
        double start = bench::NowMs();
        for (size_t n = 0; n < files.size(); ++n) {
            const std::wstring target = std::to_wstring(n) + L".limit";
            if (!limit) {
                ok = BareGet(session.Get(), FileUrlOf(url, files[n].path), received) && ok;
                continue;
            }
            {
                UniqueFile file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
                ok = file && BareGet(session.Get(), FileUrlOf(url, files[n].path), received, file.Get()) && ok;
            }
            ok = BareMd5Matches(target, files[n].md5) && ok;
        }
        double ms = bench::NowMs() - start;
        for (size_t n = 0; limit && n < files.size(); ++n) DeleteFileW((std::to_wstring(n) + L".limit").c_str());
        char line[256];
        std::snprintf(line, sizeof line, "mode=%s ms=%.3f bytes=%llu ok=%d", limit ? "limit" : "bare", ms,
                      static_cast<unsigned long long>(received), ok ? 1 : 0);
        bench::PrintResult(line);
    }
    return 0;
}

// The stage's steps for each file, in its order, each timed: its four own log
// lines, the folder, DownloadToFile (request, .tmp and its writes, with the
// stage's per-block publication), the digest and the installation (rename chain
// and its own log lines).
int RunParts(Patcher& patcher, const std::wstring& url, const std::vector<PatchFile>& files) {
    HttpClient& http = PatcherTestAccess::Http(patcher);
    // The stage holds a provider context while it digests; so do its steps here.
    CryptoProviderKeepAlive keepAlive;
    keepAlive.Acquire();
    double logMs = 0, folderMs = 0, downloadMs = 0, digestMs = 0, installMs = 0;
    bool ok = true;
    const std::wstring count = std::to_wstring(files.size());
    for (size_t n = 0; n < files.size(); ++n) {
        const PatchFile& f = files[n];
        std::wstring localPath = LocalPathOf(f.path);
        std::wstring tmpPath = localPath + L".tmp";
        // Publishing on every block, as the stage's own callback does.
        UpdateState state;
        state.status = localPath;
        auto onProgress = [&](uint32_t received, uint32_t announced) {
            state.fileDone = received;
            state.fileTotal = announced;
            patcher.PublishProgress(state);
        };
        double t0 = bench::NowMs();
        Logger::Write(L"[" + std::to_wstring(n + 1) + L"/" + count + L"] Pobieranie: " + localPath);
        double t1 = bench::NowMs();
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(localPath).parent_path(), error);
        double t2 = bench::NowMs();
        ok = http.DownloadToFile(FileUrlOf(url, f.path), tmpPath, onProgress) && ok;
        double t3 = bench::NowMs();
        Logger::Write(L"Pobrano, weryfikacja MD5...");
        double t4 = bench::NowMs();
        ok = AsciiLower(ComputeFileMd5(tmpPath)) == AsciiLower(f.md5) && ok;
        double t5 = bench::NowMs();
        Logger::Write(L"MD5 OK, zamiana plików...");
        double t6 = bench::NowMs();
        ok = InstallDownloadedFile(tmpPath, localPath) && ok;
        double t7 = bench::NowMs();
        Logger::Write(L"Plik zaktualizowany pomyślnie");
        double t8 = bench::NowMs();
        logMs += (t1 - t0) + (t4 - t3) + (t6 - t5) + (t8 - t7);
        folderMs += t2 - t1;
        downloadMs += t3 - t2;
        digestMs += t5 - t4;
        installMs += t7 - t6;
    }
    DeleteInstalled(files);
    char line[320];
    std::snprintf(line, sizeof line,
                  "mode=parts log_ms=%.3f folder_ms=%.3f download_ms=%.3f digest_ms=%.3f install_ms=%.3f "
                  "files=%zu bytes=%llu ok=%d",
                  logMs, folderMs, downloadMs, digestMs, installMs, files.size(),
                  static_cast<unsigned long long>(TotalBytes(files)), ok ? 1 : 0);
    bench::PrintResult(line);
    return 0;
}

}  // namespace

int main() {
    std::vector<std::wstring> args = bench::Arguments();
    if (args.size() < 3) return bench::Fail("usage: bench_download stage|bare|limit|parts|memory URL LIST ...");
    const std::wstring& mode = args[0];
    const std::wstring& url = args[1];
    std::vector<PatchFile> files = bench::ReadListFile(args[2]);
    if (files.empty()) return bench::Fail("no entries in " + bench::Narrow(args[2]));
    int passes = args.size() > 3 && mode != L"memory" ? std::stoi(args[3]) : 1;

    if (mode == L"bare" || mode == L"limit") return RunBare(url, files, passes, mode == L"limit");

    // The engine as the entry point sets it up: log in the current folder, one session.
    Patcher patcher(ConfigFor(url));
    if (!patcher.Initialize()) return bench::Fail("the HTTP session could not be opened");
    DeleteInstalled(files);

    if (mode == L"stage") {
        for (int i = 0; i < passes; ++i) {
            bool ok = false;
            double ms = TimedStage(patcher, files, ok);
            DeleteInstalled(files);
            char line[256];
            std::snprintf(line, sizeof line, "mode=stage ms=%.3f bytes=%llu ok=%d", ms,
                          static_cast<unsigned long long>(TotalBytes(files)), ok ? 1 : 0);
            bench::PrintResult(line);
        }
        return 0;
    }
    if (mode == L"parts") return RunParts(patcher, url, files);
    if (mode == L"memory" && args.size() > 3) {
        std::vector<PatchFile> big = bench::ReadListFile(args[3]);
        if (big.empty()) return bench::Fail("no entries in " + bench::Narrow(args[3]));
        DeleteInstalled(big);
        bench::MemoryFigures before = bench::ReadMemory();
        bool smallOk = false, bigOk = false;
        double smallMs = TimedStage(patcher, files, smallOk);
        bench::MemoryFigures afterSmall = bench::ReadMemory();
        double bigMs = TimedStage(patcher, big, bigOk);
        bench::MemoryFigures afterBig = bench::ReadMemory();
        DeleteInstalled(files);
        DeleteInstalled(big);
        char line[512];
        std::snprintf(line, sizeof line,
                      "mode=memory-download small_bytes=%llu big_bytes=%llu small_ms=%.1f "
                      "big_ms=%.1f rss_before=%.2f peak_after_small=%.2f peak_after_big=%.2f "
                      "private_after_small=%.2f private_after_big=%.2f ok=%d",
                      static_cast<unsigned long long>(TotalBytes(files)),
                      static_cast<unsigned long long>(TotalBytes(big)), smallMs, bigMs,
                      before.residentMiB, afterSmall.peakResidentMiB, afterBig.peakResidentMiB,
                      afterSmall.privateMiB, afterBig.privateMiB, smallOk && bigOk ? 1 : 0);
        bench::PrintResult(line);
        return 0;
    }
    return bench::Fail("unknown mode " + bench::Narrow(mode));
}
