#include "tools/publish/signing/resign_command.h"

#include <iostream>
#include <string>
#include <system_error>

#include "base/names_and_limits.h"
#include "tools/publish/publish/publish_lock.h"
#include "tools/publish/shared/platform_files.h"
#include "tools/publish/signing/release_signing.h"
#include "tools/publish/signing/statement_expiry.h"

namespace fs = std::filesystem;

const char kResignUsage[] =
    "Usage: vorlen-publish resign [options] SERVER_FOLDER\n"
    "\n"
    "Signs the release in SERVER_FOLDER again: writes a new patchlist.txt.sig with\n"
    "the same release number and list, version and patcher, signed by the keys\n"
    "given and with the expiry given (none unless told). Use it to renew a\n"
    "statement before it expires, or to sign an unchanged release with other keys.\n"
    "It touches no other file, and refuses when the folder's patchlist.txt,\n"
    "patcher_version.txt or Vorlen-Patcher.exe is not what the statement signs:\n"
    "publish such a release instead.\n"
    "\n"
    "Options:\n"
    "  --signing-key FILE   an ECDSA P-256 private key (PEM) to sign with; give it\n"
    "                       once per key (at least once)\n"
    "  --expires-in DAYS    the statement expires DAYS days from now (1 to 3650)\n"
    "  --expires-at UTC     the statement expires at this time, such as\n"
    "                       2030-12-31T23:59:59Z; patchers take it for one more day\n"
    "  --wait SECONDS       when a publish into SERVER_FOLDER is running, wait up to\n"
    "                       SECONDS for it to end instead of giving up at once\n"
    "  -q, --quiet          print nothing but errors\n"
    "  -h, --help           show this text\n"
    "\n"
    "Exit status: 0 signed, 1 refused or failed, 2 wrong usage.\n";

namespace {

int UsageError(const std::string& message) {
    std::cerr << "vorlen-publish resign: " << message << "\nTry 'vorlen-publish resign --help'.\n";
    return 2;
}

int Refuse(const std::string& message) {
    std::cerr << "vorlen-publish resign: " << message << "\n";
    return 1;
}

struct ResignOptions {
    fs::path serverFolder;
    std::vector<fs::path> signingKeys;
    StatementExpiry expiry;
    int waitSeconds = 0;
    bool quiet = false;
};

int Resign(const ResignOptions& options) {
    std::error_code code;
    const std::string folder = DisplayPath(options.serverFolder);
    if (!fs::is_regular_file(options.serverFolder / kPatchListName.utf8, code)) {
        return Refuse(folder + " is not a server folder (it has no " + kPatchListName.utf8 + ")");
    }
    std::vector<SigningKey> keys;
    std::string error;
    if (!LoadKeys(options.signingKeys, true, keys, error)) return Refuse("--signing-key: " + error);

    PublishLock lock;
    std::string holder;
    auto onWait = [&](const std::string& who) {
        if (options.quiet) return;
        std::cerr << "vorlen-publish resign: waiting up to " << options.waitSeconds << " s for " << who
                  << ", which is publishing into " << folder << "\n";
    };
    switch (lock.Take(options.serverFolder, options.waitSeconds, onWait, holder, error)) {
        case PublishLock::Result::Taken:
            break;
        case PublishLock::Result::Held:
            return Refuse("a publish into " + folder + " is running (" + holder + "); nothing was written. " +
                          (options.waitSeconds > 0 ? "It still ran after " + std::to_string(options.waitSeconds) + " s."
                                                   : "Give --wait SECONDS to wait for it to end."));
        case PublishLock::Result::Failed:
            return Refuse(error + "; nothing was written");
    }

    const fs::path statementFile = options.serverFolder / StatementFileName();
    ReleaseStatement statement;
    std::string problem;
    if (!ReadStatementFile(statementFile, statement, problem)) {
        if (problem.empty()) {
            return Refuse(folder + " has no " + StatementFileName() +
                          " to sign again; publish the release with --signing-key");
        }
        return Refuse(DisplayPath(statementFile) + " is not a release statement (" + problem +
                      "); publish the release again with --signing-key");
    }
    ReleaseStatement found;
    if (!ReadFolderRelease(options.serverFolder, found, error)) return Refuse(error + "; nothing was written");
    const std::string difference = ReleaseContentDifference(statement, found);
    if (!difference.empty()) {
        return Refuse("the files in " + folder + " are not the release " + StatementFileName() + " signs (" +
                      difference + "); publish the release instead. Nothing was written");
    }

    const int64_t now = StatementClockNow();
    options.expiry.Apply(statement, now);
    if (!SignStatement(statement, keys, error) || !WriteStatementFile(statementFile, statement, keys, error)) {
        return Refuse("cannot sign the release: " + error + "; the statement in place was kept");
    }
    const std::string warning = ExpiryWarning(statement, now);
    if (!warning.empty()) std::cerr << "vorlen-publish resign: warning: " << warning << "\n";
    if (!options.quiet) std::cout << "Signed " << DisplayPath(statementFile) << ": " << DescribeStatement(statement) << "\n";
    return 0;
}

}  // namespace

int RunResignCommand(const std::vector<CommandArgument>& args) {
    ResignOptions options;
    std::vector<const CommandArgument*> folders;
    for (size_t i = 0; i < args.size(); ++i) {
        CommandOption option;
        std::string problem;
        if (!ReadCommandOption(args, i, {"--signing-key", "--expires-in", "--expires-at", "--wait"}, option,
                               problem)) {
            return UsageError(problem);
        }
        const std::string& name = option.name;
        const std::string& value = option.value;
        if (name == "-h" || name == "--help") {
            std::cout << kResignUsage;
            return 0;
        } else if (name == "-q" || name == "--quiet") {
            options.quiet = true;
        } else if (name == "--signing-key") {
            if (value.empty()) return UsageError("--signing-key needs a value");
            options.signingKeys.push_back(option.ValuePath());
        } else if (name == "--expires-in" || name == "--expires-at") {
            if (!options.expiry.Read(name, value, problem)) return UsageError(problem);
        } else if (name == "--wait") {
            if (!ReadWaitSeconds(value, options.waitSeconds)) return UsageError("--wait needs a number of seconds, at most 86400");
        } else if (name == "--") {
            for (++i; i < args.size(); ++i) folders.push_back(&args[i]);
        } else if (name.size() > 1 && name[0] == '-') {
            return UsageError("unknown option " + name);
        } else {
            folders.push_back(&args[i]);
        }
    }
    if (folders.size() != 1) return UsageError("give the server folder");
    if (options.signingKeys.empty()) return UsageError("give --signing-key, once per key to sign with");
    options.serverFolder = folders[0]->path;
    return Resign(options);
}
