#pragma once

#include <string>

// Addresses on the patch server, built the way the patcher builds them. All
// texts are UTF-8.

// The base URL an operator gives: http:// or https://, a host, and anything
// after it; trailing slashes are dropped, since the patcher adds one before
// every name. False when the text is not such a URL.
bool ParseBaseUrl(const std::string& text, std::string& base);

// The base URL, "/" and a list path, with every backslash then turned into a
// slash, as the patcher requests a listed file.
std::string FileUrl(const std::string& base, const std::string& listPath);

// `url` with every byte outside printable ASCII (UTF-8 letters, controls,
// blanks) percent-encoded, for a transport that would otherwise send the raw
// bytes. Everything else, '%' included, is left as it is.
std::string EncodeUrlBytes(const std::string& url);
