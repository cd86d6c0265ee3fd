// SPDX-License-Identifier: MIT
#include "core/recordings/digest.h"

#include <openssl/evp.h>
#include <xxhash.h>
#if PELORIX_XXH3_DISPATCH
#include <xxh_x86dispatch.h>  // XXH3_128bits_update: the widest vector unit the processor has
#endif

#include <algorithm>
#include <memory>

#include "core/formats/id3v2.h"
#include "core/recordings/chromaprint.h"
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

using Md5 = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Md5 md5() {
    Md5 ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || !EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr)) {
        throw TagError::io("The sample digest could not be computed.");
    }
    return ctx;
}

std::string finish(EVP_MD_CTX* ctx) {
    std::uint8_t md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx, md, &len);
    return hex(md, len);
}

// Gives `add` `length` bytes of stored samples from `offset` (whole frames) in canonical form.
template <typename Add>
void canonicalSamples(const FileIn& in, const PcmLayout& layout, std::uint64_t offset,
                      std::uint64_t length, Add add) {
    const Canonical canonical(layout);
    // Whole frames in every piece, so no sample straddles two.
    const std::uint64_t frame = std::uint64_t(layout.channels) * layout.containerBytes;
    const std::uint64_t piece = kPieceSize / frame * frame;
    in.adviseSequential(offset, length);
    // One buffer for the whole pass, never cleared: each piece overwrites it.
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(piece);
    Bytes converted;
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t n = std::min(piece, length - done);
        if (in.readInto(offset + done, buffer.get(), n) != n) {
            throw TagError::malformed(msg::fileEnded);
        }
        if (canonical.identity()) {
            add(buffer.get(), n);
        } else {
            canonical.convert(buffer.get(), n, converted);
            add(converted.data(), converted.size());
        }
        // The pages stay cached: a write that asked for this digest reads them next.
        done += n;
    }
}

void hashSamples(const FileIn& in, const PcmLayout& layout, std::uint64_t offset,
                 std::uint64_t length, EVP_MD_CTX* ctx) {
    canonicalSamples(in, layout, offset, length,
                     [&](const std::uint8_t* p, std::size_t n) { EVP_DigestUpdate(ctx, p, n); });
}

// XXH3's 128 bits, in its canonical (big-endian) byte order.
class Xxh3 {
  public:
    Xxh3() : state_(XXH3_createState(), XXH3_freeState) {
        if (!state_ || XXH3_128bits_reset(state_.get()) != XXH_OK) {
            throw TagError::io("The sample digest could not be computed.");
        }
    }
    void add(const void* p, std::size_t n) { XXH3_128bits_update(state_.get(), p, n); }
    std::string finish() const {
        XXH128_canonical_t c;
        XXH128_canonicalFromHash(&c, XXH3_128bits_digest(state_.get()));
        return hex(c.digest, sizeof c.digest);
    }

  private:
    std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> state_;
};

std::optional<std::string> pcmHash(const FileIn& in, bool little) {
    const auto layout = pcmLayout(in, little);
    if (!layout || !layout->integer) return std::nullopt;
    Xxh3 h;
    canonicalSamples(in, *layout, layout->audio.offset, layout->audio.length,
                     [&](const std::uint8_t* p, std::size_t n) { h.add(p, n); });
    return h.finish();
}

std::optional<std::string> pcmDigest(const FileIn& in, bool little) {
    const auto layout = pcmLayout(in, little);
    if (!layout || !layout->integer) return std::nullopt;
    const Md5 ctx = md5();
    hashSamples(in, *layout, layout->audio.offset, layout->audio.length, ctx.get());
    return finish(ctx.get());
}

std::optional<SampleKey> pcmKey(const FileIn& in, bool little) {
    const auto layout = pcmLayout(in, little);
    if (!layout || !layout->integer) return std::nullopt;
    const std::uint64_t frame = std::uint64_t(layout->channels) * layout->containerBytes;
    const std::uint64_t frames = layout->audio.length / frame;
    SampleKey key;
    key.frameBytes = layout->channels * ((layout->validBits + 7) / 8);
    key.bytes = frames * key.frameBytes;
    // The middle rather than the start, which is silence in many masters; counted in canonical
    // frames, so that files storing the same samples differently look at the same ones.
    const std::uint64_t take =
        std::min(frames, std::max<std::uint64_t>(1, kKeyBytes / key.frameBytes));
    const std::uint64_t from = (frames - take) / 2;
    const Md5 ctx = md5();
    hashSamples(in, *layout, layout->audio.offset + from * frame, take * frame, ctx.get());
    key.middle = finish(ctx.get());
    return key;
}

std::optional<SampleKey> flacKey(const FileIn& in, bool middle) {
    std::uint64_t pos = 0;
    if (const auto id3 = formats::id3v2::totalSize(in.read(0, 10))) pos = *id3;
    const Bytes head = in.read(pos, 4 + 4 + 34);
    if (head.size() < 42 || fourCC(head, 0) != "fLaC" || (head[4] & 0x7F) != 0) {
        throw TagError::malformed(msg::fileEnded);
    }
    // STREAMINFO from byte 10: rate (20 bits), channels - 1 (3), bits - 1 (5), samples (36).
    const std::uint8_t* b = head.data() + 8 + 10;
    std::uint64_t packed = 0;
    for (int i = 0; i < 8; ++i) packed = (packed << 8) | b[i];
    const unsigned channels = unsigned((packed >> 41) & 7) + 1;
    const unsigned bits = unsigned((packed >> 36) & 31) + 1;
    const std::uint64_t samples = packed & ((std::uint64_t(1) << 36) - 1);
    SampleKey key{samples * ((bits + 7) / 8) * channels, channels * ((bits + 7) / 8), {}};
    // The same piece of the middle as a WAV's, where libFLAC can decode it.
    if (middle && samples > 0) {
        const std::uint64_t take =
            std::min(samples, std::max<std::uint64_t>(1, kKeyBytes / key.frameBytes));
        if (const auto piece = flacSamples(in, (samples - take) / 2, take);
            piece && piece->size() == take * key.frameBytes) {
            const Md5 ctx = md5();
            EVP_DigestUpdate(ctx.get(), piece->data(), piece->size());
            key.middle = finish(ctx.get());
        }
    }
    return key;
}

// Decoded a piece at a time, where libFLAC is installed.
std::optional<std::string> flacHash(const FileIn& in) {
    const auto key = flacKey(in, false);
    if (!key || key->bytes == 0 || key->frameBytes == 0) return std::nullopt;
    const std::uint64_t frames = key->bytes / key->frameBytes;
    const std::uint64_t piece = std::max<std::uint64_t>(1, kPieceSize * 4 / key->frameBytes);
    Xxh3 h;
    for (std::uint64_t from = 0; from < frames; from += piece) {
        const std::uint64_t n = std::min(piece, frames - from);
        const auto samples = flacSamples(in, from, n);
        if (!samples || samples->size() != n * key->frameBytes) return std::nullopt;
        h.add(samples->data(), samples->size());
    }
    return h.finish();
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

std::optional<std::string> sampleHash(const FileIn& in, formats::AudioFormat format) {
    switch (format) {
        case formats::AudioFormat::flac:
            return flacHash(in);
        case formats::AudioFormat::wav:
            return pcmHash(in, true);
        case formats::AudioFormat::aiff:
            return pcmHash(in, false);
        case formats::AudioFormat::mp3:
        case formats::AudioFormat::m4a:
            break;
    }
    return std::nullopt;
}

std::optional<SampleKey> sampleKey(const FileIn& in, formats::AudioFormat format, bool flacMiddle) {
    switch (format) {
        case formats::AudioFormat::flac:
            return flacKey(in, flacMiddle);
        case formats::AudioFormat::wav:
            return pcmKey(in, true);
        case formats::AudioFormat::aiff:
            return pcmKey(in, false);
        case formats::AudioFormat::mp3:
        case formats::AudioFormat::m4a:
            break;
    }
    return std::nullopt;
}

bool SampleKey::mayMatch(const SampleKey& other) const {
    if (bytes != 0 && other.bytes != 0 && bytes != other.bytes) return false;
    // Pieces from the middle lie at the same place only in frames of one size.
    return middle.empty() || other.middle.empty() || frameBytes != other.frameBytes ||
           middle == other.middle;
}

}  // namespace pelorix::recordings
