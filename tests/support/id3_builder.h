#pragma once
// A byte builder for ID3v2.3/2.4 tags, for tests: frames with any flags, tag-level and per-frame
// unsynchronisation, extended headers, footers, padding and hand-made size fields.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"

namespace pelorix::test::id3 {

struct FrameSpec {
    std::string id{};             // 4 bytes as written; no validation, so bad ids can be built
    Bytes body{};                 // the content as a reader should see it once decoded
    std::uint8_t status = 0;    // first flag byte
    std::uint8_t format = 0;    // second flag byte, written as given
    bool unsync = false;        // version 4: store the body unsynchronised and set format 0x02
    std::optional<std::uint32_t> declaredSize{};  // overrides the size field (damaged frames)
};

struct TagSpec {
    std::uint8_t version = 3;
    std::uint8_t revision = 0;
    std::vector<FrameSpec> frames{};
    // Version 3: unsynchronise the whole body. Version 4: unsynchronise every frame body (sizes
    // count the stored bytes) and set the header flag, leaving each frame's format byte as given.
    bool unsync = false;
    Bytes extendedHeader{};       // placed before the frames; non-empty sets header flag 0x40
    bool extendedFlag = false;  // sets flag 0x40 even without extended header bytes
    bool footer = false;        // version 4 footer "3DI" (sets flag 0x10)
    std::size_t padding = 0;    // zero bytes after the frames
    Bytes trailing{};             // raw bytes after the frames and before the padding
    std::optional<std::uint32_t> declaredSize{};  // overrides the header's size field
};

// Text frame content: the encoding byte followed by `text` exactly as given.
Bytes textBody(std::uint8_t encoding, const Bytes& text);
Bytes textBody(std::uint8_t encoding, const std::string& text);
FrameSpec textFrame(const std::string& id, const std::string& text, std::uint8_t encoding = 0);

// Inserts 0x00 after every 0xFF that is followed by 0x00, by a byte of 0xE0 or more, or by
// nothing, as writers do.
Bytes unsynchronise(const Bytes& bytes);

// One serialised frame (header and stored body) for the given version, as the tag would hold it.
Bytes frameBytes(const FrameSpec& frame, std::uint8_t version, bool tagUnsync = false);

// The complete tag: header, optional extended header, frames, trailing bytes, padding, footer.
Bytes tag(const TagSpec& spec);

// A minimal, well-formed extended header of each version.
Bytes extendedHeaderV3();
Bytes extendedHeaderV4();

// Some bytes that look like MPEG audio: frame syncs and all byte values, `count` long.
Bytes fakeAudio(std::size_t count, std::uint32_t seed = 1);

}  // namespace pelorix::test::id3
