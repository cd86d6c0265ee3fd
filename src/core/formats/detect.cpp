// SPDX-License-Identifier: MIT
#include "core/formats/detect.h"

#include "core/formats/id3v2.h"
#include "core/io/binary_io.h"
#include "core/tag_error.h"

namespace pelorix::formats {

std::string_view AudioFormat::label() const {
    switch (kind_) {
        case mp3:
            return "MP3";
        case wav:
            return "WAV";
        case aiff:
            return "AIFF";
        case flac:
            return "FLAC";
        case m4a:
            return "M4A";
    }
    return "";
}

namespace {

bool extensionIsMP3(const std::filesystem::path& path) {
    return asciiLower(path.extension().string()) == ".mp3";
}

// Bytes of the MPEG audio frame whose 4-byte header is given, or 0 when the header is not a
// plausible one (reserved version or layer, bitrate index 15 or free format, sample rate 3).
std::uint64_t mpegFrameLength(std::span<const std::uint8_t> h) {
    if (h.size() < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    const int version = (h[1] >> 3) & 3;      // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const int layer = 4 - ((h[1] >> 1) & 3);  // 4: reserved
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return 0;
    }
    static constexpr int kKbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // 1, layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // 1, layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // 1, layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // 2, layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // 2, II and III
    };
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const bool v1 = version == 3;
    const std::uint64_t bitrate =
        1000u * std::uint64_t(kKbps[v1 ? layer - 1 : (layer == 1 ? 3 : 4)][bitrateIndex]);
    const std::uint64_t rate = std::uint64_t(kRates[rateIndex] >> (v1 ? 0 : version == 2 ? 1 : 2));
    const std::uint64_t padding = (h[2] >> 1) & 1;
    if (layer == 1) return (12 * bitrate / rate + padding) * 4;
    const std::uint64_t perSecond = layer == 3 && !v1 ? 72 : 144;
    return perSecond * bitrate / rate + padding;
}

// An MPEG audio stream as demuxers recognise one: a plausible frame header at the start and
// another of the same version, layer and sample rate where the first frame says it ends.
bool startsWithMPEGFrames(const FileIn& in, const Bytes& head) {
    const std::uint64_t length = mpegFrameLength(head);
    if (length == 0) return false;
    const Bytes next = in.read(length, 4);
    return mpegFrameLength(next) != 0 && (next[1] & 0xFE) == (head[1] & 0xFE) &&
           (next[2] & 0x0C) == (head[2] & 0x0C);
}

}  // namespace

AudioFormat AudioFormat::detect(const std::filesystem::path& path) {
    const FileIn in(path);
    return detect(in);
}

AudioFormat AudioFormat::detect(const FileIn& in) {
    const Bytes head = in.read(0, 16);
    if (head.size() < 12) throw TagError::malformed(msg::tooShortForAudio);

    // A leading ID3v2 tag decides alone: FLAC when "fLaC" follows it, MP3 otherwise.
    if (auto total = id3v2::totalSize(head)) {
        const Bytes after = in.read(*total, 4);
        if (after.size() == 4 && fourCC(after, 0) == "fLaC") return flac;
        return mp3;
    }

    const std::string id = fourCC(head, 0);
    const std::string form = fourCC(head, 8);
    if (id == "RIFF" && form == "WAVE") return wav;
    if ((id == "RF64" || id == "BW64") && form == "WAVE") return wav;
    if (id == "FORM" && (form == "AIFF" || form == "AIFC")) return aiff;
    if (id == "fLaC") return flac;
    if (fourCC(head, 4) == "ftyp") return m4a;
    if (startsWithMPEGFrames(in, head)) return mp3;
    if (extensionIsMP3(in.path())) return mp3;
    throw TagError::unsupported(msg::unsupportedType);
}

}  // namespace pelorix::formats
