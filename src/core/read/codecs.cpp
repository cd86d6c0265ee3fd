// SPDX-License-Identifier: MIT
#include "core/read/codecs.h"

#include "core/formats/chunk_file.h"
#include "core/formats/flac.h"
#include "core/formats/id3v2.h"
#include "core/formats/mp3.h"
#include "core/formats/mp4.h"
#include "core/tag_error.h"

namespace pelorix::read {

std::optional<std::string> readCode(AudioFormat format, const FileIn& in) {
    switch (format) {
        case AudioFormat::mp3:
            return MP3Tagger::readISRC(in);
        case AudioFormat::wav:
        case AudioFormat::aiff: {
            const auto parsed = ChunkFile::parse(in, format == AudioFormat::wav);
            const auto tag = ChunkFile::existingTag(in, parsed.chunks);
            if (auto code = tag ? ID3v2::isrc(*tag) : std::nullopt) return code;
            if (format == AudioFormat::wav) return ChunkFile::axmlCode(in, parsed.chunks);
            return std::nullopt;
        }
        case AudioFormat::flac:
            return FLACTagger::readISRC(in);
        case AudioFormat::m4a:
            return MP4Tagger::readISRC(in);
    }
    throw TagError::unsupported(msg::unsupportedType);
}

void writeCode(AudioFormat format, const FileIn& in, FileOut& out,
               const std::optional<std::string>& isrc, bool addAxml) {
    switch (format) {
        case AudioFormat::mp3:
            MP3Tagger::write(in, out, isrc);
            return;
        case AudioFormat::wav:
            ChunkFile::write(in, out, true, isrc, addAxml);
            return;
        case AudioFormat::aiff:
            ChunkFile::write(in, out, false, isrc);
            return;
        case AudioFormat::flac:
            FLACTagger::write(in, out, isrc);
            return;
        case AudioFormat::m4a:
            MP4Tagger::write(in, out, isrc);
            return;
    }
    throw TagError::unsupported(msg::unsupportedType);
}

std::vector<ByteRange> audioRanges(const FileIn& in, AudioFormat format) {
    const std::uint64_t size = in.size();
    switch (format) {
        case AudioFormat::mp3: {
            // After every leading tag: a write may rebuild a later one that holds a code.
            const std::uint64_t start = MP3Tagger::audioOffset(in);
            return {{start, size - start}};
        }
        case AudioFormat::wav:
        case AudioFormat::aiff: {
            const bool little = format == AudioFormat::wav;
            const std::string id = little ? "data" : "SSND";
            for (const auto& chunk : ChunkFile::parse(in, little).chunks) {
                if (chunk.id == id) return {{chunk.headerOffset + 8, chunk.size}};
            }
            return {};
        }
        case AudioFormat::flac: {
            const std::uint64_t start = FLACTagger::audioOffset(in);
            if (start >= size) return {};
            return {{start, size - start}};
        }
        case AudioFormat::m4a:
            return MP4Tagger::mediaRanges(in);
    }
    return {};
}

}  // namespace pelorix::read
