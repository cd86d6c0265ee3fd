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
    // write: the code; sequence: the first code; write-list: the list.
    std::string first;
    // The files (and folders) in order, each exactly as typed.
    std::vector<std::string> paths;
    // For usageError: what is wrong, one line without a newline.
    std::string problem;
};

// The first of these that matches wins, searched in the words before the first "--" (element
// 0 too): "--selftest"; "--read"; "--audit"; "--write" with a code and at least one file after its
// first occurrence; "--remove"; "--write-list LIST"; "--sequence FIRST FILE..."; "--help" or "-h";
// "--version"; else the window. "--json", "--dry-run", "--replace" and "--axml" before the
// first "--" are options wherever they stand; the first "--" itself is dropped, and what follows it
// is always a path. After "--read", "--write CODE" and "--remove" every other word is a path, as
// ever; the new modes refuse a word that looks like an unknown option, and so does the window
// when the word names no file (a typo must not open a window).
Arguments parseArguments(const std::vector<std::string>& args);

}  // namespace pelorix::cli
