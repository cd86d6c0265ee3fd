// SPDX-License-Identifier: MIT
#pragma once
// ID3v2.3/2.4 tags, shared by MP3, WAV and AIFF.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::id3v2 {

// The messages of this unit's refusals.
namespace msg {
inline constexpr std::string_view id3Truncated = "The ID3 tag is truncated.";
inline constexpr std::string_view id3Damaged = "The ID3 tag is damaged.";
inline constexpr std::string_view id3CodeTooLarge =
    "The ID3 tag holds an ISRC field of more than 1 MiB, which is no code; PELORIX does not "
    "read or change it.";
inline constexpr std::string_view id3TooLarge = "The ID3 tag would become too large to be stored.";
inline std::string id3Version(unsigned major) {
    return "This file has an ID3v2." + std::to_string(major) +
           " tag. PELORIX supports ID3v2.3 and ID3v2.4 only.";
}
}  // namespace msg

struct Frame {
    std::string id;  // 4 characters, as fourCC reads them
    Bytes flags;     // status byte, format byte
    Bytes body;      // content after the 10-byte header, unsynchronisation undone
    // A frame read from a file that cannot hold a code (a picture, a title) is not loaded: its
    // content is this range of the file, stored bytes as they are, and `body` stays empty.
    std::optional<ByteRange> stored = std::nullopt;
    // `stored` lies in an unsynchronised version 3 tag: copying it undoes that, and its length
    // counts the bytes after.
    bool storedUnsynchronised = false;
    friend bool operator==(const Frame&, const Frame&) = default;
};

struct Tag {
    std::uint8_t version = 3;  // major version: 3 or 4
    std::vector<Frame> frames;
    // Bytes other than padding follow the frames that could be read. Reading takes what it
    // found; a rewrite would lose those bytes, so rebuilding it is refused.
    bool damaged = false;
    friend bool operator==(const Tag&, const Tag&) = default;
};

// Bytes the whole tag occupies (header, body, v4 footer), or none when `header` (at least 10
// bytes) does not begin with a usable ID3v2 header. Never fails.
std::optional<std::uint64_t> totalSize(std::span<const std::uint8_t> header);

Bytes removeUnsync(std::span<const std::uint8_t> bytes);

// A tag to be written: stretches of new bytes and ranges of the input copied as they are, so a
// rebuilt tag never holds the pictures it keeps.
class Pieces {
  public:
    void add(std::span<const std::uint8_t> bytes);
    // `unsynchronised`: the range is copied with unsynchronisation undone, `range.length` bytes
    // of the result.
    void add(const ByteRange& range, bool unsynchronised = false);
    std::uint64_t size() const { return size_; }
    // The bytes, for pieces that copy nothing from a file.
    Bytes bytes() const;
    // Writes every piece in order; a range that runs past the end throws TagError::malformed.
    void writeTo(const FileIn& in, FileOut& out) const;

  private:
    struct Piece {
        Bytes bytes;
        std::optional<ByteRange> copied;
        bool unsynchronised = false;
    };
    std::vector<Piece> pieces_;
    std::uint64_t size_ = 0;
};

// The complete tag bytes, header included. None when there is no ID3v2 header. Throws TagError.
// A version 4 tag whose frame sizes only walk as plain 32-bit numbers (as some writers store
// them) is read that way.
std::optional<Tag> parse(std::span<const std::uint8_t> tag);

// As parse, for the tag at `offset` in a file with `length` bytes available there. Only the frames
// that can hold a code (TSRC, TXXX) are read, a large TXXX only when its description may be
// "ISRC"; every other frame is `stored`.
std::optional<Tag> read(const FileIn& in, std::uint64_t offset, std::uint64_t length);

// The stored ISRC text of the first TSRC frame, trimmed, or none. Never fails.
std::optional<std::string> isrc(const Tag& tag);

// The first value of the first text frame `id` (TIT2, TPE1, TRCK, ...), trimmed; none when the
// tag has none or it cannot be read. A frame left in the file is read from `in`, if it is small
// enough to be text (64 KiB). Throws only the platform's errors.
std::optional<std::string> textFrame(const FileIn& in, const Tag& tag, std::string_view id);

// True when the tag holds a TSRC frame or a TXXX frame described "ISRC" (any case).
bool holdsCode(const Tag& tag);

// Every code the tag carries, each value of each TSRC frame and each TXXX "ISRC" frame, with
// the place named after `where` ("ID3", "second ID3 tag"). Never fails.
void addCarriers(const Tag& tag, const std::string& where, Carriers& out);

// The complete new tag with the TSRC frame replaced (code given) or removed (none),
// and every TXXX "ISRC" frame set to the same code (or removed),
// or none when no tag is to be written at all. Throws TagError::unsupported when the result
// cannot be described by its size fields, and TagError::malformed "The ID3 tag is damaged." for
// a damaged tag.
std::optional<Pieces> rebuilt(const std::optional<Tag>& tag,
                              const std::optional<std::string>& isrc);
// The same as bytes, for a tag without stored frames (one from parse).
std::optional<Bytes> settingISRC(const std::optional<Tag>& tag,
                                 const std::optional<std::string>& isrc);

}  // namespace pelorix::formats::id3v2
