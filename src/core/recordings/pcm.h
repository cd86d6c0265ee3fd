// SPDX-License-Identifier: MIT
#pragma once
// Where the samples of a WAV (RF64, BW64) or AIFF (AIFF-C) file lie and how they are stored, from
// its format chunk (`fmt `, `COMM`).

#include <cstdint>
#include <optional>

#include "core/io/binary_io.h"

namespace pelorix::recordings {

struct PcmLayout {
    ByteRange audio;  // whole sample frames only
    unsigned channels = 0;
    unsigned containerBytes = 0;  // bytes each sample occupies
    unsigned validBits = 0;       // of which the significant bits (left-justified)
    bool bigEndian = false;
    bool unsignedSamples = false;  // 8-bit WAV
    // Integer samples FLAC could hold: no compression, no floating point.
    bool integer = false;
    double rate = 0;
    double seconds = 0;
};

// None when the file has no usable format or audio chunk. Throws TagError for a file whose
// chunks do not walk.
std::optional<PcmLayout> pcmLayout(const FileIn& in, bool little);

}  // namespace pelorix::recordings
