// SPDX-License-Identifier: MIT
#pragma once
// The process arguments taken apart: the mode, its operands and the options that shape it.

#include <string>
#include <vector>

namespace pelorix::cli {

enum class Mode {
    selfCheck,
    read,
    audit,
    write,
    remove,
    writeList,
    sequence,
    next,          // the next code never given for a country, registrant and year
    ledgerAdd,     // the codes files carry, into the ledger
    ledgerExport,  // every code in the ledger
    help,
    version,
    window,
    usageError
};

struct Arguments {
    Mode mode = Mode::window;
    bool json = false;
    bool dryRun = false;
    bool replace = false;
    bool axml = false;  // a write also adds the axml carrier to a WAV without one
    // Give a code although the ledger or the batch says it belongs to another recording, or
    // the recording already has another one.
    bool reuseCode = false;
    std::string ledger;  // --ledger PATH; empty: PELORIX_LEDGER or the user's own
    // --match: how a list's lines find their files ("" until given).
    std::string match;
    // write: the code; sequence: the first code; write-list: the list.
    std::string first;
    // The files (and folders) in order, each exactly as typed.
    std::vector<std::string> paths;
    // For usageError: what is wrong, one line without a newline.
    std::string problem;
};

// Element 0 is the program's name and is skipped. Every word before the first "--" is in the
// option zone; the "--" itself is dropped, and what follows it is always an operand. Options
// (--json, --dry-run, --replace, --axml, --reuse-code, and --match and --ledger with their
// values) may stand anywhere in the
// zone. The first mode word in the zone (--read, --write, --help, …) picks the mode; nothing
// but options may come before it, its fixed operands follow it (--write's code, --write-list's
// list, --sequence's first code, --next's country, registrant and year), and every later word is a
// file or folder — but a word in the zone that looks like an option and names no existing file (a
// second mode word, a typo) is a usage error, and so is a mode without the operands it needs.
// Without a mode word the words are files for the window, under the same rule.
Arguments parseArguments(const std::vector<std::string>& args);

}  // namespace pelorix::cli
