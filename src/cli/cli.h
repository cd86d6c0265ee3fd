// SPDX-License-Identifier: MIT
#pragma once
// The command-line front end: picks a mode from the process arguments and runs it, printing one
// line per file. Window mode is left to the caller, which owns the toolkit.

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix::cli {

enum class Mode { selfTest, read, write, remove, help, version, window };

// The first rule that matches wins: "--selftest", "--read", "--write CODE FILE...",
// "--remove", "--help"/"-h", "--version", else the window. Element 0 is searched as well.
Mode chooseMode(const std::vector<std::string>& args);

// Runs the command-line mode the arguments ask for and returns its exit status: 0 when every
// file succeeded, 1 when one failed, 2 for an invalid code. None means window mode.
std::optional<int> run(const std::vector<std::string>& args, std::ostream& out);

// Stored text made safe for a terminal: C0 and C1 controls, DEL and bytes that are not UTF-8
// become visible escapes (\n, \t, \r, \xHH); everything else stays as it is.
std::string escapeControls(std::string_view text);

// The short help text, ending in a newline.
std::string usage();

}  // namespace pelorix::cli
