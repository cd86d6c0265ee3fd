// SPDX-License-Identifier: MIT
#include "core/read/read.h"

#include "core/io/sha256.h"
#include "core/read/audio_stream.h"

namespace pelorix::read {

namespace fs = std::filesystem;

Reading read(const fs::path& path) {
    const FileIn in(path);  // detection and reading share one opening
    const formats::AudioFormat format = formats::AudioFormat::detect(in);
    return {format, formats::format(format).read(in)};
}

std::optional<std::string> readISRC(const fs::path& path) {
    return read(path).code;
}

formats::Carriers carriers(const fs::path& path) {
    const FileIn in(path);
    return formats::format(formats::AudioFormat::detect(in)).carriers(in);
}

std::string fingerprint(const fs::path& path, formats::AudioFormat format) {
    const FileIn in(path);
    AudioStream audio(in, formats::format(format).audioRanges(in));
    Sha256 hash;
    for (auto piece = audio.next(); !piece.empty(); piece = audio.next()) {
        hash.update(piece.data(), piece.size());
    }
    return hash.hexDigest();
}

}  // namespace pelorix::read
