// SPDX-License-Identifier: MIT
#include "core/recordings/recording.h"

#include <cmath>
#include <cstdio>

#include "core/io/binary_io.h"
#include "core/recordings/about.h"
#include "core/recordings/chromaprint.h"
#include "core/recordings/digest.h"
#include "core/recordings/grouping.h"
#include "core/recordings/listen.h"

namespace pelorix::recordings {
namespace {

// Measured on real music (masters, their lossless and lossy copies, edits, remixes and other
// tracks): copies stay under 1 % of bits different overall and 4 % over any five seconds; an
// edit, a remix or another track differs in 17 % or more overall or 40 % somewhere. The rule
// keeps wide margins on both sides and leaves what falls between them undecided.
constexpr double kSameOverall = 0.10, kSameWindow = 0.20;
constexpr double kDifferentOverall = 0.15, kDifferentWindow = 0.30;

std::string clock(double seconds) {
    const long s = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// nameKey(a) == nameKey(b), with a cheap look at the names first: batches compare many pairs.
bool sameName(const std::filesystem::path& a, const std::filesystem::path& b) {
    auto stem = [](const std::string& p) {
        const std::string_view name = std::string_view(p).substr(p.rfind('/') + 1);
        const std::size_t dot = name.rfind('.');
        return dot == std::string_view::npos || dot == 0 || name == ".." ? name
                                                                         : name.substr(0, dot);
    };
    if (stem(a.native()) != stem(b.native())) return false;
    return nameKey(a) == nameKey(b);
}

}  // namespace

bool lengthsDiffer(double a, double b) {
    return a > 0 && b > 0 && std::fabs(a - b) > kLengthTolerance;
}

std::filesystem::path nameKey(const std::filesystem::path& file) {
    return file.parent_path() / file.stem();
}

Identity identify(const std::filesystem::path& path, bool listen) {
    Identity id;
    id.path = std::filesystem::absolute(path).lexically_normal();
    const FileIn in(id.path);
    const formats::AudioFormat format = formats::AudioFormat::detect(in);
    id.seconds = about(in, format).seconds;
    // What costs least: a FLAC's stored MD5, the XXH3 of the samples of a WAV or AIFF.
    if (format == formats::AudioFormat::flac) {
        id.pcmDigest = sampleDigest(in, format);
    } else {
        id.sampleHash = sampleHash(in, format);
    }
    if (listen) id.fingerprint = fingerprint(id.path);
    return id;
}

Comparison compare(const Identity& a, const Identity& b) {
    if (a.path == b.path) return {Verdict::same, "the same file"};
    if ((a.pcmDigest && b.pcmDigest && *a.pcmDigest == *b.pcmDigest) ||
        (a.sampleHash && b.sampleHash && *a.sampleHash == *b.sampleHash)) {
        return {Verdict::same, "the same samples"};
    }
    if (lengthsDiffer(a.seconds, b.seconds)) {
        return {Verdict::different, "they last " + clock(a.seconds) + " and " + clock(b.seconds)};
    }
    if (!a.fingerprint.empty() && !b.fingerprint.empty()) {
        if (const auto s = similarity(a.fingerprint, b.fingerprint)) {
            if (s->errorRate <= kSameOverall && s->worstWindow <= kSameWindow) {
                return {Verdict::same, "they sound alike"};
            }
            if (s->errorRate >= kDifferentOverall || s->worstWindow >= kDifferentWindow) {
                return {Verdict::different, "they sound different"};
            }
            return {Verdict::unknown, "they sound partly alike (another edit or mix?)"};
        }
    }
    if (sameName(a.path, b.path)) return {Verdict::same, "the same name in one folder"};
    if (a.fingerprint.empty() || b.fingerprint.empty()) {
        return {Verdict::unknown, fingerprinter()
                                      ? "one of them could not be heard"
                                      : "they could not be compared by sound (fpcalc, "
                                        "package libchromaprint-tools, is not installed)"};
    }
    return {Verdict::unknown, "they are too short to compare by sound"};
}

bool canListen() {
    return fingerprinter() || haveChromaprint();
}

}  // namespace pelorix::recordings
