// SPDX-License-Identifier: MIT
#include "core/formats/mp3.h"

#include <algorithm>
#include <vector>

#include "core/formats/id3v2.h"
#include "core/tag_error.h"

namespace pelorix::formats::mp3 {

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

// Two MPEG audio frames of the same kind in a row, the first at `at` (whose header is `head`).
bool startsWithMPEGFrames(const FileIn& in, const Bytes& head, std::uint64_t at) {
    const std::uint64_t length = mpegFrameLength(head);
    if (length == 0) return false;
    const Bytes next = in.read(at + length, 4);
    return mpegFrameLength(next) != 0 && (next[1] & 0xFE) == (head[1] & 0xFE) &&
           (next[2] & 0x0C) == (head[2] & 0x0C);
}

struct Leading {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // footer included
    id3v2::Tag tag;
};

// The tags standing one after another at the start of the file. The first one's errors are the
// file's; a later one that does not parse is taken for the start of the audio, as it always was.
std::vector<Leading> leadingTags(const FileIn& in) {
    std::vector<Leading> tags;
    std::uint64_t at = 0;
    while (auto total = id3v2::totalSize(in.read(at, 10))) {
        if (*total > in.size() - at) {
            if (tags.empty()) throw TagError::malformed(id3v2::msg::id3Truncated);
            break;
        }
        std::optional<id3v2::Tag> tag;
        try {
            tag = id3v2::read(in, at, *total);
        } catch (const TagError&) {
            if (tags.empty()) throw;
        }
        if (!tag) break;
        tags.push_back({at, *total, std::move(*tag)});
        at += *total;
    }
    return tags;
}

// The APEv2 tag some taggers append after the audio: its footer stands 32 bytes before the end,
// or before an ID3v1 tag. A tag larger than this is no tag of texts.
constexpr std::uint64_t kMaxApeTag = 1 << 20;

// The values of the APEv2 items keyed "ISRC" (any case), in order. Never loads more than the tag.
std::vector<std::string> apeCodes(const FileIn& in) {
    std::uint64_t end = in.size();
    if (end >= 128 && fourCC(in.read(end - 128, 4), 0).starts_with("TAG")) end -= 128;
    if (end < 32) return {};
    const Bytes footer = in.read(end - 32, 32);
    if (footer.size() < 32 || std::string(footer.begin(), footer.begin() + 8) != "APETAGEX") {
        return {};
    }
    const std::uint64_t size = le32(footer, 12), count = le32(footer, 16);
    if (size < 32 || size > kMaxApeTag || size > end) throw TagError::malformed(msg::apeDamaged);
    const Bytes items = in.read(end - size, std::int64_t(size - 32));
    std::vector<std::string> codes;
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (items.size() - at < 9) throw TagError::malformed(msg::apeDamaged);
        const std::uint64_t length = le32(items, at);
        const auto keyEnd = std::find(items.begin() + std::ptrdiff_t(at + 8), items.end(), 0);
        if (keyEnd == items.end() || length > std::uint64_t(items.end() - keyEnd) - 1) {
            throw TagError::malformed(msg::apeDamaged);
        }
        const std::string key(items.begin() + std::ptrdiff_t(at + 8), keyEnd);
        const auto value = keyEnd + 1;
        if (asciiLower(key) == "isrc") {
            codes.emplace_back(value, value + std::ptrdiff_t(length));
        }
        at = std::size_t(value - items.begin()) + std::size_t(length);
    }
    return codes;
}

}  // namespace

std::optional<std::string> readISRC(const FileIn& in) {
    for (const Leading& lead : leadingTags(in)) {
        if (auto code = id3v2::isrc(lead.tag)) return code;
    }
    return std::nullopt;
}

Carriers carriers(const FileIn& in) {
    Carriers out;
    const std::vector<Leading> tags = leadingTags(in);
    for (std::size_t i = 0; i < tags.size(); ++i) {
        id3v2::addCarriers(tags[i].tag, nthPlace(i, "ID3", "ID3 tag"), out);
    }
    for (std::string& code : apeCodes(in)) out.push_back({"APEv2 ISRC", std::move(code)});
    return out;
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc) {
    // Rewriting an APEv2 tag is a codec of its own; a code left there would outlive the write.
    if (!apeCodes(in).empty()) throw TagError::unsupported(msg::apeCode);
    std::vector<Leading> tags = leadingTags(in);
    std::uint64_t copied = 0;  // input bytes handled so far
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const Leading& lead = tags[i];
        if (i > 0 && !id3v2::holdsCode(lead.tag)) continue;  // copied as it is
        in.copy(copied, lead.offset - copied, out);
        if (const auto rebuilt = id3v2::rebuilt(lead.tag, isrc)) rebuilt->writeTo(in, out);
        copied = lead.offset + lead.length;
        tags[i].tag = {};  // nothing read from the tag stays beside the audio
    }
    if (tags.empty() && isrc) out.write(*id3v2::settingISRC(std::nullopt, isrc));
    if (out.position() == 0 && !tags.empty() && copied == tags.back().offset + tags.back().length &&
        id3v2::totalSize(in.read(copied, 10))) {
        // No tag left, but the audio starts like one, which would then be read as the leading
        // tag: an empty tag keeps the audio where it was.
        Bytes empty;
        ByteWriter(empty).ascii("ID3").u8(3).u8(0).u8(0).synchsafe32(16).zeros(16);
        out.write(empty);
    }
    in.copy(copied, in.size() - copied, out);
}

std::uint64_t audioOffset(const FileIn& in) {
    const std::vector<Leading> tags = leadingTags(in);
    return tags.empty() ? 0 : tags.back().offset + tags.back().length;
}

namespace {

// Where the leading ID3 tags end: demuxers skip any number in a row.
std::uint64_t afterTags(const FileIn& in, const Bytes& head) {
    std::uint64_t at = 0;
    for (auto total = id3v2::totalSize(head); total && *total <= in.size() - at;
         total = id3v2::totalSize(in.read(at, 10))) {
        at += *total;
    }
    return at;
}

// The marks of other streams that may stand behind an ID3 tag: Monkey's Audio, Musepack (SV8 and
// SV7), TTA, WavPack, Ogg, RIFF and AIFF forms, ADTS AAC frames (sync, then layer 0).
bool otherStream(const Bytes& b) {
    if (b.size() < 4) return false;
    static constexpr std::string_view kMarks[] = {"MAC ", "MPCK", "TTA1", "wvpk",
                                                  "OggS", "RIFF", "FORM", "fLaC"};
    const std::string id = fourCC(b, 0);
    for (std::string_view mark : kMarks) {
        if (id == mark) return true;
    }
    return id.starts_with("MP+") || (b[0] == 0xFF && (b[1] & 0xF6) == 0xF0);
}

}  // namespace

bool matches(const FileIn& in, const Bytes& head) {
    if (!id3v2::totalSize(head)) return false;
    const std::uint64_t at = afterTags(in, head);
    const Bytes after = in.read(at, 4);
    return after.size() == 4 && startsWithMPEGFrames(in, after, at);
}

bool guess(const FileIn& in, const Bytes& head) {
    const std::uint64_t at = afterTags(in, head);
    if (otherStream(at == 0 ? head : in.read(at, 4))) return false;
    return (at == 0 && startsWithMPEGFrames(in, head, 0)) || extensionIsMP3(in.path());
}

std::vector<ByteRange> audioRanges(const FileIn& in) {
    const std::uint64_t start = audioOffset(in);
    return {{start, in.size() - start}};
}

}  // namespace pelorix::formats::mp3
