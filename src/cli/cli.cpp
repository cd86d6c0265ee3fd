// SPDX-License-Identifier: MIT
#include "cli/cli.h"

#include <unicode/utf8.h>

#include <cstdint>

#include "cli/modes.h"
#include "cli/self_check.h"
#include "core/formats/format.h"

namespace pelorix::cli {

namespace {

using Args = std::vector<std::string>;

std::string hex2(unsigned v) {
    static const char digits[] = "0123456789abcdef";
    return {digits[(v >> 4) & 0xF], digits[v & 0xF]};
}

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
    switch (parsed.mode) {
        case Mode::selfCheck:
            return runSelfCheck(out);
        case Mode::read:
            return readMode(parsed, out);
        case Mode::audit:
            return auditMode(parsed, out);
        case Mode::write:
            return writeMode(parsed, out);
        case Mode::remove:
            return removeMode(parsed, out);
        case Mode::writeList:
            return writeListMode(parsed, out);
        case Mode::sequence:
            return sequenceMode(parsed, out);
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

std::string escapeControls(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = at;
        UChar32 cp = 0;
        U8_NEXT(text.data(), at, text.size(), cp);
        const std::size_t len = at - start;
        at = start;
        if (cp < 0) {  // not UTF-8: each byte shown by its value
            shown += "\\x" + hex2(std::uint8_t(text[at]));
            at += 1;
            continue;
        }
        if (cp == '\n')
            shown += "\\n";
        else if (cp == '\t')
            shown += "\\t";
        else if (cp == '\r')
            shown += "\\r";
        else if (cp < 0x20 || cp == 0x7F)
            shown += "\\x" + hex2(unsigned(cp));
        else if (cp >= 0x80 && cp <= 0x9F)
            shown += "\\u00" + hex2(unsigned(cp));
        else
            shown.append(text.substr(at, len));
        at += len;
    }
    return shown;
}

std::string usage() {
    return "Usage: pelorix [OPTION...] --read FILE|FOLDER...     print the ISRC in each file\n"
           "       pelorix [OPTION...] --audit FILE|FOLDER...    list every place a code is\n"
           "                          stored in each file, and whether they agree\n"
           "       pelorix [OPTION...] --write CODE FILE...       store CODE in each file\n"
           "       pelorix [OPTION...] --remove FILE|FOLDER...    remove the ISRC from each file\n"
           "       pelorix [OPTION...] --write-list LIST          store the codes a CSV/TSV list "
           "gives\n"
           "       pelorix [OPTION...] --sequence FIRST FILE|FOLDER...\n"
           "                          number the files: FIRST, the next code, and so on\n"
           "       pelorix --selftest                             run the built-in self test\n"
           "       pelorix --help | -h | --version\n"
           "       pelorix [FILE...]                              open the window\n"
           "Options (anywhere before --):\n"
           "  --dry-run   say what --write, --remove, --write-list or --sequence would do;\n"
           "              change nothing\n"
           "  --json      one JSON object per file and line\n"
           "  --replace   let --write-list and --sequence replace a different code\n"
           "  --axml      let a write add the code in an axml chunk to a WAV that has none\n"
           "  --          end of options: every later word is a file\n"
           "A list has a file and a code on each line (comma, semicolon or tab), with or\n"
           "without a header row such as file,isrc; relative paths start at the list's folder.\n"
           "Folders are walked in natural name order; hidden files and backups are left out.\n"
           "Handles " +
           formats::labels(", ", " and ") +
           "; the audio is never changed.\n"
           "Exit status: 0 when every file succeeded, 1 when a file failed or was left alone,\n"
           "2 for an invalid code, a refused list or sequence, or a usage error.\n";
}

}  // namespace pelorix::cli
