// SPDX-License-Identifier: MIT
#pragma once
// Small helpers for tests: a private temporary folder that removes itself, whole-file reads and
// writes, byte strings, shell commands and loop-mounted filesystems.

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace pelorix::test {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    explicit TempDir(const std::filesystem::path& in = std::filesystem::temp_directory_path());
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
// The parts one after another.
Bytes join(std::initializer_list<Bytes> parts);
// `n` bytes of `b` from `at` (fewer at its end).
Bytes slice(const Bytes& b, std::size_t at, std::size_t n);
// Occurrences of `needle` in `hay`.
std::size_t countOf(const Bytes& hay, const std::string& needle);

// Runs a command line through /bin/sh, returns (exit status, stdout+stderr).
struct RunResult {
    int status = -1;
    std::string output;
};
RunResult runShell(const std::string& command);

// A fresh filesystem image of `type` ("xfs" with reflink, "btrfs") loop-mounted on a folder of
// its own for as long as this lives; mounted() is false unless root with its mkfs installed.
class LoopFilesystem {
  public:
    explicit LoopFilesystem(const std::string& type);
    ~LoopFilesystem();
    LoopFilesystem(const LoopFilesystem&) = delete;
    LoopFilesystem& operator=(const LoopFilesystem&) = delete;
    bool mounted() const { return mounted_; }
    std::filesystem::path path() const { return dir_ / "mnt"; }

  private:
    TempDir dir_;
    std::filesystem::path image_;
    bool mounted_ = false;
};

}  // namespace pelorix::test
