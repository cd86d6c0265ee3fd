// SPDX-License-Identifier: MIT
#pragma once
// The digest of a lossless file's samples, as FLAC stores it in STREAMINFO: MD5 over the samples
// interleaved, signed, little-endian, in whole bytes per sample. A WAV or AIFF master and the FLAC
// made from it have the same digest, and it is found without decoding anything.

#include <optional>
#include <string>

#include "core/formats/format.h"

namespace pelorix {
class FileIn;
}

namespace pelorix::recordings {

// 32 lower-case hexadecimal digits; none for a lossy file, a FLAC that stored no digest, or
// audio that is not integer samples (floating point, compressed AIFF-C). WAV and AIFF are read
// to the end in pieces. Throws TagError or std::system_error.
std::optional<std::string> sampleDigest(const FileIn& in, formats::AudioFormat format);

}  // namespace pelorix::recordings
