#pragma once

#include <string>

// Puts a verified temporary file in place of the installed one: the standard
// library's remove and rename first, then MoveFileW, then CopyFileW. On false
// every way failed and the temporary file has been deleted.
bool InstallDownloadedFile(const std::wstring& tmpPath, const std::wstring& localPath);
