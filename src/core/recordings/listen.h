// SPDX-License-Identifier: MIT
#pragma once
// Acoustic fingerprints (Chromaprint's, as its `fpcalc` tool prints them raw) and how alike two
// of them are. Taking one needs `fpcalc` on the PATH; nothing else in PELORIX does.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace pelorix::recordings {

// Seconds of audio a fingerprint covers at most, from the start.
inline constexpr int kListenSeconds = 120;

// The fingerprinting tool, or none when it is not installed.
std::optional<std::filesystem::path> fingerprinter();

// The raw fingerprint of the first two minutes; empty when the tool is missing or could not
// decode the file (a fingerprint is evidence, never a requirement). Throws std::system_error
// only when no process can be started at all.
std::vector<std::uint32_t> fingerprint(const std::filesystem::path& file);

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
