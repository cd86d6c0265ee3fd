// SPDX-License-Identifier: MIT
#pragma once
// A byte builder for RIFF/WAVE and AIFF files, for tests: chunks in any order, hand-made
// size fields, missing pad bytes, and a minimal valid fmt/COMM + audio pair.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"

namespace pelorix::test::chunks {

struct ChunkLayout {
    ChunkLayout(std::string id_, Bytes data_ = {},
                std::optional<std::uint32_t> declared = std::nullopt, bool pad_ = true)
        : id(std::move(id_)), data(std::move(data_)), declaredSize(declared), pad(pad_) {}
    std::string id;  // 4 bytes as written, not validated
    Bytes data;
    std::optional<std::uint32_t> declaredSize;  // overrides the size field
    bool pad = true;                            // the zero pad byte after odd-sized data
};

struct FileLayout {
    bool little = true;  // WAV; false for AIFF
    std::vector<ChunkLayout> chunks{};
    std::optional<std::uint32_t> formSize{};  // overrides the form size (default: length − 8)
};

// "RIFF"/"FORM", form size, form type, chunks.
Bytes file(const FileLayout& layout);
// 16-bit stereo 44.1 kHz PCM: the WAV "fmt " chunk and the AIFF "COMM" chunk.
ChunkLayout wavFormat();
ChunkLayout aiffCommon(std::uint32_t frames);
// `count` bytes of varied audio-like data (all byte values, deterministic).
Bytes audio(std::size_t count, std::uint32_t seed = 7);
// A playable file with `frames` stereo 16-bit frames, then any extra chunks after the audio.
Bytes wav(std::uint32_t frames, const std::vector<ChunkLayout>& extra = {});
Bytes aiff(std::uint32_t frames, const std::vector<ChunkLayout>& extra = {});

}  // namespace pelorix::test::chunks
