#include "tools/publish/verify/verify_command.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <system_error>

#include "base/names_and_limits.h"
#include "tools/publish/shared/platform_files.h"
#include "tools/publish/shared/server_url.h"
#include "tools/publish/verify/verify.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

const char kVerifyUsage[] =
    "Usage: vorlen-publish verify [options] BASE_URL\n"
    "\n"
    "Checks that the server at BASE_URL, the patcher's server URL (for example\n"
    "http://host/fs), serves what the players need: fetches patchlist.txt as the\n"
    "patcher does, then every listed file, and compares each file's size and MD5\n"
    "with the list; also patcher_version.txt and, when that is published,\n"
    "Vorlen-Patcher.exe. Prints one line per problem (missing, HTTP status, wrong\n"
    "size, wrong digest, cut short, stalled, too slow, connection failed) and a\n"
    "summary. Files are streamed, one at a time, over one connection. As for the\n"
    "patcher, a redirect from https to http is not followed.\n"
    "\n"
    "Options:\n"
    "  --local SERVER_FOLDER  also require the live list, version file and patcher\n"
    "                         to equal those in SERVER_FOLDER, the folder the\n"
    "                         release was published into. Without it, a cache or\n"
    "                         mirror that still serves a whole older release passes:\n"
    "                         its old list matches its old files.\n"
    "  --public-key FILE      also check the release statement, patchlist.txt.sig,\n"
    "                         as a patcher built with this public key (PEM) does:\n"
    "                         prints its release number, expiry and keys, and\n"
    "                         reports a statement that is missing, not signed by\n"
    "                         the key, expired (a day of grace, as for patchers), or\n"
    "                         that names another list, version or patcher than the\n"
    "                         ones served; with --local, also one older than the\n"
    "                         folder's release. Give it once per key: each must sign\n"
    "                         (patchers that hold only one of them need it)\n"
    "  --timeout SECONDS      give up on a connection after this long, and on an\n"
    "                         answer that brings less than --min-rate in this long\n"
    "                         (30 unless told)\n"
    "  --min-rate SIZE        what must arrive in every --timeout seconds, in bytes\n"
    "                         or with K or M for KiB or MiB (16K unless told): a\n"
    "                         trickle is a stall, a slow but steady link is not\n"
    "  -q, --quiet            print nothing but problems\n"
    "  -h, --help             show this text\n"
    "\n"
    "On Linux the system's CA certificates decide which https servers are trusted;\n"
    "SSL_CERT_FILE names another bundle, as for openssl and curl.\n"
    "\n"
    "Exit status: 0 everything matches, 1 a problem was found, 2 wrong usage.\n";

namespace {

const int kLongestTimeout = 3600;
const uint64_t kLargestMinRate = 1ull << 30;

int UsageError(const std::string& message) {
    std::cerr << "vorlen-publish verify: " << message << "\nTry 'vorlen-publish verify --help'.\n";
    return 2;
}

bool ParseSeconds(const std::string& text, int& seconds) {
    if (text.empty() || text.size() > 4) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kLongestTimeout) return false;
    seconds = value;
    return true;
}

// "16384", "16K" (KiB) or "1M" (MiB), from 1 byte to 1 GiB.
bool ParseSize(const std::string& text, uint64_t& bytes) {
    if (text.empty() || text.size() > 11) return false;
    uint64_t unit = 1;
    std::string digits = text;
    if (digits.back() == 'K' || digits.back() == 'k') unit = 1024;
    if (digits.back() == 'M' || digits.back() == 'm') unit = 1024 * 1024;
    if (unit != 1) digits.pop_back();
    if (digits.empty()) return false;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value == 0 || value > kLargestMinRate / unit) return false;
    bytes = value * unit;
    return true;
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace

int RunVerifyCommand(const std::vector<CommandArgument>& args) {
    VerifyOptions options;
    std::vector<const CommandArgument*> urls;
    for (size_t i = 0; i < args.size(); ++i) {
        CommandOption option;
        std::string problem;
        if (!ReadCommandOption(args, i, {"--local", "--timeout", "--min-rate", "--public-key"}, option, problem)) return UsageError(problem);
        const std::string& name = option.name;
        const std::string& value = option.value;

        if (name == "-h" || name == "--help") {
            std::cout << kVerifyUsage;
            return 0;
        } else if (name == "-q" || name == "--quiet") {
            options.quiet = true;
        } else if (name == "--local") {
            if (value.empty()) return UsageError("--local needs a value");
            options.localFolder = option.ValuePath();
        } else if (name == "--public-key") {
            if (value.empty()) return UsageError("--public-key needs a value");
            options.publicKeys.push_back(option.ValuePath());
        } else if (name == "--timeout") {
            if (!ParseSeconds(value, options.timeoutSeconds)) {
                return UsageError("--timeout wants whole seconds from 1 to " + std::to_string(kLongestTimeout) +
                                  ", not '" + value + "'");
            }
        } else if (name == "--min-rate") {
            if (!ParseSize(value, options.minRateBytes)) {
                return UsageError("--min-rate wants bytes, or KiB or MiB with K or M, at most 1024M, not '" + value +
                                  "'");
            }
        } else if (name == "--") {
            for (++i; i < args.size(); ++i) urls.push_back(&args[i]);
        } else if (name.size() > 1 && name[0] == '-') {
            return UsageError("unknown option " + name);
        } else {
            urls.push_back(&args[i]);
        }
    }
    if (urls.size() != 1) return UsageError("give the server's base URL");
    if (!ParseBaseUrl(urls[0]->text, options.baseUrl)) {
        return UsageError("'" + urls[0]->text + "' is not an http:// or https:// URL");
    }
    std::error_code code;
    if (!options.localFolder.empty() &&
        !fs::is_regular_file(options.localFolder / kPatchListName.utf8, code)) {
        return UsageError("--local: " + DisplayPath(options.localFolder) +
                          " is not a server folder (it has no " + kPatchListName.utf8 + ")");
    }
    options.progress = !options.quiet && StderrIsTerminal();
    return Verify(options, std::cout, std::cerr) ? 0 : 1;
}
