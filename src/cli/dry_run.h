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

// The file's format and code, and the driver's rehearsal of the write of `isrc` (none: a
// removal), so that every refusal a write would meet shows. The verification read-back
// cannot be rehearsed.
Rehearsal rehearseWrite(const std::filesystem::path& path, const std::optional<std::string>& isrc,
                        bool addAxml = false);

}  // namespace pelorix::cli
