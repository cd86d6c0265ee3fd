// SPDX-License-Identifier: MIT
// Every container codec on the same input: WAV and AIFF, MP3 and its ID3v2 tags, FLAC and its
// comments, MP4. A write changes nothing but tags as a reader sees the file, every place that
// holds a code holds the new one (none after a removal), and what a codec cannot read it refuses.
#include <algorithm>

#include "core/formats/axml.h"
#include "core/formats/carriers.h"
#include "core/formats/chunks.h"
#include "core/formats/flac.h"
#include "core/formats/format.h"
#include "core/formats/mp3.h"
#include "core/formats/mp4.h"
#include "core/formats/vorbis_comment.h"
#include "core/io/text.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;
using Code = std::optional<std::string>;

namespace {

constexpr std::string_view kDamaged = formats::flac::msg::flacCommentDamaged;

const Code kCodes[] = {kCode, std::nullopt};

// Runs write(out) into `output`; false when the codec refused.
template <typename Write>
bool writeTo(const MemFile& output, Write write) {
    return succeeds([&] {
        FileOut out(output.path(), FileOut::Mode::replace);
        write(out);
        out.close();
    });
}

// ---- ID3v2 and MP3 ---------------------------------------------------------------------------

std::vector<formats::id3v2::Frame> withoutCode(std::vector<formats::id3v2::Frame> frames) {
    std::erase_if(frames, [](const formats::id3v2::Frame& f) { return f.id == "TSRC"; });
    return frames;
}

// The tag codec alone: a rebuilt tag keeps every other frame exactly, the code last.
void checkTag(const Bytes& bytes) {
    std::optional<formats::id3v2::Tag> tag;
    if (!succeeds([&] { tag = formats::id3v2::parse(bytes); }) || !tag) return;
    for (const Code& code : kCodes) {
        std::optional<Bytes> rebuilt;
        if (!succeeds([&] { rebuilt = formats::id3v2::settingISRC(tag, code); })) return;
        FUZZ_CHECK(rebuilt.has_value() == (code || !withoutCode(tag->frames).empty()));
        if (!rebuilt) continue;
        const auto again = formats::id3v2::parse(*rebuilt);
        FUZZ_CHECK(again && again->version == tag->version && !again->damaged);
        FUZZ_CHECK(formats::id3v2::totalSize(*rebuilt) == rebuilt->size() &&
                   formats::id3v2::isrc(*again) == code);
        FUZZ_CHECK(withoutCode(again->frames) == withoutCode(tag->frames));
    }
}

// The codes of the tags standing one after another at the start of the file.
std::vector<Code> leadingCodes(const FileIn& in) {
    std::vector<Code> codes;
    for (std::uint64_t at = 0; at < formats::mp3::audioOffset(in);) {
        const std::uint64_t total = *formats::id3v2::totalSize(in.read(at, 10));
        codes.push_back(
            formats::id3v2::isrc(*formats::id3v2::parse(in.read(at, std::int64_t(total)))));
        at += total;
    }
    return codes;
}

// What follows the leading tags is what a demuxer plays: it comes through untouched.
void checkMP3(const FileIn& in) {
    std::uint64_t start = 0;
    if (!succeeds([&] { (void)formats::mp3::readISRC(in), start = formats::mp3::audioOffset(in); }))
        return;
    const Bytes tail = in.read(start, std::int64_t(in.size() - start));
    for (const Code& code : kCodes) {
        const MemFile output;
        if (!writeTo(output, [&](FileOut& out) { formats::mp3::write(in, out, code); })) continue;
        const FileIn result(output.path());
        const Bytes bytes = result.read(0, std::int64_t(result.size()));
        FUZZ_CHECK(bytes.size() >= tail.size());
        const std::size_t prefix = bytes.size() - tail.size();
        FUZZ_CHECK(std::equal(tail.begin(), tail.end(), bytes.begin() + std::ptrdiff_t(prefix)));
        FUZZ_CHECK(formats::mp3::audioOffset(result) == prefix &&
                   formats::mp3::readISRC(result) == code);
        for (const auto& found : leadingCodes(result)) FUZZ_CHECK(!found || found == code);
    }
}

// ---- WAV and AIFF ----------------------------------------------------------------------------

struct Content {
    std::string id;
    Bytes data;
    friend bool operator==(const Content&, const Content&) = default;
};

std::uint64_t size32(const Bytes& b, std::size_t at, bool little) {
    return little ? le32(b, at) : be32(b, at);
}
// The audio as ffmpeg's demuxer finds it: the first audio chunk on the padded walk, running to
// the end of the file when its size is 0 or 0xFFFFFFFF. `open` tells whether every chunk after
// such a zero-size chunk walks strictly to the end (ffmpeg plays them, the rewrite keeps them).
std::optional<Bytes> demuxedAudio(const Bytes& file, bool little, bool* chunksAfterOpen) {
    std::optional<Bytes> audio;
    bool open = false;
    for (std::size_t pos = 12; pos < file.size();) {
        if (file.size() - pos < 8) return audio;
        const std::uint64_t size = size32(file, pos + 4, little);
        const bool isAudio = fourCC(file, pos) == (little ? "data" : "SSND") && !audio;
        const auto body = file.begin() + std::ptrdiff_t(pos + 8);
        if (isAudio && (size == 0 || size == 0xFFFFFFFF || size > file.size() - pos - 8)) {
            audio = Bytes(body, file.end());
            open = size == 0;
        } else if (isAudio) {
            audio = Bytes(body, body + std::ptrdiff_t(size));
        }
        if (size > file.size() - pos - 8) return audio;
        pos += 8 + size + (size & 1);
        if (pos == file.size()) *chunksAfterOpen = open;
    }
    return audio;
}

void checkChunks(const FileIn& in, bool little) {
    formats::chunks::Parsed parsed;
    if (!succeeds([&] { parsed = formats::chunks::parse(in, little); })) return;
    std::uint64_t next = 12;
    std::vector<Content> kept;
    for (const auto& c : parsed.chunks) {
        FUZZ_CHECK(c.headerOffset >= next && c.headerOffset + 8 + c.size <= in.size());
        next = c.headerOffset + 8 + c.size;
        // ID3 and axml chunks carry the code; every other chunk comes through unchanged.
        if (!formats::chunks::isID3Chunk(c.id) && c.id != "axml")
            kept.push_back({c.id, in.read(next - c.size, c.size)});
    }
    const ByteRange rest = parsed.trailing;
    FUZZ_CHECK(rest.offset >= next && rest.offset - next <= 1 &&
               rest.offset + rest.length == in.size());
    const Bytes input = in.read(0, std::int64_t(in.size())),
                trailing = in.read(rest.offset, std::int64_t(rest.length));
    bool chunksAfterOpen = false;
    const auto audio = demuxedAudio(input, little, &chunksAfterOpen);
    for (const Code& code : kCodes) {
        const MemFile output;
        if (!writeTo(output, [&](FileOut& out) { formats::chunks::write(in, out, little, code); }))
            continue;
        const FileIn result(output.path());
        if (parsed.sizes64) {  // RF64/BW64: sizes in ds64; the code reads back
            const auto tag =
                formats::chunks::existingTag(result, formats::chunks::parse(result, little).chunks);
            FUZZ_CHECK((tag ? formats::id3v2::isrc(*tag) : std::nullopt) == code);
            continue;
        }
        const Bytes bytes = result.read(0, std::int64_t(result.size()));
        // A strict walk: exact sizes, zero pads, then the trailing bytes, inside the form or after
        // it as they were.
        const std::uint64_t chunksEnd = bytes.size() - trailing.size();
        FUZZ_CHECK(8 + size32(bytes, 4, little) ==
                   (parsed.trailingInForm ? bytes.size() : chunksEnd));
        FUZZ_CHECK(std::equal(trailing.begin(), trailing.end(),
                              bytes.begin() + std::ptrdiff_t(chunksEnd)));
        std::vector<Content> others;
        for (std::size_t pos = 12; pos < chunksEnd;) {
            const std::uint64_t size = size32(bytes, pos + 4, little);
            FUZZ_CHECK(chunksEnd - pos >= 8 && size <= chunksEnd - pos - 8);
            const Content c{fourCC(bytes, pos), result.read(pos + 8, std::int64_t(size))};
            pos += 8 + size;
            if (size & 1) FUZZ_CHECK(pos < chunksEnd && bytes[pos++] == 0);
            std::optional<formats::id3v2::Tag> tag;
            if (c.id == "axml") continue;
            if (!formats::chunks::isID3Chunk(c.id)) {
                others.push_back(c);
            } else if (succeeds([&] { tag = formats::id3v2::parse(c.data); }) && tag) {
                const auto found = formats::id3v2::isrc(*tag);
                FUZZ_CHECK(!found || found == code);
            }
        }
        FUZZ_CHECK(others == kept);
        // Our output always walks; its tag reads back, unless a removal left only a tag chunk
        // that nobody can read (another version), as the input had it.
        const auto chunks = formats::chunks::parse(result, little).chunks;
        std::optional<formats::id3v2::Tag> tag;
        if (succeeds([&] { tag = formats::chunks::existingTag(result, chunks); })) {
            FUZZ_CHECK((tag ? formats::id3v2::isrc(*tag) : std::nullopt) == code);
        } else {
            FUZZ_CHECK(!code);
        }
        bool unused = false;  // (a missing pad byte can hide the audio; the rewrite shows it)
        if (audio && !chunksAfterOpen) FUZZ_CHECK(demuxedAudio(bytes, little, &unused) == audio);
    }
}

// ---- FLAC ------------------------------------------------------------------------------------

constexpr std::uint8_t kComments = 4;

// Keys compare after Unicode upper-casing, so "isrc" and "Isrc" name the same entry.
bool isISRCKey(const Bytes& entry) {
    const auto eq = std::find(entry.begin(), entry.end(), std::uint8_t('='));
    if (eq == entry.end()) return false;
    const std::string key =
        text::decodeLossy(entry.data(), std::size_t(eq - entry.begin()), text::Encoding::utf8);
    return text::toUpper(key) == "ISRC";
}

// Every block but the comment blocks is kept, and so is every byte before and after them; the
// first comment block keeps its other entries, and no comment block keeps another code.
void checkFLAC(const Bytes& bytes, const FileIn& in) {
    formats::vorbis::Comments comments;
    if (succeeds([&] { comments = formats::vorbis::parse(bytes, kDamaged); }))
        FUZZ_CHECK(formats::vorbis::parse(formats::vorbis::build(comments), kDamaged) == comments);
    formats::flac::Layout layout;
    if (!succeeds([&] { layout = formats::flac::layout(in); })) return;
    FUZZ_CHECK(formats::flac::audioOffset(in) == layout.audioOffset &&
               layout.audioOffset <= in.size());
    auto split = [](const formats::flac::Layout& l, std::vector<formats::flac::Block>* others) {
        std::optional<Bytes> first;
        for (const auto& b : l.blocks) {
            if (b.type != kComments) others->push_back(b);
            if (b.type == kComments && !first) first = b.data;
        }
        return first;
    };
    std::vector<formats::flac::Block> others;
    const auto first = split(layout, &others);
    std::optional<formats::vorbis::Comments> old;
    if (first && !succeeds([&] { old = formats::vorbis::parse(*first, kDamaged); })) return;
    const Bytes before = in.read(0, std::int64_t(layout.flacOffset));
    const Bytes after = in.read(layout.audioOffset, std::int64_t(in.size() - layout.audioOffset));
    for (const Code& code : kCodes) {
        const MemFile output;
        if (!writeTo(output, [&](FileOut& out) { formats::flac::write(in, out, code); })) continue;
        const FileIn result(output.path());
        const auto now = formats::flac::layout(result);
        std::vector<formats::flac::Block> nowOthers;
        const auto nowFirst = split(now, &nowOthers);
        FUZZ_CHECK(formats::flac::readISRC(result) == code && nowOthers == others);
        FUZZ_CHECK(result.read(0, std::int64_t(now.flacOffset)) == before);
        FUZZ_CHECK(result.read(now.audioOffset, std::int64_t(after.size() + 1)) == after);
        Bytes entry;
        append(entry, "ISRC=" + code.value_or(""));
        for (const auto& b : now.blocks) {
            if (b.type != kComments) continue;
            for (const Bytes& e : formats::vorbis::parse(b.data, kDamaged).entries)
                FUZZ_CHECK(!isISRCKey(e) || (code && e == entry));
        }
        FUZZ_CHECK(nowFirst || (!old && !code));
        if (!nowFirst || !old) continue;
        auto expected = old->entries;
        std::erase_if(expected, isISRCKey);
        if (code) expected.push_back(entry);
        const auto parsed = formats::vorbis::parse(*nowFirst, kDamaged);
        FUZZ_CHECK(parsed.vendor == old->vendor && parsed.entries == expected);
    }
}

// ---- MP4 -------------------------------------------------------------------------------------

// Every entry of every `stco`/`co64` table in document order (whole entries only).
void collectOffsets(const formats::mp4::Box& box, std::vector<std::uint64_t>& out) {
    for (const auto& child : box.children.value_or(std::vector<formats::mp4::BoxPtr>{}))
        collectOffsets(*child, out);
    const bool wide = box.type == "co64";
    if (box.children || (!wide && box.type != "stco") || box.raw.size() < 8) return;
    ByteReader r(box.raw, 4);
    for (std::uint32_t n = r.readU32BE(); n > 0 && r.has(wide ? 8 : 4); --n)
        out.push_back(wide ? r.readU64BE() : r.readU32BE());
}

// The media bytes stay, and every chunk offset that pointed at media (outside the boxes a write
// rewrites) still points at the same bytes.
void checkMP4(const FileIn& in) {
    std::vector<formats::mp4::TopLevelEntry> top;
    formats::mp4::LoadedMoov moov;
    if (!succeeds([&] { top = formats::mp4::topLevel(in), moov = formats::mp4::loadMoov(in); }))
        return;
    (void)succeeds([&] { (void)formats::mp4::readISRC(in); });
    const Bytes media = rangeBytes(in, formats::mp4::audioRanges(in));
    std::vector<std::uint64_t> offsets;
    collectOffsets(*moov.box, offsets);
    auto stable = [&](std::uint64_t offset) -> std::uint64_t {  // up to 16 bytes no write touches
        std::uint64_t n = offset < in.size() ? std::min<std::uint64_t>(16, in.size() - offset) : 0;
        for (const auto& e : top) {
            if (e.start != moov.start && e.type != "moof" && e.type != "mfra") continue;
            if (offset >= e.start && offset < e.start + e.size) return 0;
            if (e.start > offset) n = std::min(n, e.start - offset);
        }
        return n;
    };
    for (const Code& code : kCodes) {
        const MemFile output;
        if (!writeTo(output, [&](FileOut& out) { formats::mp4::write(in, out, code); })) continue;
        const FileIn result(output.path());
        FUZZ_CHECK(formats::mp4::readISRC(result) == code);
        FUZZ_CHECK(rangeBytes(result, formats::mp4::audioRanges(result)) == media);
        std::vector<std::uint64_t> now;
        collectOffsets(*formats::mp4::loadMoov(result).box, now);
        FUZZ_CHECK(now.size() == offsets.size());
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            const auto n = std::int64_t(stable(offsets[i]));
            FUZZ_CHECK(n == 0 || in.read(offsets[i], n) == result.read(now[i], n));
        }
    }
}

}  // namespace

// ---- axml ------------------------------------------------------------------------------------

// The whole input as an axml chunk: the scan does not depend on where the pieces end, and an
// edit leaves the new code in every code element (none after a removal).
void checkAxml(const FileIn& in) {
    const ByteRange all{0, in.size()};
    const auto scan = [&](std::size_t piece, std::vector<std::string>& into) -> std::string {
        try {
            into = formats::axml::isrcs(in, all, piece);
        } catch (const TagError& e) {
            return e.what();
        }
        return "";
    };
    std::vector<std::string> codes, split;
    const std::string error = scan(formats::axml::kPiece, codes);
    FUZZ_CHECK(scan(3, split) == error);
    FUZZ_CHECK(split == codes);
    if (!error.empty() || codes.empty()) return;
    for (const Code& code : kCodes) {
        const MemFile output;
        std::optional<formats::id3v2::Pieces> pieces;
        if (!succeeds([&] { pieces = formats::axml::edited(in, all, code); })) continue;
        FUZZ_CHECK(pieces.has_value());
        FUZZ_CHECK(writeTo(output, [&](FileOut& out) { pieces->writeTo(in, out); }));
        const FileIn edited(output.path());
        const std::vector<std::string> now = formats::axml::isrcs(edited, {0, edited.size()});
        FUZZ_CHECK(code ? !now.empty() && std::all_of(now.begin(), now.end(),
                                                      [&](const auto& c) { return c == *code; })
                        : now.empty());
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes bytes(data, data + size);
    const MemFile file(data, size);
    const FileIn in(file.path());
    checkTag(bytes);
    checkMP3(in);
    checkChunks(in, true);
    checkChunks(in, false);
    checkFLAC(bytes, in);
    checkAxml(in);
    (void)succeeds([&] { (void)formats::mp4::parseBoxes(bytes, 0, bytes.size()); });
    checkMP4(in);
    // The listing of every place that holds a code reads each format leniently: it ends.
    for (const formats::Format& format : formats::formats())
        (void)succeeds([&] { (void)format.carriers(in); });
    return 0;
}
