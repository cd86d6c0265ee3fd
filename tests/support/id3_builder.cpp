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

void add(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace

Bytes textBody(std::uint8_t encoding, const Bytes& text) {
    Bytes b{encoding};
    add(b, text);
    return b;
}

Bytes textBody(std::uint8_t encoding, const std::string& text) {
    return textBody(encoding, bytesOf(text));
}

FrameSpec textFrame(const std::string& id, const std::string& text, std::uint8_t encoding) {
    return FrameSpec{id, textBody(encoding, text)};
}

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

Bytes frameBytes(const FrameSpec& f, std::uint8_t version, bool tagUnsync) {
    const bool v4 = version == 4;
    const Bytes stored = v4 && (f.unsync || tagUnsync) ? unsynchronise(f.body) : f.body;
    Bytes out = bytesOf(f.id);
    add(out, size32(f.declaredSize.value_or(std::uint32_t(stored.size())), v4));
    add(out, {f.status, std::uint8_t(f.format | (v4 && f.unsync ? 0x02 : 0))});
    add(out, stored);
    return out;
}

Bytes tag(const TagSpec& layout) {
    Bytes body = layout.extendedHeader;
    for (const auto& f : layout.frames) add(body, frameBytes(f, layout.version, layout.unsync));
    add(body, layout.trailing);
    body.resize(body.size() + layout.padding, 0);
    if (layout.unsync && layout.version != 4) body = unsynchronise(body);

    const std::uint8_t flags = (layout.unsync ? 0x80 : 0) | (layout.footer ? 0x10 : 0) |
                               (!layout.extendedHeader.empty() || layout.extendedFlag ? 0x40 : 0);
    const Bytes size = size32(layout.declaredSize.value_or(std::uint32_t(body.size())), true);
    Bytes out{'I', 'D', '3', layout.version, layout.revision, flags};
    add(out, size);
    add(out, body);
    if (layout.footer) {
        add(out, {'3', 'D', 'I', layout.version, layout.revision, flags});
        add(out, size);
    }
    return out;
}

Bytes extendedHeaderV3() {
    return {0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
}
Bytes extendedHeaderV4() {
    return {0, 0, 0, 6, 1, 0};
}

Bytes fakeAudio(std::size_t count, std::uint32_t seed) {
    Bytes out(count);
    std::uint32_t x = seed ? seed : 1;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 417 < 2) {
            out[i] = i % 417 ? 0xFB : 0xFF;
            continue;
        }
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = std::uint8_t(x);
    }
    return out;
}

}  // namespace pelorix::test::id3
