#pragma once
// Files from Windows' system folder, named by their full path: a bare name would
// be looked for in the program's own folder first, which is the game folder.

#include <windows.h>

#include <string>

// The system folder's path followed by "\" and `fileName`; empty when the folder
// cannot be read.
std::wstring SystemFolderFile(const wchar_t* fileName);

// Loads a DLL from the system folder by its full path. The altered search path
// makes the DLL's own imports come from its folder too, not from the program's.
// Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* fileName);
