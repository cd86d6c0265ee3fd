// SPDX-License-Identifier: MIT
#pragma once
// A byte builder for FLAC metadata chains, for tests: blocks of any type, Vorbis comment blocks,
// and a leading ID3v2 tag.

#include <cstdint>
#include <string>
#include <vector>

#include "support/files.h"

namespace pelorix::test::flac {

struct BlockLayout {
    std::uint8_t type = 0;
    Bytes data;  // the last block gets the last-block flag
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
BlockLayout comments(const std::string& vendor, const std::vector<std::string>& entries);

}  // namespace pelorix::test::flac
