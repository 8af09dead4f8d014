#include "tools/publish/publish/game_folder.h"

#include <algorithm>
#include <system_error>

#include "base/names_and_limits.h"
#include "base/text.h"
#include "tools/publish/publish/list_path_rules.h"
#include "tools/publish/shared/platform_files.h"

namespace fs = std::filesystem;

namespace {

void Walk(const fs::path& folder, const std::string& prefix, std::vector<GameFile>& files,
          std::vector<std::string>& problems) {
    std::error_code code;
    fs::directory_iterator it(folder, code);
    if (code) {
        problems.push_back(DisplayPath(folder) + ": cannot read the folder: " + code.message());
        return;
    }
    for (; it != fs::directory_iterator(); it.increment(code)) {
        const fs::path entry = it->path();
        std::string name;
        const bool nameIsUtf8 = NameToUtf8(entry.filename(), name);
        const std::string listPath = prefix + name;
        const std::string shown = nameIsUtf8 ? PrintableName(listPath) : prefix + DisplayPath(entry.filename());
        if (!nameIsUtf8) {
            problems.push_back(shown + ": the name is not valid UTF-8, and the list is UTF-8");
            continue;
        }

        std::error_code statusCode;
        const fs::file_status linkStatus = fs::symlink_status(entry, statusCode);
        const fs::file_status status = fs::status(entry, statusCode);
        if (fs::is_directory(status)) {
            if (fs::is_symlink(linkStatus)) {
                problems.push_back(shown + ": a link to a folder is not followed");
                continue;
            }
            std::string problem = ListPathProblem(listPath + "/x");
            if (!problem.empty()) {
                problems.push_back(shown + "/: " + problem);
                continue;
            }
            Walk(entry, listPath + "/", files, problems);
            continue;
        }
        if (!fs::is_regular_file(status)) {
            problems.push_back(shown + ": not a regular file (a broken link, device, socket or pipe)");
            continue;
        }
        std::string problem = ListPathProblem(listPath);
        if (!problem.empty()) {
            problems.push_back(shown + ": " + problem);
            continue;
        }
        GameFile file;
        file.path = listPath;
        file.source = entry;
        if (!ReadFileStamp(entry, true, file.stamp)) {
            problems.push_back(shown + ": cannot read its size and times");
            continue;
        }
        if (file.stamp.size > kLargestListedSize) {
            problems.push_back(shown + ": 4 GiB or larger, and the list's size field is 32-bit");
            continue;
        }
        files.push_back(std::move(file));
    }
    if (code) problems.push_back(DisplayPath(folder) + ": cannot read the folder: " + code.message());
}

}  // namespace

void ScanGameFolder(const fs::path& root, std::vector<GameFile>& files, std::vector<std::string>& problems) {
    Walk(root, "", files, problems);
    std::sort(problems.begin(), problems.end());  // the folder's own order is arbitrary
    std::sort(files.begin(), files.end(),
              [](const GameFile& a, const GameFile& b) { return a.path < b.path; });
    std::vector<std::string> paths;
    for (const GameFile& file : files) paths.push_back(file.path);
    for (std::string& collision : FindNameCollisions(paths)) problems.push_back(std::move(collision));
}
