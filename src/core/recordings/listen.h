// SPDX-License-Identifier: MIT
#pragma once
// Acoustic fingerprints (Chromaprint's raw ones) and how alike two of them are. The samples of
// WAV and AIFF files are heard in this process through Chromaprint's library; every other file,
// and those where the library is missing, by its `fpcalc` tool, which decodes them. Nothing else
// in PELORIX needs either.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelorix::recordings {

// Seconds of audio a fingerprint covers at most, from the start.
inline constexpr int kListenSeconds = 120;

// How long the decoding tool may take over one file before it is stopped.
inline constexpr std::chrono::milliseconds kHearingLimit{30'000};

// The fingerprinting tool, or none when it is not installed.
std::optional<std::filesystem::path> fingerprinter();

struct Heard {
    std::vector<std::uint32_t> items;  // the raw fingerprint of the first two minutes at most
    std::string problem;               // why there is none, in words; empty when heard
};

// A fingerprint is evidence, never a requirement: a file that cannot be heard (no tool, a
// decoder that fails or takes longer than `limit`, and is then stopped) gets none and the
// reason. Throws std::system_error only when no process can be started at all.
Heard hear(const std::filesystem::path& file, std::chrono::milliseconds limit = kHearingLimit);
std::vector<std::uint32_t> fingerprint(const std::filesystem::path& file);  // hear(file).items

struct Similarity {
    double errorRate = 1;     // bits that differ over the whole overlap, at the best offset
    double worstWindow = 1;   // the same over the worst five seconds of it
    int offset = 0;           // items (about 0.124 s each) b is shifted against a
    std::size_t overlap = 0;  // items compared
};

// None when either is too short to tell (under ten seconds).
std::optional<Similarity> similarity(const std::vector<std::uint32_t>& a,
                                     const std::vector<std::uint32_t>& b);

}  // namespace pelorix::recordings
