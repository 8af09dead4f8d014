#pragma once

#include <string>

// True when a patch-list path stays inside the game folder: relative, no drive or
// stream colon, no leading separator, no ".." (nor a name Windows would read as one,
// such as ".. " or "..."), no reserved device name such as CON or NUL, and
// well-formed UTF-8; and not the patcher's own record of the releases it
// accepted (kReleaseStateFileName), whatever the letter case, nor a name that
// begins with it.
bool IsSafeListPath(const std::string& path);
