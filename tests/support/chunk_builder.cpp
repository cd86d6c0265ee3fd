#include "support/chunk_builder.h"

namespace pelorix::test::chunks {

namespace {

void put32(Bytes& out, std::uint32_t v, bool little) {
    if (little) {
        out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                               std::uint8_t(v >> 24)});
    } else {
        out.insert(out.end(), {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8),
                               std::uint8_t(v)});
    }
}

void putText(Bytes& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
}

}  // namespace

Bytes chunkBytes(const ChunkSpec& chunk, bool little) {
    Bytes out;
    putText(out, chunk.id);
    put32(out, chunk.declaredSize.value_or(std::uint32_t(chunk.data.size())), little);
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    if (chunk.pad && (chunk.data.size() & 1)) out.push_back(chunk.padByte);
    return out;
}

Bytes file(const FileSpec& spec) {
    Bytes out;
    putText(out, spec.little ? "RIFF" : "FORM");
    put32(out, 0, spec.little);
    putText(out, spec.formType.empty() ? (spec.little ? "WAVE" : "AIFF") : spec.formType);
    for (const ChunkSpec& c : spec.chunks) {
        Bytes b = chunkBytes(c, spec.little);
        out.insert(out.end(), b.begin(), b.end());
    }
    Bytes size;
    put32(size, spec.formSize.value_or(std::uint32_t(out.size() - 8)), spec.little);
    std::copy(size.begin(), size.end(), out.begin() + 4);
    return out;
}

ChunkSpec wavFormat() {
    Bytes d;
    auto put16 = [&d](std::uint16_t v) {
        d.insert(d.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
    };
    put16(1);  // PCM
    put16(2);  // channels
    put32(d, 44100, true);
    put32(d, 44100 * 4, true);
    put16(4);   // block align
    put16(16);  // bits per sample
    return {"fmt ", d};
}

ChunkSpec aiffCommon(std::uint32_t frames, bool aifc) {
    Bytes d{0, 2};  // channels
    put32(d, frames, false);
    d.insert(d.end(), {0, 16});  // bits per sample
    // 44100 as an 80-bit extended float.
    d.insert(d.end(), {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0});
    if (aifc) {
        putText(d, "NONE");
        d.push_back(14);
        putText(d, "not compressed");
        d.push_back(0);  // pads the Pascal string to an even length
    }
    return {"COMM", d};
}

Bytes audio(std::size_t count, std::uint32_t seed) {
    Bytes out(count);
    std::uint32_t x = seed ? seed : 1;
    for (std::size_t i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = std::uint8_t(x);
    }
    return out;
}

Bytes wav(std::uint32_t frames, const std::vector<ChunkSpec>& extra) {
    FileSpec spec;
    spec.chunks = {wavFormat(), {"data", audio(std::size_t(frames) * 4)}};
    spec.chunks.insert(spec.chunks.end(), extra.begin(), extra.end());
    return file(spec);
}

Bytes aiff(std::uint32_t frames, const std::vector<ChunkSpec>& extra, bool aifc) {
    FileSpec spec;
    spec.little = false;
    spec.formType = aifc ? "AIFC" : "AIFF";
    if (aifc) spec.chunks.push_back({"FVER", {0xA2, 0x80, 0x51, 0x40}});
    spec.chunks.push_back(aiffCommon(frames, aifc));
    Bytes ssnd(8, 0);  // offset and block size
    Bytes samples = audio(std::size_t(frames) * 4);
    ssnd.insert(ssnd.end(), samples.begin(), samples.end());
    spec.chunks.push_back({"SSND", ssnd});
    spec.chunks.insert(spec.chunks.end(), extra.begin(), extra.end());
    return file(spec);
}

}  // namespace pelorix::test::chunks
