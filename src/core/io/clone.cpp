// SPDX-License-Identifier: MIT
#include "core/io/clone.h"

#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "core/io/sys.h"

namespace pelorix::clone {

namespace {

[[noreturn]] void fail() {
    throw std::system_error(errno, std::generic_category());
}

// One extent of a file's map: logical start, physical start, length, all in bytes.
struct Extent {
    std::uint64_t logical = 0, physical = 0, length = 0;
};

// The map of [offset, offset+length) of `fd`; none when it cannot be trusted for a proof.
std::optional<std::vector<Extent>> mapOf(int fd, std::uint64_t offset, std::uint64_t length) {
    constexpr std::uint32_t kBatch = 256;
    // Flags that make a physical address meaningless or not yet final.
    constexpr std::uint32_t kUntrusted = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC |
                                         FIEMAP_EXTENT_ENCODED | FIEMAP_EXTENT_DATA_ENCRYPTED |
                                         FIEMAP_EXTENT_NOT_ALIGNED | FIEMAP_EXTENT_DATA_INLINE |
                                         FIEMAP_EXTENT_DATA_TAIL | FIEMAP_EXTENT_UNWRITTEN;
    std::vector<std::uint8_t> buffer(sizeof(fiemap) + kBatch * sizeof(fiemap_extent));
    auto* map = reinterpret_cast<fiemap*>(buffer.data());
    std::vector<Extent> extents;
    std::uint64_t at = offset;
    const std::uint64_t end = offset + length;
    bool first = true;
    while (at < end) {
        *map = fiemap{};
        map->fm_start = at;
        map->fm_length = end - at;
        // The first call flushes the file's dirty pages, so every extent has its final place.
        map->fm_flags = first ? FIEMAP_FLAG_SYNC : 0;
        map->fm_extent_count = kBatch;
        first = false;
        if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) return std::nullopt;
        if (map->fm_mapped_extents == 0) return std::nullopt;  // a hole
        bool last = false;
        for (std::uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& e = map->fm_extents[i];
            if (e.fe_flags & kUntrusted) return std::nullopt;
            extents.push_back({e.fe_logical, e.fe_physical, e.fe_length});
            at = e.fe_logical + e.fe_length;
            last = last || (e.fe_flags & FIEMAP_EXTENT_LAST);
        }
        if (last && at < end) return std::nullopt;  // the file ends before the range does
    }
    return extents;
}

// The physical address of logical byte `x` in `map`, or none inside a hole.
std::optional<std::uint64_t> physicalOf(const std::vector<Extent>& map, std::uint64_t x,
                                        std::uint64_t& runLeft) {
    for (const Extent& e : map) {
        if (x >= e.logical && x - e.logical < e.length) {
            runLeft = e.length - (x - e.logical);
            return e.physical + (x - e.logical);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<Range> alignedPart(std::uint64_t inOffset, std::uint64_t outOffset,
                                 std::uint64_t length, std::uint64_t block) {
    if (block == 0 || inOffset % block != outOffset % block) return std::nullopt;
    const std::uint64_t start = (inOffset + block - 1) / block * block;
    const std::uint64_t end = inOffset + length;
    if (start >= end) return std::nullopt;
    // Whole blocks only, even where the range ends the source: what follows in the new file
    // (a tag after the audio) would otherwise be written into a shared block and unshare it.
    const std::uint64_t stop = end / block * block;
    if (stop <= start) return std::nullopt;
    return Range{start, stop - start};
}

std::uint64_t blockSize(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) fail();
    return std::uint64_t(fs.f_bsize);
}

bool cloneRange(int in, std::uint64_t inOffset, int out, std::uint64_t outOffset,
                std::uint64_t length) {
    if (sys::cloneRange(in, inOffset, out, outOffset, length) == 0) return true;
    switch (errno) {
        case EOPNOTSUPP:
        case ENOTTY:
        case EXDEV:
        case EINVAL:
        case EBADF:  // not a regular file opened the right way for sharing
            return false;
        default:
            fail();
    }
}

bool sameExtents(int a, std::uint64_t offsetA, int b, std::uint64_t offsetB, std::uint64_t length) {
    if (length == 0) return true;
    struct stat sa {
    }, sb{};
    if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0 || sa.st_dev != sb.st_dev) return false;
    const auto mapA = mapOf(a, offsetA, length);
    if (!mapA) return false;
    const auto mapB = mapOf(b, offsetB, length);
    if (!mapB) return false;
    for (std::uint64_t done = 0; done < length;) {
        std::uint64_t leftA = 0, leftB = 0;
        const auto pa = physicalOf(*mapA, offsetA + done, leftA);
        const auto pb = physicalOf(*mapB, offsetB + done, leftB);
        if (!pa || !pb || *pa != *pb) return false;
        done += std::min({leftA, leftB, length - done});
    }
    return true;
}

}  // namespace pelorix::clone
