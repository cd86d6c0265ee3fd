// SPDX-License-Identifier: MIT
// MP4 box trees: the top-level walk, the `moov` tree, the ISRC item and the writer. A written file
// reads back the code, keeps every `mdat` byte, and every chunk offset that pointed at media still
// points at the same bytes after the resized `moov` moved them.
#include <algorithm>
#include <optional>

#include "core/formats/detect.h"
#include "core/formats/mp4.h"
#include "core/write/audio_tagger.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;

namespace {

// Every entry of every `stco`/`co64` table in document order (whole entries only).
void collectOffsets(const MP4Tagger::Box& box, std::vector<std::uint64_t>& out) {
    if (box.children) {
        for (const auto& child : *box.children) collectOffsets(*child, out);
        return;
    }
    const bool wide = box.type == "co64";
    if (!wide && box.type != "stco") return;
    const Bytes& raw = box.raw;
    if (raw.size() < 8) return;
    const std::size_t width = wide ? 8 : 4;
    const std::uint64_t count = std::min<std::uint64_t>(be32(raw, 4), (raw.size() - 8) / width);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 8 + i * width;
        out.push_back(wide ? (std::uint64_t(be32(raw, at)) << 32) | be32(raw, at + 4)
                           : be32(raw, at));
    }
}

std::vector<std::uint64_t> offsetsOf(const FileIn& in) {
    std::vector<std::uint64_t> out;
    collectOffsets(*MP4Tagger::loadMoov(in).box, out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes bytes(data, data + size);
    (void)succeeds([&] { (void)MP4Tagger::parseBoxes(bytes, 0, bytes.size()); });

    const MemFile file(data, size);
    const FileIn in(file.path());
    std::vector<MP4Tagger::TopLevelEntry> top;
    if (!succeeds([&] { top = MP4Tagger::topLevel(in); })) return 0;
    for (const auto& e : top) FUZZ_CHECK(e.size >= 8 && e.start + e.size <= in.size());

    MP4Tagger::LoadedMoov moov;
    if (!succeeds([&] { moov = MP4Tagger::loadMoov(in); })) return 0;
    (void)succeeds([&] { (void)MP4Tagger::readISRC(in); });
    const Bytes media = rangeBytes(in, MP4Tagger::mediaRanges(in));
    const auto offsetsBefore = offsetsOf(in);

    // Boxes whose bytes a write may change: the `moov` itself and the fragment boxes whose
    // absolute offsets follow it. An offset into them has no fixed bytes to compare.
    std::vector<MP4Tagger::TopLevelEntry> changing;
    for (const auto& e : top) {
        if (e.start == moov.start || e.type == "moof" || e.type == "mfra") changing.push_back(e);
    }
    // How many bytes from `offset` lie outside every changing box, up to 16.
    auto stableLength = [&](std::uint64_t offset) -> std::uint64_t {
        if (offset >= in.size()) return 0;
        std::uint64_t n = std::min<std::uint64_t>(16, in.size() - offset);
        for (const auto& e : changing) {
            if (offset >= e.start && offset < e.start + e.size) return 0;
            if (e.start > offset) n = std::min(n, e.start - offset);
        }
        return n;
    };

    for (const std::optional<std::string>& code :
         {std::optional<std::string>(kCode), std::optional<std::string>()}) {
        const MemFile output;
        const bool written = succeeds([&] {
            FileOut out(output.path(), FileOut::Mode::replace);
            MP4Tagger::write(in, out, code);
            out.close();
        });
        if (!written) continue;
        const FileIn result(output.path());
        FUZZ_CHECK(MP4Tagger::readISRC(result) == code);
        FUZZ_CHECK(rangeBytes(result, MP4Tagger::mediaRanges(result)) == media);
        const auto offsetsAfter = offsetsOf(result);
        FUZZ_CHECK(offsetsAfter.size() == offsetsBefore.size());
        for (std::size_t i = 0; i < offsetsBefore.size(); ++i) {
            const std::uint64_t n = stableLength(offsetsBefore[i]);
            if (n == 0) continue;
            FUZZ_CHECK(in.read(offsetsBefore[i], std::int64_t(n)) ==
                       result.read(offsetsAfter[i], std::int64_t(n)));
        }
    }
    return 0;
}
