// WAV and AIFF chunk files: the walk, reading the tag, and the rewrite with the tag moved last.
#include "core/chunk_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/sys.h"
#include "core/tag_error.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/id3_builder.h"

namespace pelorix {
namespace {

using test::bytesOf;
using test::chunks::ChunkSpec;
using test::chunks::FileSpec;
using namespace std::string_literals;

constexpr const char* kCode = "GBAYE2400001";

// The chunks of a rewritten file, read strictly: the form size must be exact, every pad byte
// present and zero. Written independently of the code under test.
struct RawChunk {
    std::string id;
    Bytes data;
    bool operator==(const RawChunk&) const = default;
};

std::uint32_t size32(const Bytes& b, std::size_t at, bool little) {
    return little ? le32(b, at) : be32(b, at);
}

std::vector<RawChunk> strictChunks(const Bytes& file, bool little) {
    EXPECT_GE(file.size(), 12u);
    EXPECT_EQ(size32(file, 4, little), file.size() - 8) << "form size";
    std::vector<RawChunk> out;
    std::size_t pos = 12;
    while (pos < file.size()) {
        if (file.size() - pos < 8) {
            ADD_FAILURE() << "stray bytes at " << pos;
            break;
        }
        std::uint32_t n = size32(file, pos + 4, little);
        if (n > file.size() - pos - 8) {
            ADD_FAILURE() << "chunk at " << pos << " runs past the end";
            break;
        }
        auto body = file.begin() + std::ptrdiff_t(pos + 8);
        out.push_back({std::string(file.begin() + std::ptrdiff_t(pos),
                                   file.begin() + std::ptrdiff_t(pos + 4)),
                       Bytes(body, body + n)});
        pos += 8 + n;
        if (n & 1) {
            EXPECT_LT(pos, file.size()) << "missing pad byte";
            if (pos < file.size()) {
                EXPECT_EQ(file[pos], 0) << "pad byte";
            }
            ++pos;
        }
    }
    return out;
}

std::vector<std::string> ids(const std::vector<RawChunk>& chunks) {
    std::vector<std::string> out;
    for (const auto& c : chunks) out.push_back(c.id);
    return out;
}

Bytes tagWith(std::vector<test::id3::FrameSpec> frames, std::uint8_t version = 3) {
    test::id3::TagSpec spec;
    spec.version = version;
    spec.frames = std::move(frames);
    spec.padding = 16;
    return test::id3::tag(spec);
}

class ChunkFileTest : public ::testing::Test {
  protected:
    std::filesystem::path put(const Bytes& bytes, const std::string& name = "in") {
        auto p = dir / name;
        test::writeFile(p, bytes);
        return p;
    }

    Bytes rewrite(const Bytes& input, bool little, const std::optional<std::string>& isrc) {
        FileIn in(put(input));
        auto outPath = dir / ("out" + std::to_string(++outputs));
        FileOut out(outPath);
        ChunkFile::write(in, out, little, isrc);
        out.close();
        return test::readFile(outPath);
    }

    std::optional<ID3v2::Tag> tagOf(const Bytes& file, bool little) {
        FileIn in(put(file, "probe" + std::to_string(++outputs)));
        auto parsed = ChunkFile::parse(in, little);
        return ChunkFile::existingTag(in, parsed.chunks);
    }

    std::optional<std::string> codeOf(const Bytes& file, bool little) {
        auto tag = tagOf(file, little);
        return tag ? ID3v2::isrc(*tag) : std::nullopt;
    }

    test::TempDir dir;
    int outputs = 0;
};

// ---- parse -----------------------------------------------------------------------------------

TEST_F(ChunkFileTest, RefusesWhatIsNotAChunkFileOfTheDialect) {
    struct Case {
        std::string head;
        bool little;
        TagError::Kind kind;
        std::string_view message;
    };
    const Case cases[] = {
        {"RIFF\x04\0\0\0WAV"s, true, TagError::Kind::malformed, msg::tooShort},
        {""s, false, TagError::Kind::malformed, msg::tooShort},
        {"RF64\xff\xff\xff\xffWAVE"s, true, TagError::Kind::unsupported, msg::rf64},
        {"BW64\xff\xff\xff\xffWAVE"s, true, TagError::Kind::unsupported, msg::rf64},
        {"RIFX\x04\0\0\0WAVE"s, true, TagError::Kind::malformed, msg::notWAV},
        {"RIFF\x04\0\0\0AVI "s, true, TagError::Kind::malformed, msg::notWAV},
        {"FORM\0\0\0\x04WAVE"s, true, TagError::Kind::malformed, msg::notWAV},
        {"RIFF\x04\0\0\0WAVE"s, false, TagError::Kind::malformed, msg::notAIFF},
        {"RF64\xff\xff\xff\xffWAVE"s, false, TagError::Kind::malformed, msg::notAIFF},
        {"FORM\0\0\0\x04"
         "AIFX"s,
         false, TagError::Kind::malformed, msg::notAIFF},
        {"FORM\0\0\0\x04"
         "aiff"s,
         false, TagError::Kind::malformed, msg::notAIFF},
    };
    for (const auto& c : cases) {
        FileIn in(put(bytesOf(c.head)));
        try {
            ChunkFile::parse(in, c.little);
            ADD_FAILURE() << "accepted " << c.head;
        } catch (const TagError& e) {
            EXPECT_EQ(e.kind(), c.kind) << c.head;
            EXPECT_EQ(e.message(), c.message) << c.head;
        }
    }
}

TEST_F(ChunkFileTest, WalkCutsChunksToTheFileAndStepsOverPadBytes) {
    FileSpec spec;
    spec.chunks = {{"fmt ", Bytes(16, 1)},
                   {"odd ", Bytes(3, 2)},
                   {"LIST", Bytes(4, 3)},
                   {"data", Bytes(10, 4), 0xFFFFFFFF}};
    Bytes file = test::chunks::file(spec);
    FileIn in(put(file));
    auto parsed = ChunkFile::parse(in, true);
    EXPECT_EQ(parsed.head, Bytes(file.begin(), file.begin() + 12));
    std::vector<ChunkFile::Chunk> expected = {
        {"fmt ", 12, 16}, {"odd ", 36, 3}, {"LIST", 48, 4}, {"data", 60, 10}};
    EXPECT_EQ(parsed.chunks, expected);
}

TEST_F(ChunkFileTest, WalkIgnoresFewerThanEightStrayBytesAndTheFormSize) {
    for (std::size_t stray = 0; stray < 8; ++stray) {
        FileSpec spec;
        spec.little = false;
        spec.formSize = 4;  // lies: the walk follows the real length
        spec.chunks = {{"COMM", Bytes(18, 1)}, {"SSND", Bytes(8, 2)}};
        Bytes file = test::chunks::file(spec);
        file.insert(file.end(), stray, 'x');
        FileIn in(put(file));
        auto parsed = ChunkFile::parse(in, false);
        ASSERT_EQ(parsed.chunks.size(), 2u) << stray;
        EXPECT_EQ(parsed.chunks[1].size, 8u);
    }
}

// A writer that forgets the pad byte after an odd chunk must not cost the next chunk.
TEST_F(ChunkFileTest, AMissingPadByteDoesNotManglePlausibleNextChunk) {
    Bytes info = bytesOf("INFOINAM\x05\0\0\0Title\0"s);
    struct Case {
        std::string name;
        ChunkSpec odd;
    };
    const Case cases[] = {
        {"pad missing", {"junk", Bytes(5, 0xAA), std::nullopt, false}},
        {"pad present", {"junk", Bytes(5, 0xAA)}},
        // A printable pad byte: the padded position still reads as a header, so it wins.
        {"printable pad", {"junk", Bytes(5, 0xAA), std::nullopt, true, 'Z'}},
    };
    for (const auto& c : cases) {
        FileSpec spec;
        spec.chunks = {test::chunks::wavFormat(), c.odd, {"LIST", info}, {"data", Bytes(8, 9)}};
        Bytes out = rewrite(test::chunks::file(spec), true, kCode);
        auto chunks = strictChunks(out, true);
        ASSERT_EQ(ids(chunks), (std::vector<std::string>{"fmt ", "junk", "LIST", "data", "id3 "}))
            << c.name;
        EXPECT_EQ(chunks[1].data, Bytes(5, 0xAA)) << c.name;
        EXPECT_EQ(chunks[2].data, info) << c.name;
        EXPECT_EQ(chunks[3].data, Bytes(8, 9)) << c.name;
    }
}

TEST_F(ChunkFileTest, MissingPadBeforeNonChunkBytesKeepsThePaddedWalk) {
    // Neither position looks like a header: the walk takes the padded one as it always did.
    FileSpec spec;
    spec.chunks = {{"odd ", Bytes(3, 1), std::nullopt, false}};
    Bytes file = test::chunks::file(spec);
    Bytes tail = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    file.insert(file.end(), tail.begin(), tail.end());
    FileIn in(put(file));
    auto parsed = ChunkFile::parse(in, true);
    ASSERT_EQ(parsed.chunks.size(), 2u);
    EXPECT_EQ(parsed.chunks[1].headerOffset, 24u);
}

// ---- existingTag -----------------------------------------------------------------------------

TEST_F(ChunkFileTest, ReadsTheTagInEitherLetterCaseInBothDialects) {
    Bytes tag = tagWith({test::id3::textFrame("TSRC", kCode)});
    for (bool little : {true, false}) {
        for (std::string id : {"id3 ", "ID3 ", "iD3 "}) {
            Bytes file =
                little ? test::chunks::wav(4, {{id, tag}}) : test::chunks::aiff(4, {{id, tag}});
            EXPECT_EQ(codeOf(file, little), kCode) << id << little;
        }
    }
}

TEST_F(ChunkFileTest, ChunkBodiesThatCannotHoldATagReadAsNoTag) {
    Bytes tag = tagWith({test::id3::textFrame("TSRC", kCode)});
    Bytes notID3 = tag;
    notID3[0] = 'X';
    struct Case {
        std::string name;
        std::vector<ChunkSpec> extra;
        bool hasTag;
    };
    const Case cases[] = {
        {"size 9", {{"id3 ", Bytes(tag.begin(), tag.begin() + 9)}}, false},
        {"size 10, empty tag", {{"id3 ", bytesOf(std::string("ID3\x03\0\0\0\0\0\0", 10))}}, true},
        {"not ID3", {{"id3 ", notID3}}, false},
        {"second chunk not searched", {{"id3 ", Bytes(9, 0)}, {"ID3 ", tag}}, false},
        {"first wins", {{"ID3 ", tag}, {"id3 ", Bytes(12, 0)}}, true},
        {"no ID3 chunk", {{"id3x", tag}}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tagOf(test::chunks::wav(2, c.extra), true).has_value(), c.hasTag) << c.name;
    }
}

TEST_F(ChunkFileTest, AnID3ChunkOfTwoToTheTwentyEighthBytesIsNoTag) {
    // Sparse file: the tag at the front would parse if the size bound were not applied.
    Bytes tag = tagWith({test::id3::textFrame("TSRC", kCode)});
    const std::uint32_t size = 1u << 28;
    Bytes head = test::chunks::wav(2, {{"id3 ", tag, size}});
    auto p = put(head);
    ASSERT_EQ(::truncate(p.c_str(), off_t(head.size() - tag.size() + size)), 0);
    FileIn in(p);
    auto parsed = ChunkFile::parse(in, true);
    ASSERT_EQ(parsed.chunks.back().size, size);
    EXPECT_FALSE(ChunkFile::existingTag(in, parsed.chunks));
}

TEST_F(ChunkFileTest, ID3ErrorsPassThrough) {
    test::id3::TagSpec v2;
    v2.version = 2;
    v2.padding = 20;
    Bytes truncated = tagWith({test::id3::textFrame("TSRC", kCode)});
    truncated.resize(truncated.size() - 5);
    struct Case {
        Bytes body;
        std::string message;
    };
    const Case cases[] = {{test::id3::tag(v2), msg::id3Version(2)},
                          {truncated, std::string(msg::id3Truncated)}};
    for (const auto& c : cases) {
        Bytes file = test::chunks::wav(2, {{"id3 ", c.body}});
        try {
            rewrite(file, true, kCode);
            ADD_FAILURE() << c.message;
        } catch (const TagError& e) {
            EXPECT_EQ(e.message(), c.message);
        }
    }
}

// ---- write -----------------------------------------------------------------------------------

TEST_F(ChunkFileTest, AddingATagKeepsEveryEarlierByteButTheFormSize) {
    for (bool little : {true, false}) {
        Bytes list = bytesOf("INFOISFT\x06\0\0\0Lavf5\0"s);
        Bytes input = little ? test::chunks::wav(25, {{"LIST", list}})
                             : test::chunks::aiff(25, {{"ANNO", bytesOf("odd")}});
        Bytes out = rewrite(input, little, kCode);
        ASSERT_GT(out.size(), input.size());
        EXPECT_TRUE(std::equal(input.begin() + 8, input.end(), out.begin() + 8)) << little;
        EXPECT_TRUE(std::equal(input.begin(), input.begin() + 4, out.begin()));
        auto chunks = strictChunks(out, little);
        EXPECT_EQ(chunks.back().id, little ? "id3 " : "ID3 ");
        // A fresh ID3v2.3 tag: header, TSRC frame with encoding byte, 1024 bytes of padding.
        EXPECT_EQ(chunks.back().data.size(), 10u + 10 + 1 + 12 + 1024);
        EXPECT_EQ(chunks.back().data[3], 3);
        EXPECT_EQ(codeOf(out, little), kCode);
    }
}

TEST_F(ChunkFileTest, TheTagMovesLastAndOtherChunksKeepTheirOrder) {
    Bytes tag = tagWith(
        {test::id3::textFrame("TIT2", "Song"), test::id3::textFrame("TSRC", "USRC17607839")});
    FileSpec spec;
    spec.chunks = {test::chunks::wavFormat(),
                   {"id3 ", tag},
                   {"data", Bytes(9, 5)},
                   {"LIST", Bytes(4, 6)},
                   {"ID3 ", Bytes(12, 0)}};
    Bytes out = rewrite(test::chunks::file(spec), true, kCode);
    auto chunks = strictChunks(out, true);
    ASSERT_EQ(ids(chunks), (std::vector<std::string>{"fmt ", "data", "LIST", "id3 "}));
    EXPECT_EQ(chunks[1].data, Bytes(9, 5));
    auto rebuilt = ID3v2::parse(chunks[3].data);
    ASSERT_TRUE(rebuilt);
    ASSERT_EQ(rebuilt->frames.size(), 2u);
    EXPECT_EQ(rebuilt->frames[0].id, "TIT2");
    EXPECT_EQ(rebuilt->frames[1].id, "TSRC");
    EXPECT_EQ(codeOf(out, true), kCode);
}

TEST_F(ChunkFileTest, RemovingTheCode) {
    Bytes onlyCode = tagWith({test::id3::textFrame("TSRC", kCode)});
    Bytes withTitle =
        tagWith({test::id3::textFrame("TSRC", kCode), test::id3::textFrame("TIT2", "Song")});
    for (bool little : {true, false}) {
        Bytes plain = little ? test::chunks::wav(6) : test::chunks::aiff(6);
        std::string id = little ? "id3 " : "ID3 ";
        Bytes tagged = little ? test::chunks::wav(6, {{id, onlyCode}})
                              : test::chunks::aiff(6, {{id, onlyCode}});
        // The chunk goes away and the form size shrinks with it.
        EXPECT_EQ(rewrite(tagged, little, std::nullopt), plain) << little;

        Bytes titled = little ? test::chunks::wav(6, {{id, withTitle}})
                              : test::chunks::aiff(6, {{id, withTitle}});
        Bytes out = rewrite(titled, little, std::nullopt);
        auto chunks = strictChunks(out, little);
        ASSERT_EQ(chunks.back().id, id);
        auto kept = ID3v2::parse(chunks.back().data);
        ASSERT_TRUE(kept);
        ASSERT_EQ(kept->frames.size(), 1u);
        EXPECT_EQ(kept->frames[0].id, "TIT2");
        EXPECT_FALSE(codeOf(out, little));
    }
}

TEST_F(ChunkFileTest, RepairsTheLayoutAsItCopies) {
    struct Case {
        std::string name;
        Bytes input;
        std::vector<RawChunk> expected;  // before the new ID3 chunk
    };
    FileSpec oddAtEnd;
    oddAtEnd.chunks = {{"data", Bytes(4, 1)}, {"LIST", Bytes(3, 2), std::nullopt, false}};
    FileSpec overlong;
    overlong.chunks = {{"fmt ", Bytes(16, 1)}, {"data", Bytes(7, 2), 1000, false}};
    FileSpec nonZeroPad;
    nonZeroPad.chunks = {{"abcd", Bytes(1, 1), std::nullopt, true, 0xEE}, {"data", Bytes(2, 2)}};
    FileSpec twelve;
    FileSpec hugeSize;
    hugeSize.chunks = {{"data", Bytes(6, 3), 0xFFFFFFFF}};
    const Case cases[] = {
        {"odd chunk without pad at the end",
         test::chunks::file(oddAtEnd),
         {{"data", Bytes(4, 1)}, {"LIST", Bytes(3, 2)}}},
        {"last chunk longer than the file",
         test::chunks::file(overlong),
         {{"fmt ", Bytes(16, 1)}, {"data", Bytes(7, 2)}}},
        {"pad byte written as zero",
         test::chunks::file(nonZeroPad),
         {{"abcd", Bytes(1, 1)}, {"data", Bytes(2, 2)}}},
        {"12-byte WAV", test::chunks::file(twelve), {}},
        {"size 0xFFFFFFFF", test::chunks::file(hugeSize), {{"data", Bytes(6, 3)}}},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(codeOf(c.input, true)) << c.name;
        Bytes out = rewrite(c.input, true, kCode);
        auto chunks = strictChunks(out, true);
        ASSERT_EQ(chunks.size(), c.expected.size() + 1) << c.name;
        EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), chunks.begin())) << c.name;
        EXPECT_EQ(chunks.back().id, "id3 ");
        EXPECT_EQ(codeOf(out, true), kCode) << c.name;
    }
}

TEST_F(ChunkFileTest, UnreadableTagChunksAreDroppedAndReplaced) {
    Bytes tag = tagWith(
        {test::id3::textFrame("TIT2", "Song"), test::id3::textFrame("TSRC", "USRC17607839")});
    Bytes notID3 = tag;
    notID3[1] = 'X';
    for (const Bytes& body : {Bytes(tag.begin(), tag.begin() + 9), notID3}) {
        Bytes out = rewrite(test::chunks::wav(3, {{"id3 ", body}}), true, kCode);
        auto chunks = strictChunks(out, true);
        ASSERT_EQ(ids(chunks), (std::vector<std::string>{"fmt ", "data", "id3 "}));
        auto rebuilt = ID3v2::parse(chunks.back().data);
        ASSERT_TRUE(rebuilt);
        ASSERT_EQ(rebuilt->frames.size(), 1u);
        EXPECT_EQ(rebuilt->frames[0].id, "TSRC");
    }
}

TEST_F(ChunkFileTest, AIFCStaysAIFCAndGetsAnUpperCaseChunk) {
    Bytes input = test::chunks::aiff(10, {}, true);
    Bytes out = rewrite(input, false, kCode);
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 12), bytesOf("AIFC"));
    auto chunks = strictChunks(out, false);
    EXPECT_EQ(ids(chunks), (std::vector<std::string>{"FVER", "COMM", "SSND", "ID3 "}));
    // The WAV spelling in an AIFF is read, dropped, and replaced by the AIFF one.
    Bytes lower =
        test::chunks::aiff(10, {{"id3 ", tagWith({test::id3::textFrame("TSRC", "USRC17607839")})}});
    auto relabelled = strictChunks(rewrite(lower, false, kCode), false);
    EXPECT_EQ(ids(relabelled), (std::vector<std::string>{"COMM", "SSND", "ID3 "}));
}

// ---- hostile input ---------------------------------------------------------------------------

TEST_F(ChunkFileTest, ThousandsOfTinyChunksSurviveInOrder) {
    FileSpec spec;
    for (int i = 0; i < 20000; ++i) {
        spec.chunks.push_back(
            {"c" + std::to_string(1000 + i % 9000).substr(0, 3), Bytes(std::size_t(i % 3), 7)});
    }
    Bytes input = test::chunks::file(spec);
    Bytes out = rewrite(input, true, kCode);
    auto chunks = strictChunks(out, true);
    ASSERT_EQ(chunks.size(), 20001u);
    EXPECT_EQ(chunks[19999].data.size(), 19999u % 3);
    // Zero pad bytes everywhere already, so all but the form size is as it was.
    EXPECT_TRUE(std::equal(input.begin() + 8, input.end(), out.begin() + 8));
}

TEST_F(ChunkFileTest, DamagedFilesFailCleanlyOrRewriteToAWellFormedFile) {
    Bytes tag =
        tagWith({test::id3::textFrame("TIT2", "Song"), test::id3::textFrame("TSRC", kCode)});
    const Bytes seeds[] = {test::chunks::wav(16, {{"LIST", bytesOf("INFOabc")}, {"id3 ", tag}}),
                           test::chunks::aiff(16, {{"ID3 ", tag}}, true)};
    std::uint32_t x = 12345;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    int written = 0;
    for (int round = 0; round < 250; ++round) {
        bool little = round % 2 == 0;
        Bytes file = seeds[round % 2];
        for (int k = 0; k < 1 + int(next() % 6); ++k) {
            std::size_t at = 12 + next() % (file.size() - 12);
            file[at] = (next() % 4 == 0) ? 0xFF : std::uint8_t(next());
        }
        if (next() % 5 == 0) file.resize(12 + next() % (file.size() - 12));
        try {
            Bytes out = rewrite(file, little, kCode);
            ++written;
            auto chunks = strictChunks(out, little);
            ASSERT_FALSE(chunks.empty());
            EXPECT_EQ(codeOf(out, little), kCode);
        } catch (const TagError&) {
            // A refusal with a message is a clean result for damaged input.
        }
    }
    EXPECT_GT(written, 40);
}

// ---- outputs the 32-bit form size cannot describe --------------------------------------------

class ChunkFileSizeLimitTest : public ChunkFileTest {
  protected:
    void TearDown() override { sys::setFaultHook(nullptr); }

    // A sparse WAV whose data chunk declares `dataSize` bytes; nothing but headers is stored.
    std::filesystem::path sparseWav(std::uint32_t dataSize) {
        Bytes head =
            test::chunks::file({true, "", {test::chunks::wavFormat(), {"data", {}, dataSize}}, {}});
        auto p = put(head, "big" + std::to_string(++outputs));
        EXPECT_EQ(::truncate(p.c_str(), off_t(head.size() + dataSize)), 0);
        return p;
    }
};

TEST_F(ChunkFileSizeLimitTest, RefusesBeforeStreamingWhenTheFormSizeWouldWrap) {
    // Output: 12 + 24 (fmt) + 8 + data + pad + 8 + 1057 + 1 (new tag) = data + pad + 1110.
    const std::uint64_t limit =
        (std::uint64_t(1) << 32) + 8;  // first length that cannot be described
    const std::uint32_t dataSize = std::uint32_t(limit - 1110);
    FileIn in(sparseWav(dataSize));
    auto outPath = dir / "refused";
    FileOut out(outPath);
    // Should the refusal be missing, fail at the first write instead of streaming 4 GiB.
    sys::setFaultHook(
        [](sys::Op op, const std::string&) { return op == sys::Op::write ? ENOSPC : 0; });
    try {
        ChunkFile::write(in, out, true, kCode);
        FAIL() << "an undescribable file was written";
    } catch (const TagError& e) {
        EXPECT_EQ(e.kind(), TagError::Kind::unsupported);
        EXPECT_EQ(e.message(), msg::chunkFileTooLarge);
    }
    EXPECT_EQ(out.position(), 0u) << "nothing may be streamed before the refusal";
}

TEST_F(ChunkFileSizeLimitTest, TheLargestDescribableOutputIsAttempted) {
    // Two bytes less is the largest even length that fits; the write is cut short by an injected
    // failure so the test does not stream 4 GiB.
    const std::uint64_t fits = (std::uint64_t(1) << 32) + 6;
    FileIn in(sparseWav(std::uint32_t(fits - 1110)));
    FileOut out(dir / "attempted");
    sys::setFaultHook(
        [](sys::Op op, const std::string&) { return op == sys::Op::write ? ENOSPC : 0; });
    EXPECT_THROW(ChunkFile::write(in, out, true, kCode), std::system_error);
}

TEST_F(ChunkFileSizeLimitTest, DroppingAnOldTagCanBringAFileBackUnderTheLimit) {
    // Input over the limit only because of an old ID3 chunk that the rewrite drops.
    const std::uint64_t fits = (std::uint64_t(1) << 32) + 6;
    const std::uint32_t dataSize = std::uint32_t(fits - 1110);
    Bytes tag = tagWith({test::id3::textFrame("TSRC", "USRC17607839")});
    Bytes head = test::chunks::file(
        {true, "", {test::chunks::wavFormat(), {"id3 ", tag}, {"data", {}, dataSize}}, {}});
    auto p = put(head, "tagged");
    ASSERT_EQ(::truncate(p.c_str(), off_t(head.size() + dataSize)), 0);
    FileIn in(p);
    FileOut out(dir / "attempted2");
    sys::setFaultHook(
        [](sys::Op op, const std::string&) { return op == sys::Op::write ? ENOSPC : 0; });
    EXPECT_THROW(ChunkFile::write(in, out, true, kCode), std::system_error);
}

// ---- other programs read what we write -------------------------------------------------------

TEST_F(ChunkFileTest, FilesFromFFmpegStayPlayableAndTheTagIsReadByOthers) {
    if (test::runShell("command -v ffmpeg && /usr/bin/python3 -c 'import mutagen'").status != 0) {
        GTEST_SKIP() << "ffmpeg or mutagen missing";
    }
    struct Case {
        std::string name;
        bool little;
        std::string module, type;  // mutagen's reader
    };
    const Case cases[] = {{"a.wav", true, "wave", "WAVE"}, {"a.aiff", false, "aiff", "AIFF"}};
    for (const auto& c : cases) {
        auto src = dir / c.name;
        auto made = test::runShell(
            "ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.3 "
            "-metadata title=Probe -y '" +
            src.string() + "'");
        ASSERT_EQ(made.status, 0) << made.output;
        Bytes out = rewrite(test::readFile(src), c.little, kCode);
        auto dst = dir / ("tagged-" + c.name);
        test::writeFile(dst, out);
        auto md5 = [](const std::filesystem::path& p) {
            return test::runShell("ffmpeg -v error -i '" + p.string() + "' -f md5 -").output;
        };
        EXPECT_EQ(md5(src), md5(dst)) << c.name;
        auto read = test::runShell("/usr/bin/python3 -c \"import sys, mutagen." + c.module +
                                   " as m; print(m." + c.type +
                                   "(sys.argv[1]).tags['TSRC'].text[0])\" '" + dst.string() + "'");
        EXPECT_EQ(read.status, 0) << read.output;
        EXPECT_EQ(read.output, std::string(kCode) + "\n") << c.name;
    }
}

}  // namespace
}  // namespace pelorix
