// SPDX-License-Identifier: MIT
#pragma once
// AIFF and AIFF-C files: the code in an "ID3 " chunk's TSRC frame; the chunk walk is chunks'.

#include <optional>
#include <string>
#include <vector>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::aiff {

// "FORM", then "AIFF" or "AIFC".
bool matches(const FileIn& in, const Bytes& head);
// The code of the ID3 chunk read by chunks::existingTag, or none.
std::optional<std::string> readISRC(const FileIn& in);
// Its ID3 chunks.
Carriers carriers(const FileIn& in);
// As chunks::write.
void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc);
// The `SSND` chunk's content.
std::vector<ByteRange> audioRanges(const FileIn& in);

}  // namespace pelorix::formats::aiff
