// SPDX-License-Identifier: MIT
#include "core/write/verify.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/formats/carriers.h"
#include "core/io/clone.h"
#include "core/io/same_bytes.h"
#include "core/io/sys.h"
#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::write {

namespace {

// How many bytes from the streams' current places are proven equal: both lie at the same
// distance into one proven shared range, which the skip may not leave.
std::uint64_t provenAhead(AudioStream& a, AudioStream& b,
                          const std::vector<FileOut::Shared>& proven) {
    const auto ra = a.ahead(), rb = b.ahead();
    if (!ra || !rb) return 0;
    for (const FileOut::Shared& s : proven) {
        if (ra->offset < s.from || ra->offset - s.from >= s.length) continue;
        const std::uint64_t into = ra->offset - s.from;
        if (rb->offset != s.at + into) continue;
        return std::min({s.length - into, ra->length, rb->length});
    }
    return 0;
}

// The stretch of a file from `at` on: a hole (it reads as zeros, no block holds it) or data,
// and how far it reaches; none where the filesystem cannot tell.
struct Stretch {
    bool hole = false;
    std::uint64_t length = 0;
};
std::optional<Stretch> stretchAt(const FileIn& in, std::uint64_t at) {
    const off_t hole = sys::seek(in.fd(), off_t(at), SEEK_HOLE);
    if (hole < 0 || std::uint64_t(hole) < at) return std::nullopt;
    if (std::uint64_t(hole) > at) return Stretch{false, std::uint64_t(hole) - at};
    off_t data = sys::seek(in.fd(), off_t(at), SEEK_DATA);
    if (data < 0 && errno == ENXIO) data = off_t(in.size());
    if (data < 0 || std::uint64_t(data) <= at) return std::nullopt;
    return Stretch{true, std::uint64_t(data) - at};
}

// How many bytes from both streams' current places lie in holes of both files (equal zeros,
// passed over unread); 0 where either holds data there. `dataAhead`: how far both hold data.
std::uint64_t inBothHoles(AudioStream& a, AudioStream& b, std::uint64_t& dataAhead) {
    dataAhead = 0;
    const auto ra = a.ahead(), rb = b.ahead();
    if (!ra || !rb) return 0;
    const auto sa = stretchAt(a.file(), ra->offset), sb = stretchAt(b.file(), rb->offset);
    if (!sa || !sb) return 0;
    const std::uint64_t n = std::min({sa->length, sb->length, ra->length, rb->length});
    if (!sa->hole && !sb->hole) dataAhead = n;
    return sa->hole && sb->hole ? n : 0;
}

// Compares the bytes from both streams' current places as far as both ranges go and both files
// hold data, up to the next proven range, in one pass of large reads; how many were found equal
// (0 when they differ or could not be compared this way; the streams then read the bytes).
std::uint64_t sameInOnePass(AudioStream& a, AudioStream& b,
                            const std::vector<FileOut::Shared>& proven, std::uint64_t dataAhead,
                            bool& differ) {
    constexpr std::uint64_t kWorthAPass = 256 << 10;
    const auto ra = a.ahead(), rb = b.ahead();
    if (!ra || !rb) return 0;
    std::uint64_t n = std::min({ra->length, rb->length, dataAhead});
    for (const FileOut::Shared& s : proven) {
        if (s.from > ra->offset) n = std::min(n, s.from - ra->offset);
    }
    if (n < kWorthAPass) return 0;
    const auto same = sameBytes(a.file(), ra->offset, b.file(), rb->offset, n);
    if (!same) return 0;
    differ = !*same;
    return *same ? n : 0;
}

// True when both streams hold the same bytes: the same verdict as comparing their SHA-256
// digests, without the hashing and without the (theoretical) chance of a collision. Where both
// streams stand in a proven range, its bytes are passed over.
bool sameAudio(AudioStream& a, AudioStream& b, const std::vector<FileOut::Shared>& proven) {
    std::span<const std::uint8_t> pa, pb;
    for (;;) {
        if (pa.empty() && pb.empty()) {
            std::uint64_t n = proven.empty() ? 0 : provenAhead(a, b, proven);
            std::uint64_t dataAhead = 0;
            if (n == 0) n = inBothHoles(a, b, dataAhead);
            bool differ = false;
            if (n == 0) n = sameInOnePass(a, b, proven, dataAhead, differ);
            if (differ) return false;
            if (n > 0) {
                a.skip(n);
                b.skip(n);
                continue;
            }
        }
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

void verifyWritten(const FileIn& original, const std::vector<ByteRange>& audioBefore,
                   const FileIn& written, formats::AudioFormat format,
                   const std::optional<std::string>& isrc,
                   const std::vector<FileOut::Shared>& shared) {
    if (!sameCode(formats::format(format).read(written), isrc)) throw TagError::io(msg::verifyISRC);
    // Every other place that holds a code holds this one: a write leaves no second code behind.
    for (const formats::Carrier& c : formats::format(format).carriers(written)) {
        if (c.reportOnly || text::trimWhitespaceAndNewlines(c.text).empty()) continue;
        if (!isrc || !sameCode(c.text, isrc)) throw TagError::io(msg::verifyISRC);
    }
    std::vector<FileOut::Shared> proven;
    for (const FileOut::Shared& s : shared) {
        if (clone::sameExtents(original.fd(), s.from, written.fd(), s.at, s.length)) {
            proven.push_back(s);
        }
    }
    AudioStream before(original, audioBefore);
    AudioStream after(written, formats::format(format).audioRanges(written));
    if (!sameAudio(before, after, proven)) throw TagError::io(msg::verifyAudio);
}

}  // namespace pelorix::write
