#pragma once
// The patcher runs in the game folder, beside the game's own DLLs and often a
// mod loader's proxy DLL: no library of the patcher's may come from there.

// Called first in the entry point: from then on a library loaded by name comes
// from the system folder only. Where Windows lacks that setting (Windows 7
// without update KB2533623) the current directory is at least dropped from the
// search, and the delay-loaded libraries are loaded by full path instead.
void RestrictDllSearchToSystemFolder();
