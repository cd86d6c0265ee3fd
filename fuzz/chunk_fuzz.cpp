// SPDX-License-Identifier: MIT
// WAV and AIFF chunk files, the input walked as both. A write changes nothing but tags, as a
// reader sees the file: every other chunk and the bytes after the chunks come through byte for
// byte and in order, the audio a demuxer plays is the same, and every tag that carries a code
// carries the new one (none after a removal).
#include <optional>

#include "core/formats/chunk_file.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;

namespace {

struct Content {
    std::string id;
    Bytes data;
    friend bool operator==(const Content&, const Content&) = default;
};

// The audio as ffmpeg's WAV/AIFF demuxer finds it: the first audio chunk on the padded walk,
// running to the end of the file when its size is 0 or 0xFFFFFFFF; none without one.
std::optional<Bytes> demuxedAudio(const Bytes& file, bool little) {
    for (std::size_t pos = 12; file.size() >= 8 && pos <= file.size() - 8;) {
        const std::uint64_t size = little ? le32(file, pos + 4) : be32(file, pos + 4);
        const auto body = file.begin() + std::ptrdiff_t(pos + 8);
        if (fourCC(file, pos) == (little ? "data" : "SSND")) {
            const bool open = size == 0 || size == 0xFFFFFFFF || size > file.size() - pos - 8;
            return Bytes(body, open ? file.end() : body + std::ptrdiff_t(size));
        }
        if (size > file.size() - pos - 8) break;
        pos += 8 + size + (size & 1);
    }
    return std::nullopt;
}

// True when every chunk after a zero-size audio chunk walks strictly to the end: then ffmpeg
// plays those chunks as audio, yet they are chunks and the rewrite treats them as such.
bool openAudioThenChunks(const Bytes& file, bool little) {
    bool open = false;
    for (std::size_t pos = 12; pos != file.size();) {
        if (file.size() - pos < 8) return false;
        const std::uint64_t size = little ? le32(file, pos + 4) : be32(file, pos + 4);
        if (size > file.size() - pos - 8) return false;
        open = open || (fourCC(file, pos) == (little ? "data" : "SSND") && size == 0);
        pos += 8 + size + (size & 1);
        if (pos > file.size()) return false;
    }
    return open;
}

void check(const MemFile& file, bool little) {
    const FileIn in(file.path());
    ChunkFile::Parsed parsed;
    if (!succeeds([&] { parsed = ChunkFile::parse(in, little); })) return;
    std::uint64_t next = 12;
    std::vector<Content> kept;
    for (const auto& c : parsed.chunks) {
        FUZZ_CHECK(c.headerOffset >= next && c.headerOffset + 8 + c.size <= in.size());
        next = c.headerOffset + 8 + c.size;
        if (!ChunkFile::isID3Chunk(c.id)) kept.push_back({c.id, in.read(next - c.size, c.size)});
    }
    FUZZ_CHECK(parsed.trailing.offset >= next && parsed.trailing.offset - next <= 1 &&
               parsed.trailing.offset + parsed.trailing.length == in.size());
    (void)succeeds([&] { (void)ChunkFile::existingTag(in, parsed.chunks); });
    const Bytes input = in.read(0, std::int64_t(in.size()));
    const Bytes trailing = in.read(parsed.trailing.offset, std::int64_t(parsed.trailing.length));

    for (const std::optional<std::string>& code :
         {std::optional(kCode), std::optional<std::string>()}) {
        const MemFile output;
        const bool written = succeeds([&] {
            FileOut out(output.path(), FileOut::Mode::replace);
            ChunkFile::write(in, out, little, code);
            out.close();
        });
        if (!written) continue;
        const FileIn result(output.path());
        const Bytes all = result.read(0, std::int64_t(result.size()));
        // A strict walk of the output: exact sizes, zero pads, then the trailing bytes, inside
        // the form or after it as they were.
        const std::uint64_t formEnd = 8 + (little ? le32(all, 4) : be32(all, 4));
        const std::uint64_t chunksEnd = all.size() - trailing.size();
        FUZZ_CHECK(formEnd == (parsed.trailingInForm ? all.size() : chunksEnd));
        FUZZ_CHECK(
            std::equal(trailing.begin(), trailing.end(), all.begin() + std::ptrdiff_t(chunksEnd)));
        std::vector<Content> others;
        for (std::size_t pos = 12; pos < chunksEnd;) {
            FUZZ_CHECK(chunksEnd - pos >= 8);
            const std::uint64_t size = little ? le32(all, pos + 4) : be32(all, pos + 4);
            FUZZ_CHECK(size <= chunksEnd - pos - 8);
            const Content c{fourCC(all, pos), result.read(pos + 8, std::int64_t(size))};
            pos += 8 + size;
            if (size & 1) FUZZ_CHECK(pos < chunksEnd && all[pos++] == 0);
            if (!ChunkFile::isID3Chunk(c.id)) {
                others.push_back(c);
                continue;
            }
            std::optional<ID3v2::Tag> tag;
            if (!succeeds([&] { tag = ID3v2::parse(c.data); }) || !tag) continue;
            const auto found = ID3v2::isrc(*tag);
            FUZZ_CHECK(!found || found == code);
        }
        FUZZ_CHECK(others == kept);
        const auto tag = ChunkFile::existingTag(result, ChunkFile::parse(result, little).chunks);
        FUZZ_CHECK((tag ? ID3v2::isrc(*tag) : std::nullopt) == code);
        // (A missing pad byte can hide the audio from the demuxer; the rewrite puts it back.)
        const auto audio = demuxedAudio(input, little);
        if (audio && !openAudioThenChunks(input, little)) {
            FUZZ_CHECK(demuxedAudio(all, little) == audio);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const MemFile file(data, size);
    check(file, true);
    check(file, false);
    return 0;
}
