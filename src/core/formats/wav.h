// SPDX-License-Identifier: MIT
#pragma once
// WAV files (RIFF/WAVE, RF64 and BW64 past 4 GiB): the code in an "id3 " chunk's TSRC frame, or
// in a Broadcast WAV `axml` chunk; the chunk walk is chunks'.

#include <optional>
#include <string>
#include <vector>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::wav {

// "RIFF", "RF64" or "BW64", then "WAVE".
bool matches(const FileIn& in, const Bytes& head);
// The code of the ID3 chunk read by chunks::existingTag, else the first code in an `axml` chunk.
std::optional<std::string> readISRC(const FileIn& in);
// Its ID3 chunks, `axml` chunks and the INFO source field (report only).
Carriers carriers(const FileIn& in);
// As chunks::write; `addAxml`: a file without an `axml` chunk gains one holding the code.
void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc, bool addAxml);
// The `data` chunk's content.
std::vector<ByteRange> audioRanges(const FileIn& in);

}  // namespace pelorix::formats::wav
