// SPDX-License-Identifier: MIT
#include "support/id3_builder.h"

namespace pelorix::test::id3 {

namespace {

Bytes size32(std::uint32_t v, bool synchsafe) {
    const int shift = synchsafe ? 7 : 8;
    const std::uint32_t mask = synchsafe ? 0x7F : 0xFF;
    return {std::uint8_t(v >> 3 * shift & mask), std::uint8_t(v >> 2 * shift & mask),
            std::uint8_t(v >> shift & mask), std::uint8_t(v & mask)};
}

}  // namespace

FrameLayout textFrame(const std::string& id, const std::string& text, std::uint8_t encoding) {
    return FrameLayout{id, join({{encoding}, bytesOf(text)})};
}

Bytes tag(const TagLayout& layout) {
    Bytes body;
    for (const auto& f : layout.frames) {
        const Bytes size = size32(std::uint32_t(f.body.size()), layout.version == 4);
        body = join({body, bytesOf(f.id), size, {f.status, f.format}, f.body});
    }
    body.resize(body.size() + layout.padding, 0);
    const std::uint8_t flags = layout.footer ? 0x10 : 0;
    const Bytes head = join(
        {bytesOf("ID3"), {layout.version, 0, flags}, size32(std::uint32_t(body.size()), true)});
    return join({head, body, layout.footer ? join({bytesOf("3DI"), slice(head, 3, 7)}) : Bytes{}});
}

Bytes fakeAudio(std::size_t count, std::uint32_t seed) {
    Bytes out(count);
    std::uint32_t x = seed ? seed : 1;
    for (std::size_t i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = i % 417 < 2 ? (i % 417 ? 0xFB : 0xFF) : std::uint8_t(x);
    }
    return out;
}

}  // namespace pelorix::test::id3
