#include "tools/publish/shared/server_url.h"

#include <algorithm>

bool ParseBaseUrl(const std::string& text, std::string& base) {
    std::string url = text;
    size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) return false;
    std::string scheme = url.substr(0, schemeEnd);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (scheme != "http" && scheme != "https") return false;
    const size_t hostStart = schemeEnd + 3;
    if (hostStart >= url.size() || url[hostStart] == '/') return false;
    for (char c : url) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) return false;
    }
    while (url.size() > hostStart && url.back() == '/') url.pop_back();
    base = url;
    return true;
}

std::string FileUrl(const std::string& base, const std::string& listPath) {
    std::string url = base + "/" + listPath;
    std::replace(url.begin(), url.end(), '\\', '/');
    return url;
}

std::string EncodeUrlBytes(const std::string& url) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(url.size());
    for (char c : url) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[byte >> 4];
            encoded += kDigits[byte & 0x0F];
        }
    }
    return encoded;
}
