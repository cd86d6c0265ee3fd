// SPDX-License-Identifier: MIT
#pragma once
// MP3 files: leading ID3v2 tags (usually one; demuxers skip any number in a row), then the audio
// frames.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::mp3 {

// The messages of this unit's refusals.
namespace msg {
inline constexpr std::string_view apeCode =
    "The file also holds a code in an APEv2 tag, which PELORIX does not change.";
inline constexpr std::string_view apeDamaged = "The APEv2 tag at the end of the file is damaged.";
}  // namespace msg

// Leading ID3v2 tags followed by MPEG audio: two frames of the same kind in a row.
bool matches(const FileIn& in, const Bytes& head);
// An MPEG audio stream as demuxers recognise one: a plausible frame header at the start and
// another of the same version, layer and sample rate where the first frame says it ends; else a
// name ending in ".mp3" (any case), unless another stream's mark (Monkey's Audio, Musepack, TTA,
// WavPack, Ogg, ADTS AAC, RIFF, ...) stands at the start or after the leading tags: a tag written
// in front of it would make it an MP3 to no reader.
bool guess(const FileIn& in, const Bytes& head);

// The code of the first leading tag that holds one.
std::optional<std::string> readISRC(const FileIn& in);
// The codes of every leading tag: "ID3 TSRC", "second ID3 tag TSRC", ...
Carriers carriers(const FileIn& in);
// The first leading tag is rebuilt with the code set (or removed); a later leading tag that holds
// a code (TSRC or TXXX "ISRC") gets the same treatment, and every other byte is copied as it is.
void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc);
// Where the audio starts: after the last of the leading tags.
std::uint64_t audioOffset(const FileIn& in);
// The audio: everything after every leading tag (a write may rebuild a later one that holds a
// code).
std::vector<ByteRange> audioRanges(const FileIn& in);

}  // namespace pelorix::formats::mp3
