// SPDX-License-Identifier: MIT
#pragma once
// A byte builder for ID3v2 tags, for tests: frames with any flags and size fields, tag-level and
// per-frame unsynchronisation, extended headers, footers and padding.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"

namespace pelorix::test::id3 {

struct FrameLayout {
    std::string id{};                             // 4 bytes as written, not validated
    Bytes body{};                                 // the content a reader should see, decoded
    std::uint8_t status = 0;                      // first flag byte
    std::uint8_t format = 0;                      // second flag byte, written as given
    bool unsync = false;                          // v4: body stored unsynchronised, format 0x02
    std::optional<std::uint32_t> declaredSize{};  // overrides the size field, written plain
};

struct TagLayout {
    std::uint8_t version = 3;
    std::uint8_t revision = 0;
    std::vector<FrameLayout> frames{};
    // v3: the whole body unsynchronised. v4: every frame body (sizes count the stored bytes),
    // each frame's format byte as given. Sets header flag 0x80.
    bool unsync = false;
    Bytes extendedHeader{};   // before the frames; non-empty sets flag 0x40
    bool footer = false;      // "3DI" footer, flag 0x10
    std::size_t padding = 0;  // zero bytes after the frames
};

// The encoding byte followed by `text` exactly as given.
Bytes textBody(std::uint8_t encoding, const std::string& text);
FrameLayout textFrame(const std::string& id, const std::string& text, std::uint8_t encoding = 0);
Bytes tag(const TagLayout& layout);
// `count` bytes that look like MPEG audio: a frame sync every 417 bytes, all byte values.
Bytes fakeAudio(std::size_t count, std::uint32_t seed = 1);

}  // namespace pelorix::test::id3
