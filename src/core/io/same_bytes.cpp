// SPDX-License-Identifier: MIT
#include "core/io/same_bytes.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace pelorix {

namespace {

// Measured: 256 KiB pieces compared a cached 96 MB file in 14 ms, 1 MiB ones in 20 ms and
// 4 MiB ones in 42 ms (two buffers that no longer fit the processor's cache).
constexpr std::size_t kPiece = 256 << 10;

}  // namespace

std::optional<bool> sameBytes(const FileIn& a, std::uint64_t offsetA, const FileIn& b,
                              std::uint64_t offsetB, std::uint64_t length) {
    const std::size_t size = std::size_t(std::min<std::uint64_t>(kPiece, length));
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(2 * size);
    std::uint8_t* const pieceA = buffer.get();
    std::uint8_t* const pieceB = buffer.get() + size;
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(size, length - done));
        if (a.readInto(offsetA + done, pieceA, n) != n ||
            b.readInto(offsetB + done, pieceB, n) != n) {
            return std::nullopt;
        }
        if (std::memcmp(pieceA, pieceB, n) != 0) return false;
        done += n;
    }
    return true;
}

}  // namespace pelorix
