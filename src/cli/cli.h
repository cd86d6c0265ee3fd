// SPDX-License-Identifier: MIT
#pragma once
// The command-line front end: picks a mode from the process arguments and runs it, printing one
// line per file. Window mode is left to the caller, which owns the toolkit.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"

namespace pelorix::cli {

// The mode the arguments select (see parseArguments for the rules).
Mode chooseMode(const std::vector<std::string>& args);

// Runs the command-line mode the arguments (the process's, element 0 its name) ask for and returns
// its exit status: 0 when every file succeeded, 1 when one failed or was left alone (or the output
// closed and the run stopped), 2 for an invalid code, a refused list or sequence, or a usage error
// (told on `err`). None means window mode.
std::optional<int> run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The short help text, ending in a newline.
std::string usage();

}  // namespace pelorix::cli
