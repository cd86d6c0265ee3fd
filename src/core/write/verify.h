// SPDX-License-Identifier: MIT
#pragma once
// The checks a new file passes before it may replace the original: the code reads back, and
// the audio is the original's, byte for byte.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/formats/detect.h"
#include "core/io/binary_io.h"

namespace pelorix::write {

// The audio of a file as one byte stream: its ranges concatenated, read in pieces of at most
// 1 MiB. The part of a range beyond the end of the file is simply absent, not an error.
class AudioStream {
  public:
    AudioStream(const FileIn& in, std::vector<ByteRange> ranges)
        : in_(in), ranges_(std::move(ranges)) {}

    // The next piece; empty once the audio is exhausted. Valid until the next call.
    std::span<const std::uint8_t> next();
    // Where the next byte of the stream lies in the file, and how many follow it in the same
    // range; none once the audio is exhausted.
    std::optional<ByteRange> ahead();
    // Passes over `count` bytes of the current range (at most ahead()'s length) unread.
    void skip(std::uint64_t count);
    const FileIn& file() const { return in_; }

  private:
    std::size_t pieceSize() const;

    const FileIn& in_;
    std::vector<ByteRange> ranges_;
    std::size_t index_ = 0;
    bool advised_ = false;  // the current range was announced as a sequential read
    Bytes buffer_;
};

// Throws TagError (verifyISRC, verifyAudio) unless the written file, read as `format` (the
// original's: a temporary file's name says nothing about its format), holds `isrc` (in every
// carrier, report-only ones aside; none in any for a removal) and the
// same audio as the original's `audioBefore`. Audio in `shared` ranges (blocks the written file
// shares with the original) is proven equal by the filesystem's map of both files, and read
// only where that map cannot prove it.
void verifyWritten(const FileIn& original, const std::vector<ByteRange>& audioBefore,
                   const FileIn& written, AudioFormat format,
                   const std::optional<std::string>& isrc,
                   const std::vector<FileOut::Shared>& shared = {});

}  // namespace pelorix::write
