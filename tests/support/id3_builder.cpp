#include "support/id3_builder.h"

namespace pelorix::test::id3 {

namespace {

void put32BE(Bytes& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v >> 24));
    out.push_back(std::uint8_t(v >> 16));
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}

void putSynchsafe(Bytes& out, std::uint32_t v) {
    out.push_back(std::uint8_t((v >> 21) & 0x7F));
    out.push_back(std::uint8_t((v >> 14) & 0x7F));
    out.push_back(std::uint8_t((v >> 7) & 0x7F));
    out.push_back(std::uint8_t(v & 0x7F));
}

}  // namespace

Bytes textBody(std::uint8_t encoding, const Bytes& text) {
    Bytes b{encoding};
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

Bytes textBody(std::uint8_t encoding, const std::string& text) {
    return textBody(encoding, Bytes(text.begin(), text.end()));
}

FrameSpec textFrame(const std::string& id, const std::string& text, std::uint8_t encoding) {
    return FrameSpec{id, textBody(encoding, text)};
}

Bytes unsynchronise(const Bytes& bytes) {
    Bytes out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] != 0xFF) continue;
        if (i + 1 == bytes.size() || bytes[i + 1] == 0x00 || bytes[i + 1] >= 0xE0) out.push_back(0);
    }
    return out;
}

Bytes frameBytes(const FrameSpec& f, std::uint8_t version, bool tagUnsync) {
    const bool unsync = version == 4 && (f.unsync || tagUnsync);
    const Bytes stored = unsync ? unsynchronise(f.body) : f.body;
    Bytes out(f.id.begin(), f.id.end());
    const std::uint32_t size = f.declaredSize ? *f.declaredSize : std::uint32_t(stored.size());
    if (version == 4) putSynchsafe(out, size);
    else put32BE(out, size);
    out.push_back(f.status);
    out.push_back(std::uint8_t(f.format | (version == 4 && f.unsync ? 0x02 : 0x00)));
    out.insert(out.end(), stored.begin(), stored.end());
    return out;
}

Bytes tag(const TagSpec& spec) {
    Bytes body = spec.extendedHeader;
    for (const auto& f : spec.frames) {
        Bytes fb = frameBytes(f, spec.version, spec.unsync);
        body.insert(body.end(), fb.begin(), fb.end());
    }
    body.insert(body.end(), spec.trailing.begin(), spec.trailing.end());
    body.resize(body.size() + spec.padding, 0x00);
    if (spec.unsync && spec.version != 4) body = unsynchronise(body);

    std::uint8_t flags = 0;
    if (spec.unsync) flags |= 0x80;
    if (!spec.extendedHeader.empty() || spec.extendedFlag) flags |= 0x40;
    if (spec.footer) flags |= 0x10;
    const std::uint32_t size = spec.declaredSize ? *spec.declaredSize : std::uint32_t(body.size());

    Bytes out{'I', 'D', '3', spec.version, spec.revision, flags};
    putSynchsafe(out, size);
    out.insert(out.end(), body.begin(), body.end());
    if (spec.footer) {
        Bytes foot{'3', 'D', 'I', spec.version, spec.revision, flags};
        putSynchsafe(foot, size);
        out.insert(out.end(), foot.begin(), foot.end());
    }
    return out;
}

Bytes extendedHeaderV3() {
    // Size 6 (excluding itself), no flags, no padding declared.
    return {0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

Bytes extendedHeaderV4() {
    // Synchsafe size 6 (including itself), one flag byte, no flags.
    return {0x00, 0x00, 0x00, 0x06, 0x01, 0x00};
}

Bytes fakeAudio(std::size_t count, std::uint32_t seed) {
    Bytes out;
    out.reserve(count);
    std::uint32_t x = seed ? seed : 1;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 417 == 0) {
            out.push_back(0xFF);
            continue;
        }
        if (i % 417 == 1) {
            out.push_back(0xFB);
            continue;
        }
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out.push_back(std::uint8_t(x));
    }
    return out;
}

}  // namespace pelorix::test::id3
