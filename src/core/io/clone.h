// SPDX-License-Identifier: MIT
#pragma once
// Sharing extents instead of copying them, on filesystems that can (XFS with reflink, btrfs):
// a clone of a 1 GiB audio range costs a few metadata updates, and the kernel can then say
// that both files map the same physical blocks, which proves them equal without reading them.

#include <cstdint>
#include <optional>

namespace pelorix::clone {

struct Range {
    std::uint64_t offset = 0;  // in the source
    std::uint64_t length = 0;
    friend bool operator==(const Range&, const Range&) = default;
};

// The block-aligned middle of `length` bytes at `inOffset` that can be cloned to `outOffset`:
// both offsets must be congruent modulo `block`; the part starts and ends on block boundaries
// (a tag written after it would otherwise unshare the last one). None when nothing whole
// remains.
std::optional<Range> alignedPart(std::uint64_t inOffset, std::uint64_t outOffset,
                                 std::uint64_t length, std::uint64_t block);

// The size of the blocks the filesystem of `fd` shares (its fundamental block size).
std::uint64_t blockSize(int fd);

// Shares `length` bytes of `in` at `inOffset` into `out` at `outOffset` (FICLONERANGE). False
// when these files cannot share extents (another filesystem, no reflink support, unaligned);
// other failures throw std::system_error.
bool cloneRange(int in, std::uint64_t inOffset, int out, std::uint64_t outOffset,
                std::uint64_t length);

// True when every byte of the `length` bytes at `offsetA` of `a` lives in the same physical
// block, at the same place, as the matching byte at `offsetB` of `b`, as the filesystem reports
// after flushing both maps (FIEMAP). False whenever that cannot be told for sure: holes,
// extents still being allocated, inline or encoded data, or no FIEMAP at all.
bool sameExtents(int a, std::uint64_t offsetA, int b, std::uint64_t offsetB, std::uint64_t length);

}  // namespace pelorix::clone
