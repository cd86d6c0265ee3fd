// SPDX-License-Identifier: MIT
#pragma once
// A byte builder for FLAC metadata chains, for tests: blocks of any type, hand-set last-block
// flags and lengths, Vorbis comment blocks, and a leading ID3v2 tag.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"

namespace pelorix::test::flac {

struct BlockLayout {
    BlockLayout(std::uint8_t type_ = 0, Bytes data_ = {}, std::optional<bool> last_ = std::nullopt,
                std::optional<std::uint32_t> declared = std::nullopt)
        : type(type_), data(std::move(data_)), last(last_), declaredSize(declared) {}
    std::uint8_t type = 0;
    Bytes data;
    std::optional<bool> last;                   // default: set on the final block only
    std::optional<std::uint32_t> declaredSize;  // overrides the 24-bit length
};

struct FileLayout {
    Bytes leading;  // bytes before "fLaC", normally an ID3v2 tag
    std::vector<BlockLayout> blocks;
    Bytes audio;  // bytes after the last block
};

Bytes file(const FileLayout& layout);
// A 34-byte STREAMINFO for 44.1 kHz stereo 16-bit.
BlockLayout streamInfo();
BlockLayout padding(std::size_t size);
// VORBIS_COMMENT data; `count` overrides the stored entry count.
Bytes commentData(const std::string& vendor, const std::vector<std::string>& entries,
                  std::optional<std::uint32_t> count = std::nullopt);
BlockLayout comments(const std::string& vendor, const std::vector<std::string>& entries);

}  // namespace pelorix::test::flac
