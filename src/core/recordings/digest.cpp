// SPDX-License-Identifier: MIT
#include "core/recordings/digest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "core/formats/id3v2.h"
#include "core/recordings/pcm.h"
#include "core/tag_error.h"

namespace pelorix::recordings {
namespace {

std::string hex(const std::uint8_t* d, std::size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += kDigits[d[i] >> 4];
        s += kDigits[d[i] & 15];
    }
    return s;
}

std::optional<std::string> flacDigest(const FileIn& in) {
    std::uint64_t pos = 0;
    if (const auto id3 = formats::id3v2::totalSize(in.read(0, 10))) pos = *id3;
    const Bytes head = in.read(pos, 4 + 4 + 34);
    // STREAMINFO is the first block; its last 16 bytes are the digest.
    if (head.size() < 42 || fourCC(head, 0) != "fLaC" || (head[4] & 0x7F) != 0) {
        throw TagError::malformed(msg::fileEnded);
    }
    const std::uint8_t* md5 = head.data() + 8 + 18;
    if (std::all_of(md5, md5 + 16, [](std::uint8_t b) { return b == 0; })) return std::nullopt;
    return hex(md5, 16);
}

// Turns stored samples into FLAC's form in place (or into `out`): little-endian, signed, the
// significant bits only, in (bits + 7) / 8 bytes.
class Canonical {
  public:
    explicit Canonical(const PcmLayout& p)
        : in_(p.containerBytes),
          out_((p.validBits + 7) / 8),
          shift_(p.containerBytes * 8 - p.validBits),
          big_(p.bigEndian),
          unsigned_(p.unsignedSamples) {}

    // Whether bytes pass unchanged (16- and 24-bit little-endian WAV, the common case).
    bool identity() const { return !big_ && !unsigned_ && shift_ == 0 && in_ == out_; }

    void convert(const std::uint8_t* from, std::size_t count, Bytes& to) const {
        to.resize(count / in_ * out_);
        std::uint8_t* o = to.data();
        for (std::size_t i = 0; i + in_ <= count; i += in_) {
            std::uint32_t u = 0;
            for (unsigned k = 0; k < in_; ++k) {
                const std::uint8_t b = from[i + (big_ ? k : in_ - 1 - k)];
                u = (u << 8) | b;
            }
            if (unsigned_) u ^= 0x80;
            // Sign-extend from the container's top bit, then drop the unused low bits.
            const unsigned unused = 32 - in_ * 8;
            const std::int32_t s = std::int32_t(u << unused) >> (unused + shift_);
            for (unsigned k = 0; k < out_; ++k) *o++ = std::uint8_t(std::uint32_t(s) >> (8 * k));
        }
    }

  private:
    unsigned in_, out_, shift_;
    bool big_, unsigned_;
};

std::optional<std::string> pcmDigest(const FileIn& in, bool little) {
    const auto layout = pcmLayout(in, little);
    if (!layout || !layout->integer) return std::nullopt;
    const Canonical canonical(*layout);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || !EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr)) {
        throw TagError::io("The sample digest could not be computed.");
    }
    // Whole frames in every piece, so no sample straddles two.
    const std::uint64_t frame = std::uint64_t(layout->channels) * layout->containerBytes;
    const std::uint64_t piece = kPieceSize / frame * frame;
    in.adviseSequential(layout->audio.offset, layout->audio.length);
    Bytes converted;
    for (std::uint64_t done = 0; done < layout->audio.length;) {
        const std::uint64_t n = std::min(piece, layout->audio.length - done);
        const Bytes bytes = in.read(layout->audio.offset + done, std::int64_t(n));
        if (bytes.size() != n) throw TagError::malformed(msg::fileEnded);
        if (canonical.identity()) {
            EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size());
        } else {
            canonical.convert(bytes.data(), bytes.size(), converted);
            EVP_DigestUpdate(ctx.get(), converted.data(), converted.size());
        }
        in.adviseDone(layout->audio.offset + done, std::int64_t(n));
        done += n;
    }
    std::uint8_t md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx.get(), md, &len);
    return hex(md, len);
}

}  // namespace

std::optional<std::string> sampleDigest(const FileIn& in, formats::AudioFormat format) {
    switch (format) {
        case formats::AudioFormat::flac:
            return flacDigest(in);
        case formats::AudioFormat::wav:
            return pcmDigest(in, true);
        case formats::AudioFormat::aiff:
            return pcmDigest(in, false);
        case formats::AudioFormat::mp3:
        case formats::AudioFormat::m4a:
            break;
    }
    return std::nullopt;
}

}  // namespace pelorix::recordings
