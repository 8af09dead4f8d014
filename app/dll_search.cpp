#include "app/dll_search.h"

#include <windows.h>
#include <delayimp.h>

#include <cstring>
#include <string>

#include "base/system_folder.h"

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// Looked up at run time: mingw-w64 declares it unconditionally, and a direct call
// would keep the program from starting at all on a Windows 7 without it.
SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
}

// winhttp.dll and gdiplus.dll are delay-loaded (cmake/delay_import.cmake): as
// static imports, which are no KnownDLLs, Windows would take them from the
// program's folder before the entry point runs. Where the default directories
// are set, the helper's own load by name already looks only in the system
// folder; elsewhere they are loaded here by full path.
FARPROC WINAPI LoadDelayedLibrary(unsigned notice, PDelayLoadInfo info) {
    if (notice != dliNotePreLoadLibrary || FindSetDefaultDllDirectories() != nullptr) return nullptr;
    const std::wstring name(info->szDll, info->szDll + std::strlen(info->szDll));  // an ASCII file name
    return reinterpret_cast<FARPROC>(LoadSystemLibrary(name.c_str()));
}

}  // namespace

// Read by the delay-load helper (libmingwex) before it loads a library; declared
// extern "C" by <delayimp.h>.
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedLibrary;

void RestrictDllSearchToSystemFolder() {
    SetDefaultDllDirectoriesFn setDefault = FindSetDefaultDllDirectories();
    if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Loads that name their own search, as COM's of a registered server by full
    // path with the altered search path, would still try the current directory
    // for the server's imports.
    SetDllDirectoryW(L"");
}
