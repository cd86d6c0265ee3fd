// SPDX-License-Identifier: MIT
#pragma once
// Small file helpers for tests: a private temporary folder that removes itself, and whole-file
// reads and writes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pelorix::test {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> list() const;

  private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& p, const Bytes& bytes);
Bytes readFile(const std::filesystem::path& p);
Bytes bytesOf(const std::string& s);
// Occurrences of `needle` in `hay`.
std::size_t countOf(const Bytes& hay, const std::string& needle);

// Runs a command line through /bin/sh, returns (exit status, stdout+stderr).
struct RunResult {
    int status = -1;
    std::string output;
};
RunResult runShell(const std::string& command);

}  // namespace pelorix::test
