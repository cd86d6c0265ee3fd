// SPDX-License-Identifier: MIT
#pragma once
// A byte builder for ID3v2 tags, for tests: frames with any flags, footers and padding.

#include <cstdint>
#include <string>
#include <vector>

#include "support/files.h"

namespace pelorix::test::id3 {

struct FrameLayout {
    std::string id{};         // 4 bytes as written, not validated
    Bytes body{};             // stored as given
    std::uint8_t status = 0;  // first flag byte
    std::uint8_t format = 0;  // second flag byte
};

struct TagLayout {
    std::uint8_t version = 3;
    std::vector<FrameLayout> frames{};
    bool footer = false;      // "3DI" footer, flag 0x10
    std::size_t padding = 0;  // zero bytes after the frames
};

// A frame of `text` after its encoding byte, exactly as given.
FrameLayout textFrame(const std::string& id, const std::string& text, std::uint8_t encoding = 0);
Bytes tag(const TagLayout& layout);
// `count` bytes that look like MPEG audio: a frame sync every 417 bytes, all byte values.
Bytes fakeAudio(std::size_t count, std::uint32_t seed = 1);

}  // namespace pelorix::test::id3
