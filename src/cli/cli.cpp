// SPDX-License-Identifier: MIT
#include "cli/cli.h"

#include <cstdint>

#include "cli/modes.h"

#if __has_include("cli/self_test.h")
#include "cli/self_test.h"
#define PELORIX_HAVE_SELF_TEST 1
#endif

namespace pelorix::cli {

namespace {

using Args = std::vector<std::string>;

std::string hex2(unsigned v) {
    static const char digits[] = "0123456789abcdef";
    return {digits[(v >> 4) & 0xF], digits[v & 0xF]};
}

// Length of the valid UTF-8 sequence at `at` and its code point, or 0 when it is not valid.
std::size_t utf8At(std::string_view s, std::size_t at, char32_t& cp) {
    const auto b0 = std::uint8_t(s[at]);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, min = 0x80, cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, min = 0x800, cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() - at < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = std::uint8_t(s[at + i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

int runSelfTest(std::ostream& out) {
#ifdef PELORIX_HAVE_SELF_TEST
    out.flush();
    return SelfTest::run();
#else
    out << "The self test is not part of this build.\n";
    return 1;
#endif
}

}  // namespace

Mode chooseMode(const Args& args) {
    return parseArguments(args).mode;
}

std::optional<int> run(const Args& args, std::ostream& out, std::ostream& err) {
    const Arguments parsed = parseArguments(args);
    switch (parsed.mode) {
        case Mode::selfTest:
            return runSelfTest(out);
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
        char32_t cp = 0;
        const std::size_t len = utf8At(text, at, cp);
        if (len == 0) {
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
           "Handles WAV, AIFF, MP3, FLAC and M4A; the audio is never changed.\n"
           "Exit status: 0 when every file succeeded, 1 when a file failed or was left alone,\n"
           "2 for an invalid code, a refused list or sequence, or a usage error.\n";
}

}  // namespace pelorix::cli
