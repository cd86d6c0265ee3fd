// ID3v2 tags and MP3 files: the input is taken both as a bare tag and as a whole MP3 file.
// A rebuilt tag keeps every other frame exactly and carries the code as its last frame; an MP3
// written with a code reads back that code and keeps every byte after the leading tag.
#include <algorithm>
#include <optional>

#include "core/audio_format.h"
#include "core/audio_tagger.h"
#include "core/id3v2.h"
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
    std::optional<std::string> before;
    if (!succeeds([&] { before = MP3Tagger::readISRC(in); })) return;

    const Bytes audio = rangeBytes(in, AudioTagger::audioRanges(in, AudioFormat::mp3));
    for (const std::optional<std::string>& code : {std::optional<std::string>(kCode),
                                                   std::optional<std::string>()}) {
        const MemFile output;
        bool written = succeeds([&] {
            FileOut out(output.path(), FileOut::Mode::replace);
            MP3Tagger::write(in, out, code);
            out.close();
        });
        if (!written) continue;  // a tag too large to store again is a fair refusal
        const FileIn result(output.path());
        FUZZ_CHECK(MP3Tagger::readISRC(result) == code);
        FUZZ_CHECK(rangeBytes(result, AudioTagger::audioRanges(result, AudioFormat::mp3)) == audio);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkTag(Bytes(data, data + size));
    checkFile(data, size);
    return 0;
}
