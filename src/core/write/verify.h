// SPDX-License-Identifier: MIT
#pragma once
// The checks a new file passes before it may replace the original: the code reads back, and
// the audio is the original's, byte for byte.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/formats/format.h"
#include "core/io/binary_io.h"
#include "core/read/audio_stream.h"

namespace pelorix::write {

using read::AudioStream;

// Throws TagError (verifyISRC, verifyAudio) unless the written file, read as `format` (the
// original's: a temporary file's name says nothing about its format), holds `isrc` (in every
// carrier, report-only ones aside; none in any for a removal) and the
// same audio as the original's `audioBefore`. Audio in `shared` ranges (blocks the written file
// shares with the original) is proven equal by the filesystem's map of both files, and read
// only where that map cannot prove it.
void verifyWritten(const FileIn& original, const std::vector<ByteRange>& audioBefore,
                   const FileIn& written, formats::AudioFormat format,
                   const std::optional<std::string>& isrc,
                   const std::vector<FileOut::Shared>& shared = {});

}  // namespace pelorix::write
