#include "core/flac_tagger.h"

#include <algorithm>

#include "core/id3v2.h"
#include "core/tag_error.h"
#include "core/text.h"

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

std::vector<Block>::iterator firstCommentBlock(std::vector<Block>& blocks) {
    return std::find_if(blocks.begin(), blocks.end(),
                        [](const Block& b) { return b.type == kVorbisComment; });
}

}  // namespace

Layout layout(const FileIn& in) {
    Layout result;
    result.flacOffset = ID3v2::totalSize(in.read(0, 10)).value_or(0);
    if (in.read(result.flacOffset, 4) != kMarker) throw TagError::malformed(msg::notFLAC);

    std::uint64_t pos = result.flacOffset + 4;
    for (;;) {
        Bytes header = in.read(pos, std::int64_t(kBlockHeaderSize));
        if (header.size() < kBlockHeaderSize) throw TagError::malformed(msg::flacTruncated);
        std::uint64_t length = (std::uint64_t(header[1]) << 16) | (std::uint64_t(header[2]) << 8) |
                               std::uint64_t(header[3]);
        pos += kBlockHeaderSize;
        // read() is capped by what the file holds, so a false length allocates nothing extra.
        Bytes data = in.read(pos, std::int64_t(length));
        if (data.size() < length) throw TagError::malformed(msg::flacTruncated);
        pos += length;
        result.blocks.push_back(Block{std::uint8_t(header[0] & 0x7F), std::move(data)});
        if (header[0] & kLastBlock) break;
    }
    result.audioOffset = pos;
    return result;
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
    Layout l = layout(in);
    auto block = firstCommentBlock(l.blocks);
    if (block == l.blocks.end()) return std::nullopt;
    Comments comments = parseComments(block->data);
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
    Layout l = layout(in);
    auto block = firstCommentBlock(l.blocks);
    Comments comments;
    if (block != l.blocks.end()) {
        comments = parseComments(block->data);
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
    Bytes data = build(comments);
    if (data.size() > kMaxBlockData) throw TagError::unsupported(msg::flacCommentTooLarge);

    if (block != l.blocks.end()) {
        block->data = std::move(data);
    } else if (isrc) {
        auto at = l.blocks.empty() ? l.blocks.end() : l.blocks.begin() + 1;
        l.blocks.insert(at, Block{kVorbisComment, std::move(data)});
    }

    if (l.flacOffset > 0) in.copy(0, l.flacOffset, out);
    out.write(kMarker);
    for (std::size_t i = 0; i < l.blocks.size(); ++i) {
        const Block& b = l.blocks[i];
        // The last-block flag follows the new list, whatever the input said.
        std::uint8_t first = std::uint8_t(b.type | (i + 1 == l.blocks.size() ? kLastBlock : 0));
        std::uint64_t n = b.data.size();
        out.write(Bytes{first, std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
        out.write(b.data);
    }
    if (in.size() > l.audioOffset) in.copy(l.audioOffset, in.size() - l.audioOffset, out);
}

}  // namespace pelorix::FLACTagger
