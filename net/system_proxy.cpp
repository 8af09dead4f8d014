#include "net/system_proxy.h"

#include <chrono>
#include <condition_variable>
#include <cwctype>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "net/winhttp_handle.h"

namespace {

// Strings that WinHTTP hands over and the caller frees with GlobalFree.
struct GlobalTextTraits {
    using Type = LPWSTR;
    static Type Invalid() { return nullptr; }
    static void Close(Type text) { GlobalFree(text); }
};
using UniqueGlobalText = UniqueHandle<GlobalTextTraits>;

std::wstring TextOf(const UniqueGlobalText& text) { return text ? std::wstring(text.Get()) : std::wstring(); }

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The entries of a list whose entries stand apart by ';', ',' or blanks.
std::vector<std::wstring> Entries(const std::wstring& list) {
    std::vector<std::wstring> entries;
    std::wstring current;
    for (wchar_t c : list + L";") {
        if (c == L';' || c == L',' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            if (!current.empty()) entries.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return entries;
}

std::wstring WithoutScheme(std::wstring address) {
    for (const wchar_t* scheme : {L"http://", L"https://"}) {
        const std::wstring prefix(scheme);
        if (Lower(address.substr(0, prefix.size())) == prefix) address.erase(0, prefix.size());
    }
    while (!address.empty() && address.back() == L'/') address.pop_back();
    return address;
}

// `text` matches `pattern`, in which '*' stands for any run of characters.
bool GlobMatches(const std::wstring& pattern, const std::wstring& text) {
    size_t p = 0, t = 0, star = std::wstring::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

// What an auto-config script or automatic detection said; shared with the
// lookup's thread, which may outlive the wait for it.
struct ScriptLookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool answered = false;  // the script ran: `proxy` holds its answer, empty for direct
    std::wstring proxy;
};

void RunScript(const std::shared_ptr<ScriptLookup>& lookup, const std::wstring& userAgent,
               const std::wstring& url, bool autoDetect, const std::wstring& scriptUrl, DWORD limitMs) {
    bool answered = false;
    std::wstring proxy;
    // The script itself is fetched directly, as Windows fetches it.
    UniqueInternet session(WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (session) {
        const int limit = static_cast<int>(limitMs);
        WinHttpSetTimeouts(session.Get(), limit, limit, limit, limit);
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        if (autoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (!scriptUrl.empty()) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = scriptUrl.c_str();
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info = {};
        if (WinHttpGetProxyForUrl(session.Get(), url.c_str(), &options, &info)) {
            UniqueGlobalText named(info.lpszProxy);
            UniqueGlobalText bypass(info.lpszProxyBypass);
            answered = true;
            if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) proxy = TextOf(named);
        }
    }
    std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->answered = answered;
    lookup->proxy = proxy;
    lookup->done = true;
    lookup->finished.notify_all();
}

// Runs the script's lookup on a thread of its own and waits at most `limitMs`
// for it: WinHTTP gives the lookup no overall time limit of its own, and a
// script server that hangs must not hold the update. A lookup still running
// then ends on its own, with its session's time-outs.
bool LookUpScript(const std::wstring& userAgent, const std::wstring& url, bool autoDetect,
                  const std::wstring& scriptUrl, DWORD limitMs, std::wstring& proxy) {
    auto lookup = std::make_shared<ScriptLookup>();
    try {
        std::thread(RunScript, lookup, userAgent, url, autoDetect, scriptUrl, limitMs).detach();
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->finished.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return lookup->done; })) {
        return false;
    }
    proxy = lookup->proxy;
    return lookup->answered;
}

}  // namespace

std::wstring ProxyForScheme(const std::wstring& list, bool https) {
    const std::wstring wanted = https ? L"https" : L"http";
    std::wstring general;
    for (const std::wstring& entry : Entries(list)) {
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos) {
            if (general.empty()) general = WithoutScheme(entry);
        } else if (Lower(entry.substr(0, equals)) == wanted) {
            return WithoutScheme(entry.substr(equals + 1));
        }
    }
    return general;
}

bool BypassesProxy(const std::wstring& bypassList, const std::wstring& host) {
    const std::wstring name = Lower(host);
    for (const std::wstring& entry : Entries(bypassList)) {
        std::wstring pattern = Lower(WithoutScheme(entry));
        if (pattern == L"<local>") {
            if (name.find(L'.') == std::wstring::npos && name.find(L':') == std::wstring::npos) return true;
            continue;
        }
        // A port in the entry ("host:8080") does not change which host it names.
        const size_t colon = pattern.rfind(L':');
        if (colon != std::wstring::npos && pattern.find(L':') == colon) pattern.erase(colon);
        if (GlobMatches(pattern, name)) return true;
    }
    return false;
}

ProxyChoice FindUserProxy(const std::wstring& userAgent, const std::wstring& url, DWORD lookupLimitMs) {
    wchar_t host[256] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return ProxyChoice();
    const bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;

    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&settings)) return ProxyChoice();
    UniqueGlobalText scriptUrl(settings.lpszAutoConfigUrl);
    UniqueGlobalText fixed(settings.lpszProxy);
    UniqueGlobalText bypass(settings.lpszProxyBypass);

    ProxyChoice choice;
    choice.bypass = TextOf(bypass);
    if (settings.fAutoDetect || scriptUrl) {
        std::wstring answer;
        if (LookUpScript(userAgent, url, settings.fAutoDetect != FALSE, TextOf(scriptUrl), lookupLimitMs,
                         answer)) {
            choice.proxy = ProxyForScheme(answer, https);
            return choice;
        }
    }
    choice.proxy = ProxyForScheme(TextOf(fixed), https);
    if (BypassesProxy(choice.bypass, host)) choice.proxy.clear();
    return choice;
}

HINTERNET OpenSession(const std::wstring& userAgent, const ProxyChoice& choice) {
    if (choice.proxy.empty()) {
        return WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    }
    return WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, choice.proxy.c_str(),
                       choice.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : choice.bypass.c_str(), 0);
}
