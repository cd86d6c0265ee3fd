// SPDX-License-Identifier: MIT
// WAV and AIFF chunk files: the walk, reading the tag, and the rewrite with the tag moved last.
#include "core/formats/chunk_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/io/sys.h"
#include "support/chunk_builder.h"
#include "support/codec_harness.h"
#include "support/id3_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using chunks::ChunkSpec;
using id3::textFrame;
using namespace std::string_literals;

namespace {

const std::string kCode = "GBAYE2400001";

struct RawChunk {
    std::string id;
    Bytes data;
    bool operator==(const RawChunk&) const = default;
};

// The chunks of a rewritten file, read strictly and independently of the code under test: the
// form size exact, every pad byte present and zero, nothing left over.
std::vector<RawChunk> strictChunks(const Bytes& file, bool little) {
    auto size32 = [&](std::size_t at) { return little ? le32(file, at) : be32(file, at); };
    EXPECT_EQ(size32(4), file.size() - 8) << "form size";
    std::vector<RawChunk> out;
    for (std::size_t pos = 12; pos < file.size();) {
        if (file.size() - pos < 8 || size32(pos + 4) > file.size() - pos - 8) {
            ADD_FAILURE() << "a chunk at " << pos << " runs past the end";
            break;
        }
        const std::size_t n = size32(pos + 4);
        const auto at = file.begin() + std::ptrdiff_t(pos);
        out.push_back({std::string(at, at + 4), Bytes(at + 8, at + 8 + std::ptrdiff_t(n))});
        pos += 8 + n;
        if (n & 1) {
            EXPECT_TRUE(pos < file.size() && file[pos] == 0) << "pad byte at " << pos;
            ++pos;
        }
    }
    return out;
}

Bytes tagWith(std::vector<id3::FrameSpec> frames) {
    return id3::tag({.frames = std::move(frames), .padding = 16});
}

class ChunkFileTest : public ::testing::Test {
  protected:
    void TearDown() override { sys::setFaultHook(nullptr); }
    Bytes rewrite(const Bytes& input, bool little, const std::optional<std::string>& isrc) {
        return files.written(input, [&](const FileIn& in, FileOut& out) {
            ChunkFile::write(in, out, little, isrc);
        });
    }
    ChunkFile::Parsed parse(const Bytes& file, bool little) {
        return files.read(file, [&](const FileIn& in) { return ChunkFile::parse(in, little); });
    }
    // "no tag", or the code the tag holds ("" for none).
    std::string tagOf(const Bytes& file, bool little) {
        const auto tag = files.read(file, [&](const FileIn& in) {
            return ChunkFile::existingTag(in, ChunkFile::parse(in, little).chunks);
        });
        return tag ? ID3v2::isrc(*tag).value_or("") : "no tag";
    }
    Scratch files;
};

}  // namespace

TEST_F(ChunkFileTest, RefusesWhatIsNotAChunkFileOfTheDialectAndPassesID3ErrorsOn) {
    Bytes cut = tagWith({textFrame("TSRC", kCode)});
    cut.resize(cut.size() - 5);
    const std::string notWAV = malformed(msg::notWAV), notAIFF = malformed(msg::notAIFF);
    const struct {
        Bytes file;
        bool little;
        std::string error;
    } cases[] = {
        {bytesOf("RIFF\x04\0\0\0WAV"s), true, malformed(msg::tooShort)},
        {bytesOf("RF64\xff\xff\xff\xffWAVE"s), true, unsupported(msg::rf64)},
        {bytesOf("BW64\xff\xff\xff\xffWAVE"s), true, unsupported(msg::rf64)},
        {bytesOf("RIFX\x04\0\0\0WAVE"s), true, notWAV},
        {bytesOf("RIFF\x04\0\0\0AVI "s), true, notWAV},
        {bytesOf("FORM\0\0\0\x04WAVE"s), true, notWAV},
        {bytesOf("RIFF\x04\0\0\0WAVE"s), false, notAIFF},
        {bytesOf("RF64\xff\xff\xff\xffWAVE"s), false, notAIFF},
        {bytesOf("FORM\0\0\0\x04"
                 "AIFX"s),
         false, notAIFF},
        {bytesOf("FORM\0\0\0\x04"
                 "aiff"s),
         false, notAIFF},
        {chunks::wav(2, {{"id3 ", id3::tag({.version = 2, .padding = 20})}}), true,
         unsupported(msg::id3Version(2))},
        {chunks::aiff(2, {{"ID3 ", cut}}), false, malformed(msg::id3Truncated)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorOf([&] { rewrite(c.file, c.little, kCode); }), c.error) << &c - cases;
    }
}

TEST_F(ChunkFileTest, WalkStepsOverPadBytesAndIgnoresTheFormSizeAndStrayBytes) {
    const std::vector<ChunkFile::Chunk> want = {
        {"fmt ", 12, 16}, {"odd ", 36, 3}, {"LIST", 48, 4}, {"data", 60, 10}};
    const Bytes lying = chunks::file({.chunks = {{"fmt ", Bytes(16, 1)},
                                                 {"odd ", Bytes(3, 2)},
                                                 {"LIST", Bytes(4, 3)},
                                                 {"data", Bytes(10, 4)}},
                                      .formSize = 4});
    for (std::size_t stray = 0; stray < 8; ++stray) {
        const Bytes file = join({lying, Bytes(stray, 'x')});
        const auto parsed = parse(file, true);
        EXPECT_EQ(parsed.head, Bytes(file.begin(), file.begin() + 12));
        EXPECT_EQ(parsed.chunks, want) << stray;
    }
    // A missing pad byte where neither position looks like a header: the padded walk, as always.
    const Bytes odd = chunks::file({.chunks = {{"odd ", Bytes(3, 1), std::nullopt, false}}});
    const auto parsed = parse(join({odd, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}), true);
    ASSERT_EQ(parsed.chunks.size(), 2u);
    EXPECT_EQ(parsed.chunks[1].headerOffset, 24u);
}

TEST_F(ChunkFileTest, TheTagIsInTheFirstID3ChunkOfAnyLetterCase) {
    const Bytes tag = tagWith({textFrame("TSRC", kCode)});
    const std::pair<std::vector<ChunkSpec>, std::string> cases[] = {
        {{{"ID3 ", tag}}, kCode},
        {{{"iD3 ", tag}}, kCode},
        {{{"id3 ", bytesOf("ID3\x03\0\0\0\0\0\0"s)}}, ""},  // ten bytes: an empty tag
        {{{"id3 ", Bytes(9, 0)}, {"ID3 ", tag}}, "no tag"},
        {{{"ID3 ", tag}, {"id3 ", Bytes(12, 0)}}, kCode},
        {{{"id3x", tag}}, "no tag"},
    };
    for (const auto& [extra, want] : cases) EXPECT_EQ(tagOf(chunks::wav(2, extra), true), want);
    // A chunk of 2^28 bytes (a sparse file) is no tag, although the tag at its front would parse.
    const Bytes head = chunks::wav(2, {{"id3 ", tag, 1u << 28}});
    const auto p = files.put(head);
    ASSERT_EQ(::truncate(p.c_str(), off_t(head.size() - tag.size() + (1u << 28))), 0);
    const FileIn in(p);
    const auto parsed = ChunkFile::parse(in, true);
    ASSERT_EQ(parsed.chunks.back().size, 1u << 28);
    EXPECT_FALSE(ChunkFile::existingTag(in, parsed.chunks));
}

TEST_F(ChunkFileTest, EveryID3ChunkGoesAndOneNewChunkComesLast) {
    const Bytes tag = tagWith({textFrame("TIT2", "x"), textFrame("TSRC", "USRC17607839")});
    const Bytes onlyCode = tagWith({textFrame("TSRC", kCode)});
    Bytes notID3 = tag;
    notID3[1] = 'X';
    const ChunkSpec fmt = chunks::wavFormat(), comm = chunks::aiffCommon(10), data{"data", {9, 9}};
    const ChunkSpec ssnd{"SSND", Bytes(48, 1)}, list{"LIST", bytesOf("INFO.")};
    auto unpadded = [](const char* id, Bytes d) { return ChunkSpec{id, d, std::nullopt, false}; };
    const struct {
        bool little;
        std::vector<ChunkSpec> chunks;
        Bytes oldTag;  // the tag the new one is made from; empty for none
        std::optional<std::string> code = kCode;
        bool prefixKept = false;  // every input byte but the form size starts the output
        const char* form = "";
    } cases[] = {
        {true, {fmt, {"id3 ", tag}, data, list, {"ID3 ", Bytes(12, 0)}}, tag},
        {true, {fmt, data, list}, {}, kCode, true},
        {false, {comm, ssnd, {"ANNO", bytesOf("odd")}}, {}, kCode, true},
        // A pad byte left out before a plausible chunk, or a printable one: no chunk is lost.
        {true, {fmt, unpadded("junk", Bytes(5, 0xAA)), list, data}, {}},
        {true, {fmt, {"junk", Bytes(5, 0xAA), std::nullopt, true, 'Z'}, list, data}, {}},
        // An odd chunk without its pad at the end, a last chunk longer than the file, a pad that
        // is not zero, a size of 0xFFFFFFFF, the 12-byte WAV.
        {true, {data, unpadded("LIST", Bytes(3, 2))}, {}},
        {true, {fmt, {"data", Bytes(7, 2), 1000, false}}, {}},
        {true, {{"abcd", Bytes(1, 1), std::nullopt, true, 0xEE}, data}, {}},
        {true, {{"data", Bytes(6, 3), 0xFFFFFFFF}}, {}},
        {true, {}, {}},
        // Bodies that cannot hold a tag are dropped all the same.
        {true, {fmt, data, {"id3 ", Bytes(tag.begin(), tag.begin() + 9)}}, {}},
        {true, {fmt, {"id3 ", notID3}, data}, {}},
        // AIFF-C stays AIFF-C; the WAV spelling in an AIFF is replaced by the AIFF one.
        {false,
         {{"FVER", {0xA2, 0x80, 0x51, 0x40}}, chunks::aiffCommon(10, true), ssnd},
         {},
         kCode,
         true,
         "AIFC"},
        {false, {comm, ssnd, {"id3 ", tag}}, tag},
        // Removing the only frame removes the chunk; other frames stay.
        {true, {fmt, data, {"id3 ", onlyCode}}, onlyCode, std::nullopt},
        {false, {comm, ssnd, {"ID3 ", tag}}, tag, std::nullopt},
    };
    for (const auto& c : cases) {
        const Bytes input = chunks::file({c.little, c.form, c.chunks});
        const Bytes out = rewrite(input, c.little, c.code);
        std::vector<RawChunk> want;
        for (const auto& k : c.chunks) {
            if (k.id != "id3 " && k.id != "ID3 ") want.push_back({k.id, k.data});
        }
        if (auto t = ID3v2::settingISRC(ID3v2::parse(c.oldTag), c.code)) {
            want.push_back({c.little ? "id3 " : "ID3 ", *t});
        }
        EXPECT_EQ(strictChunks(out, c.little), want) << &c - cases;
        // The form id and type as they were (AIFC too).
        for (std::size_t at : {0, 1, 2, 3, 8, 9, 10, 11}) EXPECT_EQ(out[at], input[at]);
        if (c.prefixKept) {
            EXPECT_TRUE(std::equal(input.begin() + 8, input.end(), out.begin() + 8)) << &c - cases;
        }
    }
}

TEST_F(ChunkFileTest, DamagedFilesFailCleanlyOrRewriteToAWellFormedFile) {
    const Bytes tag = tagWith({textFrame("TIT2", "Song"), textFrame("TSRC", kCode)});
    for (bool little : {true, false}) {
        int written = 0;
        const Bytes seed = little ? chunks::wav(16, {{"LIST", bytesOf("INFOabc")}, {"id3 ", tag}})
                                  : chunks::aiff(16, {{"ID3 ", tag}}, true);
        forEachDamaged(seed, 12, 120, [&](const Bytes& file) {
            try {
                const Bytes out = rewrite(file, little, kCode);
                ++written;
                EXPECT_FALSE(strictChunks(out, little).empty());
                EXPECT_EQ(tagOf(out, little), kCode);
            } catch (const TagError&) {
            }
        });
        EXPECT_GT(written, 20);
    }
    // Thousands of tiny chunks come through in order, all but the form size as they were.
    std::vector<ChunkSpec> many;
    for (int i = 0; i < 5000; ++i) {
        many.push_back({"c" + std::to_string(100 + i % 900), Bytes(i % 3)});
    }
    const Bytes input = chunks::file({.chunks = many});
    const Bytes out = rewrite(input, true, kCode);
    EXPECT_EQ(strictChunks(out, true).size(), 5001u);
    EXPECT_TRUE(std::equal(input.begin() + 8, input.end(), out.begin() + 8));
}

TEST_F(ChunkFileTest, AnOutputItsFormSizeCannotDescribeIsRefusedBeforeStreaming) {
    // Output: 12 + 24 (fmt) + 8 + data + pad + 8 + 1057 + 1 (new tag) = data + pad + 1110 bytes;
    // 2^32 + 8 is the first length whose form size does not fit. Writes fail on purpose, so a
    // missing refusal cannot stream 4 GiB.
    const std::uint64_t limit = (std::uint64_t(1) << 32) + 8;
    const Bytes old = tagWith({textFrame("TSRC", "USRC17607839")});
    const ChunkSpec fmt = chunks::wavFormat();
    const struct {
        std::uint64_t dataSize;
        Bytes oldTag;  // dropped by the rewrite
        bool refused;
    } cases[] = {{limit - 1110, {}, true}, {limit - 1112, {}, false}, {limit - 1112, old, false}};
    sys::setFaultHook([](sys::Op op, const std::string&) {
        return op == sys::Op::write || op == sys::Op::copyRange ? ENOSPC : 0;
    });
    for (const auto& c : cases) {
        const ChunkSpec data{"data", {}, std::uint32_t(c.dataSize)};
        const Bytes head = chunks::file({.chunks = {fmt, {"id3 ", c.oldTag}, data}});
        const auto p = files.put(head);
        ASSERT_EQ(::truncate(p.c_str(), off_t(head.size() + c.dataSize)), 0);
        const FileIn in(p);
        FileOut out(files.dir / ("big" + std::to_string(&c - cases)));
        if (c.refused) {
            EXPECT_EQ(errorOf([&] { ChunkFile::write(in, out, true, kCode); }),
                      unsupported(msg::chunkFileTooLarge));
            EXPECT_EQ(out.position(), 0u) << "streamed before the refusal";
        } else {
            EXPECT_THROW(ChunkFile::write(in, out, true, kCode), std::system_error);
        }
    }
}
