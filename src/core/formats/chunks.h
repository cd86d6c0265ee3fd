// SPDX-License-Identifier: MIT
#pragma once
// RIFF/WAVE (little-endian, "id3 " chunk) and AIFF/AIFF-C (big-endian, "ID3 " chunk) files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/carrier.h"
#include "core/formats/id3v2.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::chunks {

// The messages of this unit's refusals.
namespace msg {
inline constexpr std::string_view tooShort = "The file is too short.";
inline constexpr std::string_view notWAV = "Not a valid WAV file.";
inline constexpr std::string_view notAIFF = "Not a valid AIFF file.";
inline constexpr std::string_view unfinishedRecording =
    "The file looks like an unfinished recording: its audio chunk does not say where the audio "
    "ends.";
inline constexpr std::string_view chunksDamaged =
    "The chunks of this file do not follow one another cleanly to its end.";
inline constexpr std::string_view chunkFileTooLarge =
    "The file would become too large for its 32-bit size fields.";
}  // namespace msg

struct Chunk {
    std::string id;                  // 4 characters, as fourCC reads them
    std::uint64_t headerOffset = 0;  // file offset of the 8-byte header
    std::uint64_t size = 0;          // data bytes: the declared size, cut to the file
    friend bool operator==(const Chunk&, const Chunk&) = default;
};

// RF64/BW64 (WAV past 4 GiB): the 64-bit sizes of the first chunk, `ds64`, which stand for
// size fields of 0xFFFFFFFF: the form's, the audio's, and a table for any other chunk.
struct Sizes64 {
    std::uint64_t riff = 0;
    std::uint64_t data = 0;
    std::vector<std::pair<std::string, std::uint64_t>> table;
};

struct Parsed {
    Bytes head;  // the first 12 bytes of the file
    std::vector<Chunk> chunks;
    // Bytes after the last chunk that are no chunks: fewer than 8 at the end, or whatever follows
    // the declared end of the form (an ID3v1 tag, say). A rewrite keeps them as they are, after
    // the chunks, inside the form or after it as they were.
    ByteRange trailing;
    bool trailingInForm = false;
    std::optional<Sizes64> sizes64;  // an RF64/BW64 file
};

// `little`: true for WAV (RF64 and BW64 included), false for AIFF. The chunks must follow one
// another to the end of the file (or of the form, with the rest kept as trailing bytes); a file
// whose walk is ambiguous or does not get there, or whose audio chunk has no usable size, is
// refused. Throws TagError.
Parsed parse(const FileIn& in, bool little);

// True for "id3 " in any letter case.
bool isID3Chunk(const std::string& id);

// The tag of the first ID3 chunk whose tag holds a TSRC frame, else of the first ID3 chunk that
// holds a tag; none without one.
std::optional<id3v2::Tag> existingTag(const FileIn& in, const std::vector<Chunk>& chunks);

// The first code in a WAV's `axml` chunks, or none.
std::optional<std::string> axmlCode(const FileIn& in, const std::vector<Chunk>& chunks);

// The audio: the content of the `data` (WAV) or `SSND` (AIFF) chunk; none without one.
std::vector<ByteRange> audioRanges(const FileIn& in, bool little);

// Every code the file carries: its ID3 chunks ("ID3 TSRC", "second ID3 chunk TSRC", ...) and,
// in a WAV, its `axml` chunks and the INFO source field (report only).
Carriers carriers(const FileIn& in, bool little);

// Streams the complete new file: every chunk copied but the ID3 chunk read by existingTag, whose
// rebuilt tag goes last; another ID3 chunk holding a code is rebuilt in place with the same code
// (or none), and so is every `axml` chunk that holds one; every other chunk is kept as it is.
// `addAxml`: a WAV without an `axml` chunk gains one holding the code, before the ID3 chunk.
void write(const FileIn& in, FileOut& out, bool little, const std::optional<std::string>& isrc,
           bool addAxml = false);

}  // namespace pelorix::formats::chunks
