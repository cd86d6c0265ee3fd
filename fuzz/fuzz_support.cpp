// SPDX-License-Identifier: MIT
#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/io/sys.h"

namespace pelorix::fuzz {

MemFile::MemFile(const Bytes& bytes) {
    fd_ = ::memfd_create("pelorix-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) fail(__FILE__, __LINE__, "memfd_create");
    sys::writeAll(fd_, bytes.data(), bytes.size());
    path_ = "/proc/self/fd/" + std::to_string(fd_);
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
        if (r.offset < in.size())
            append(out, in.read(r.offset, std::int64_t(std::min(r.length, in.size() - r.offset))));
    }
    return out;
}

}  // namespace pelorix::fuzz
