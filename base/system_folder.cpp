#include "base/system_folder.h"

std::wstring SystemFolderFile(const wchar_t* fileName) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(folder, length) + L"\\" + fileName;
}

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    const std::wstring path = SystemFolderFile(fileName);
    if (path.empty()) return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
