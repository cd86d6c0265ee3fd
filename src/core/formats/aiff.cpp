// SPDX-License-Identifier: MIT
#include "core/formats/aiff.h"

#include "core/formats/chunks.h"
#include "core/formats/id3v2.h"

namespace pelorix::formats::aiff {

bool matches(const FileIn&, const Bytes& head) {
    const std::string form = fourCC(head, 8);
    return fourCC(head, 0) == "FORM" && (form == "AIFF" || form == "AIFC");
}

std::optional<std::string> readISRC(const FileIn& in) {
    const auto parsed = chunks::parse(in, false);
    const auto tag = chunks::existingTag(in, parsed.chunks);
    return tag ? id3v2::isrc(*tag) : std::nullopt;
}

Carriers carriers(const FileIn& in) {
    return chunks::carriers(in, false);
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc) {
    chunks::write(in, out, false, isrc);
}

std::vector<ByteRange> audioRanges(const FileIn& in) {
    return chunks::audioRanges(in, false);
}

}  // namespace pelorix::formats::aiff
