// SPDX-License-Identifier: MIT
#pragma once
// Which files of a batch hold one recording, by the rule of recording.h, at the least cost:
// lengths and names first (headers only), sample digests where lengths leave two groups open,
// fingerprints only where neither decided, all of it on every core.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "core/recordings/recording.h"

namespace pelorix::recordings {

// Lengths that differ by more than this are two edits; encoders add a few hundredths.
inline constexpr double kLengthTolerance = 1.0;

// Whether two lengths from the headers (0: unknown) tell two edits apart.
bool lengthsDiffer(double a, double b);

// The name a recording goes by: folder and name without extension (Song.wav, Song.flac).
std::filesystem::path nameKey(const std::filesystem::path& file);

struct Member {
    Identity identity;  // what was found: the fingerprint only where one was taken
    std::size_t recording =
        0;  // the recordings are numbered from 0 in the order of their first file
    // Why the file belongs with an earlier file of its recording ("the same samples as
    // CD1/01 Intro.wav"); empty for the first file of each recording.
    std::string reason;
    // Not empty when the file may still be the same recording as a file counted as another one:
    // what could not be checked, in words.
    std::string undecided;
    std::string error;  // the file could not be read: it stands alone and undecided
};

struct Grouping {
    std::vector<Member> members;  // one per file, in the order given
    std::size_t recordings = 0;
};

// `listen`: fingerprints may be taken (where fpcalc is installed). Never throws for one file:
// its error is in its member.
Grouping group(const std::vector<std::filesystem::path>& files, bool listen = true);

}  // namespace pelorix::recordings
