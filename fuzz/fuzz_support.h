// SPDX-License-Identifier: MIT
#pragma once
// Shared by the fuzz targets: inputs as in-memory files that the codecs' file streams can open
// by path, and checks that end the run loudly so the fuzzer (or the corpus replay) reports them.

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/io/binary_io.h"
#include "core/tag_error.h"

namespace pelorix::fuzz {

inline const std::string kCode = "FIABC2600001";

// A file in memory (memfd), reachable as /proc/self/fd/N. Output streams open it with
// truncation, so one object serves as the codec's destination too.
class MemFile {
  public:
    explicit MemFile(const Bytes& bytes = {});
    MemFile(const std::uint8_t* data, std::size_t size) : MemFile(Bytes(data, data + size)) {}
    ~MemFile();
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    int fd_ = -1;
    std::filesystem::path path_;
};

[[noreturn]] void fail(const char* file, int line, const char* condition);

// The bytes of the ranges concatenated, each cut at the end of the file.
Bytes rangeBytes(const FileIn& in, const std::vector<ByteRange>& ranges);

// True when `f` returned; false when it refused with one of the errors the engine is allowed to
// raise (TagError, or a platform error). Anything else escapes and ends the run as a finding.
template <typename F>
bool succeeds(F&& f) {
    try {
        f();
        return true;
    } catch (const TagError&) {
        return false;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace pelorix::fuzz

#define FUZZ_CHECK(condition)                                                    \
    do {                                                                         \
        if (!(condition)) ::pelorix::fuzz::fail(__FILE__, __LINE__, #condition); \
    } while (0)
