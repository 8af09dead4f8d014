// The local check stage over a list of files that are all current, timed inside
// the process (Wine's start-up is not part of the figure).
//   bench_check check LIST [PASSES]       Patcher::CheckFiles, as the update run calls it
//   bench_check check-cold LIST [PASSES]  the same steps without the engine's held
//                                         provider context: every digest loads the
//                                         crypto provider anew
//   bench_check profile LIST              where the time of one file's check goes:
//                                         the digest's platform calls timed one by
//                                         one, with a provider context held as the
//                                         engine holds one; the provider acquired
//                                         by default and, for comparison, by name
//   bench_check memory SMALL_LIST BIG_LIST
//                                         the check of a small list, then of a big
//                                         one, with the process's peak working set
//                                         after each
// Paths in the lists are relative to the current directory.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/unique_handle.h"
#include "base/ascii_case.h"
#include "bench/bench_support.h"
#include "engine/file_digest.h"
#include "engine/local_path.h"
#include "engine/patcher.h"

namespace {

uint64_t TotalBytes(const std::vector<PatchFile>& files) {
    uint64_t total = 0;
    for (const PatchFile& f : files) total += f.size;
    return total;
}

size_t CountMarked(const std::vector<PatchFile>& files) {
    size_t marked = 0;
    for (const PatchFile& f : files) marked += f.needsUpdate ? 1 : 0;
    return marked;
}

// The check's own steps for one entry, without publishing: existence test,
// digest, case-blind comparison.
void CheckWithoutEngine(std::vector<PatchFile>& files) {
    for (PatchFile& entry : files) {
        std::wstring localPath = LocalPathOf(entry.path);
        std::error_code error;
        bool present = std::filesystem::exists(std::filesystem::path(localPath), error);
        entry.needsUpdate =
            error || !present || AsciiLower(ComputeFileMd5(localPath)) != AsciiLower(entry.md5);
    }
}

void Report(const char* mode, double ms, const std::vector<PatchFile>& files) {
    char line[256];
    std::snprintf(line, sizeof line, "mode=%s ms=%.3f files=%zu bytes=%llu marked=%zu", mode, ms,
                  files.size(), static_cast<unsigned long long>(TotalBytes(files)),
                  CountMarked(files));
    bench::PrintResult(line);
}

// The steps of ComputeFileMd5 one by one, each timed, summed over the list.
struct StepTimes {
    double exists = 0, open = 0, acquire = 0, read = 0, hash = 0, release = 0, close = 0;
    double Total() const { return exists + open + acquire + read + hash + release + close; }
};

StepTimes ProfileSteps(const std::vector<PatchFile>& files, const wchar_t* providerName) {
    StepTimes t;
    static BYTE block[8192];
    for (const PatchFile& entry : files) {
        std::wstring path = LocalPathOf(entry.path);
        double t0 = bench::NowMs();
        std::error_code error;
        bool present = std::filesystem::exists(std::filesystem::path(path), error);
        (void)present;
        double t1 = bench::NowMs();
        UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        double t2 = bench::NowMs();
        HCRYPTPROV provider = 0;
        CryptAcquireContextW(&provider, nullptr, providerName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
        double t3 = bench::NowMs();
        HCRYPTHASH hash = 0;
        CryptCreateHash(provider, CALG_MD5, 0, 0, &hash);
        double reading = 0, hashing = 0;
        for (;;) {
            DWORD got = 0;
            double r0 = bench::NowMs();
            BOOL ok = ReadFile(file.Get(), block, sizeof block, &got, nullptr);
            double r1 = bench::NowMs();
            reading += r1 - r0;
            if (!ok || got == 0) break;
            CryptHashData(hash, block, got, 0);
            hashing += bench::NowMs() - r1;
        }
        double h0 = bench::NowMs();
        BYTE digest[16];
        DWORD length = sizeof digest;
        CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0);
        CryptDestroyHash(hash);
        double t4 = bench::NowMs();
        CryptReleaseContext(provider, 0);
        double t5 = bench::NowMs();
        file.Reset();
        double t6 = bench::NowMs();
        t.exists += t1 - t0;
        t.open += t2 - t1;
        t.acquire += t3 - t2;
        t.read += reading;
        t.hash += hashing + (t4 - h0);
        t.release += t5 - t4;
        t.close += t6 - t5;
    }
    return t;
}

int RunProfile(const std::vector<PatchFile>& files) {
    CryptoProviderKeepAlive keepAlive;
    keepAlive.Acquire();
    ProfileSteps(files, nullptr);  // a first pass settles caches and lazy loading
    StepTimes byDefault = ProfileSteps(files, nullptr);
    StepTimes byName = ProfileSteps(files, MS_DEF_PROV_W);
    double n = static_cast<double>(files.size());
    char line[512];
    std::snprintf(line, sizeof line,
                  "mode=profile files=%zu exists=%.4f open=%.4f acquire=%.4f read=%.4f hash=%.4f "
                  "release=%.4f close=%.4f total=%.4f acquire_named=%.4f total_named=%.4f",
                  files.size(), byDefault.exists / n, byDefault.open / n, byDefault.acquire / n,
                  byDefault.read / n, byDefault.hash / n, byDefault.release / n,
                  byDefault.close / n, byDefault.Total() / n, byName.acquire / n,
                  byName.Total() / n);
    bench::PrintResult(line);
    return 0;
}

double TimedCheck(Patcher& patcher, std::vector<PatchFile>& files) {
    double start = bench::NowMs();
    patcher.CheckFiles(files);
    return bench::NowMs() - start;
}

}  // namespace

int main() {
    std::vector<std::wstring> args = bench::Arguments();
    if (args.size() < 2) return bench::Fail("usage: bench_check check|check-cold|memory LIST ...");
    const std::wstring& mode = args[0];
    std::vector<PatchFile> files = bench::ReadListFile(args[1]);
    if (files.empty()) return bench::Fail("no entries in " + bench::Narrow(args[1]));

    if (mode == L"check" || mode == L"check-cold") {
        int passes = args.size() > 2 ? std::stoi(args[2]) : 1;
        if (mode == L"check") {
            Patcher patcher(MakeDefaultConfig());
            for (int i = 0; i < passes; ++i) Report("check", TimedCheck(patcher, files), files);
        } else {
            for (int i = 0; i < passes; ++i) {
                double start = bench::NowMs();
                CheckWithoutEngine(files);
                Report("check-cold", bench::NowMs() - start, files);
            }
        }
        return 0;
    }

    if (mode == L"profile") return RunProfile(files);
    if (mode == L"memory" && args.size() > 2) {
        std::vector<PatchFile> big = bench::ReadListFile(args[2]);
        if (big.empty()) return bench::Fail("no entries in " + bench::Narrow(args[2]));
        Patcher patcher(MakeDefaultConfig());
        bench::MemoryFigures before = bench::ReadMemory();
        double smallMs = TimedCheck(patcher, files);
        bench::MemoryFigures afterSmall = bench::ReadMemory();
        double bigMs = TimedCheck(patcher, big);
        bench::MemoryFigures afterBig = bench::ReadMemory();
        char line[512];
        std::snprintf(line, sizeof line,
                      "mode=memory-check small_bytes=%llu big_bytes=%llu small_ms=%.1f big_ms=%.1f "
                      "rss_before=%.2f peak_after_small=%.2f peak_after_big=%.2f "
                      "private_after_small=%.2f private_after_big=%.2f marked=%zu",
                      static_cast<unsigned long long>(TotalBytes(files)),
                      static_cast<unsigned long long>(TotalBytes(big)), smallMs, bigMs,
                      before.residentMiB, afterSmall.peakResidentMiB, afterBig.peakResidentMiB,
                      afterSmall.privateMiB, afterBig.privateMiB,
                      CountMarked(files) + CountMarked(big));
        bench::PrintResult(line);
        return 0;
    }
    return bench::Fail("unknown mode " + bench::Narrow(mode));
}
