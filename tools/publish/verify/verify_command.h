#pragma once

#include <vector>

#include "tools/publish/shared/command_argument.h"

// The help text of the verify command.
extern const char kVerifyUsage[];

// `vorlen-publish verify [options] BASE_URL`, given the arguments after
// "verify". Returns the exit status: 0 everything matches, 1 a problem was
// found, 2 wrong usage.
int RunVerifyCommand(const std::vector<CommandArgument>& args);
