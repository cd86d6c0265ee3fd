// SPDX-License-Identifier: MIT
#pragma once
// Shared by the tests that drive the real binary over real files: running `pelorix` through the
// shell or as a process of its own, and whole-file reads fast enough for tens of megabytes.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.h"

extern char** environ;

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

// `pelorix ARGS...` started without waiting, its output going to `output` (or nowhere).
inline pid_t start(std::vector<std::string> args, const std::string& output = "/dev/null") {
    args.insert(args.begin(), PELORIX_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    return rc == 0 ? pid : -1;
}

// The exit status, or 128 + the signal that ended it; none while it still runs (`wait` false).
inline std::optional<int> status(pid_t pid, bool wait = true) {
    int st = 0;
    if (::waitpid(pid, &st, wait ? 0 : WNOHANG) != pid) return std::nullopt;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
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
