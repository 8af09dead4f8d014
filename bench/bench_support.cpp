#include "bench/bench_support.h"

#include <psapi.h>
#include <shellapi.h>

#include <cstdio>

namespace bench {

double NowMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

MemoryFigures ReadMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    MemoryFigures figures;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        const double mib = 1024.0 * 1024.0;
        figures.residentMiB = counters.WorkingSetSize / mib;
        figures.peakResidentMiB = counters.PeakWorkingSetSize / mib;
        figures.privateMiB = counters.PagefileUsage / mib;
    }
    return figures;
}

std::vector<PatchFile> ReadListFile(const std::wstring& path) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return {};
    std::string text;
    char block[65536];
    size_t read;
    while ((read = fread(block, 1, sizeof block, file)) > 0) text.append(block, read);
    fclose(file);
    return ParsePatchList(text);
}

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* values = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(values[i]);
    LocalFree(values);
    return arguments;
}

void PrintResult(const std::string& fields) {
    std::printf("result %s\n", fields.c_str());
    std::fflush(stdout);
}

int Fail(const std::string& text) {
    std::printf("error %s\n", text.c_str());
    std::fflush(stdout);
    return 1;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

}  // namespace bench
