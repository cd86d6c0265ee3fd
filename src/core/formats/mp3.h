// SPDX-License-Identifier: MIT
#pragma once
// MP3 files: leading ID3v2 tags (usually one; demuxers skip any number in a row), then the audio
// frames.

#include <optional>
#include <string>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::mp3 {

// The code of the first leading tag that holds one.
std::optional<std::string> readISRC(const FileIn& in);
// The codes of every leading tag: "ID3 TSRC", "second ID3 tag TSRC", ...
Carriers carriers(const FileIn& in);
// The first leading tag is rebuilt with the code set (or removed); a later leading tag that holds
// a code (TSRC or TXXX "ISRC") gets the same treatment, and every other byte is copied as it is.
void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc);
// Where the audio starts: after the last of the leading tags.
std::uint64_t audioOffset(const FileIn& in);

}  // namespace pelorix::formats::mp3
