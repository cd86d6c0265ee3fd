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

// A 0x00 after every 0xFF that is followed by 0x00, by 0xE0 or more, or by nothing.
Bytes unsynchronise(const Bytes& bytes) {
    Bytes out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        const bool last = i + 1 == bytes.size();
        if (bytes[i] == 0xFF && (last || bytes[i + 1] == 0 || bytes[i + 1] >= 0xE0)) {
            out.push_back(0);
        }
    }
    return out;
}

Bytes frameBytes(const FrameLayout& f, std::uint8_t version, bool tagUnsync) {
    const bool v4 = version == 4;
    const Bytes stored = v4 && (f.unsync || tagUnsync) ? unsynchronise(f.body) : f.body;
    const Bytes size =
        f.declaredSize ? size32(*f.declaredSize, false) : size32(std::uint32_t(stored.size()), v4);
    return join({bytesOf(f.id),
                 size,
                 {f.status, std::uint8_t(f.format | (v4 && f.unsync ? 0x02 : 0))},
                 stored});
}

}  // namespace

Bytes textBody(std::uint8_t encoding, const std::string& text) {
    return join({{encoding}, bytesOf(text)});
}

FrameLayout textFrame(const std::string& id, const std::string& text, std::uint8_t encoding) {
    return FrameLayout{id, textBody(encoding, text)};
}

Bytes tag(const TagLayout& layout) {
    Bytes body = layout.extendedHeader;
    for (const auto& f : layout.frames) {
        const Bytes frame = frameBytes(f, layout.version, layout.unsync);
        body.insert(body.end(), frame.begin(), frame.end());
    }
    body.resize(body.size() + layout.padding, 0);
    if (layout.unsync && layout.version != 4) body = unsynchronise(body);
    const std::uint8_t flags = (layout.unsync ? 0x80 : 0) | (layout.footer ? 0x10 : 0) |
                               (layout.extendedHeader.empty() ? 0 : 0x40);
    const Bytes size = size32(std::uint32_t(body.size()), true);
    const Bytes head = join({bytesOf("ID3"), {layout.version, layout.revision, flags}, size});
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
