// SPDX-License-Identifier: MIT
// WAV and AIFF chunk files: the input is walked as both. A written file holds every chunk of the
// input but the ID3 ones, in order and byte for byte, then one ID3 chunk carrying the code.
#include <optional>

#include "core/formats/chunk_file.h"
#include "core/formats/detect.h"
#include "core/formats/id3v2.h"
#include "core/write/audio_tagger.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;

namespace {

bool isID3(const std::string& id) {
    if (id.size() != 4) return false;
    std::string lower = id;
    for (char& c : lower) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower == "id3 ";
}

struct Content {
    std::string id;
    Bytes data;
    friend bool operator==(const Content&, const Content&) = default;
};

std::vector<Content> contents(const FileIn& in, const std::vector<ChunkFile::Chunk>& chunks,
                              bool withID3) {
    std::vector<Content> out;
    for (const auto& c : chunks) {
        if (!withID3 && isID3(c.id)) continue;
        out.push_back({c.id, in.read(c.headerOffset + 8, std::int64_t(c.size))});
    }
    return out;
}

void check(const MemFile& file, bool little) {
    const FileIn in(file.path());
    ChunkFile::Parsed parsed;
    if (!succeeds([&] { parsed = ChunkFile::parse(in, little); })) return;

    // The walk stays inside the file and moves forward.
    std::uint64_t next = 12;
    for (const auto& c : parsed.chunks) {
        FUZZ_CHECK(c.headerOffset >= next);
        FUZZ_CHECK(c.headerOffset + 8 + c.size <= in.size());
        next = c.headerOffset + 8 + c.size;
    }
    std::optional<ID3v2::Tag> tag;
    if (succeeds([&] { tag = ChunkFile::existingTag(in, parsed.chunks); }) && tag) {
        (void)ID3v2::isrc(*tag);
    }

    const AudioFormat format = little ? AudioFormat::wav : AudioFormat::aiff;
    const Bytes audio = rangeBytes(in, AudioTagger::audioRanges(in, format));
    const auto kept = contents(in, parsed.chunks, false);
    for (const std::optional<std::string>& code :
         {std::optional<std::string>(kCode), std::optional<std::string>()}) {
        const MemFile output;
        const bool written = succeeds([&] {
            FileOut out(output.path(), FileOut::Mode::replace);
            ChunkFile::write(in, out, little, code);
            out.close();
        });
        if (!written) continue;
        const FileIn result(output.path());
        const auto again = ChunkFile::parse(result, little);
        auto chunks = contents(result, again.chunks, true);
        const auto newTag = ChunkFile::existingTag(result, again.chunks);
        FUZZ_CHECK((newTag ? ID3v2::isrc(*newTag) : std::nullopt) == code);
        if (newTag) {
            FUZZ_CHECK(!chunks.empty() && isID3(chunks.back().id));
            chunks.pop_back();
        }
        FUZZ_CHECK(chunks == kept);
        FUZZ_CHECK(rangeBytes(result, AudioTagger::audioRanges(result, format)) == audio);
        // The form size describes the file exactly.
        const Bytes head = result.read(0, 8);
        const std::uint64_t form = little ? le32(head, 4) : be32(head, 4);
        FUZZ_CHECK(form + 8 == result.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const MemFile file(data, size);
    check(file, true);
    check(file, false);
    return 0;
}
