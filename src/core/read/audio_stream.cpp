// SPDX-License-Identifier: MIT
#include "core/read/audio_stream.h"

#include <algorithm>

#include "core/io/sys.h"

namespace pelorix::read {

std::span<const std::uint8_t> AudioStream::next() {
    while (index_ < ranges_.size()) {
        ByteRange& r = ranges_[index_];
        if (r.length == 0 || r.offset >= in_.size()) {
            ++index_;
            advised_ = false;
            continue;
        }
        if (buffer_.empty()) buffer_.resize(pieceSize());
        if (!advised_) in_.adviseSequential(r.offset, r.length);
        advised_ = true;
        const auto want =
            std::size_t(std::min<std::uint64_t>({r.length, in_.size() - r.offset, buffer_.size()}));
        const std::size_t n = sys::preadAll(in_.fd(), buffer_.data(), want, r.offset);
        // A short read: the file shrank since it was opened, and this range ends here.
        r.offset += n;
        r.length = n < want ? 0 : r.length - n;
        if (n > 0) return {buffer_.data(), n};
    }
    return {};
}

std::optional<ByteRange> AudioStream::ahead() {
    while (index_ < ranges_.size()) {
        const ByteRange& r = ranges_[index_];
        if (r.length > 0 && r.offset < in_.size()) {
            return ByteRange{r.offset, std::min(r.length, in_.size() - r.offset)};
        }
        ++index_;
        advised_ = false;
    }
    return std::nullopt;
}

void AudioStream::skip(std::uint64_t count) {
    ByteRange& r = ranges_[index_];
    r.offset += count;
    r.length -= count;
    advised_ = false;
}

// 1 MiB, or less for less audio: a small file need not clear and fault in a whole piece.
std::size_t AudioStream::pieceSize() const {
    std::uint64_t total = 0;
    for (std::size_t i = index_; i < ranges_.size() && total < kPieceSize; ++i) {
        total += std::min(ranges_[i].length, kPieceSize);
    }
    return std::size_t(std::min<std::uint64_t>(total, kPieceSize));
}

}  // namespace pelorix::read
