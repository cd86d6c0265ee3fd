// SPDX-License-Identifier: MIT
#include "core/read/codecs.h"

#include "core/formats/chunks.h"
#include "core/formats/flac.h"
#include "core/formats/id3v2.h"
#include "core/formats/mp3.h"
#include "core/formats/mp4.h"
#include "core/tag_error.h"

namespace pelorix::read {

std::optional<std::string> readCode(formats::AudioFormat format, const FileIn& in) {
    switch (format) {
        case formats::AudioFormat::mp3:
            return formats::mp3::readISRC(in);
        case formats::AudioFormat::wav:
        case formats::AudioFormat::aiff: {
            const auto parsed = formats::chunks::parse(in, format == formats::AudioFormat::wav);
            const auto tag = formats::chunks::existingTag(in, parsed.chunks);
            if (auto code = tag ? formats::id3v2::isrc(*tag) : std::nullopt) return code;
            if (format == formats::AudioFormat::wav)
                return formats::chunks::axmlCode(in, parsed.chunks);
            return std::nullopt;
        }
        case formats::AudioFormat::flac:
            return formats::flac::readISRC(in);
        case formats::AudioFormat::m4a:
            return formats::mp4::readISRC(in);
    }
    throw TagError::unsupported(msg::unsupportedType);
}

void writeCode(formats::AudioFormat format, const FileIn& in, FileOut& out,
               const std::optional<std::string>& isrc, bool addAxml) {
    switch (format) {
        case formats::AudioFormat::mp3:
            formats::mp3::write(in, out, isrc);
            return;
        case formats::AudioFormat::wav:
            formats::chunks::write(in, out, true, isrc, addAxml);
            return;
        case formats::AudioFormat::aiff:
            formats::chunks::write(in, out, false, isrc);
            return;
        case formats::AudioFormat::flac:
            formats::flac::write(in, out, isrc);
            return;
        case formats::AudioFormat::m4a:
            formats::mp4::write(in, out, isrc);
            return;
    }
    throw TagError::unsupported(msg::unsupportedType);
}

std::vector<ByteRange> audioRanges(const FileIn& in, formats::AudioFormat format) {
    const std::uint64_t size = in.size();
    switch (format) {
        case formats::AudioFormat::mp3: {
            // After every leading tag: a write may rebuild a later one that holds a code.
            const std::uint64_t start = formats::mp3::audioOffset(in);
            return {{start, size - start}};
        }
        case formats::AudioFormat::wav:
        case formats::AudioFormat::aiff: {
            const bool little = format == formats::AudioFormat::wav;
            const std::string id = little ? "data" : "SSND";
            for (const auto& chunk : formats::chunks::parse(in, little).chunks) {
                if (chunk.id == id) return {{chunk.headerOffset + 8, chunk.size}};
            }
            return {};
        }
        case formats::AudioFormat::flac: {
            const std::uint64_t start = formats::flac::audioOffset(in);
            if (start >= size) return {};
            return {{start, size - start}};
        }
        case formats::AudioFormat::m4a:
            return formats::mp4::mediaRanges(in);
    }
    return {};
}

}  // namespace pelorix::read
