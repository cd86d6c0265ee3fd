// SPDX-License-Identifier: MIT
#pragma once
// Shared by the tests that drive the real binary over real files: the code they write, running
// `pelorix` through the shell, and whole-file reads fast enough for files of tens of megabytes.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.h"

namespace pelorix::test::e2e {

inline const std::string kCode = "FIABC2600001";

// Single-quoted for /bin/sh, whatever the text holds.
inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// `pelorix ARGS...` with standard output and error joined; `prefix` goes in front of the
// command line ("cd DIR && NAME=value").
inline RunResult pelorix(const std::vector<std::string>& args, const std::string& prefix = "") {
    std::string command = prefix + " " + quoted(PELORIX_BINARY);
    for (const auto& a : args) command += " " + quoted(a);
    return runShell(command);
}

inline Bytes contentsOf(const std::filesystem::path& p) {
    Bytes b(std::filesystem::file_size(p));
    std::ifstream(p, std::ios::binary).read(reinterpret_cast<char*>(b.data()), std::ssize(b));
    return b;
}

inline std::vector<std::string> linesOf(const std::string& s) {
    std::vector<std::string> lines;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace pelorix::test::e2e
