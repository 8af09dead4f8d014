#pragma once

#include <string>

// A list path as a local file name: UTF-8 decoded, slashes turned to backslashes.
std::wstring LocalPathOf(const std::string& listPath);

// serverUrl + "/" + the list path, with every backslash turned to a slash.
std::wstring FileUrlOf(const std::wstring& serverUrl, const std::string& listPath);
