// SPDX-License-Identifier: MIT
#include "core/formats/mp3.h"

#include <algorithm>
#include <vector>

#include "core/formats/id3v2.h"
#include "core/tag_error.h"

namespace pelorix::formats::mp3 {

namespace {

struct Leading {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // footer included
    id3v2::Tag tag;
};

// The tags standing one after another at the start of the file. The first one's errors are the
// file's; a later one that does not parse is taken for the start of the audio, as it always was.
std::vector<Leading> leadingTags(const FileIn& in) {
    std::vector<Leading> tags;
    std::uint64_t at = 0;
    while (auto total = id3v2::totalSize(in.read(at, 10))) {
        if (*total > in.size() - at) {
            if (tags.empty()) throw TagError::malformed(msg::id3Truncated);
            break;
        }
        std::optional<id3v2::Tag> tag;
        try {
            tag = id3v2::read(in, at, *total);
        } catch (const TagError&) {
            if (tags.empty()) throw;
        }
        if (!tag) break;
        tags.push_back({at, *total, std::move(*tag)});
        at += *total;
    }
    return tags;
}

}  // namespace

std::optional<std::string> readISRC(const FileIn& in) {
    for (const Leading& lead : leadingTags(in)) {
        if (auto code = id3v2::isrc(lead.tag)) return code;
    }
    return std::nullopt;
}

Carriers carriers(const FileIn& in) {
    Carriers out;
    const std::vector<Leading> tags = leadingTags(in);
    for (std::size_t i = 0; i < tags.size(); ++i) {
        id3v2::addCarriers(tags[i].tag, nthPlace(i, "ID3", "ID3 tag"), out);
    }
    return out;
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc) {
    std::vector<Leading> tags = leadingTags(in);
    std::uint64_t copied = 0;  // input bytes handled so far
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const Leading& lead = tags[i];
        if (i > 0 && !id3v2::holdsCode(lead.tag)) continue;  // copied as it is
        in.copy(copied, lead.offset - copied, out);
        if (const auto rebuilt = id3v2::rebuilt(lead.tag, isrc)) rebuilt->writeTo(in, out);
        copied = lead.offset + lead.length;
        tags[i].tag = {};  // nothing read from the tag stays beside the audio
    }
    if (tags.empty() && isrc) out.write(*id3v2::settingISRC(std::nullopt, isrc));
    if (out.position() == 0 && !tags.empty() && copied == tags.back().offset + tags.back().length &&
        id3v2::totalSize(in.read(copied, 10))) {
        // No tag left, but the audio starts like one, which would then be read as the leading
        // tag: an empty tag keeps the audio where it was.
        Bytes empty;
        ByteWriter(empty).ascii("ID3").u8(3).u8(0).u8(0).synchsafe32(16).zeros(16);
        out.write(empty);
    }
    in.copy(copied, in.size() - copied, out);
}

std::uint64_t audioOffset(const FileIn& in) {
    const std::vector<Leading> tags = leadingTags(in);
    return tags.empty() ? 0 : tags.back().offset + tags.back().length;
}

}  // namespace pelorix::formats::mp3
