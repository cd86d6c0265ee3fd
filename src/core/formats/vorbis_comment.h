// SPDX-License-Identifier: MIT
#pragma once
// Vorbis comments: a vendor string and "KEY=value" entries, the ISRC in an entry whose key is
// "ISRC" in any letter case. Used by FLAC (its VORBIS_COMMENT block), as id3v2 is used by MP3,
// WAV and AIFF.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/io/binary_io.h"

namespace pelorix::formats::vorbis {

// The messages of this unit's refusals.
namespace msg {
inline constexpr std::string_view codeEntryTooLarge =
    "The comment block holds an ISRC entry of more than 1 MiB, which is no code; PELORIX does "
    "not read or change it.";
inline constexpr std::string_view tooManyCodes =
    "The comment block holds more than 1024 ISRC entries; PELORIX does not read or change them.";
}  // namespace msg

inline constexpr std::uint64_t kMaxCodeEntry = 1 << 20;
inline constexpr std::size_t kMaxCodes = 1024;

struct Comments {
    Bytes vendor;
    std::vector<Bytes> entries;  // raw "KEY=value" entries in stored order
    friend bool operator==(const Comments&, const Comments&) = default;
};

// The comments of a block's content. Throws TagError::malformed with `damaged`, the user's
// wording (a FLAC comment block, an Ogg comment packet), when the vendor string or an entry does
// not fit, or bytes other than zero follow the counted entries: a rewrite would lose what other
// readers find there. A count larger than the entries that end with the block is taken as the
// entries.
Comments parse(const Bytes& data, std::string_view damaged);
Bytes build(const Comments& comments);

// The values of the ISRC entries, in stored order, decoded as UTF-8 and trimmed.
std::vector<std::string> codes(const Comments& comments);
// The first of them, or none.
std::optional<std::string> code(const Comments& comments);
// Every ISRC entry out, and the code in as the last entry when there is one.
void setCode(Comments& comments, const std::optional<std::string>& isrc);

// A block's content as a write needs it, read from `in` a little at a time: what is held does
// not grow with the block. Offsets count from the content's first byte.
struct Scan {
    std::uint64_t entriesStart = 0;      // the first entry's length field
    std::uint64_t entriesEnd = 0;        // past the last counted entry (zero bytes may follow)
    std::uint64_t count = 0;             // the entries found
    std::vector<ByteRange> codeEntries;  // the ISRC entries, each with its length field
    std::vector<std::string> codes;      // their values, as codes() gives them
};
// Throws as parse, and TagError::unsupported for an ISRC entry over 1 MiB or more than 1024 of
// them (msg::codeEntryTooLarge, msg::tooManyCodes).
Scan scan(const FileIn& in, const ByteRange& block, std::string_view damaged);

}  // namespace pelorix::formats::vorbis
