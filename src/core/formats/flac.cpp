// SPDX-License-Identifier: MIT
#include "core/formats/flac.h"

#include <algorithm>

#include "core/formats/id3v2.h"
#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::FLACTagger {

namespace {

constexpr std::uint8_t kVorbisComment = 4;
constexpr std::uint8_t kLastBlock = 0x80;
constexpr std::uint64_t kBlockHeaderSize = 4;
constexpr std::uint64_t kMaxBlockData = (std::uint64_t(1) << 24) - 1;
constexpr std::string_view kVendor = "PELORIX";

const Bytes kMarker{'f', 'L', 'a', 'C'};

// The entry's key is the bytes before its first "="; none when there is no "=".
bool keyIsISRC(const Bytes& entry) {
    auto eq = std::find(entry.begin(), entry.end(), std::uint8_t('='));
    if (eq == entry.end()) return false;
    auto keyLength = std::size_t(eq - entry.begin());
    // Upper-casing never yields fewer code points, and every 4 bytes decode to at least one:
    // a key longer than 16 bytes cannot become the 4 letters "ISRC".
    if (keyLength > 16) return false;
    std::string key = text::decodeLossy(entry.data(), keyLength, text::Encoding::utf8);
    return text::toUpper(key) == "ISRC";
}

// Where a metadata block's content lies in the file.
struct BlockSpan {
    std::uint8_t type = 0;
    std::uint64_t offset = 0;  // first byte after the 4-byte header
    std::uint64_t length = 0;
};

// The offset of "fLaC": the length of a leading ID3v2 tag, else 0.
std::uint64_t markerOffset(const FileIn& in) {
    const std::uint64_t at = ID3v2::totalSize(in.read(0, 10)).value_or(0);
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
        const Bytes header = in.read(pos, std::int64_t(kBlockHeaderSize));
        if (header.size() < kBlockHeaderSize) throw TagError::malformed(msg::flacTruncated);
        const std::uint64_t length = (std::uint64_t(header[1]) << 16) |
                                     (std::uint64_t(header[2]) << 8) | std::uint64_t(header[3]);
        pos += kBlockHeaderSize;
        if (length > in.size() - pos) throw TagError::malformed(msg::flacTruncated);
        visit(BlockSpan{std::uint8_t(header[0] & 0x7F), pos, length});
        pos += length;
        if (header[0] & kLastBlock) return pos;
    }
}

Bytes contentOf(const FileIn& in, const BlockSpan& block) {
    Bytes data = in.read(block.offset, std::int64_t(block.length));
    if (data.size() < block.length) throw TagError::malformed(msg::flacTruncated);  // it shrank
    return data;
}

// The content of the first VORBIS_COMMENT block, or none; the whole block list is checked.
std::optional<Bytes> firstComments(const FileIn& in, std::uint64_t flacOffset,
                                   std::vector<BlockSpan>* blocks = nullptr,
                                   std::uint64_t* audioOffset = nullptr) {
    std::optional<Bytes> comments;
    const std::uint64_t end = walkBlocks(in, flacOffset, [&](const BlockSpan& b) {
        if (!comments && b.type == kVorbisComment) comments = contentOf(in, b);
        if (blocks) blocks->push_back(b);
    });
    if (audioOffset) *audioOffset = end;
    return comments;
}

}  // namespace

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

Comments parseComments(const Bytes& data) {
    if (data.size() < 8) throw TagError::malformed(msg::flacCommentDamaged);
    ByteReader r(data);
    std::uint32_t vendorLength = r.readU32LE();
    if (vendorLength > data.size() - 8) throw TagError::malformed(msg::flacCommentDamaged);
    Comments comments;
    comments.vendor = r.readBytes(vendorLength);
    std::uint32_t count = r.readU32LE();
    // The count is not trusted: entries are read while whole ones remain.
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!r.has(4)) break;
        std::uint32_t length = r.readU32LE();
        if (!r.has(length)) break;
        comments.entries.push_back(r.readBytes(length));
    }
    return comments;
}

Bytes build(const Comments& comments) {
    Bytes out;
    append(out, bytes32LE(comments.vendor.size()));
    append(out, comments.vendor);
    append(out, bytes32LE(comments.entries.size()));
    for (const Bytes& entry : comments.entries) {
        append(out, bytes32LE(entry.size()));
        append(out, entry);
    }
    return out;
}

std::optional<std::string> readISRC(const FileIn& in) {
    const std::optional<Bytes> block = firstComments(in, markerOffset(in));
    if (!block) return std::nullopt;
    Comments comments = parseComments(*block);
    for (const Bytes& entry : comments.entries) {
        if (!keyIsISRC(entry)) continue;
        auto value =
            std::size_t(std::find(entry.begin(), entry.end(), std::uint8_t('=')) - entry.begin()) +
            1;
        std::string text =
            text::decodeLossy(entry.data() + value, entry.size() - value, text::Encoding::utf8);
        return text::trimWhitespaceAndNewlines(text);
    }
    return std::nullopt;
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc) {
    // Only the comment block is held in memory; every other block is copied from the input.
    const std::uint64_t flacOffset = markerOffset(in);
    std::vector<BlockSpan> blocks;
    std::uint64_t audioOffset = 0;
    const std::optional<Bytes> block = firstComments(in, flacOffset, &blocks, &audioOffset);
    Comments comments;
    if (block) {
        comments = parseComments(*block);
    } else {
        comments.vendor.assign(kVendor.begin(), kVendor.end());
    }

    std::erase_if(comments.entries, keyIsISRC);
    if (isrc) {
        Bytes entry;
        append(entry, "ISRC=");
        append(entry, *isrc);
        comments.entries.push_back(std::move(entry));
    }
    const Bytes data = build(comments);
    if (data.size() > kMaxBlockData) throw TagError::unsupported(msg::flacCommentTooLarge);

    // The new block list: the first comment block replaced, or a new one after STREAMINFO.
    // A span without an offset stands for the new comment block.
    const BlockSpan newComments{kVorbisComment, 0, data.size()};
    auto isComment = [](const BlockSpan& b) { return b.type == kVorbisComment; };
    if (block) {
        *std::find_if(blocks.begin(), blocks.end(), isComment) = newComments;
    } else if (isrc) {
        blocks.insert(blocks.empty() ? blocks.end() : blocks.begin() + 1, newComments);
    }

    if (flacOffset > 0) in.copy(0, flacOffset, out);
    out.write(kMarker);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const BlockSpan& b = blocks[i];
        // The last-block flag follows the new list, whatever the input said.
        std::uint8_t first = std::uint8_t(b.type | (i + 1 == blocks.size() ? kLastBlock : 0));
        std::uint64_t n = b.length;
        out.write(Bytes{first, std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
        if (b.offset == 0)
            out.write(data);
        else
            in.copy(b.offset, b.length, out);
    }
    if (in.size() > audioOffset) in.copy(audioOffset, in.size() - audioOffset, out);
}

}  // namespace pelorix::FLACTagger
