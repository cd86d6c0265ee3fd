// SPDX-License-Identifier: MIT
#include "core/recordings/chromaprint.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <type_traits>

#include "core/io/binary_io.h"
#include "core/tag_error.h"

// The library's C interface, stable under its soname libchromaprint.so.1. Where its header is
// installed, the compiler checks these declarations against it.
struct ChromaprintContextPrivate;

namespace pelorix::recordings {
namespace {

using Context = ChromaprintContextPrivate;
using NewFn = Context* (*)(int);
using FreeFn = void (*)(Context*);
using StartFn = int (*)(Context*, int, int);
using FeedFn = int (*)(Context*, const std::int16_t*, int);
using FinishFn = int (*)(Context*);
using RawFn = int (*)(Context*, std::uint32_t**, int*);
using DeallocFn = void (*)(void*);

constexpr int kAlgorithm = 1;     // the default one, as fpcalc uses
constexpr int kRate = 11025;      // the rate Chromaprint works at
constexpr double kPassed = 3600;  // its highest note is near 3520 Hz: up to here all passes

}  // namespace
}  // namespace pelorix::recordings

#if __has_include(<FLAC/stream_decoder.h>)
#include <FLAC/stream_decoder.h>
#endif

#if __has_include(<chromaprint.h>)
#include <chromaprint.h>
namespace pelorix::recordings {
static_assert(std::is_same_v<NewFn, decltype(&::chromaprint_new)>);
static_assert(std::is_same_v<FreeFn, decltype(&::chromaprint_free)>);
static_assert(std::is_same_v<StartFn, decltype(&::chromaprint_start)>);
static_assert(std::is_same_v<FeedFn, decltype(&::chromaprint_feed)>);
static_assert(std::is_same_v<FinishFn, decltype(&::chromaprint_finish)>);
static_assert(std::is_same_v<RawFn, decltype(&::chromaprint_get_raw_fingerprint)>);
static_assert(std::is_same_v<DeallocFn, decltype(&::chromaprint_dealloc)>);
static_assert(kAlgorithm == CHROMAPRINT_ALGORITHM_DEFAULT);
}  // namespace pelorix::recordings
#endif

namespace pelorix::recordings {
namespace {

struct Library {
    NewFn create = nullptr;
    FreeFn destroy = nullptr;
    StartFn start = nullptr;
    FeedFn feed = nullptr;
    FinishFn finish = nullptr;
    RawFn raw = nullptr;
    DeallocFn dealloc = nullptr;
    std::mutex contexts;  // creating and freeing a context sets up shared tables
};

template <typename Fn>
bool bind(void* handle, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(::dlsym(handle, name));
    return fn != nullptr;
}

Library* load() {
    std::string name = "libchromaprint.so.1";
    if (const char* named = std::getenv("PELORIX_CHROMAPRINT")) name = named;
    if (name.empty()) return nullptr;
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto lib = std::make_unique<Library>();
    if (!bind(handle, "chromaprint_new", lib->create) ||
        !bind(handle, "chromaprint_free", lib->destroy) ||
        !bind(handle, "chromaprint_start", lib->start) ||
        !bind(handle, "chromaprint_feed", lib->feed) ||
        !bind(handle, "chromaprint_finish", lib->finish) ||
        !bind(handle, "chromaprint_get_raw_fingerprint", lib->raw) ||
        !bind(handle, "chromaprint_dealloc", lib->dealloc)) {
        ::dlclose(handle);
        return nullptr;
    }
    return lib.release();  // kept loaded for the life of the process
}

// Loaded once per name (tests switch between the library and none), kept for the life of the
// process.
Library* library() {
    static std::mutex lock;
    static auto* const loaded = new std::map<std::string, std::unique_ptr<Library>>;
    const char* named = std::getenv("PELORIX_CHROMAPRINT");
    const std::string key = named ? named : "\x02";
    const std::lock_guard hold(lock);
    auto [it, fresh] = loaded->try_emplace(key);
    if (fresh) it->second.reset(load());
    return it->second.get();
}

// Stored samples as one channel of floats in the range of 16 bits.
class Mixer {
  public:
    explicit Mixer(const PcmLayout& p)
        : bytes_(p.containerBytes),
          channels_(p.channels),
          big_(p.bigEndian),
          unsigned_(p.unsignedSamples),
          scale_(1.0f / (65536.0f * float(p.channels))),
          scale16_(1.0f / float(p.channels)) {}

    void mix(const std::uint8_t* from, std::size_t frames, std::vector<float>& to) const {
        to.resize(frames);
        if (bytes_ == 2 && channels_ == 2) {  // the common cases, kept simple
            const unsigned hi = big_ ? 0 : 1;
            for (std::size_t f = 0; f < frames; ++f, from += 4) {
                const auto left = std::int16_t((from[hi] << 8) | from[1 - hi]);
                const auto right = std::int16_t((from[2 + hi] << 8) | from[3 - hi]);
                to[f] = float(std::int32_t(left) + right) * 0.5f;
            }
            return;
        }
        if (bytes_ == 2 && !big_) {
            for (std::size_t f = 0; f < frames; ++f) {
                std::int32_t sum = 0;
                for (unsigned c = 0; c < channels_; ++c, from += 2) {
                    std::int16_t v;
                    std::memcpy(&v, from, 2);
                    sum += v;
                }
                to[f] = float(sum) * scale16_;
            }
            return;
        }
        const unsigned unused = 32 - bytes_ * 8;
        for (std::size_t f = 0; f < frames; ++f) {
            std::int64_t sum = 0;
            for (unsigned c = 0; c < channels_; ++c, from += bytes_) {
                std::uint32_t u = 0;
                for (unsigned k = 0; k < bytes_; ++k)
                    u = (u << 8) | from[big_ ? k : bytes_ - 1 - k];
                if (unsigned_) u ^= 0x80;
                sum += std::int32_t(u << unused);  // left-justified: 32 bits of range
            }
            to[f] = float(sum) * scale_;
        }
    }

  private:
    unsigned bytes_, channels_;
    bool big_, unsigned_;
    float scale_, scale16_;
};

std::int16_t toSample(float v) {
    v = std::clamp(v, -32768.0f, 32767.0f);
    return std::int16_t(v + (v < 0 ? -0.5f : 0.5f));
}

// Keeps every `factor`-th sample after a low-pass filter (a windowed sinc). Only the notes
// Chromaprint listens to must come through clean: what would fold down below kPassed is
// stopped, what lies between that and the new Nyquist frequency may fold onto itself.
class Decimator {
  public:
    Decimator(unsigned factor, double rate) : factor_(factor) {
        const double stop = rate / factor - kPassed;  // folds to kPassed and above
        const double cutoff = (kPassed + stop) / 2 / rate;
        const double width = (stop - kPassed) / rate;
        // A Hamming window stops about 53 dB over a transition 3.3 / taps wide.
        const std::size_t taps = std::size_t(std::ceil(3.3 / width)) | 1;
        // Zeros pad the filter to whole lanes of kLanes.
        taps_.assign((taps + kLanes - 1) / kLanes * kLanes, 0.0f);
        double sum = 0;
        const double mid = double(taps - 1) / 2;
        for (std::size_t i = 0; i < taps; ++i) {
            const double x = double(i) - mid;
            const double sinc =
                x == 0 ? 2 * cutoff
                       : std::sin(2 * std::numbers::pi * cutoff * x) / (std::numbers::pi * x);
            const double window =
                0.54 - 0.46 * std::cos(2 * std::numbers::pi * double(i) / double(taps - 1));
            taps_[i] = float(sinc * window);
            sum += taps_[i];
        }
        for (auto& t : taps_) t = float(t / sum);
        history_.assign(taps_.size() - 1, 0.0f);
    }

    // Appends the filtered samples `in` yields to `out`.
    void run(const std::vector<float>& in, std::vector<std::int16_t>& out) {
        history_.insert(history_.end(), in.begin(), in.end());
        const std::size_t n = taps_.size();
        std::size_t at = 0;
        for (; at + n <= history_.size(); at += factor_) {
            const float* x = history_.data() + at;
            // Lanes summed apart, so the compiler may use vector instructions.
            float lanes[kLanes] = {};
            for (std::size_t k = 0; k < n; k += kLanes) {
                for (std::size_t l = 0; l < kLanes; ++l) lanes[l] += taps_[k + l] * x[k + l];
            }
            float acc = 0;
            for (float v : lanes) acc += v;
            out.push_back(toSample(acc));
        }
        history_.erase(history_.begin(), history_.begin() + std::ptrdiff_t(at));
    }

  private:
    static constexpr std::size_t kLanes = 8;
    unsigned factor_;
    std::vector<float> taps_;
    std::vector<float> history_;
};

// Hands one channel of samples to Chromaprint, reduced to its rate where that is a simple
// division; any other rate goes in as it is and Chromaprint resamples it.
class Feeder {
  public:
    Feeder(Library* lib, unsigned rate) : lib_(lib), ctx_(nullptr, Release{lib}) {
        const unsigned factor = rate % kRate == 0 ? rate / kRate : 1;
        {
            const std::lock_guard hold(lib->contexts);
            ctx_.reset(lib->create(kAlgorithm));
        }
        ok_ = ctx_ && lib->start(ctx_.get(), int(factor > 1 ? unsigned(kRate) : rate), 1);
        if (factor > 1) decimator_.emplace(factor, double(rate));
    }

    bool ok() const { return ok_; }

    void feed(const std::vector<float>& mono) {
        if (!ok_) return;
        out_.clear();
        if (decimator_) {
            decimator_->run(mono, out_);
        } else {
            out_.reserve(mono.size());
            for (float v : mono) out_.push_back(toSample(v));
        }
        if (!out_.empty()) ok_ = lib_->feed(ctx_.get(), out_.data(), int(out_.size())) != 0;
    }

    std::optional<std::vector<std::uint32_t>> finish() {
        if (!ok_ || !lib_->finish(ctx_.get())) return std::nullopt;
        std::uint32_t* raw = nullptr;
        int size = 0;
        if (!lib_->raw(ctx_.get(), &raw, &size) || !raw) return std::nullopt;
        std::vector<std::uint32_t> items(raw, raw + std::max(size, 0));
        lib_->dealloc(raw);
        return items;
    }

  private:
    struct Release {
        Library* lib;
        void operator()(Context* c) const {
            const std::lock_guard hold(lib->contexts);
            lib->destroy(c);
        }
    };
    Library* lib_;
    std::unique_ptr<Context, Release> ctx_;
    std::optional<Decimator> decimator_;
    std::vector<std::int16_t> out_;
    bool ok_ = false;
};

}  // namespace

bool haveChromaprint() {
    return library() != nullptr;
}

std::optional<std::vector<std::uint32_t>> fingerprintSamples(const FileIn& in,
                                                             const PcmLayout& layout, int seconds) {
    Library* lib = library();
    if (!lib || !layout.integer || layout.channels == 0 || layout.containerBytes == 0 ||
        layout.containerBytes > 4 || layout.rate < 1000 || layout.rate > 1e6) {
        return std::nullopt;
    }
    const auto rate = unsigned(std::lround(layout.rate));
    Feeder feeder(lib, rate);
    if (!feeder.ok()) return std::nullopt;
    const Mixer mixer(layout);
    const std::uint64_t frame = std::uint64_t(layout.channels) * layout.containerBytes;
    const std::uint64_t piece = kPieceSize / frame * frame;
    const std::uint64_t length =
        std::min(layout.audio.length, std::uint64_t(seconds) * rate * frame);
    in.adviseSequential(layout.audio.offset, length);
    std::vector<float> mono;
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t n = std::min(piece, length - done);
        const Bytes bytes = in.read(layout.audio.offset + done, std::int64_t(n));
        if (bytes.size() != n) throw TagError::malformed(msg::fileEnded);
        mixer.mix(bytes.data(), n / frame, mono);
        feeder.feed(mono);
        done += n;
    }
    return feeder.finish();
}

#if __has_include(<FLAC/stream_decoder.h>)
namespace {

// libFLAC, loaded at run time under the name of the version the build saw.
struct Flac {
    decltype(&::FLAC__stream_decoder_new) create = nullptr;
    decltype(&::FLAC__stream_decoder_delete) destroy = nullptr;
    decltype(&::FLAC__stream_decoder_init_stream) init = nullptr;
    decltype(&::FLAC__stream_decoder_process_single) step = nullptr;
    decltype(&::FLAC__stream_decoder_get_state) state = nullptr;
    decltype(&::FLAC__stream_decoder_seek_absolute) seek = nullptr;
};

Flac* loadFlac() {
    const std::string name =
        "libFLAC.so." + std::to_string(FLAC_API_VERSION_CURRENT - FLAC_API_VERSION_AGE);
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto lib = std::make_unique<Flac>();
    if (!bind(handle, "FLAC__stream_decoder_new", lib->create) ||
        !bind(handle, "FLAC__stream_decoder_delete", lib->destroy) ||
        !bind(handle, "FLAC__stream_decoder_init_stream", lib->init) ||
        !bind(handle, "FLAC__stream_decoder_process_single", lib->step) ||
        !bind(handle, "FLAC__stream_decoder_get_state", lib->state) ||
        !bind(handle, "FLAC__stream_decoder_seek_absolute", lib->seek)) {
        ::dlclose(handle);
        return nullptr;
    }
    return lib.release();  // kept loaded for the life of the process
}

// What the decoder's callbacks share: the file read through our own reads, the samples mixed.
struct Decoding {
    Decoding(const FileIn& file, Library* chromaprint) : in(file), lib(chromaprint) {}
    const FileIn& in;
    Library* lib;
    std::uint64_t position = 0;
    std::uint64_t wanted = 0;  // samples per channel still to hear; set by the first frame
    std::optional<Feeder> feeder;
    std::vector<float> mono;
    bool failed = false;
};

FLAC__StreamDecoderReadStatus readFlac(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                       size_t* bytes, void* data) {
    auto& d = *static_cast<Decoding*>(data);
    const Bytes got = d.in.read(d.position, std::int64_t(std::min<size_t>(*bytes, kPieceSize)));
    if (!got.empty()) std::memcpy(buffer, got.data(), got.size());
    *bytes = got.size();
    d.position += got.size();
    return got.empty() ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                       : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus writeFlac(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const buffer[], void* data) {
    auto& d = *static_cast<Decoding*>(data);
    const auto& h = frame->header;
    if (!d.feeder) {
        if (h.sample_rate < 1000 || h.channels == 0) {
            d.failed = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        d.feeder.emplace(d.lib, h.sample_rate);
        d.wanted *= h.sample_rate;
        if (!d.feeder->ok()) {
            d.failed = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
    }
    const std::size_t n = std::min<std::uint64_t>(h.blocksize, d.wanted);
    // In the range of 16 bits, whatever the depth, mixed to one channel.
    const float scale = std::ldexp(1.0f, 16 - int(h.bits_per_sample)) / float(h.channels);
    d.mono.assign(n, 0.0f);
    for (unsigned c = 0; c < h.channels; ++c) {
        for (std::size_t i = 0; i < n; ++i) d.mono[i] += float(buffer[c][i]);
    }
    for (float& v : d.mono) v *= scale;
    d.feeder->feed(d.mono);
    d.wanted -= n;
    return d.wanted == 0 ? FLAC__STREAM_DECODER_WRITE_STATUS_ABORT
                         : FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void errorFlac(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {
    // A damaged frame is skipped by the decoder; what it could decode is heard.
}

Flac* flacLibrary() {
    static Flac* const flac = loadFlac();
    return flac;
}

// A stretch of samples in canonical form, read by seeking: the callbacks a seek needs.
struct Stretch {
    Stretch(const FileIn& file, std::uint64_t frames) : in(file), left(frames) {}
    const FileIn& in;
    std::uint64_t position = 0;
    std::uint64_t left;
    Bytes bytes;
    bool failed = false;
};

FLAC__StreamDecoderReadStatus readStretch(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                          size_t* bytes, void* data) {
    auto& d = *static_cast<Stretch*>(data);
    const Bytes got = d.in.read(d.position, std::int64_t(std::min<size_t>(*bytes, kPieceSize)));
    if (!got.empty()) std::memcpy(buffer, got.data(), got.size());
    *bytes = got.size();
    d.position += got.size();
    return got.empty() ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                       : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus seekStretch(const FLAC__StreamDecoder*, FLAC__uint64 to, void* data) {
    auto& d = *static_cast<Stretch*>(data);
    if (to > d.in.size()) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    d.position = to;
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus tellStretch(const FLAC__StreamDecoder*, FLAC__uint64* at,
                                          void* data) {
    *at = static_cast<Stretch*>(data)->position;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus lengthStretch(const FLAC__StreamDecoder*, FLAC__uint64* length,
                                              void* data) {
    *length = static_cast<Stretch*>(data)->in.size();
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool endStretch(const FLAC__StreamDecoder*, void* data) {
    const auto& d = *static_cast<Stretch*>(data);
    return d.position >= d.in.size();
}

FLAC__StreamDecoderWriteStatus writeStretch(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                            const FLAC__int32* const buffer[], void* data) {
    auto& d = *static_cast<Stretch*>(data);
    const auto& h = frame->header;
    const unsigned width = (h.bits_per_sample + 7) / 8;
    const std::size_t n = std::min<std::uint64_t>(h.blocksize, d.left);
    for (std::size_t i = 0; i < n; ++i) {
        for (unsigned c = 0; c < h.channels; ++c) {
            const auto v = std::uint32_t(buffer[c][i]);
            for (unsigned k = 0; k < width; ++k) d.bytes.push_back(std::uint8_t(v >> (8 * k)));
        }
    }
    d.left -= n;
    return d.left == 0 ? FLAC__STREAM_DECODER_WRITE_STATUS_ABORT
                       : FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

}  // namespace

std::optional<Bytes> flacSamples(const FileIn& in, std::uint64_t from, std::uint64_t count) {
    Flac* flac = flacLibrary();
    if (!flac || count == 0) return std::nullopt;
    std::unique_ptr<FLAC__StreamDecoder, decltype(flac->destroy)> decoder(flac->create(),
                                                                          flac->destroy);
    if (!decoder) return std::nullopt;
    Stretch d(in, count);
    if (flac->init(decoder.get(), readStretch, seekStretch, tellStretch, lengthStretch, endStretch,
                   writeStretch, nullptr, errorFlac, &d) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        return std::nullopt;
    }
    // The frame holding `from` reaches the write callback from there on, during the seek.
    flac->seek(decoder.get(), from);
    while (d.left > 0) {
        const FLAC__StreamDecoderState state = flac->state(decoder.get());
        if (state == FLAC__STREAM_DECODER_END_OF_STREAM || state == FLAC__STREAM_DECODER_ABORTED ||
            state == FLAC__STREAM_DECODER_SEEK_ERROR || !flac->step(decoder.get())) {
            break;
        }
    }
    if (d.left > 0) return std::nullopt;
    return std::move(d.bytes);
}

std::optional<std::vector<std::uint32_t>> fingerprintFlac(const FileIn& in, int seconds) {
    Flac* flac = flacLibrary();
    Library* lib = library();
    if (!flac || !lib) return std::nullopt;
    std::unique_ptr<FLAC__StreamDecoder, decltype(flac->destroy)> decoder(flac->create(),
                                                                          flac->destroy);
    if (!decoder) return std::nullopt;
    Decoding d(in, lib);
    d.wanted = std::uint64_t(seconds);
    if (flac->init(decoder.get(), readFlac, nullptr, nullptr, nullptr, nullptr, writeFlac, nullptr,
                   errorFlac, &d) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        return std::nullopt;
    }
    while (!d.failed && (!d.feeder || d.wanted > 0)) {
        const FLAC__StreamDecoderState state = flac->state(decoder.get());
        if (state == FLAC__STREAM_DECODER_END_OF_STREAM || state == FLAC__STREAM_DECODER_ABORTED ||
            !flac->step(decoder.get())) {
            break;
        }
    }
    if (d.failed || !d.feeder) return std::nullopt;
    return d.feeder->finish();
}
#else
std::optional<std::vector<std::uint32_t>> fingerprintFlac(const FileIn&, int) {
    return std::nullopt;
}
std::optional<Bytes> flacSamples(const FileIn&, std::uint64_t, std::uint64_t) {
    return std::nullopt;
}
#endif

}  // namespace pelorix::recordings
