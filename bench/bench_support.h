#pragma once
// What the benchmark programs share: a clock, the process's memory figures, the
// list of files to work on, and the one-line results scripts/bench reads.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/patch_list.h"

namespace bench {

// Milliseconds on the performance counter.
double NowMs();

struct MemoryFigures {
    double residentMiB = 0;      // working set now (VmRSS under Wine)
    double peakResidentMiB = 0;  // the process's highest working set so far (VmHWM)
    double privateMiB = 0;       // committed private memory (pagefile usage)
};
MemoryFigures ReadMemory();

// A list in the patch-list format, read from a file; empty when it cannot be read.
std::vector<PatchFile> ReadListFile(const std::wstring& path);

// Arguments after the program name, as wide strings.
std::vector<std::wstring> Arguments();

// Prints "result key=value ..." on one line and flushes, for scripts/bench.
void PrintResult(const std::string& fields);
// Prints "error <text>" and returns the exit code 1.
int Fail(const std::string& text);

std::string Narrow(const std::wstring& text);

}  // namespace bench
