// SPDX-License-Identifier: MIT
#include "support/flac_builder.h"

namespace pelorix::test::flac {

namespace {

void add(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

void put32LE(Bytes& out, std::size_t v) {
    add(out, {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)});
}

}  // namespace

Bytes file(const FileSpec& layout) {
    Bytes out = layout.leading;
    add(out, bytesOf("fLaC"));
    for (std::size_t i = 0; i < layout.blocks.size(); ++i) {
        const BlockSpec& b = layout.blocks[i];
        const bool last = b.last.value_or(i + 1 == layout.blocks.size());
        const std::uint32_t n = b.declaredSize.value_or(std::uint32_t(b.data.size()));
        add(out, {std::uint8_t((b.type & 0x7F) | (last ? 0x80 : 0)), std::uint8_t(n >> 16),
                  std::uint8_t(n >> 8), std::uint8_t(n)});
        add(out, b.data);
    }
    add(out, layout.audio);
    return out;
}

BlockSpec streamInfo() {
    // Block sizes 4096, frame sizes unknown, 44100 Hz, 2 channels, 16 bits, 0 samples, MD5 zero.
    Bytes d{0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0, 0x0A, 0xC4, 0x42, 0xF0};
    d.resize(34, 0);
    return {0, d};
}

BlockSpec padding(std::size_t size) {
    return {1, Bytes(size, 0)};
}

Bytes commentData(const std::string& vendor, const std::vector<std::string>& entries,
                  std::optional<std::uint32_t> count) {
    Bytes d;
    put32LE(d, vendor.size());
    add(d, bytesOf(vendor));
    put32LE(d, count.value_or(std::uint32_t(entries.size())));
    for (const std::string& e : entries) {
        put32LE(d, e.size());
        add(d, bytesOf(e));
    }
    return d;
}

BlockSpec comments(const std::string& vendor, const std::vector<std::string>& entries) {
    return {4, commentData(vendor, entries)};
}

}  // namespace pelorix::test::flac
