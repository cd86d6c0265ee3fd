// SPDX-License-Identifier: MIT
#include "core/formats/mp3.h"

#include "core/formats/id3v2.h"
#include "core/tag_error.h"

namespace pelorix::MP3Tagger {

namespace {

// The leading tag's length (footer included) and the tag itself, or none without a tag.
struct Leading {
    std::uint64_t length = 0;
    std::optional<ID3v2::Tag> tag;
};

Leading readLeadingTag(const FileIn& in) {
    Leading lead;
    auto total = ID3v2::totalSize(in.read(0, 10));
    if (!total) return lead;
    if (*total > in.size()) throw TagError::malformed(msg::id3Truncated);
    lead.length = *total;
    lead.tag = ID3v2::parse(in.read(0, std::int64_t(*total)));
    return lead;
}

}  // namespace

std::optional<std::string> readISRC(const FileIn& in) {
    Leading lead = readLeadingTag(in);
    if (!lead.tag) return std::nullopt;
    return ID3v2::isrc(*lead.tag);
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc) {
    Leading lead = readLeadingTag(in);
    const std::uint64_t audioStart = lead.length;
    {
        // The rebuilt tag goes out before the audio, and no copy of it stays alongside the piece.
        const std::optional<Bytes> bytes = ID3v2::settingISRC(lead.tag, isrc);
        lead = Leading{};
        if (bytes.has_value()) out.write(bytes->data(), bytes->size());
    }
    in.copy(audioStart, in.size() - audioStart, out);
}

}  // namespace pelorix::MP3Tagger
