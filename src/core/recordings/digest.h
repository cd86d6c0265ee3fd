// SPDX-License-Identifier: MIT
#pragma once
// The digest of a lossless file's samples, as FLAC stores it in STREAMINFO: MD5 over the samples
// interleaved, signed, little-endian, in whole bytes per sample. A WAV or AIFF master and the FLAC
// made from it have the same digest, and it is found without decoding anything.

#include <cstdint>
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

// The same samples in the same form under XXH3's 128 bits (32 lower-case hexadecimal digits): what
// the ledger keeps of a WAV or AIFF, whose MD5 would cost more CPU than the write itself. A FLAC's
// is decoded (by libFLAC, where installed; none where not). None where sampleDigest gives none
// for WAV or AIFF, or for a lossy file. Throws TagError or std::system_error.
std::optional<std::string> sampleHash(const FileIn& in, formats::AudioFormat format);

// Bytes of samples a key hashes in the middle of the audio.
inline constexpr std::uint64_t kKeyBytes = 64 * 1024;

// What two lossless files must share before their digests can be equal, found without reading
// the whole file: how many bytes the samples take in canonical form (0: unknown) and, for WAV and
// AIFF, the digest of a piece from the middle (of a FLAC, decoded where libFLAC is installed).
struct SampleKey {
    std::uint64_t bytes = 0;
    unsigned frameBytes = 0;  // one sample of every channel, in canonical form
    std::string middle;
    // False when the two files' sample digests cannot be equal.
    bool mayMatch(const SampleKey& other) const;
};

// None where sampleDigest would give none for WAV or AIFF, or for a lossy file. A FLAC's middle
// is decoded (by libFLAC, where installed) only when `flacMiddle`. Throws TagError or
// std::system_error.
std::optional<SampleKey> sampleKey(const FileIn& in, formats::AudioFormat format,
                                   bool flacMiddle = true);

}  // namespace pelorix::recordings
