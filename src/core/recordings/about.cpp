// SPDX-License-Identifier: MIT
#include "core/recordings/about.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "core/formats/chunks.h"
#include "core/formats/flac.h"
#include "core/formats/id3v2.h"
#include "core/formats/mp3.h"
#include "core/formats/vorbis_comment.h"
#include "core/io/text.h"
#include "core/recordings/pcm.h"
#include "core/tag_error.h"

namespace pelorix::recordings {
namespace {

// Tags, comment blocks and items larger than this hold pictures, not the few words wanted here.
constexpr std::uint64_t kFieldsLimit = 1 << 20;

std::optional<std::string> nonEmpty(std::string s) {
    s = text::trimWhitespaceAndNewlines(s);
    if (s.empty()) return std::nullopt;
    return s;
}

void fromID3(const FileIn& in, const formats::id3v2::Tag& tag, About& a) {
    if (!a.title) a.title = formats::id3v2::textFrame(in, tag, "TIT2");
    if (!a.artist) a.artist = formats::id3v2::textFrame(in, tag, "TPE1");
    if (!a.album) a.album = formats::id3v2::textFrame(in, tag, "TALB");
    if (!a.track) a.track = leadingNumber(formats::id3v2::textFrame(in, tag, "TRCK").value_or(""));
    if (!a.disc) a.disc = leadingNumber(formats::id3v2::textFrame(in, tag, "TPOS").value_or(""));
}

// ---- WAV and AIFF ----------------------------------------------------------------------------

// LIST INFO: INAM title, IART artist, IPRD album, ITRK (or IPRT) track; ISO-8859-1 or UTF-8.
void fromInfo(const FileIn& in, const formats::chunks::Chunk& list, About& a) {
    if (list.size < 4 || list.size > kFieldsLimit) return;
    const Bytes b = in.read(list.headerOffset + 8, std::int64_t(list.size));
    if (b.size() < 4 || fourCC(b, 0) != "INFO") return;
    ByteReader r(b, 4);
    while (r.remaining() >= 8) {
        const std::string id = r.readFourCC();
        const std::uint32_t size = r.readU32LE();
        if (!r.has(size)) break;
        const auto bytes = r.readSpan(size);
        if (size % 2 && r.remaining()) r.skip(1);
        std::size_t n = std::find(bytes.begin(), bytes.end(), 0) - bytes.begin();
        auto value = text::decode(bytes.data(), n, text::Encoding::utf8);
        if (!value) value = text::decode(bytes.data(), n, text::Encoding::latin1);
        const auto field = nonEmpty(*value);
        if (id == "INAM" && !a.title) a.title = field;
        if (id == "IART" && !a.artist) a.artist = field;
        if (id == "IPRD" && !a.album) a.album = field;
        if ((id == "ITRK" || id == "IPRT") && !a.track) a.track = leadingNumber(field.value_or(""));
    }
}

void chunkFile(const FileIn& in, bool little, About& a) {
    const formats::chunks::Parsed parsed = formats::chunks::parse(in, little);
    try {
        if (auto tag = formats::chunks::existingTag(in, parsed.chunks)) fromID3(in, *tag, a);
    } catch (const TagError&) {
        // A damaged tag tells nothing; the INFO list may still.
    }
    if (little) {
        for (const auto& c : parsed.chunks) {
            if (c.id == "LIST") fromInfo(in, c, a);
        }
    }
    if (auto pcm = pcmLayout(in, little)) a.seconds = pcm->seconds;
}

// ---- MP3 -------------------------------------------------------------------------------------

struct FrameHeader {
    unsigned bitrate = 0;  // bits per second
    unsigned rate = 0;
    unsigned samples = 0;  // per frame
    unsigned length = 0;   // bytes
    unsigned sideInfo = 0;
};

std::optional<FrameHeader> frameHeader(std::span<const std::uint8_t> b) {
    if (b.size() < 4 || b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return std::nullopt;
    const unsigned version = (b[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const unsigned layer = (b[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    const unsigned bitrateIndex = b[2] >> 4, rateIndex = (b[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    static constexpr std::array<std::array<unsigned short, 15>, 5> kBitrates{{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    }};
    static constexpr std::array<unsigned, 3> kRates{44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const unsigned table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    FrameHeader h;
    h.bitrate = kBitrates[table][bitrateIndex] * 1000u;
    h.rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const unsigned padding = (b[2] >> 1) & 1;
    const bool mono = (b[3] >> 6) == 3;
    if (layer == 3) {
        h.samples = 384;
        h.length = (12 * h.bitrate / h.rate + padding) * 4;
    } else {
        h.samples = layer == 1 && !mpeg1 ? 576 : 1152;
        h.length = h.samples / 8 * h.bitrate / h.rate + padding;
    }
    h.sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return h;
}

// From the Xing/Info or VBRI frame count; else, for a stream whose first frames share one bit
// rate, from its size. A stream of varying rate without a count stays unknown.
double mp3Seconds(const FileIn& in) {
    const std::uint64_t start = formats::mp3::audioOffset(in);
    const Bytes head = in.read(start, 64 * 1024);
    std::size_t at = 0;
    std::optional<FrameHeader> h;
    for (; at + 4 <= head.size(); ++at) {
        if ((h = frameHeader(std::span(head).subspan(at)))) break;
    }
    if (!h) return 0;
    const std::size_t xing = at + 4 + h->sideInfo;
    if (xing + 12 <= head.size()) {
        const std::string id = fourCC(head, xing);
        if ((id == "Xing" || id == "Info") && (be32(head, xing + 4) & 1)) {
            return double(be32(head, xing + 8)) * h->samples / h->rate;
        }
    }
    if (at + 36 + 18 <= head.size() && fourCC(head, at + 36) == "VBRI") {
        return double(be32(head, at + 36 + 14)) * h->samples / h->rate;
    }
    std::size_t next = at;
    for (int i = 0; i < 3; ++i) {
        const auto f = frameHeader(std::span(head).subspan(std::min(next, head.size())));
        if (!f || f->bitrate != h->bitrate) return 0;
        next += f->length;
    }
    std::uint64_t end = in.size();
    if (end >= 128 && in.read(end - 128, 3) == Bytes{'T', 'A', 'G'}) end -= 128;
    if (end <= start + at) return 0;
    return double(end - start - at) * 8 / h->bitrate;
}

void mp3(const FileIn& in, About& a) {
    std::uint64_t offset = 0;
    while (offset < in.size()) {
        const auto size = formats::id3v2::totalSize(in.read(offset, 10));
        if (!size) break;
        try {
            if (auto tag = formats::id3v2::read(in, offset, in.size() - offset))
                fromID3(in, *tag, a);
        } catch (const TagError&) {
        }
        offset += *size;
    }
    a.seconds = mp3Seconds(in);
}

// ---- FLAC ------------------------------------------------------------------------------------

void flac(const FileIn& in, About& a) {
    std::uint64_t pos = 0;
    if (const auto id3 = formats::id3v2::totalSize(in.read(0, 10))) pos = *id3;
    if (in.read(pos, 4) != Bytes{'f', 'L', 'a', 'C'}) throw TagError::malformed(msg::fileEnded);
    pos += 4;
    for (bool last = false; !last && pos + 4 <= in.size();) {
        const Bytes h = in.read(pos, 4);
        last = (h[0] & 0x80) != 0;
        const std::uint8_t type = h[0] & 0x7F;
        const std::uint64_t size = ByteReader(h, 1).readU24BE();
        if (type == 0 && size >= 18) {
            const Bytes info = in.read(pos + 4, 18);
            if (info.size() < 18) break;
            const std::uint64_t rate =
                (std::uint64_t(info[10]) << 12) | (info[11] << 4) | (info[12] >> 4);
            const std::uint64_t total = (std::uint64_t(info[13] & 0x0F) << 32) | be32(info, 14);
            if (rate) a.seconds = double(total) / double(rate);
        } else if (type == 4 && size <= kFieldsLimit) {
            const auto comments = formats::vorbis::parse(in.read(pos + 4, std::int64_t(size)),
                                                         formats::flac::msg::flacCommentDamaged);
            for (const Bytes& e : comments.entries) {
                const std::string entry(e.begin(), e.end());
                const std::size_t eq = entry.find('=');
                if (eq == std::string::npos) continue;
                const std::string key = asciiLower(entry.substr(0, eq));
                auto value =
                    text::decode(e.data() + eq + 1, e.size() - eq - 1, text::Encoding::utf8);
                if (!value) continue;
                const auto field = nonEmpty(*value);
                if (key == "title" && !a.title) a.title = field;
                if (key == "artist" && !a.artist) a.artist = field;
                if (key == "album" && !a.album) a.album = field;
                if (key == "tracknumber" && !a.track) a.track = leadingNumber(field.value_or(""));
                if (key == "discnumber" && !a.disc) a.disc = leadingNumber(field.value_or(""));
            }
        }
        pos += 4 + size;
    }
}

// ---- MP4 -------------------------------------------------------------------------------------

struct BoxAt {
    std::string type;
    std::uint64_t body = 0;  // first byte after the header
    std::uint64_t end = 0;
};

// The boxes between `from` and `to`, read header by header.
std::vector<BoxAt> boxes(const FileIn& in, std::uint64_t from, std::uint64_t to) {
    std::vector<BoxAt> out;
    while (from < to && to - from >= 8) {
        const Bytes h = in.read(from, 16);
        if (h.size() < 8) break;
        std::uint64_t size = be32(h, 0), header = 8;
        if (size == 1 && h.size() == 16) {
            size = ByteReader(h, 8).readU64BE();
            header = 16;
        } else if (size == 0) {
            size = to - from;
        }
        if (size < header || size > to - from) break;
        out.push_back({fourCC(h, 4), from + header, from + size});
        from += size;
    }
    return out;
}

const BoxAt* child(const std::vector<BoxAt>& list, const std::string& type) {
    auto it =
        std::find_if(list.begin(), list.end(), [&](const BoxAt& b) { return b.type == type; });
    return it == list.end() ? nullptr : &*it;
}

void mp4(const FileIn& in, About& a) {
    const BoxAt* moov = nullptr;
    const auto top = boxes(in, 0, in.size());
    if (!(moov = child(top, "moov"))) return;
    const auto inMoov = boxes(in, moov->body, moov->end);
    if (const BoxAt* mvhd = child(inMoov, "mvhd")) {
        const Bytes b = in.read(mvhd->body, 32);
        ByteReader r(b);
        const bool v1 = r.readU8() == 1;
        r.skip(v1 ? 19 : 11);
        const std::uint32_t scale = r.readU32BE();
        const std::uint64_t duration = v1 ? r.readU64BE() : r.readU32BE();
        if (r.ok() && scale) a.seconds = double(duration) / scale;
    }
    const BoxAt* udta = child(inMoov, "udta");
    if (!udta) return;
    // Each list of boxes is kept while a pointer into it is used.
    const auto inUdta = boxes(in, udta->body, udta->end);
    const BoxAt* meta = child(inUdta, "meta");
    if (!meta) return;
    // An ISO `meta` has version and flags before its children; a QuickTime one does not.
    const Bytes peek = in.read(meta->body, 8);
    const std::uint64_t first =
        peek.size() == 8 && fourCC(peek, 4) == "hdlr" ? meta->body : meta->body + 4;
    const auto inMeta = boxes(in, first, meta->end);
    const BoxAt* ilst = child(inMeta, "ilst");
    if (!ilst) return;
    for (const BoxAt& item : boxes(in, ilst->body, ilst->end)) {
        if (item.end - item.body > kFieldsLimit) continue;
        const auto inItem = boxes(in, item.body, item.end);
        const BoxAt* data = child(inItem, "data");
        if (!data || data->end - data->body < 8) continue;
        const Bytes v = in.read(data->body + 8, std::int64_t(data->end - data->body - 8));
        const std::string& t = item.type;
        if (t == "trkn" || t == "disk") {
            if (v.size() < 4) continue;
            const unsigned n = (v[2] << 8) | v[3];
            if (n == 0) continue;
            (t == "trkn" ? a.track : a.disc) = n;
            continue;
        }
        auto value = text::decode(v.data(), v.size(), text::Encoding::utf8);
        if (!value) continue;
        if (t == "\u00A9nam") a.title = nonEmpty(*value);
        if (t == "\u00A9ART") a.artist = nonEmpty(*value);
        if (t == "\u00A9alb") a.album = nonEmpty(*value);
    }
}

}  // namespace

std::optional<unsigned> leadingNumber(const std::string& text) {
    const std::string s = text::trimWhitespaceAndNewlines(text);
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc() || end == s.data()) return std::nullopt;
    const std::string_view rest(end, s.data() + s.size() - end);
    if (!rest.empty() && rest.front() != '/') return std::nullopt;
    return n;
}

About about(const FileIn& in, formats::AudioFormat format) {
    About a;
    switch (format) {
        case formats::AudioFormat::wav:
        case formats::AudioFormat::aiff:
            chunkFile(in, format == formats::AudioFormat::wav, a);
            break;
        case formats::AudioFormat::mp3:
            mp3(in, a);
            break;
        case formats::AudioFormat::flac:
            flac(in, a);
            break;
        case formats::AudioFormat::m4a:
            mp4(in, a);
            break;
    }
    return a;
}

About about(const std::filesystem::path& path) {
    const FileIn in(path);
    return about(in, formats::AudioFormat::detect(in));
}

}  // namespace pelorix::recordings
