// SPDX-License-Identifier: MIT
#pragma once
// FLAC files: the ISRC is the Vorbis comment entry "ISRC=" in the VORBIS_COMMENT block (the
// comments themselves are read and built by vorbis_comment).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::flac {

// The messages of this unit's refusals.
namespace msg {
inline constexpr std::string_view notFLAC = "Not a valid FLAC file.";
inline constexpr std::string_view flacTruncated = "The FLAC metadata is truncated.";
inline constexpr std::string_view flacCommentDamaged = "The FLAC comment block is damaged.";
inline constexpr std::string_view flacCueSheetTracks =
    "The FLAC cue sheet holds codes of several tracks, which PELORIX does not change.";
inline constexpr std::string_view flacCommentTooLarge =
    "The FLAC comment block would become too large.";
}  // namespace msg

struct Block {
    std::uint8_t type = 0;  // low 7 bits of the header's first byte
    Bytes data;             // content without the 4-byte header
    friend bool operator==(const Block&, const Block&) = default;
};

struct Layout {
    std::uint64_t flacOffset = 0;   // offset of "fLaC": the length of a leading ID3v2 tag, else 0
    std::vector<Block> blocks;      // metadata blocks in file order
    std::uint64_t audioOffset = 0;  // first byte after the last metadata block
};

// "fLaC" at the start, or right after a leading ID3v2 tag.
bool matches(const FileIn& in, const Bytes& head);

Layout layout(const FileIn& in);
// Layout's audioOffset, found from the block headers alone.
std::uint64_t audioOffset(const FileIn& in);
// The audio: everything after the metadata blocks.
std::vector<ByteRange> audioRanges(const FileIn& in);
std::optional<std::string> readISRC(const FileIn& in);
// Every ISRC entry of every comment block: "Vorbis ISRC", "Vorbis ISRC (second entry)",
// "second comment block ISRC", ...
Carriers carriers(const FileIn& in);
void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc);

}  // namespace pelorix::formats::flac
