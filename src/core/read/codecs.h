// SPDX-License-Identifier: MIT
#pragma once
// The one door into the container codecs: read the code, write a new file,
// and say where the audio lies, for each format.

#include <optional>
#include <string>
#include <vector>

#include "core/formats/detect.h"
#include "core/io/binary_io.h"

namespace pelorix::read {

// The code the file is read as: its main carrier's (TSRC, Vorbis ISRC, the iTunes item), or in a
// WAV without one, the first code in its `axml` chunk.
std::optional<std::string> readCode(formats::AudioFormat format, const FileIn& in);
// Writes the code to every carrier that holds one (or removes it from each). `addAxml`: a WAV
// without an `axml` chunk gains one too.
void writeCode(formats::AudioFormat format, const FileIn& in, FileOut& out,
               const std::optional<std::string>& isrc, bool addAxml = false);
std::vector<ByteRange> audioRanges(const FileIn& in, formats::AudioFormat format);

}  // namespace pelorix::read
