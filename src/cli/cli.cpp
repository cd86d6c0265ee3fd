// SPDX-License-Identifier: MIT
#include "cli/cli.h"

#include <csignal>

#include "cli/audit.h"
#include "cli/escape.h"
#include "cli/modes.h"
#include "cli/self_check.h"
#include "core/formats/format.h"

namespace pelorix::cli {

namespace {

using Args = std::vector<std::string>;

int runSelfCheck(std::ostream& out) {
    out.flush();
    return self_check::run();
}

}  // namespace

Mode chooseMode(const Args& args) {
    return parseArguments(args).mode;
}

std::optional<int> run(const Args& args, std::ostream& out, std::ostream& err) {
    const Arguments parsed = parseArguments(args);
    // A closed output is seen as a failed write, never as a signal that ends the process
    // between two steps of a write.
    if (parsed.mode != Mode::window) std::signal(SIGPIPE, SIG_IGN);
    switch (parsed.mode) {
        case Mode::selfCheck:
            return runSelfCheck(out);
        case Mode::read:
            return readMode(parsed, out, err);
        case Mode::audit:
            return auditMode(parsed, out, err);
        case Mode::write:
            return writeMode(parsed, out, err);
        case Mode::remove:
            return removeMode(parsed, out, err);
        case Mode::writeList:
            return writeListMode(parsed, out, err);
        case Mode::sequence:
            return sequenceMode(parsed, out, err);
        case Mode::next:
            return nextMode(parsed, out, err);
        case Mode::ledgerAdd:
            return ledgerAddMode(parsed, out, err);
        case Mode::ledgerExport:
            return ledgerExportMode(parsed, out, err);
        case Mode::help:
            out << usage();
            return 0;
        case Mode::version:
            out << "pelorix " << PELORIX_VERSION << '\n';
            return 0;
        case Mode::usageError:
            err << "pelorix: " << escapeControls(parsed.problem) << " (see pelorix --help)\n";
            err.flush();
            return 2;
        case Mode::window:
            return std::nullopt;
    }
    return std::nullopt;
}

std::string usage() {
    return "Usage: pelorix [OPTION...] --read FILE|FOLDER...     print the ISRC in each file\n"
           "       pelorix [OPTION...] --audit FILE|FOLDER...    list every place a code is\n"
           "                          stored in each file, and whether they agree\n"
           "       pelorix [OPTION...] --write CODE FILE...       store CODE in each file\n"
           "       pelorix [OPTION...] --remove FILE|FOLDER...    remove the ISRC from each file\n"
           "       pelorix [OPTION...] --write-list LIST [FOLDER...]\n"
           "                          store the codes a CSV/TSV list gives (- reads standard "
           "input)\n"
           "       pelorix [OPTION...] --sequence FIRST FILE|FOLDER...\n"
           "                          number the files: FIRST, the next code, and so on\n"
           "       pelorix [OPTION...] --next CC-XXX-YY           print the next code never given\n"
           "       pelorix [OPTION...] --ledger-add FILE|FOLDER...\n"
           "                          record the codes the files carry in the ledger\n"
           "       pelorix [OPTION...] --ledger-export            every code in the ledger, as "
           "CSV\n"
           "       pelorix --selftest                             run the built-in self test\n"
           "       pelorix --help | -h | --version\n"
           "       pelorix [FILE...]                              open the window\n"
           "Options (anywhere before --, one mode at a time):\n"
           "  --dry-run   say what --write, --remove, --write-list or --sequence would do;\n"
           "              change nothing\n"
           "  --json      one JSON object per file and line\n"
           "  --replace   let --write-list and --sequence replace a different code\n"
           "  --axml      let a write add the code in an axml chunk to a WAV that has none\n"
           "  --reuse-code  give a code although the ledger or the batch says it belongs to\n"
           "              another recording, or the recording already has another code\n"
           "  --ledger PATH  the ledger to use (default: $PELORIX_LEDGER, else\n"
           "              $XDG_DATA_HOME/pelorix/ledger.sqlite3)\n"
           "  --match title|track|name|path\n"
           "              how a list's lines find their files (in the FOLDERs given)\n"
           "  --          end of options: every later word is a file\n"
           "A list has a header naming its columns (ISRC or Code, and Path, File, Name, Title,\n"
           "Track or Disc), or a file and a code on each line (comma, semicolon or tab);\n"
           "relative paths start at the list's folder.\n"
           "Folders are walked in natural name order; hidden files are left out, and so are\n"
           "backup copies NAME (original).EXT beside their original.\n"
           "Handles " +
           formats::labels(", ", " and ") +
           "; the audio is never changed.\n"
           "Every write is checked against the ledger first: one code, one recording.\n"
           "Exit status: 0 when every file succeeded, 1 when a file failed or was left alone\n"
           "or the output closed, 2 for an invalid code, a refused list or sequence, or a\n"
           "usage error.\n";
}

}  // namespace pelorix::cli
