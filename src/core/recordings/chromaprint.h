// SPDX-License-Identifier: MIT
#pragma once
// Chromaprint's library, used in this process for the audio PELORIX reads itself (the integer
// samples of WAV, RF64, BW64, AIFF and AIFF-C) and for FLAC, decoded by libFLAC. Both are loaded
// when first needed, so a machine without them still runs everything else: those files are then
// heard by `fpcalc`, or not at all.

#include <cstdint>
#include <optional>
#include <vector>

#include "core/io/binary_io.h"
#include "core/recordings/pcm.h"

namespace pelorix {
class FileIn;
}

namespace pelorix::recordings {

// Whether the library could be loaded (`PELORIX_CHROMAPRINT` names another file, or, empty,
// says there is none).
bool haveChromaprint();

// The raw fingerprint of the first `seconds` of the samples `layout` describes; none when the
// library is missing or the samples are not integers. The audio is mixed to one channel and
// reduced to the rate Chromaprint works at before it is handed over. Throws TagError or
// std::system_error when the file cannot be read.
std::optional<std::vector<std::uint32_t>> fingerprintSamples(const FileIn& in,
                                                             const PcmLayout& layout, int seconds);

// The same for a FLAC file, decoded by libFLAC (where the build saw its header and the machine
// has the library). None when either library is missing or the stream does not decode.
std::optional<std::vector<std::uint32_t>> fingerprintFlac(const FileIn& in, int seconds);

// `count` frames of a FLAC's samples from frame `from`, decoded by libFLAC, in the form its MD5
// covers (interleaved, little-endian, whole bytes per sample). None where libFLAC is missing or
// the stream does not decode there.
std::optional<Bytes> flacSamples(const FileIn& in, std::uint64_t from, std::uint64_t count);

}  // namespace pelorix::recordings
