// SPDX-License-Identifier: MIT
#pragma once
// The command-line modes that read and change files. Each returns the process's exit status:
// 0 when every file succeeded, 1 when one failed or was left alone (or the output closed and
// the run stopped), 2 when the whole run was refused before any file was touched (an invalid
// code, a list or sequence with problems). Lines go to `out`, remarks and summaries to `err`.

#include <ostream>

#include "cli/arguments.h"

namespace pelorix::cli {

int readMode(const Arguments& args, std::ostream& out, std::ostream& err);
int writeMode(const Arguments& args, std::ostream& out, std::ostream& err);
int removeMode(const Arguments& args, std::ostream& out, std::ostream& err);
int writeListMode(const Arguments& args, std::ostream& out, std::ostream& err);
int sequenceMode(const Arguments& args, std::ostream& out, std::ostream& err);
// The ledger's own modes; a ledger that cannot be opened is named on `err` (status 2).
int nextMode(const Arguments& args, std::ostream& out, std::ostream& err);
// Each file's code into the ledger; a conflict with the ledger or the batch is reported (the
// code is recorded still: the file holds it) and makes the status 1.
int ledgerAddMode(const Arguments& args, std::ostream& out, std::ostream& err);
int ledgerExportMode(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace pelorix::cli
