#pragma once

#include <vector>

#include "tools/publish/shared/command_argument.h"

// The help text of the resign command.
extern const char kResignUsage[];

// `vorlen-publish resign SERVER_FOLDER --signing-key FILE ... [--expires-in DAYS
// | --expires-at UTC]`, given the arguments after "resign": a new statement for
// the release in the folder, with the same number, under the publish lock, when
// the folder's list, version and patcher are still the ones its statement signs.
// Returns the exit status: 0 renewed, 1 refused or failed, 2 wrong usage.
int RunResignCommand(const std::vector<CommandArgument>& args);
