// SPDX-License-Identifier: MIT
#include "core/formats/flac.h"

#include <algorithm>

#include "core/formats/id3v2.h"
#include "core/formats/vorbis_comment.h"
#include "core/tag_error.h"

namespace pelorix::formats::flac {

namespace {

constexpr std::uint8_t kVorbisComment = 4;
constexpr std::uint8_t kCueSheet = 5;
constexpr std::uint8_t kLastBlock = 0x80;
constexpr std::uint64_t kBlockHeaderSize = 4;
constexpr std::uint64_t kMaxBlockData = (std::uint64_t(1) << 24) - 1;
constexpr std::string_view kVendor = "PELORIX";

const Bytes kMarker{'f', 'L', 'a', 'C'};

// Where a metadata block's content lies in the file.
struct BlockSpan {
    std::uint8_t type = 0;
    std::uint64_t offset = 0;  // first byte after the 4-byte header
    std::uint64_t length = 0;
};

// The offset of "fLaC": the length of a leading ID3v2 tag, else 0.
std::uint64_t markerOffset(const FileIn& in) {
    const std::uint64_t at = id3v2::totalSize(in.read(0, 10)).value_or(0);
    if (in.read(at, 4) != kMarker) throw TagError::malformed(msg::notFLAC);
    return at;
}

// Walks the block headers up to the one flagged last, handing each block to `visit`; every
// block must lie wholly inside the file. Reads no block content itself, so a reader that needs
// one block does not load the pictures. Returns the first byte after the last block.
template <typename Visit>
std::uint64_t walkBlocks(const FileIn& in, std::uint64_t flacOffset, Visit visit) {
    std::uint64_t pos = flacOffset + 4;
    for (;;) {
        const Bytes bytes = in.read(pos, std::int64_t(kBlockHeaderSize));
        ByteReader header(bytes);
        const std::uint8_t first = header.readU8();
        const std::uint64_t length = header.readU24BE();
        if (!header.ok()) throw TagError::malformed(msg::flacTruncated);
        pos += kBlockHeaderSize;
        if (length > in.size() - pos) throw TagError::malformed(msg::flacTruncated);
        visit(BlockSpan{std::uint8_t(first & 0x7F), pos, length});
        pos += length;
        if (first & kLastBlock) return pos;
    }
}

// A comment block, read a little at a time.
vorbis::Scan comments(const FileIn& in, const BlockSpan& block) {
    return vorbis::scan(in, {block.offset, block.length}, msg::flacCommentDamaged);
}

Bytes contentOf(const FileIn& in, const BlockSpan& block) {
    Bytes data = in.read(block.offset, std::int64_t(block.length));
    if (data.size() < block.length) throw TagError::malformed(msg::flacTruncated);  // it shrank
    return data;
}

// A CUESHEET block (a CD rip's): 396 bytes, then per track 36 bytes and 12 per index point;
// each track's ISRC is a fixed field of 12 bytes, 9 bytes into it, NUL-filled when unset.
struct CueISRC {
    std::size_t at = 0;  // in the block's content
    unsigned track = 0;
    std::string text;
};
std::vector<CueISRC> cueISRCs(const Bytes& cue) {
    std::vector<CueISRC> out;
    if (cue.size() < 396) return out;
    std::size_t at = 396;
    for (unsigned t = 0; t < cue[395] && cue.size() - at >= 36; ++t) {
        const std::size_t points = cue[at + 35];
        std::string isrc(cue.begin() + std::ptrdiff_t(at + 9),
                         cue.begin() + std::ptrdiff_t(at + 21));
        isrc.erase(std::find(isrc.begin(), isrc.end(), '\0'), isrc.end());
        if (!isrc.empty()) out.push_back({at + 9, cue[at + 8], std::move(isrc)});
        at += 36 + 12 * points;
    }
    return out;
}

}  // namespace

bool matches(const FileIn& in, const Bytes& head) {
    if (fourCC(head, 0) == "fLaC") return true;
    const auto total = id3v2::totalSize(head);
    if (!total) return false;
    const Bytes after = in.read(*total, 4);
    return after.size() == 4 && fourCC(after, 0) == "fLaC";
}

Layout layout(const FileIn& in) {
    Layout result;
    result.flacOffset = markerOffset(in);
    result.audioOffset = walkBlocks(in, result.flacOffset, [&](const BlockSpan& b) {
        result.blocks.push_back(Block{b.type, contentOf(in, b)});
    });
    return result;
}

std::uint64_t audioOffset(const FileIn& in) {
    return walkBlocks(in, markerOffset(in), [](const BlockSpan&) {});
}

std::vector<ByteRange> audioRanges(const FileIn& in) {
    const std::uint64_t start = audioOffset(in);
    if (start >= in.size()) return {};
    return {{start, in.size() - start}};
}

std::optional<std::string> readISRC(const FileIn& in) {
    // The first comment block that holds a code: a second block must not hide one. A damaged
    // block is the file's error, as it is a write's.
    std::optional<std::string> code;
    walkBlocks(in, markerOffset(in), [&](const BlockSpan& b) {
        if (b.type != kVorbisComment) return;
        const std::vector<std::string> found = comments(in, b).codes;
        if (!code && !found.empty()) code = found.front();
    });
    return code;
}

Carriers carriers(const FileIn& in) {
    Carriers out;
    std::size_t block = 0;
    walkBlocks(in, markerOffset(in), [&](const BlockSpan& b) {
        if (b.type == kCueSheet) {
            for (CueISRC& c : cueISRCs(contentOf(in, b))) {
                out.push_back({"CUESHEET track " + std::to_string(c.track) + " ISRC", c.text});
            }
        }
        if (b.type != kVorbisComment) return;
        std::vector<std::string> codes = comments(in, b).codes;
        const std::string where = nthPlace(block++, "Vorbis", "comment block");
        for (std::size_t i = 0; i < codes.size(); ++i) {
            out.push_back({where + (i ? " ISRC (second entry)" : " ISRC"), std::move(codes[i])});
        }
    });
    return out;
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc) {
    // Only comment blocks are held in memory; every other block is copied from the input. The
    // first comment block takes the code; any other one that holds a code gets the same.
    const std::uint64_t flacOffset = markerOffset(in);
    std::vector<BlockSpan> blocks;
    // New content, or none to copy the block: new bytes and ranges of the input, so that a
    // large comment block is never held twice.
    std::vector<std::optional<id3v2::Pieces>> rebuilt;
    bool seenComments = false;
    const std::uint64_t audioOffset = walkBlocks(in, flacOffset, [&](const BlockSpan& b) {
        blocks.push_back(b);
        rebuilt.emplace_back();
        if (b.type == kCueSheet) {
            // A track's code is a fixed field: set (or cleared) in place, nothing moves. Codes
            // of several tracks are several recordings', which no one code replaces.
            Bytes cue = contentOf(in, b);
            const std::vector<CueISRC> codes = cueISRCs(cue);
            if (codes.size() > 1) throw TagError::unsupported(msg::flacCueSheetTracks);
            if (codes.empty()) return;
            const std::string field = isrc ? *isrc : std::string();
            std::copy_n(field.begin(), std::min<std::size_t>(field.size(), 12),
                        cue.begin() + std::ptrdiff_t(codes[0].at));
            std::fill_n(
                cue.begin() + std::ptrdiff_t(codes[0].at + std::min<std::size_t>(field.size(), 12)),
                12 - std::min<std::size_t>(field.size(), 12), 0);
            rebuilt.back().emplace().add(cue);
        }
        if (b.type != kVorbisComment) return;
        const vorbis::Scan scan = comments(in, b);
        if (seenComments && scan.codes.empty()) return;
        seenComments = true;
        // The vendor string as it lies, the new count, every other entry as it lies (the runs
        // between the ISRC entries), then the code as the last entry.
        id3v2::Pieces& block = rebuilt.back().emplace();
        block.add(ByteRange{b.offset, scan.entriesStart - 4});
        Bytes field;
        ByteWriter(field).u32LE(std::uint32_t(scan.count - scan.codes.size() + (isrc ? 1 : 0)));
        block.add(field);
        std::uint64_t at = scan.entriesStart;
        for (const ByteRange& e : scan.codeEntries) {
            if (e.offset > at) block.add(ByteRange{b.offset + at, e.offset - at});
            at = e.offset + e.length;
        }
        if (scan.entriesEnd > at) block.add(ByteRange{b.offset + at, scan.entriesEnd - at});
        if (isrc) {
            vorbis::Comments code;
            vorbis::setCode(code, isrc);
            field.clear();
            ByteWriter(field).u32LE(std::uint32_t(code.entries[0].size())).bytes(code.entries[0]);
            block.add(field);
        }
    });
    if (!seenComments && isrc) {
        // A new comment block after STREAMINFO.
        vorbis::Comments comments;
        comments.vendor.assign(kVendor.begin(), kVendor.end());
        vorbis::setCode(comments, isrc);
        const auto at = blocks.empty() ? 0 : 1;
        blocks.insert(blocks.begin() + at, BlockSpan{kVorbisComment, 0, 0});
        rebuilt.insert(rebuilt.begin() + at, id3v2::Pieces());
        rebuilt[std::size_t(at)]->add(vorbis::build(comments));
    }

    for (const auto& content : rebuilt) {
        if (content && content->size() > kMaxBlockData) {
            throw TagError::unsupported(msg::flacCommentTooLarge);
        }
    }

    if (flacOffset > 0) in.copy(0, flacOffset, out);
    out.write(kMarker);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const BlockSpan& b = blocks[i];
        const std::uint64_t length = rebuilt[i] ? rebuilt[i]->size() : b.length;
        // The last-block flag follows the new list, whatever the input said.
        Bytes header;
        ByteWriter(header)
            .u8(std::uint8_t(b.type | (i + 1 == blocks.size() ? kLastBlock : 0)))
            .u24BE(std::uint32_t(length));
        out.write(header);
        if (rebuilt[i]) {
            rebuilt[i]->writeTo(in, out);
        } else {
            in.copy(b.offset, b.length, out);
        }
    }
    if (in.size() > audioOffset) in.copy(audioOffset, in.size() - audioOffset, out);
}

}  // namespace pelorix::formats::flac
