// SPDX-License-Identifier: MIT
#include "cli/dry_run.h"

#include <exception>

#include "core/formats/format.h"
#include "core/io/binary_io.h"
#include "core/write/write.h"

namespace pelorix::cli {

namespace fs = std::filesystem;

Rehearsal rehearseWrite(const fs::path& path, const std::optional<std::string>& isrc,
                        bool addAxml) {
    Rehearsal r;
    try {
        {
            const FileIn in(path);
            r.format = std::string(formats::AudioFormat::detect(in).label());
        }
        r.stored = write::rehearseWrite(path, isrc, addAxml);
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    return r;
}

}  // namespace pelorix::cli
