// SPDX-License-Identifier: MIT
#pragma once
// MP3 files: an optional leading ID3v2 tag, then the audio frames.

#include <optional>
#include <string>

#include "core/io/binary_io.h"

namespace pelorix::MP3Tagger {

std::optional<std::string> readISRC(const FileIn& in);
void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc);

}  // namespace pelorix::MP3Tagger
