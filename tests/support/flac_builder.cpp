#include "support/flac_builder.h"

namespace pelorix::test::flac {

namespace {

void put32LE(Bytes& out, std::uint32_t v) {
    out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                           std::uint8_t(v >> 24)});
}

}  // namespace

Bytes blockBytes(const BlockSpec& block, bool last) {
    std::uint32_t n = block.declaredSize.value_or(std::uint32_t(block.data.size()));
    Bytes out{std::uint8_t((block.type & 0x7F) | (last ? 0x80 : 0)), std::uint8_t(n >> 16),
              std::uint8_t(n >> 8), std::uint8_t(n)};
    out.insert(out.end(), block.data.begin(), block.data.end());
    return out;
}

Bytes file(const FileSpec& spec) {
    Bytes out = spec.leading;
    out.insert(out.end(), {'f', 'L', 'a', 'C'});
    for (std::size_t i = 0; i < spec.blocks.size(); ++i) {
        const BlockSpec& b = spec.blocks[i];
        Bytes bytes = blockBytes(b, b.last.value_or(i + 1 == spec.blocks.size()));
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out.insert(out.end(), spec.audio.begin(), spec.audio.end());
    return out;
}

BlockSpec streamInfo() {
    // min/max block size 4096, frame sizes unknown, 44100 Hz, 2 channels, 16 bits, 0 samples,
    // MD5 zero.
    Bytes d{0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0, 0x0A, 0xC4, 0x42, 0xF0, 0, 0, 0, 0};
    d.resize(34, 0);
    return {0, d};
}

BlockSpec padding(std::size_t size) {
    return {1, Bytes(size, 0)};
}

Bytes commentData(const std::string& vendor, const std::vector<std::string>& entries,
                  std::optional<std::uint32_t> count) {
    Bytes d;
    put32LE(d, std::uint32_t(vendor.size()));
    d.insert(d.end(), vendor.begin(), vendor.end());
    put32LE(d, count.value_or(std::uint32_t(entries.size())));
    for (const std::string& e : entries) {
        put32LE(d, std::uint32_t(e.size()));
        d.insert(d.end(), e.begin(), e.end());
    }
    return d;
}

BlockSpec comments(const std::string& vendor, const std::vector<std::string>& entries) {
    return {4, commentData(vendor, entries)};
}

}  // namespace pelorix::test::flac
