#include "engine/local_path.h"

#include <algorithm>

#include "base/text.h"

std::wstring LocalPathOf(const std::string& listPath) {
    std::wstring path = Utf8ToWide(listPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring FileUrlOf(const std::wstring& serverUrl, const std::string& listPath) {
    std::wstring url = serverUrl + L"/" + Utf8ToWide(listPath);
    std::replace(url.begin(), url.end(), L'\\', L'/');
    return url;
}
