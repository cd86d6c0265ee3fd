// SPDX-License-Identifier: MIT
// ID3v2 tags and MP3 files: the input is taken both as a bare tag and as a whole MP3 file.
// A rebuilt tag keeps every other frame exactly and carries the code as its last frame; a written
// MP3 keeps every byte after its leading tags, and every leading tag with a code has the new one.
#include <algorithm>
#include <optional>

#include "core/formats/detect.h"
#include "core/formats/id3v2.h"
#include "core/formats/mp3.h"
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

// The codes of the tags standing one after another at the start of the file.
std::vector<std::optional<std::string>> leadingCodes(const FileIn& in) {
    std::vector<std::optional<std::string>> codes;
    for (std::uint64_t at = 0; at < MP3Tagger::audioOffset(in);) {
        const std::uint64_t total = *ID3v2::totalSize(in.read(at, 10));
        codes.push_back(ID3v2::isrc(*ID3v2::parse(in.read(at, std::int64_t(total)))));
        at += total;
    }
    return codes;
}

void checkFile(const std::uint8_t* data, std::size_t size) {
    const MemFile file(data, size);
    const FileIn in(file.path());
    std::uint64_t audioStart = 0;
    if (!succeeds([&] {
            (void)MP3Tagger::readISRC(in);
            audioStart = MP3Tagger::audioOffset(in);
        })) {
        return;
    }
    // Everything after the leading tags is what a demuxer plays: it must come through untouched.
    const Bytes tail = in.read(audioStart, std::int64_t(in.size() - audioStart));
    for (const std::optional<std::string>& code :
         {std::optional<std::string>(kCode), std::optional<std::string>()}) {
        const MemFile output;
        bool written = succeeds([&] {
            FileOut out(output.path(), FileOut::Mode::replace);
            MP3Tagger::write(in, out, code);
            out.close();
        });
        if (!written) continue;  // a damaged tag, or one too large to store again
        const FileIn result(output.path());
        const Bytes all = result.read(0, std::int64_t(result.size()));
        FUZZ_CHECK(all.size() >= tail.size());
        const std::size_t prefix = all.size() - tail.size();
        FUZZ_CHECK(std::equal(tail.begin(), tail.end(), all.begin() + std::ptrdiff_t(prefix)));
        FUZZ_CHECK(MP3Tagger::audioOffset(result) == prefix);
        FUZZ_CHECK(MP3Tagger::readISRC(result) == code);
        for (const auto& found : leadingCodes(result)) FUZZ_CHECK(!found || found == code);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkTag(Bytes(data, data + size));
    checkFile(data, size);
    return 0;
}
