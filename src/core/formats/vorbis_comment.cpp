// SPDX-License-Identifier: MIT
#include "core/formats/vorbis_comment.h"

#include <algorithm>
#include <utility>

#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::formats::vorbis {

namespace {

// The entry's key is the bytes before its first "="; none when there is no "=".
bool keyIsISRC(std::span<const std::uint8_t> entry) {
    auto eq = std::find(entry.begin(), entry.end(), std::uint8_t('='));
    if (eq == entry.end()) return false;
    auto keyLength = std::size_t(eq - entry.begin());
    // Upper-casing never yields fewer code points, and every 4 bytes decode to at least one:
    // a key longer than 16 bytes cannot become the 4 letters "ISRC".
    if (keyLength > 16) return false;
    std::string key = text::decodeLossy(entry.data(), keyLength, text::Encoding::utf8);
    return text::toUpper(key) == "ISRC";
}

// A block's content held in memory.
struct InMemory {
    const Bytes& data;
    std::uint64_t size() const { return data.size(); }
    std::span<const std::uint8_t> read(std::uint64_t at, std::size_t n, Bytes&) const {
        return std::span(data).subspan(std::size_t(at), std::min<std::size_t>(n, data.size() - at));
    }
};

// A block's content in a file, read a little at a time.
struct InFile {
    const FileIn& in;
    ByteRange block;
    std::uint64_t size() const { return block.length; }
    std::span<const std::uint8_t> read(std::uint64_t at, std::size_t n, Bytes& buffer) const {
        buffer = in.read(block.offset + at, std::int64_t(std::min<std::uint64_t>(n, size() - at)));
        return buffer;
    }
};

// Whether the content holds only zero bytes from `at` on.
template <typename Source>
bool zerosFrom(const Source& source, std::uint64_t at) {
    constexpr std::size_t kPiece = 64 * 1024;
    Bytes buffer;
    while (at < source.size()) {
        const auto piece = source.read(at, kPiece, buffer);
        if (piece.empty()) return false;  // the file shrank
        if (std::any_of(piece.begin(), piece.end(), [](std::uint8_t b) { return b != 0; })) {
            return false;
        }
        at += piece.size();
    }
    return true;
}

// The vendor string, then every entry, of a block's content, handed over as where they lie
// (after their 4-byte length) and how long they are; the damage parse describes throws.
// Returns the end of the last counted entry.
template <typename Source, typename Fn>
std::uint64_t walk(const Source& source, std::string_view damaged, Fn entry) {
    const std::uint64_t size = source.size();
    Bytes buffer;
    const auto u32At = [&](std::uint64_t at) {
        const auto b = source.read(at, 4, buffer);
        if (b.size() < 4) throw TagError::malformed(damaged);
        return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
               std::uint32_t(b[3]) << 24;
    };
    if (size < 8) throw TagError::malformed(damaged);
    const std::uint32_t vendorLength = u32At(0);
    if (vendorLength > size - 8) throw TagError::malformed(damaged);
    entry(std::uint64_t(4), std::uint64_t(vendorLength));
    std::uint64_t at = 4 + std::uint64_t(vendorLength);
    const std::uint32_t count = u32At(at);
    at += 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (size - at < 4 && zerosFrom(source, at)) {
            break;  // a count larger than the entries, which end with the block: nothing lost
        }
        if (size - at < 4) throw TagError::malformed(damaged);
        const std::uint32_t length = u32At(at);
        at += 4;
        if (length > size - at) throw TagError::malformed(damaged);
        entry(at, std::uint64_t(length));
        at += length;
    }
    // Entries other readers may find past the count would be lost by a rewrite; zero bytes are
    // only padding.
    if (!zerosFrom(source, at)) throw TagError::malformed(damaged);
    return at;
}

std::string valueOf(std::span<const std::uint8_t> entry) {
    const auto value =
        std::size_t(std::find(entry.begin(), entry.end(), std::uint8_t('=')) - entry.begin()) + 1;
    return text::trimWhitespaceAndNewlines(
        text::decodeLossy(entry.data() + value, entry.size() - value, text::Encoding::utf8));
}

// The key is in the first 17 bytes (see keyIsISRC); the value of an ISRC entry is read whole,
// up to a bound, so nothing held grows with the block.
template <typename Source>
Scan scanned(const Source& source, std::string_view damaged) {
    Scan out;
    bool vendor = true;
    Bytes buffer;
    out.entriesEnd = walk(source, damaged, [&](std::uint64_t at, std::uint64_t length) {
        if (std::exchange(vendor, false)) {
            out.entriesStart = at + length + 4;
            return;
        }
        ++out.count;
        if (!keyIsISRC(source.read(at, std::size_t(std::min<std::uint64_t>(length, 17)), buffer))) {
            return;
        }
        if (length > kMaxCodeEntry) throw TagError::unsupported(msg::codeEntryTooLarge);
        if (out.codes.size() == kMaxCodes) throw TagError::unsupported(msg::tooManyCodes);
        out.codeEntries.push_back({at - 4, length + 4});
        out.codes.push_back(valueOf(source.read(at, std::size_t(length), buffer)));
    });
    return out;
}

}  // namespace

Comments parse(const Bytes& data, std::string_view damaged) {
    Comments comments;
    bool vendor = true;
    walk(InMemory{data}, damaged, [&](std::uint64_t at, std::uint64_t length) {
        const auto e = std::span(data).subspan(std::size_t(at), std::size_t(length));
        if (std::exchange(vendor, false)) {
            comments.vendor.assign(e.begin(), e.end());
        } else {
            comments.entries.emplace_back(e.begin(), e.end());
        }
    });
    return comments;
}

Scan scan(const FileIn& in, const ByteRange& block, std::string_view damaged) {
    return scanned(InFile{in, block}, damaged);
}

Bytes build(const Comments& comments) {
    Bytes out;
    ByteWriter w(out);
    w.u32LE(comments.vendor.size()).bytes(comments.vendor).u32LE(comments.entries.size());
    for (const Bytes& entry : comments.entries) w.u32LE(entry.size()).bytes(entry);
    return out;
}

std::vector<std::string> codes(const Comments& comments) {
    std::vector<std::string> out;
    for (const Bytes& entry : comments.entries) {
        if (keyIsISRC(entry)) out.push_back(valueOf(entry));
    }
    return out;
}

std::optional<std::string> code(const Comments& comments) {
    std::vector<std::string> all = codes(comments);
    if (all.empty()) return std::nullopt;
    return std::move(all.front());
}

void setCode(Comments& comments, const std::optional<std::string>& isrc) {
    std::erase_if(comments.entries, [](const Bytes& e) { return keyIsISRC(e); });
    if (isrc) {
        Bytes entry;
        append(entry, "ISRC=");
        append(entry, *isrc);
        comments.entries.push_back(std::move(entry));
    }
}

}  // namespace pelorix::formats::vorbis
