// SPDX-License-Identifier: MIT
// ID3v2 tags and MP3 files: the input is taken both as a bare tag and as a whole MP3 file.
// A rebuilt tag keeps every other frame exactly and carries the code as its last frame; a written
// MP3 is one new tag followed by every byte after the old leading tag.
#include <algorithm>
#include <optional>

#include "core/formats/detect.h"
#include "core/formats/id3v2.h"
#include "core/formats/mp3.h"
#include "core/write/audio_tagger.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;

namespace {

std::vector<ID3v2::Frame> withoutCode(const std::vector<ID3v2::Frame>& frames) {
    std::vector<ID3v2::Frame> kept;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(kept),
                 [](const ID3v2::Frame& f) { return f.id != "TSRC"; });
    return kept;
}

void checkTag(const Bytes& bytes) {
    std::optional<ID3v2::Tag> tag;
    if (!succeeds([&] { tag = ID3v2::parse(bytes); }) || !tag) return;
    (void)ID3v2::isrc(*tag);
    const auto others = withoutCode(tag->frames);

    std::optional<Bytes> rebuilt;
    if (!succeeds([&] { rebuilt = ID3v2::settingISRC(tag, kCode); })) return;
    FUZZ_CHECK(rebuilt.has_value());
    FUZZ_CHECK(ID3v2::totalSize(*rebuilt) == rebuilt->size());
    const auto again = ID3v2::parse(*rebuilt);
    FUZZ_CHECK(again && again->version == tag->version);
    FUZZ_CHECK(ID3v2::isrc(*again) == kCode);
    FUZZ_CHECK(!again->frames.empty() && again->frames.back().id == "TSRC");
    FUZZ_CHECK(withoutCode(again->frames) == others);

    const auto removed = ID3v2::settingISRC(tag, std::nullopt);
    FUZZ_CHECK(removed.has_value() == !others.empty());
    if (removed) {
        const auto parsed = ID3v2::parse(*removed);
        FUZZ_CHECK(parsed && parsed->frames == others);
    }
}

void checkFile(const std::uint8_t* data, std::size_t size) {
    const MemFile file(data, size);
    const FileIn in(file.path());
    std::optional<ID3v2::Tag> lead;
    if (!succeeds([&] {
            (void)MP3Tagger::readISRC(in);
            const Bytes head = in.read(0, 10);
            if (ID3v2::totalSize(head))
                lead = ID3v2::parse(in.read(0, std::int64_t(*ID3v2::totalSize(head))));
        })) {
        return;
    }
    const std::uint64_t leadLength = ID3v2::totalSize(in.read(0, 10)).value_or(0);
    const Bytes tail = in.read(leadLength, std::int64_t(in.size() - leadLength));
    const bool othersLeft = lead && !withoutCode(lead->frames).empty();

    for (const std::optional<std::string>& code :
         {std::optional<std::string>(kCode), std::optional<std::string>()}) {
        const MemFile output;
        bool written = succeeds([&] {
            FileOut out(output.path(), FileOut::Mode::replace);
            MP3Tagger::write(in, out, code);
            out.close();
        });
        if (!written) continue;  // a tag too large to store again is a fair refusal
        // The output is one complete new tag (none when nothing is left to store) followed by
        // every byte after the old leading tag.
        const FileIn result(output.path());
        const Bytes all = result.read(0, std::int64_t(result.size()));
        FUZZ_CHECK(all.size() >= tail.size());
        const std::size_t prefix = all.size() - tail.size();
        FUZZ_CHECK(std::equal(tail.begin(), tail.end(), all.begin() + std::ptrdiff_t(prefix)));
        FUZZ_CHECK((prefix == 0) == (!code && !othersLeft));
        if (prefix == 0) continue;  // what follows may itself start with a tag: a second one
        FUZZ_CHECK(ID3v2::totalSize(all) == prefix);
        FUZZ_CHECK(MP3Tagger::readISRC(result) == code);
        FUZZ_CHECK(rangeBytes(result, AudioTagger::audioRanges(result, AudioFormat::mp3)) == tail);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkTag(Bytes(data, data + size));
    checkFile(data, size);
    return 0;
}
