// SPDX-License-Identifier: MIT
#pragma once
// RIFF/WAVE (little-endian, "id3 " chunk) and AIFF/AIFF-C (big-endian, "ID3 " chunk) files.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/formats/id3v2.h"
#include "core/io/binary_io.h"

namespace pelorix::ChunkFile {

struct Chunk {
    std::string id;                  // 4 characters, as fourCC reads them
    std::uint64_t headerOffset = 0;  // file offset of the 8-byte header
    std::uint64_t size = 0;          // data bytes: the declared size, cut to the file
    friend bool operator==(const Chunk&, const Chunk&) = default;
};

struct Parsed {
    Bytes head;  // the first 12 bytes of the file
    std::vector<Chunk> chunks;
};

// `little`: true for WAV, false for AIFF. Throws TagError.
Parsed parse(const FileIn& in, bool little);

// The tag in the first ID3 chunk (any letter case), or none.
std::optional<ID3v2::Tag> existingTag(const FileIn& in, const std::vector<Chunk>& chunks);

// Streams the complete new file: every non-ID3 chunk copied, one new ID3 chunk last.
void write(const FileIn& in, FileOut& out, bool little, const std::optional<std::string>& isrc);

}  // namespace pelorix::ChunkFile
