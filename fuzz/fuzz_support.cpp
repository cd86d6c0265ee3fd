// SPDX-License-Identifier: MIT
#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace pelorix::fuzz {

MemFile::MemFile() {
    fd_ = ::memfd_create("pelorix-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemFile::MemFile(const std::uint8_t* data, std::size_t size) : MemFile() {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n <= 0) {
            std::perror("write");
            std::abort();
        }
        data += n;
        size -= std::size_t(n);
    }
}

MemFile::~MemFile() {
    ::close(fd_);
}

void fail(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

Bytes rangeBytes(const FileIn& in, const std::vector<ByteRange>& ranges) {
    Bytes out;
    for (const ByteRange& r : ranges) {
        if (r.offset >= in.size()) continue;
        const std::uint64_t n = std::min(r.length, in.size() - r.offset);
        append(out, in.read(r.offset, std::int64_t(n)));
    }
    return out;
}

}  // namespace pelorix::fuzz
