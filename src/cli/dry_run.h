// SPDX-License-Identifier: MIT
#pragma once
// A write rehearsed: the checks a write of a code makes, run without creating, changing or
// renaming anything beside the file.

#include <filesystem>
#include <optional>
#include <string>

namespace pelorix::cli {

struct Rehearsal {
    std::optional<std::string> format;  // "WAV", … once detected
    std::optional<std::string> stored;  // the code text the file holds now
    std::string error;                  // what the write would meet; empty when it would pass
};

// Opens and detects the file, reads its code, maps its audio, checks that the caller may
// write the file and its folder and that a replace would keep the file's owner, and runs the
// container's writer for `isrc` (none: a removal) into /dev/null, so that every refusal of a
// damaged or oversized structure shows. The verification read-back cannot be rehearsed.
Rehearsal rehearseWrite(const std::filesystem::path& path, const std::optional<std::string>& isrc);

}  // namespace pelorix::cli
