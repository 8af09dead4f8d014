#pragma once

#include <string>
#include <vector>

// What keeps a game file out of the patch list. Paths are relative, UTF-8 bytes,
// with forward slashes, exactly as the list will carry them.

// Why `path` cannot be listed, or an empty text when it can.
std::string ListPathProblem(const std::string& path);

// The name under which Windows stores `path` when it ignores letter case:
// two paths with the same key are one file in the player's game folder.
std::string FoldCaseKey(const std::string& path);

// Pairs of listed paths that would land on one file in the player's folder:
// names that differ only in letter case, a file where another entry needs a
// folder, and a file X beside X.tmp, the name X is downloaded to first.
std::vector<std::string> FindNameCollisions(const std::vector<std::string>& paths);
