// FLAC files: the metadata walk, Vorbis comments, and the rewrite of the comment block.
#include "core/flac_tagger.h"

#include <gtest/gtest.h>

#include "core/tag_error.h"
#include "support/files.h"
#include "support/flac_builder.h"
#include "support/id3_builder.h"

namespace pelorix {
namespace {

using test::bytesOf;
using test::flac::BlockSpec;
using test::flac::FileSpec;
using namespace std::string_literals;

constexpr const char* kCode = "GBAYE2400001";

// A metadata chain read strictly from bytes, independently of the code under test.
struct RawBlock {
    std::uint8_t header = 0;  // type with the last-block flag
    Bytes data;
    bool operator==(const RawBlock&) const = default;
};

struct RawFile {
    std::vector<RawBlock> blocks;
    Bytes audio;
};

RawFile strictRead(const Bytes& file, std::size_t flacOffset = 0) {
    RawFile out;
    EXPECT_EQ(Bytes(file.begin() + std::ptrdiff_t(flacOffset),
                    file.begin() + std::ptrdiff_t(flacOffset + 4)),
              bytesOf("fLaC"));
    std::size_t pos = flacOffset + 4;
    for (;;) {
        if (file.size() - pos < 4) {
            ADD_FAILURE() << "chain without a last block";
            return out;
        }
        std::size_t n =
            (std::size_t(file[pos + 1]) << 16) | (std::size_t(file[pos + 2]) << 8) | file[pos + 3];
        auto body = file.begin() + std::ptrdiff_t(pos + 4);
        out.blocks.push_back({file[pos], Bytes(body, body + std::ptrdiff_t(n))});
        pos += 4 + n;
        if (file[pos - 4 - n] & 0x80) break;
    }
    out.audio.assign(file.begin() + std::ptrdiff_t(pos), file.end());
    return out;
}

std::vector<std::string> entriesOf(const Bytes& commentData) {
    std::vector<std::string> out;
    for (const Bytes& e : FLACTagger::parseComments(commentData).entries)
        out.emplace_back(e.begin(), e.end());
    return out;
}

FileSpec basic(std::vector<BlockSpec> blocks) {
    FileSpec spec;
    spec.blocks = std::move(blocks);
    spec.audio = bytesOf(
        "\xFF\xF8"
        "audio frames\x00\x01\x02"s);
    return spec;
}

class FLACTest : public ::testing::Test {
  protected:
    std::filesystem::path put(const Bytes& bytes) {
        auto p = dir / ("f" + std::to_string(++files));
        test::writeFile(p, bytes);
        return p;
    }

    std::filesystem::path rewriteTo(const Bytes& input, const std::optional<std::string>& isrc) {
        FileIn in(put(input));
        auto outPath = dir / ("out" + std::to_string(++files));
        FileOut out(outPath);
        FLACTagger::write(in, out, isrc);
        out.close();
        return outPath;
    }

    Bytes rewrite(const Bytes& input, const std::optional<std::string>& isrc) {
        return test::readFile(rewriteTo(input, isrc));
    }

    std::optional<std::string> codeOf(const Bytes& file) {
        FileIn in(put(file));
        return FLACTagger::readISRC(in);
    }

    void expectError(const Bytes& file, std::string_view message, TagError::Kind kind,
                     const std::string& name, bool writing = false) {
        try {
            if (writing)
                rewrite(file, kCode);
            else
                codeOf(file);
            ADD_FAILURE() << name << ": accepted";
        } catch (const TagError& e) {
            EXPECT_EQ(e.message(), message) << name;
            EXPECT_EQ(e.kind(), kind) << name;
        }
    }

    test::TempDir dir;
    int files = 0;
};

// ---- layout ----------------------------------------------------------------------------------

TEST_F(FLACTest, LayoutRefusesDamagedChains) {
    Bytes good = test::flac::file(basic({test::flac::streamInfo()}));
    Bytes noMarker = good;
    noMarker[0] = 'F';
    FileSpec noLast = basic({test::flac::streamInfo(), {1, Bytes(8, 0), false}});
    noLast.audio.clear();
    FileSpec overlong = basic({test::flac::streamInfo(), {1, Bytes(8, 0), true, 0xFFFFFF}});
    Bytes cutHeader = test::flac::file(basic({{0, Bytes(34, 0), false}}));
    cutHeader.resize(4 + 4 + 34 + 2);
    FileSpec junkLead = basic({test::flac::streamInfo()});
    junkLead.leading = bytesOf("junk");
    struct Case {
        std::string name;
        Bytes file;
        std::string_view message;
    };
    const Case cases[] = {
        {"no marker", noMarker, msg::notFLAC},
        {"empty file", {}, msg::notFLAC},
        {"junk before the marker", test::flac::file(junkLead), msg::notFLAC},
        {"marker only", bytesOf("fLaC"), msg::flacTruncated},
        {"no last block", test::flac::file(noLast), msg::flacTruncated},
        {"block longer than the file", test::flac::file(overlong), msg::flacTruncated},
        {"header cut off", cutHeader, msg::flacTruncated},
    };
    for (const auto& c : cases) {
        expectError(c.file, c.message, TagError::Kind::malformed, c.name);
        expectError(c.file, c.message, TagError::Kind::malformed, c.name + " (write)", true);
    }
}

TEST_F(FLACTest, LayoutStepsOverALeadingTagOfAnyVersion) {
    for (std::uint8_t version : {2, 3, 4}) {
        test::id3::TagSpec tag;
        tag.version = version;
        tag.padding = 33;
        FileSpec spec = basic(
            {test::flac::streamInfo(), test::flac::comments("v", {"ISRC=" + std::string(kCode)})});
        spec.leading = test::id3::tag(tag);
        Bytes file = test::flac::file(spec);
        FileIn in(put(file));
        auto l = FLACTagger::layout(in);
        EXPECT_EQ(l.flacOffset, spec.leading.size());
        ASSERT_EQ(l.blocks.size(), 2u);
        EXPECT_EQ(l.blocks[1].type, 4);
        EXPECT_EQ(l.audioOffset, file.size() - spec.audio.size());
        EXPECT_EQ(codeOf(file), kCode) << int(version);
        // The tag is copied byte for byte, never parsed.
        Bytes out = rewrite(file, "USRC17607839");
        EXPECT_TRUE(std::equal(spec.leading.begin(), spec.leading.end(), out.begin()))
            << int(version);
        EXPECT_EQ(codeOf(out), "USRC17607839");
    }
}

// ---- comments --------------------------------------------------------------------------------

TEST_F(FLACTest, ParseCommentsRefusesADamagedHead) {
    const Bytes cases[] = {
        {},
        Bytes(7, 0),
        Bytes{7, 0, 0, 0, 'v', 'e', 'n', 'd', 0, 0, 0},  // vendor runs past the end
        Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},  // a length that overflows 32-bit arithmetic
    };
    for (const auto& data : cases) {
        EXPECT_THROW(
            {
                try {
                    FLACTagger::parseComments(data);
                } catch (const TagError& e) {
                    EXPECT_EQ(e.message(), msg::flacCommentDamaged);
                    throw;
                }
            },
            TagError)
            << data.size();
    }
}

TEST_F(FLACTest, ParseCommentsReadsWholeEntriesOnly) {
    Bytes exact = test::flac::commentData("ven", {"A=1", "B=2"});
    Bytes overCount = test::flac::commentData("ven", {"A=1", "B=2"}, 1000000);
    Bytes underCount = test::flac::commentData("ven", {"A=1", "B=2"}, 1);
    Bytes cutEntry = exact;
    cutEntry.resize(cutEntry.size() - 1);
    Bytes cutLength = test::flac::commentData("ven", {"A=1"}, 2);
    cutLength.insert(cutLength.end(), {9, 0});
    Bytes hugeLength = test::flac::commentData("ven", {"A=1"}, 2);
    hugeLength.insert(hugeLength.end(), {0xFF, 0xFF, 0xFF, 0xFF, 'x'});
    Bytes trailing = exact;
    trailing.insert(trailing.end(), {1, 2, 3});
    struct Case {
        std::string name;
        Bytes data;
        std::string vendor;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {"exact", exact, "ven", {"A=1", "B=2"}},
        {"count larger than the entries", overCount, "ven", {"A=1", "B=2"}},
        {"count smaller than the entries", underCount, "ven", {"A=1"}},
        {"last entry cut", cutEntry, "ven", {"A=1"}},
        {"length field cut", cutLength, "ven", {"A=1"}},
        {"length past the end", hugeLength, "ven", {"A=1"}},
        {"bytes after the last entry", trailing, "ven", {"A=1", "B=2"}},
        {"smallest block", test::flac::commentData("", {}), "", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FLACTagger::parseComments(c.data).vendor, bytesOf(c.vendor)) << c.name;
        EXPECT_EQ(entriesOf(c.data), c.entries) << c.name;
    }
    // Rebuilding stores what was read, with the count corrected.
    EXPECT_EQ(FLACTagger::build(FLACTagger::parseComments(overCount)), exact);
    EXPECT_EQ(FLACTagger::build(FLACTagger::parseComments(trailing)), exact);
}

TEST_F(FLACTest, KeysMatchInAnyLetterCase) {
    struct Case {
        std::string entry;
        std::optional<std::string> read;
    };
    const Case cases[] = {
        {"ISRC=" + std::string(kCode), kCode},
        {"isrc=" + std::string(kCode), kCode},
        {"IsRc=x=y", "x=y"},
        {"\xC4\xB1src=dotless", "dotless"},  // U+0131 upper-cases to I
        {"ISRC=  padded \n", "padded"},
        {"ISRC=", ""},
        {"ISRC=\xFF", "\xEF\xBF\xBD"},  // invalid UTF-8 becomes U+FFFD
        {"ISRC", std::nullopt},
        {"ISRCX=1", std::nullopt},
        {"ISR=1", std::nullopt},
        {"=ISRC", std::nullopt},
        {"ISRC =1", std::nullopt},
        {" ISRC=1", std::nullopt},
        {"\xEF\xBC\xA9SRC=1", std::nullopt},  // full-width I stays full-width
        {"ISRC\xFF=1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        Bytes file = test::flac::file(
            basic({test::flac::streamInfo(), test::flac::comments("v", {"TITLE=x", c.entry})}));
        EXPECT_EQ(codeOf(file), c.read) << c.entry;
        // Writing removes exactly the entries that reading would find.
        Bytes out = rewrite(file, std::nullopt);
        auto entries = entriesOf(strictRead(out).blocks[1].data);
        std::vector<std::string> expected{"TITLE=x"};
        if (!c.read) expected.push_back(c.entry);
        EXPECT_EQ(entries, expected) << c.entry;
    }
}

// ---- write -----------------------------------------------------------------------------------

TEST_F(FLACTest, ANewCommentBlockFollowsStreamInfoAndTakesTheLastFlag) {
    FileSpec spec = basic({test::flac::streamInfo()});
    Bytes input = test::flac::file(spec);
    Bytes out = rewrite(input, kCode);
    auto raw = strictRead(out);
    ASSERT_EQ(raw.blocks.size(), 2u);
    EXPECT_EQ(raw.blocks[0], (RawBlock{0x00, test::flac::streamInfo().data}));
    EXPECT_EQ(raw.blocks[1].header, 0x84);
    auto comments = FLACTagger::parseComments(raw.blocks[1].data);
    EXPECT_EQ(comments.vendor, bytesOf("PELORIX"));
    EXPECT_EQ(entriesOf(raw.blocks[1].data),
              (std::vector<std::string>{"ISRC=" + std::string(kCode)}));
    EXPECT_EQ(raw.audio, spec.audio);
    EXPECT_EQ(out.size(), input.size() + 4 + raw.blocks[1].data.size());
    EXPECT_EQ(codeOf(out), kCode);
}

TEST_F(FLACTest, TheInsertedBlockGoesSecondWhateverFollowsTheFirst) {
    FileSpec spec = basic({test::flac::streamInfo(), {3, Bytes(18, 3)}, test::flac::padding(100)});
    auto raw = strictRead(rewrite(test::flac::file(spec), kCode));
    std::vector<std::uint8_t> headers;
    for (const auto& b : raw.blocks) headers.push_back(b.header);
    EXPECT_EQ(headers, (std::vector<std::uint8_t>{0x00, 0x04, 0x03, 0x81}));
    EXPECT_EQ(raw.blocks[3].data, Bytes(100, 0));
}

TEST_F(FLACTest, RemovingWithoutACommentBlockChangesNothing) {
    Bytes input = test::flac::file(basic({test::flac::streamInfo(), test::flac::padding(10)}));
    EXPECT_EQ(rewrite(input, std::nullopt), input);
}

TEST_F(FLACTest, RemovingTheOnlyEntryKeepsAnEmptyBlock) {
    Bytes input = test::flac::file(
        basic({test::flac::streamInfo(),
               test::flac::comments("reference libFLAC 1.4.2", {"ISRC=" + std::string(kCode)}),
               test::flac::padding(64)}));
    Bytes out = rewrite(input, std::nullopt);
    auto raw = strictRead(out);
    ASSERT_EQ(raw.blocks.size(), 3u);
    EXPECT_EQ(raw.blocks[1].header, 0x04);
    EXPECT_EQ(raw.blocks[1].data, test::flac::commentData("reference libFLAC 1.4.2", {}));
    EXPECT_EQ(raw.blocks[2], (RawBlock{0x81, Bytes(64, 0)}));
    EXPECT_FALSE(codeOf(out));
}

TEST_F(FLACTest, AllMatchingEntriesGiveWayToOneNewEntryAtTheEnd) {
    Bytes input = test::flac::file(basic(
        {test::flac::streamInfo(),
         test::flac::comments("v", {"isrc=USRC17607839", "ISRC=FRZ039800212", "ARTIST=Someone"}),
         test::flac::padding(8)}));
    EXPECT_EQ(codeOf(input), "USRC17607839");
    auto raw = strictRead(rewrite(input, kCode));
    EXPECT_EQ(entriesOf(raw.blocks[1].data),
              (std::vector<std::string>{"ARTIST=Someone", "ISRC=" + std::string(kCode)}));
    // The padding does not shrink to absorb the longer block.
    EXPECT_EQ(raw.blocks[2], (RawBlock{0x81, Bytes(8, 0)}));
}

TEST_F(FLACTest, OnlyTheFirstCommentBlockCounts) {
    BlockSpec second = test::flac::comments("other", {"ISRC=FRZ039800212"});
    Bytes input = test::flac::file(
        basic({test::flac::streamInfo(), test::flac::comments("v", {"TITLE=x"}), second}));
    EXPECT_FALSE(codeOf(input));
    auto raw = strictRead(rewrite(input, kCode));
    ASSERT_EQ(raw.blocks.size(), 3u);
    EXPECT_EQ(entriesOf(raw.blocks[1].data),
              (std::vector<std::string>{"TITLE=x", "ISRC=" + std::string(kCode)}));
    EXPECT_EQ(raw.blocks[2], (RawBlock{0x84, second.data}));
}

TEST_F(FLACTest, ADamagedCommentBlockIsReportedOnReadAndWrite) {
    Bytes input =
        test::flac::file(basic({test::flac::streamInfo(), {4, Bytes{200, 0, 0, 0, 'v', 0, 0, 0}}}));
    expectError(input, msg::flacCommentDamaged, TagError::Kind::malformed, "read");
    expectError(input, msg::flacCommentDamaged, TagError::Kind::malformed, "write", true);
}

TEST_F(FLACTest, TheCommentBlockMayNotOutgrowItsLengthField) {
    // New data: 4 + 1 (vendor) + 4 (count) + 4 + filler + 4 + 17 ("ISRC=" + code).
    const std::size_t overhead = 4 + 1 + 4 + 4 + 4 + 17;
    const std::size_t largest = (std::size_t(1) << 24) - 1;
    for (std::size_t target : {largest, largest + 1}) {
        std::string filler = "X=" + std::string(target - overhead - 2, 'x');
        Bytes input = test::flac::file(
            basic({test::flac::streamInfo(), test::flac::comments("v", {filler})}));
        if (target == largest) {
            FileIn out(rewriteTo(input, kCode));
            EXPECT_EQ(out.size(), input.size() + 21);
            // The comment block's header right after STREAMINFO: last flag, type 4, 0xFFFFFF.
            EXPECT_EQ(out.read(4 + 4 + 34, 4), (Bytes{0x84, 0xFF, 0xFF, 0xFF}));
        } else {
            expectError(input, msg::flacCommentTooLarge, TagError::Kind::unsupported, "2^24", true);
        }
    }
}

// ---- hostile input ---------------------------------------------------------------------------

TEST_F(FLACTest, ThousandsOfEmptyBlocksAreCopiedInOrder) {
    std::vector<BlockSpec> blocks{test::flac::streamInfo()};
    for (int i = 0; i < 20000; ++i) blocks.push_back({std::uint8_t(5 + i % 100), {}});
    Bytes input = test::flac::file(basic(blocks));
    auto raw = strictRead(rewrite(input, kCode));
    ASSERT_EQ(raw.blocks.size(), 20002u);
    EXPECT_EQ(raw.blocks[1].header, 0x04);
    EXPECT_EQ(raw.blocks[20001].header, 0x80 | (5 + 19999 % 100));
}

TEST_F(FLACTest, DamagedFilesFailCleanlyOrRewriteToAWellFormedFile) {
    test::id3::TagSpec lead;
    lead.frames = {test::id3::textFrame("TIT2", "x")};
    FileSpec spec = basic({test::flac::streamInfo(),
                           test::flac::comments("v", {"ARTIST=a", "ISRC=FRZ039800212"}),
                           test::flac::padding(20)});
    spec.leading = test::id3::tag(lead);
    const Bytes seed = test::flac::file(spec);
    std::uint32_t x = 99;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    int written = 0;
    for (int round = 0; round < 250; ++round) {
        Bytes file = seed;
        for (int k = 0; k < 1 + int(next() % 4); ++k) {
            file[next() % file.size()] = (next() % 3 == 0) ? 0xFF : std::uint8_t(next());
        }
        if (next() % 6 == 0) file.resize(next() % file.size());
        try {
            Bytes out = rewrite(file, kCode);
            ++written;
            EXPECT_EQ(codeOf(out), kCode);
        } catch (const TagError&) {
            // A refusal with a message is a clean result for damaged input.
        }
    }
    EXPECT_GT(written, 40);
}

// ---- other programs read what we write -------------------------------------------------------

TEST_F(FLACTest, FilesFromTheReferenceEncoderStayValid) {
    if (test::runShell("command -v ffmpeg && command -v flac && command -v metaflac").status != 0) {
        GTEST_SKIP() << "flac tools missing";
    }
    auto wav = dir / "src.wav";
    auto flacPath = dir / "src.flac";
    auto made = test::runShell("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=0.5 -y '" +
                               wav.string() +
                               "' && flac -s -f --tag=isrc=USRC17607839 --tag=TITLE=Probe -o '" +
                               flacPath.string() + "' '" + wav.string() + "'");
    ASSERT_EQ(made.status, 0) << made.output;
    Bytes input = test::readFile(flacPath);
    EXPECT_EQ(codeOf(input), "USRC17607839");

    auto out = dir / "tagged.flac";
    test::writeFile(out, rewrite(input, kCode));
    auto tested = test::runShell("flac -s -t '" + out.string() + "'");
    EXPECT_EQ(tested.status, 0) << tested.output;
    auto tags = test::runShell("metaflac --export-tags-to=- '" + out.string() + "'");
    EXPECT_EQ(tags.output, "TITLE=Probe\nISRC=" + std::string(kCode) + "\n");

    auto removed = dir / "removed.flac";
    test::writeFile(removed, rewrite(input, std::nullopt));
    EXPECT_EQ(test::runShell("flac -s -t '" + removed.string() + "'").status, 0);
    EXPECT_EQ(test::runShell("metaflac --export-tags-to=- '" + removed.string() + "'").output,
              "TITLE=Probe\n");
}

}  // namespace
}  // namespace pelorix
