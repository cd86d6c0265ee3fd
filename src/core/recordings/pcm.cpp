// SPDX-License-Identifier: MIT
#include "core/recordings/pcm.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/formats/chunks.h"

namespace pelorix::recordings {
namespace {

const formats::chunks::Chunk* find(const formats::chunks::Parsed& parsed, const std::string& id) {
    for (const auto& c : parsed.chunks) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

// The 80-bit extended float of AIFF's sample rate.
double extended80(std::span<const std::uint8_t> b) {
    ByteReader r(b);
    const std::uint16_t signExp = r.readU16BE();
    const std::uint64_t mantissa = r.readU64BE();
    if (!r.ok() || mantissa == 0) return 0;
    const int exponent = int(signExp & 0x7FFF) - 16383 - 63;
    const double value = std::ldexp(double(mantissa), exponent);
    return (signExp & 0x8000) ? -value : value;
}

std::optional<PcmLayout> wave(const FileIn& in, const formats::chunks::Parsed& parsed) {
    const auto* fmt = find(parsed, "fmt ");
    const auto* data = find(parsed, "data");
    if (!fmt || !data || fmt->size < 16) return std::nullopt;
    const Bytes b =
        in.read(fmt->headerOffset + 8, std::int64_t(std::min<std::uint64_t>(fmt->size, 40)));
    ByteReader r(b);
    std::uint16_t tag = r.readU16BE();
    tag = std::uint16_t((tag >> 8) | (tag << 8));
    const auto le16 = [&r] {
        const std::uint16_t v = r.readU16BE();
        return unsigned(std::uint16_t((v >> 8) | (v << 8)));
    };
    PcmLayout p;
    p.channels = le16();
    p.rate = r.readU32LE();
    const std::uint32_t byteRate = r.readU32LE();
    const unsigned blockAlign = le16();
    const unsigned bits = le16();
    unsigned format = tag;
    p.validBits = bits;
    if (tag == 0xFFFE && b.size() >= 40) {
        le16();  // cbSize
        if (const unsigned valid = le16(); valid != 0) p.validBits = valid;
        r.skip(4);  // channel mask
        format = le16();
    }
    if (!r.ok() || p.channels == 0 || blockAlign == 0 || p.rate <= 0) return std::nullopt;
    const std::uint64_t frames = data->size / blockAlign;
    p.audio = {data->headerOffset + 8, frames * blockAlign};
    p.containerBytes = blockAlign / p.channels;
    p.unsignedSamples = p.containerBytes == 1;
    p.integer = format == 1 && blockAlign % p.channels == 0 && p.validBits >= 1 &&
                p.validBits <= p.containerBytes * 8 && p.containerBytes <= 4;
    // Compressed audio: its frames are not samples, the byte rate tells the time.
    p.seconds = format == 1 || format == 3 ? double(frames) / p.rate
                : byteRate                 ? double(data->size) / byteRate
                                           : 0;
    return p;
}

std::optional<PcmLayout> aiff(const FileIn& in, const formats::chunks::Parsed& parsed) {
    const auto* comm = find(parsed, "COMM");
    const auto* ssnd = find(parsed, "SSND");
    if (!comm || !ssnd || comm->size < 18) return std::nullopt;
    const Bytes b =
        in.read(comm->headerOffset + 8, std::int64_t(std::min<std::uint64_t>(comm->size, 22)));
    ByteReader r(b);
    PcmLayout p;
    p.bigEndian = true;
    p.channels = r.readU16BE();
    const std::uint32_t frames = r.readU32BE();
    p.validBits = r.readU16BE();
    p.rate = extended80(r.readSpan(10));
    std::string compression = "NONE";
    const bool aifc = parsed.head.size() >= 12 && fourCC(parsed.head, 8) == "AIFC";
    if (aifc) compression = r.has(4) ? r.readFourCC() : "";
    if (!r.ok() || p.channels == 0 || p.rate <= 0) return std::nullopt;
    p.seconds = frames / p.rate;
    p.containerBytes = (p.validBits + 7) / 8;
    if (compression == "sowt") p.bigEndian = false;
    p.integer = (compression == "NONE" || compression == "twos" || compression == "sowt") &&
                p.validBits >= 1 && p.validBits <= 32;
    const Bytes head = in.read(ssnd->headerOffset + 8, 8);
    if (head.size() < 8 || ssnd->size < 8) return std::nullopt;
    const std::uint64_t skip = 8 + std::uint64_t(be32(head, 0));
    const std::uint64_t frameBytes = std::uint64_t(p.channels) * p.containerBytes;
    if (skip > ssnd->size || frameBytes == 0) return std::nullopt;
    const std::uint64_t whole = std::min<std::uint64_t>(frames, (ssnd->size - skip) / frameBytes);
    p.audio = {ssnd->headerOffset + 8 + skip, whole * frameBytes};
    return p;
}

}  // namespace

std::optional<PcmLayout> pcmLayout(const FileIn& in, bool little) {
    const formats::chunks::Parsed parsed = formats::chunks::parse(in, little);
    return little ? wave(in, parsed) : aiff(in, parsed);
}

}  // namespace pelorix::recordings
