// SPDX-License-Identifier: MIT
// FLAC metadata: the block walk, the Vorbis comment codec and the writer. A written file keeps
// every non-comment block and every byte after the metadata, its first comments are the old ones
// without any ISRC entry, plus the code as the last entry, and no other block keeps another code.
#include <algorithm>
#include <optional>

#include "core/formats/detect.h"
#include "core/formats/flac.h"
#include "core/io/text.h"
#include "core/write/audio_tagger.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;

namespace {

constexpr std::uint8_t kComment = 4;

// Keys compare after Unicode upper-casing, so "isrc" and "Isrc" name the same entry.
bool isISRCKey(const Bytes& entry) {
    const auto eq = std::find(entry.begin(), entry.end(), std::uint8_t('='));
    if (eq == entry.end()) return false;
    const std::string key =
        text::decodeLossy(entry.data(), std::size_t(eq - entry.begin()), text::Encoding::utf8);
    return text::toUpper(key) == "ISRC";
}

std::vector<FLACTagger::Block> others(const std::vector<FLACTagger::Block>& blocks) {
    std::vector<FLACTagger::Block> out;
    std::copy_if(blocks.begin(), blocks.end(), std::back_inserter(out),
                 [](const FLACTagger::Block& b) { return b.type != kComment; });
    return out;
}

const FLACTagger::Block* firstComment(const std::vector<FLACTagger::Block>& blocks) {
    for (const auto& b : blocks) {
        if (b.type == kComment) return &b;
    }
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The comment codec on its own: what it parses, it rebuilds and parses the same.
    FLACTagger::Comments comments;
    if (succeeds([&] { comments = FLACTagger::parseComments(Bytes(data, data + size)); })) {
        FUZZ_CHECK(FLACTagger::parseComments(FLACTagger::build(comments)) == comments);
    }

    const MemFile file(data, size);
    const FileIn in(file.path());
    FLACTagger::Layout layout;
    if (!succeeds([&] { layout = FLACTagger::layout(in); })) return 0;
    FUZZ_CHECK(!layout.blocks.empty() && layout.audioOffset <= in.size());
    // The quick walk over the block headers finds the same end of the metadata.
    FUZZ_CHECK(FLACTagger::audioOffset(in) == layout.audioOffset);
    (void)succeeds([&] { (void)FLACTagger::readISRC(in); });

    std::optional<FLACTagger::Comments> old;
    if (const auto* block = firstComment(layout.blocks)) {
        if (!succeeds([&] { old = FLACTagger::parseComments(block->data); })) return 0;
    }
    const Bytes audio = rangeBytes(in, AudioTagger::audioRanges(in, AudioFormat::flac));
    const Bytes leading = in.read(0, std::int64_t(layout.flacOffset));

    for (const std::optional<std::string>& code :
         {std::optional<std::string>(kCode), std::optional<std::string>()}) {
        const MemFile output;
        const bool written = succeeds([&] {
            FileOut out(output.path(), FileOut::Mode::replace);
            FLACTagger::write(in, out, code);
            out.close();
        });
        if (!written) continue;
        const FileIn result(output.path());
        const auto after = FLACTagger::layout(result);
        FUZZ_CHECK(FLACTagger::readISRC(result) == code);
        FUZZ_CHECK(others(after.blocks) == others(layout.blocks));
        FUZZ_CHECK(result.read(0, std::int64_t(after.flacOffset)) == leading);
        FUZZ_CHECK(rangeBytes(result, AudioTagger::audioRanges(result, AudioFormat::flac)) ==
                   audio);

        // No comment block keeps another code, or any code after a removal.
        Bytes entry;
        append(entry, "ISRC=");
        if (code) append(entry, *code);
        for (const auto& b : after.blocks) {
            if (b.type != kComment) continue;
            for (const Bytes& e : FLACTagger::parseComments(b.data).entries) {
                FUZZ_CHECK(!isISRCKey(e) || (code && e == entry));
            }
        }
        const auto* block = firstComment(after.blocks);
        FUZZ_CHECK(block != nullptr || (!old && !code));
        if (!block) continue;
        auto now = FLACTagger::parseComments(block->data);
        if (code) {
            FUZZ_CHECK(!now.entries.empty() && isISRCKey(now.entries.back()));
            now.entries.pop_back();
        }
        if (old) {
            auto expected = old->entries;
            std::erase_if(expected, isISRCKey);
            FUZZ_CHECK(now.vendor == old->vendor);
            FUZZ_CHECK(now.entries == expected);
        }
    }
    return 0;
}
