#pragma once

#include <string>
#include <vector>

#include "platform/system.hpp"

namespace glyphound::commands {

// Whether the command line names a command, or asks for help or the version
// with no file of that name in the way; anything else is the dialogue's.
bool isCommand(const std::vector<std::string>& arguments, System& system);

// Runs the command the arguments name; returns the exit status: 0 success
// (for a search, something found), 1 nothing found, 2 an error.
int runCommand(const std::vector<std::string>& arguments, System& system);

}  // namespace glyphound::commands
