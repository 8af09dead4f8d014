// vorlen-publish: turns a folder of game files into the folder a web server
// serves to the patcher, and checks what a server serves from it.

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/shared/command_argument.h"
#include "tools/publish/shared/platform_files.h"
#include "tools/publish/publish/publisher.h"
#include "tools/publish/signing/resign_command.h"
#include "tools/publish/signing/signing_key.h"
#include "tools/publish/verify/verify_command.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "Usage: vorlen-publish [options] GAME_FOLDER SERVER_FOLDER\n"
    "       vorlen-publish verify [options] BASE_URL   (see below)\n"
    "       vorlen-publish resign [options] SERVER_FOLDER   (see below)\n"
    "       vorlen-publish keygen FOLDER   (a new signing key: FOLDER/private.pem, public.pem)\n"
    "\n"
    "Publishes the game files in GAME_FOLDER for the Vorlen patcher: copies them into\n"
    "SERVER_FOLDER (made if missing) and writes SERVER_FOLDER/patchlist.txt, one line\n"
    "per file: its path with forward slashes, its MD5 and its size, sorted bytewise.\n"
    "Serve SERVER_FOLDER as the patcher's server URL (for example http://host/fs/).\n"
    "\n"
    "Options:\n"
    "  --patcher-version V  also write patcher_version.txt with V, four numbers\n"
    "                       such as 1.0.6.0; patchers older than V update themselves\n"
    "  --patcher-exe FILE   also publish FILE as Vorlen-Patcher.exe, the new patcher\n"
    "                       (the two options go together unless the server folder\n"
    "                       already has the other file)\n"
    "  --signing-key FILE   sign the release with this ECDSA P-256 private key (PEM):\n"
    "                       one release statement, patchlist.txt.sig, names the\n"
    "                       release's number, the list and the patcher; give the\n"
    "                       option once per key to sign with several. Patchers\n"
    "                       built with a matching public key accept only releases\n"
    "                       signed with it, and never an older one than they took\n"
    "  --expires-in DAYS    the statement expires DAYS days from now (1 to 3650)\n"
    "  --expires-at UTC     the statement expires at this time, such as\n"
    "                       2030-12-31T23:59:59Z; patchers take it for one more day\n"
    "                       (without either it never expires)\n"
    "  --dry-run            say which files would be written and which stay; write\n"
    "                       nothing\n"
    "  --check-in-place     read every file in place and compare it with the game\n"
    "                       folder's, instead of trusting the record of placed files\n"
    "                       (catches damage that kept a file's size and times)\n"
    "  --remove-signatures  publish unsigned into a folder of a signed release and\n"
    "                       remove its statement once the new list is in place;\n"
    "                       patchers built with the public key then refuse every\n"
    "                       release (without this or --signing-key such a publish\n"
    "                       is refused)\n"
    "  --wait SECONDS       when another publish into SERVER_FOLDER is running, wait\n"
    "                       up to SECONDS for it to end instead of giving up at once\n"
    "  -q, --quiet          print nothing but errors\n"
    "  -h, --help           show this text\n"
    "\n"
    "Nothing is published when a game file cannot be listed: names with white space,\n"
    "names that are not UTF-8, names Windows or an unencoded URL cannot carry\n"
    "(\\ < > : \" | ? * % #, a trailing dot), paths the patcher refuses (\"..\",\n"
    "device names such as CON), names that would be one file on Windows (differing\n"
    "only in letter case, or X beside X.tmp, where X is downloaded first), the\n"
    "patcher's and the server's own names, names beginning with .vorlen-publish-,\n"
    "and files of 4 GiB or more.\n"
    "\n"
    "Every file is written under a temporary name and renamed into place, and the\n"
    "list goes last, so a server that stays up never serves a half-written file or\n"
    "a list naming files that are not there yet. A file whose size changes while\n"
    "it is copied fails the publish. Other files already in SERVER_FOLDER are left\n"
    "alone. The tool records what it placed in SERVER_FOLDER/.vorlen-publish-state\n"
    "(size, modification time, file id and digest of each file) and leaves a file\n"
    "alone only when the file in place still matches that record and the record's\n"
    "digest is the game file's; one publish at a time holds\n"
    "SERVER_FOLDER/.vorlen-publish-lock. Do not serve or upload either file. The\n"
    "record also holds the release number, which goes up whenever the list, the\n"
    "version or the patcher changes; keep it with the folder.\n"
    "\n"
    "Exit status: 0 published, 1 refused or failed, 2 wrong usage.\n";

using Argument = CommandArgument;

int UsageError(const std::string& message) {
    std::cerr << "vorlen-publish: " << message << "\nTry 'vorlen-publish --help'.\n";
    return 2;
}

int Run(const std::vector<Argument>& args) {
    if (!args.empty() && args[0].text == "verify") {
        return RunVerifyCommand(std::vector<Argument>(args.begin() + 1, args.end()));
    }
    if (!args.empty() && args[0].text == "resign") {
        return RunResignCommand(std::vector<Argument>(args.begin() + 1, args.end()));
    }
    if (!args.empty() && args[0].text == "keygen") {
        if (args.size() != 2) return UsageError("keygen needs one folder");
        std::string error;
        if (!GenerateSigningKeyPair(args[1].path, error)) {
            std::cerr << "vorlen-publish: " << error << "\n";
            return 1;
        }
        return 0;
    }
    PublishOptions options;
    std::vector<const Argument*> folders;
    for (size_t i = 0; i < args.size(); ++i) {
        CommandOption option;
        std::string problem;
        if (!ReadCommandOption(args, i,
                               {"--patcher-version", "--patcher-exe", "--signing-key", "--expires-in", "--expires-at",
                                "--wait"},
                               option, problem)) {
            return UsageError(problem);
        }
        const std::string& name = option.name;
        const std::string& value = option.value;

        if (name == "-h" || name == "--help") {
            std::cout << kUsage << "\n" << kVerifyUsage << "\n" << kResignUsage;
            return 0;
        } else if (name == "-q" || name == "--quiet") {
            options.quiet = true;
        } else if (name == "--patcher-version") {
            if (value.empty()) return UsageError("--patcher-version needs a value");
            options.patcherVersion = value;
        } else if (name == "--patcher-exe") {
            if (value.empty()) return UsageError("--patcher-exe needs a value");
            options.patcherExe = option.ValuePath();
        } else if (name == "--signing-key") {
            if (value.empty()) return UsageError("--signing-key needs a value");
            options.signingKeys.push_back(option.ValuePath());
        } else if (name == "--expires-in" || name == "--expires-at") {
            std::string expiryProblem;
            if (!options.expiry.Read(name, value, expiryProblem)) return UsageError(expiryProblem);
        } else if (name == "--dry-run") {
            options.dryRun = true;
        } else if (name == "--check-in-place") {
            options.checkInPlace = true;
        } else if (name == "--remove-signatures") {
            options.removeSignatures = true;
        } else if (name == "--wait") {
            if (!ReadWaitSeconds(value, options.waitSeconds)) {
                return UsageError("--wait needs a number of seconds, at most 86400");
            }
        } else if (name == "--") {
            for (++i; i < args.size(); ++i) folders.push_back(&args[i]);
        } else if (name.size() > 1 && name[0] == '-') {
            return UsageError("unknown option " + name);
        } else {
            folders.push_back(&args[i]);
        }
    }
    if (folders.size() != 2) return UsageError("give the game folder and the server folder");
    if (options.removeSignatures && !options.signingKeys.empty()) {
        return UsageError("--remove-signatures and --signing-key exclude each other");
    }
    if (options.expiry.Given() && options.signingKeys.empty()) {
        return UsageError("--expires-in and --expires-at are for a signed release: give --signing-key");
    }
    options.gameFolder = folders[0]->path;
    options.serverFolder = folders[1]->path;
    return Publish(options, std::cout, std::cerr) ? 0 : 1;
}

}  // namespace

#ifdef _WIN32

int wmain(int argc, wchar_t** argv) {
    // Names in messages are UTF-8; the console shows them right only in that code page.
    SetConsoleOutputCP(CP_UTF8);
    std::vector<Argument> args;
    for (int i = 1; i < argc; ++i) {
        Argument arg;
        arg.path = fs::path(argv[i]);
        if (!NameToUtf8(arg.path, arg.text)) return UsageError("an argument is not valid Unicode");
        args.push_back(arg);
    }
    return Run(args);
}

#else

int main(int argc, char** argv) {
    std::vector<Argument> args;
    for (int i = 1; i < argc; ++i) args.push_back(Argument{argv[i], fs::path(argv[i])});
    return Run(args);
}

#endif
