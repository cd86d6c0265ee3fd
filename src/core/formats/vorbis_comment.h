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
// The same, read straight from a block's content without copying its entries; throws as parse.
std::vector<std::string> codes(const Bytes& data, std::string_view damaged);

// Where the vendor string (first) and each entry lie in a block's content, and which entries
// are ISRC entries; throws as parse. A rewrite copies the others from where they lie.
struct Entry {
    std::size_t at = 0, length = 0;
    bool isrc = false;
};
std::vector<Entry> entries(const Bytes& data, std::string_view damaged);
// The first of them, or none.
std::optional<std::string> code(const Comments& comments);
// Every ISRC entry out, and the code in as the last entry when there is one.
void setCode(Comments& comments, const std::optional<std::string>& isrc);

}  // namespace pelorix::formats::vorbis
