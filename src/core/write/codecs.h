// SPDX-License-Identifier: MIT
#pragma once
// The write procedure's one door into the container codecs: read the code, write a new file,
// and say where the audio lies, for each format.

#include <optional>
#include <string>
#include <vector>

#include "core/formats/detect.h"
#include "core/io/binary_io.h"

namespace pelorix::write {

std::optional<std::string> readCode(AudioFormat format, const FileIn& in);
void writeCode(AudioFormat format, const FileIn& in, FileOut& out,
               const std::optional<std::string>& isrc);
std::vector<ByteRange> audioRanges(const FileIn& in, AudioFormat format);

}  // namespace pelorix::write
