// SPDX-License-Identifier: MIT
#pragma once
// --audit: every place each file holds a code, and whether they agree.

#include <ostream>

#include "cli/arguments.h"

namespace pelorix::cli {

// Every carrier of each file and their verdict; 1 when a file is in conflict or unreadable.
int auditMode(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace pelorix::cli
