// SPDX-License-Identifier: MIT
#pragma once
// A byte builder for ID3v2 tags, for tests: frames with any flags, tag-level and per-frame
// unsynchronisation, extended headers, footers, padding and hand-made size fields.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"

namespace pelorix::test::id3 {

struct FrameSpec {
    std::string id{};                             // 4 bytes as written, not validated
    Bytes body{};                                 // the content a reader should see, decoded
    std::uint8_t status = 0;                      // first flag byte
    std::uint8_t format = 0;                      // second flag byte, written as given
    bool unsync = false;                          // v4: body stored unsynchronised, format 0x02
    std::optional<std::uint32_t> declaredSize{};  // overrides the size field
};

struct TagSpec {
    std::uint8_t version = 3;
    std::uint8_t revision = 0;
    std::vector<FrameSpec> frames{};
    // v3: the whole body unsynchronised. v4: every frame body (sizes count the stored bytes),
    // each frame's format byte as given. Sets header flag 0x80.
    bool unsync = false;
    Bytes extendedHeader{};     // before the frames; non-empty sets flag 0x40
    bool extendedFlag = false;  // sets flag 0x40 even without extended header bytes
    bool footer = false;        // "3DI" footer, flag 0x10
    std::size_t padding = 0;    // zero bytes after the frames
    Bytes trailing{};           // raw bytes between the frames and the padding
    std::optional<std::uint32_t> declaredSize{};  // overrides the header's size field
};

// The encoding byte followed by `text` exactly as given.
Bytes textBody(std::uint8_t encoding, const Bytes& text);
Bytes textBody(std::uint8_t encoding, const std::string& text);
FrameSpec textFrame(const std::string& id, const std::string& text, std::uint8_t encoding = 0);
// A 0x00 after every 0xFF that is followed by 0x00, by 0xE0 or more, or by nothing.
Bytes unsynchronise(const Bytes& bytes);
// One frame, header and stored body, as a tag of `version` holds it.
Bytes frameBytes(const FrameSpec& frame, std::uint8_t version, bool tagUnsync = false);
Bytes tag(const TagSpec& layout);
// Minimal well-formed extended headers: v3 (size 6, no CRC) and v4 (size 6, no flags).
Bytes extendedHeaderV3();
Bytes extendedHeaderV4();
// `count` bytes that look like MPEG audio: a frame sync every 417 bytes, all byte values.
Bytes fakeAudio(std::size_t count, std::uint32_t seed = 1);

}  // namespace pelorix::test::id3
