// SPDX-License-Identifier: MIT
#pragma once
// ID3v2.3/2.4 tags, shared by MP3, WAV and AIFF.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::ID3v2 {

struct Frame {
    std::string id;  // 4 characters, as fourCC reads them
    Bytes flags;     // status byte, format byte
    Bytes body;      // content after the 10-byte header, unsynchronisation undone
    friend bool operator==(const Frame&, const Frame&) = default;
};

struct Tag {
    std::uint8_t version = 3;  // major version: 3 or 4
    std::vector<Frame> frames;
    // Bytes other than padding follow the frames that could be read. Reading takes what it
    // found; a rewrite would lose those bytes, so settingISRC refuses.
    bool damaged = false;
    friend bool operator==(const Tag&, const Tag&) = default;
};

// Bytes the whole tag occupies (header, body, v4 footer), or none when `header` (at least 10
// bytes) does not begin with a usable ID3v2 header. Never fails.
std::optional<std::uint64_t> totalSize(std::span<const std::uint8_t> header);

Bytes removeUnsync(std::span<const std::uint8_t> bytes);

// The complete tag bytes, header included. None when there is no ID3v2 header. Throws TagError.
// A version 4 tag whose frame sizes only walk as plain 32-bit numbers (as some writers store
// them) is read that way.
std::optional<Tag> parse(std::span<const std::uint8_t> tag);

// The stored ISRC text of the first TSRC frame, trimmed, or none. Never fails.
std::optional<std::string> isrc(const Tag& tag);

// True when the tag holds a TSRC frame or a TXXX frame described "ISRC" (any case).
bool holdsCode(const Tag& tag);

// Every code the tag carries, each value of each TSRC frame and each TXXX "ISRC" frame, with
// the place named after `where` ("ID3", "second ID3 tag"). Never fails.
void addCarriers(const Tag& tag, const std::string& where, Carriers& out);

// The bytes of the complete new tag with the TSRC frame replaced (code given) or removed (none),
// and every TXXX "ISRC" frame set to the same code (or removed),
// or none when no tag is to be written at all. Throws TagError::unsupported when the result
// cannot be described by its size fields, and TagError::malformed "The ID3 tag is damaged." for
// a damaged tag.
std::optional<Bytes> settingISRC(const std::optional<Tag>& tag,
                                 const std::optional<std::string>& isrc);

}  // namespace pelorix::ID3v2
