// SPDX-License-Identifier: MIT
#include "core/formats/wav.h"

#include "core/formats/chunks.h"
#include "core/formats/id3v2.h"

namespace pelorix::formats::wav {

bool matches(const FileIn&, const Bytes& head) {
    const std::string id = fourCC(head, 0);
    return (id == "RIFF" || id == "RF64" || id == "BW64") && fourCC(head, 8) == "WAVE";
}

std::optional<std::string> readISRC(const FileIn& in) {
    const auto parsed = chunks::parse(in, true);
    const auto tag = chunks::existingTag(in, parsed.chunks);
    if (auto code = tag ? id3v2::isrc(*tag) : std::nullopt) return code;
    return chunks::axmlCode(in, parsed.chunks);
}

Carriers carriers(const FileIn& in) {
    return chunks::carriers(in, true);
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc, bool addAxml) {
    chunks::write(in, out, true, isrc, addAxml);
}

std::vector<ByteRange> audioRanges(const FileIn& in) {
    return chunks::audioRanges(in, true);
}

}  // namespace pelorix::formats::wav
