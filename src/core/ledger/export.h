// SPDX-License-Identifier: MIT
#pragma once
// The registrant's record of every code in the ledger, as the command line and the window
// export it.

#include <ostream>
#include <vector>

#include "core/ledger/ledger.h"

namespace pelorix::ledger {

enum class ExportFormat { csv, json };

// CSV: a header, then one line per code and file (isrc, file, title, artist, duration, year,
// format, first and last written, when the code was removed from the file) — a list the import
// reads again. JSON: one object per line and code, with its files.
void exportCodes(const std::vector<CodeRecord>& codes, ExportFormat format, std::ostream& out);

}  // namespace pelorix::ledger
