// SPDX-License-Identifier: MIT
#include "core/write/verify.h"

#include <algorithm>
#include <cstring>

#include "core/io/sys.h"
#include "core/io/text.h"
#include "core/tag_error.h"
#include "core/write/codecs.h"

namespace pelorix::write {

namespace {

// True when both streams hold the same bytes: the same verdict as comparing their SHA-256
// digests, without the hashing and without the (theoretical) chance of a collision.
bool sameAudio(AudioStream& a, AudioStream& b) {
    std::span<const std::uint8_t> pa, pb;
    for (;;) {
        if (pa.empty()) pa = a.next();
        if (pb.empty()) pb = b.next();
        if (pa.empty() || pb.empty()) return pa.empty() && pb.empty();
        const std::size_t n = std::min(pa.size(), pb.size());
        if (std::memcmp(pa.data(), pb.data(), n) != 0) return false;
        pa = pa.subspan(n);
        pb = pb.subspan(n);
    }
}

bool sameCode(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b) return !a && !b;
    return text::canonicallyEqual(*a, *b);
}

}  // namespace

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

// 1 MiB, or less for less audio: a small file need not clear and fault in a whole piece.
std::size_t AudioStream::pieceSize() const {
    std::uint64_t total = 0;
    for (std::size_t i = index_; i < ranges_.size() && total < kPieceSize; ++i) {
        total += std::min(ranges_[i].length, kPieceSize);
    }
    return std::size_t(std::min<std::uint64_t>(total, kPieceSize));
}

void verifyWritten(const FileIn& original, const std::vector<ByteRange>& audioBefore,
                   const FileIn& written, AudioFormat format,
                   const std::optional<std::string>& isrc) {
    if (!sameCode(readCode(format, written), isrc)) throw TagError::io(msg::verifyISRC);
    AudioStream before(original, audioBefore);
    AudioStream after(written, audioRanges(written, format));
    if (!sameAudio(before, after)) throw TagError::io(msg::verifyAudio);
}

}  // namespace pelorix::write
