// SPDX-License-Identifier: MIT
#include "support/chunk_builder.h"

#include <algorithm>

namespace pelorix::test::chunks {

namespace {

Bytes u32(std::uint32_t v, bool little) {
    Bytes b{std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
    if (little) std::reverse(b.begin(), b.end());
    return b;
}

void add(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace

Bytes file(const FileLayout& layout) {
    Bytes out = bytesOf(layout.little ? "RIFF....WAVE" : "FORM....AIFF");
    for (const ChunkLayout& c : layout.chunks) {
        add(out, bytesOf(c.id));
        add(out, u32(c.declaredSize.value_or(std::uint32_t(c.data.size())), layout.little));
        add(out, c.data);
        if (c.pad && c.data.size() % 2) out.push_back(0);
    }
    const Bytes size = u32(layout.formSize.value_or(std::uint32_t(out.size() - 8)), layout.little);
    std::copy(size.begin(), size.end(), out.begin() + 4);
    return out;
}

ChunkLayout wavFormat() {
    // PCM, 2 channels, 44100 Hz, 176400 bytes/s, block align 4, 16 bits.
    return {"fmt ", {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0}};
}

ChunkLayout aiffCommon(std::uint32_t frames) {
    Bytes d{0, 2};  // channels
    add(d, u32(frames, false));
    add(d, {0, 16, 0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0});  // 16 bits, 44100 (80-bit float)
    return {"COMM", d};
}

Bytes audio(std::size_t count, std::uint32_t seed) {
    Bytes out(count);
    std::uint32_t x = seed ? seed : 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = std::uint8_t(x);
    }
    return out;
}

Bytes wav(std::uint32_t frames, const std::vector<ChunkLayout>& extra) {
    FileLayout layout{.chunks = {wavFormat(), {"data", audio(std::size_t(frames) * 4)}}};
    layout.chunks.insert(layout.chunks.end(), extra.begin(), extra.end());
    return file(layout);
}

Bytes aiff(std::uint32_t frames, const std::vector<ChunkLayout>& extra) {
    FileLayout layout{.little = false};
    Bytes ssnd(8, 0);  // offset and block size
    add(ssnd, audio(std::size_t(frames) * 4));
    layout.chunks.insert(layout.chunks.end(), {aiffCommon(frames), {"SSND", ssnd}});
    layout.chunks.insert(layout.chunks.end(), extra.begin(), extra.end());
    return file(layout);
}

}  // namespace pelorix::test::chunks
