// SPDX-License-Identifier: MIT
#pragma once
// Whether two files hold the same recording: the one rule every front end uses (command line,
// lists, sequences, the window, the ledger).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelorix::recordings {

// What can be known of the recording a file holds, apart from its code.
struct Identity {
    std::filesystem::path path;  // absolute, as resolved
    // MD5 of the decoded samples in FLAC's canonical form (interleaved, signed, little-endian,
    // whole bytes per sample), 32 lower-case hexadecimal digits; lossless files only.
    std::optional<std::string> pcmDigest;
    // XXH3-128 of the same canonical samples (sampleHash): taken of a WAV or AIFF instead of the
    // MD5, which is computed only where a file with the MD5 alone may hold the same samples.
    std::optional<std::string> sampleHash;
    // Chromaprint's raw fingerprint of the first two minutes at most; empty when none was taken.
    std::vector<std::uint32_t> fingerprint;
    double seconds = 0;  // duration from the headers; 0 when unknown
};

enum class Verdict { same, different, unknown };

struct Comparison {
    Verdict verdict = Verdict::unknown;
    std::string reason;  // in words a person reads: "the same samples", "they sound alike", ...
};

// `listen`: take an acoustic fingerprint when the sample digest cannot decide (may be slow;
// empty when no fingerprinter is installed). Throws TagError or std::system_error.
Identity identify(const std::filesystem::path& path, bool listen = true);
Comparison compare(const Identity& a, const Identity& b);
// Whether acoustic fingerprints can be taken on this machine.
bool canListen();

}  // namespace pelorix::recordings
