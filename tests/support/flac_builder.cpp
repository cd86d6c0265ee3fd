// SPDX-License-Identifier: MIT
#include "support/flac_builder.h"

namespace pelorix::test::flac {

namespace {

Bytes le32(std::size_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

}  // namespace

Bytes file(const FileLayout& layout) {
    Bytes out = join({layout.leading, bytesOf("fLaC")});
    for (std::size_t i = 0; i < layout.blocks.size(); ++i) {
        const BlockLayout& b = layout.blocks[i];
        const bool last = i + 1 == layout.blocks.size();
        const std::size_t n = b.data.size();
        out = join({out,
                    {std::uint8_t((b.type & 0x7F) | (last ? 0x80 : 0)), std::uint8_t(n >> 16),
                     std::uint8_t(n >> 8), std::uint8_t(n)},
                    b.data});
    }
    return join({out, layout.audio});
}

BlockLayout streamInfo() {
    // Block sizes 4096, frame sizes unknown, 44100 Hz, 2 channels, 16 bits, 0 samples, MD5 zero.
    Bytes d{0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0, 0x0A, 0xC4, 0x42, 0xF0};
    d.resize(34, 0);
    return {0, d};
}

BlockLayout padding(std::size_t size) {
    return {1, Bytes(size, 0)};
}

BlockLayout comments(const std::string& vendor, const std::vector<std::string>& entries) {
    Bytes d = join({le32(vendor.size()), bytesOf(vendor), le32(entries.size())});
    for (const std::string& e : entries) d = join({d, le32(e.size()), bytesOf(e)});
    return {4, d};
}

}  // namespace pelorix::test::flac
