// SPDX-License-Identifier: MIT
#pragma once
// Runs a helper program and captures what it prints. No shell is involved: the arguments reach
// the program exactly as given, so file names with spaces or quotes need no escaping.

#include <cstddef>
#include <string>
#include <vector>

namespace pelorix {

struct ProcessResult {
    // The exit status; 128 + the signal number when a signal ended it; -1 when it never started.
    int status = -1;
    // Standard output and standard error as one text (invalid UTF-8 replaced), or the launch
    // error's description when the program could not be started.
    std::string output;
};

// The most output kept; the rest is read and dropped so the child never blocks on a full pipe.
inline constexpr std::size_t kMaxProcessOutput = 1 << 20;

// `program` containing a slash is used as is; otherwise it is looked up in PATH.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace pelorix
