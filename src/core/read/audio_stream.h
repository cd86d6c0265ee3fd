// SPDX-License-Identifier: MIT
#pragma once
// A file's audio read as one byte stream, for its fingerprint and for the write's audio check.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/io/binary_io.h"

namespace pelorix::read {

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

}  // namespace pelorix::read
