// SPDX-License-Identifier: MIT
// FLAC files: the metadata walk, Vorbis comments, and the rewrite of the comment block.
#include "core/formats/flac.h"

#include <gtest/gtest.h>

#include "support/codec_harness.h"
#include "support/flac_builder.h"
#include "support/id3_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using flac::BlockSpec;
using flac::commentData;
using flac::comments;
using flac::padding;
using namespace std::string_literals;

namespace {

const std::string kCode = "GBAYE2400001";
const std::string kEntry = "ISRC=" + kCode;
const BlockSpec kInfo = flac::streamInfo();
const Bytes kAudio = bytesOf(
    "\xFF\xF8"
    "audio frames\x00\x01\x02"s);

struct RawBlock {
    std::uint8_t header = 0;  // type with the last-block flag
    Bytes data;
    bool operator==(const RawBlock&) const = default;
};

// The metadata blocks and the bytes after them, read strictly and independently of the code
// under test.
std::pair<std::vector<RawBlock>, Bytes> strictRead(const Bytes& file, std::size_t at = 0) {
    EXPECT_EQ(Bytes(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + 4)),
              bytesOf("fLaC"));
    std::vector<RawBlock> blocks;
    for (at += 4; file.size() - at >= 4;) {
        const std::size_t n = std::size_t(file[at + 1]) << 16 | file[at + 2] << 8 | file[at + 3];
        if (n > file.size() - at - 4) break;
        const auto body = file.begin() + std::ptrdiff_t(at + 4);
        blocks.push_back({file[at], Bytes(body, body + std::ptrdiff_t(n))});
        at += 4 + n;
        if (blocks.back().header & 0x80) return {blocks, Bytes(file.begin() + at, file.end())};
    }
    ADD_FAILURE() << "no last block";
    return {blocks, {}};
}

std::vector<std::string> entriesOf(const Bytes& commentData) {
    std::vector<std::string> out;
    for (const Bytes& e : FLACTagger::parseComments(commentData).entries) {
        out.emplace_back(e.begin(), e.end());
    }
    return out;
}

Bytes file(std::vector<BlockSpec> blocks, Bytes leading = {}) {
    return flac::file({std::move(leading), std::move(blocks), kAudio});
}

class FLACTest : public ::testing::Test {
  protected:
    Bytes rewrite(const Bytes& input, const std::optional<std::string>& isrc) {
        return files.written(input, [&](auto& in, auto& out) { FLACTagger::write(in, out, isrc); });
    }
    std::optional<std::string> codeOf(const Bytes& f) {
        return files.read(f, FLACTagger::readISRC);
    }
    Scratch files;
};

}  // namespace

TEST_F(FLACTest, DamagedChainsAreRefusedOnReadAndWrite) {
    Bytes cutHeader = file({{0, Bytes(34, 0), false}});
    cutHeader.resize(4 + 4 + 34 + 2);
    const std::string notFLAC = malformed(msg::notFLAC), truncated = malformed(msg::flacTruncated);
    const std::pair<Bytes, std::string> cases[] = {
        {bytesOf("fLaX and more bytes"), notFLAC},
        {{}, notFLAC},
        {file({kInfo}, bytesOf("junk")), notFLAC},
        {bytesOf("fLaC"), truncated},
        {flac::file({{}, {kInfo, {1, Bytes(8, 0), false}}, {}}), truncated},
        {file({kInfo, {1, Bytes(8, 0), true, 0xFFFFFF}}), truncated},
        {cutHeader, truncated},
        {file({kInfo, {4, {200, 0, 0, 0, 'v', 0, 0}}}), malformed(msg::flacCommentDamaged)},
    };
    for (const auto& [f, error] : cases) {
        EXPECT_EQ(errorOf([&] { codeOf(f); }), error) << testing::PrintToString(f);
        EXPECT_EQ(errorOf([&] { rewrite(f, kCode); }), error) << testing::PrintToString(f);
    }
}

TEST_F(FLACTest, ALeadingTagOfAnyVersionIsSteppedOverAndCopiedByteForByte) {
    for (std::uint8_t version : {2, 3, 4}) {
        const Bytes tag = id3::tag({.version = version, .padding = 33});
        const Bytes input = file({kInfo, comments("v", {kEntry})}, tag);
        const auto layout = files.read(input, FLACTagger::layout);
        EXPECT_EQ(layout.flacOffset, tag.size());
        const std::vector<FLACTagger::Block> blocks = {{0, kInfo.data},
                                                       {4, commentData("v", {kEntry})}};
        EXPECT_EQ(layout.blocks, blocks);
        EXPECT_EQ(layout.audioOffset, input.size() - kAudio.size());
        EXPECT_EQ(codeOf(input), kCode) << int(version);

        const Bytes out = rewrite(input, "USRC17607839");
        EXPECT_TRUE(std::equal(tag.begin(), tag.end(), out.begin())) << int(version);
        EXPECT_EQ(strictRead(out, tag.size()).first.size(), 2u);
        EXPECT_EQ(codeOf(out), "USRC17607839");
    }
}

TEST_F(FLACTest, CommentsAreReadAsWholeEntriesWhateverTheCount) {
    for (const Bytes& damaged : {Bytes(7, 0), Bytes{7, 0, 0, 0, 'v', 'e', 'n', 'd', 0, 0, 0},
                                 Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}}) {
        EXPECT_EQ(errorOf([&] { FLACTagger::parseComments(damaged); }),
                  malformed(msg::flacCommentDamaged));
    }
    const Bytes exact = commentData("ven", {"A=1", "B=2"});
    const std::pair<Bytes, std::vector<std::string>> cases[] = {
        {exact, {"A=1", "B=2"}},
        {commentData("ven", {"A=1", "B=2"}, 1000000), {"A=1", "B=2"}},
        {commentData("ven", {"A=1", "B=2"}, 1), {"A=1"}},
        {Bytes(exact.begin(), exact.end() - 1), {"A=1"}},
        {join({commentData("ven", {"A=1"}, 2), {9, 0}}), {"A=1"}},
        {join({commentData("ven", {"A=1"}, 2), {0xFF, 0xFF, 0xFF, 0xFF, 'x'}}), {"A=1"}},
        {join({exact, {1, 2, 3}}), {"A=1", "B=2"}},
    };
    for (const auto& [data, entries] : cases) {
        EXPECT_EQ(FLACTagger::parseComments(data).vendor, bytesOf("ven"));
        EXPECT_EQ(entriesOf(data), entries);
        // Rebuilt as read, with the count corrected.
        EXPECT_EQ(FLACTagger::build(FLACTagger::parseComments(data)), commentData("ven", entries));
    }
    EXPECT_EQ(FLACTagger::parseComments(commentData("", {})), FLACTagger::Comments{});
}

TEST_F(FLACTest, KeysMatchInAnyLetterCaseAndWritingRemovesExactlyWhatReadingFinds) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {kEntry, kCode},
        {"isrc=" + kCode, kCode},
        {"IsRc=x=y", "x=y"},
        {"\xC4\xB1src=dotless", "dotless"},  // U+0131 upper-cases to I
        {"ISRC=  padded \n", "padded"},
        {"ISRC=", ""},
        {"ISRC=\xFF", "\xEF\xBF\xBD"},  // invalid UTF-8 reads as U+FFFD
        {"ISRC", std::nullopt},
        {"ISRCX=1", std::nullopt},
        {"ISR=1", std::nullopt},
        {"ISRC =1", std::nullopt},
        {" ISRC=1", std::nullopt},
        {"\xEF\xBC\xA9SRC=1", std::nullopt},  // a full-width I stays full-width
    };
    for (const auto& [entry, read] : cases) {
        const Bytes input = file({kInfo, comments("v", {"TITLE=x", entry})});
        EXPECT_EQ(codeOf(input), read) << entry;
        std::vector<std::string> kept{"TITLE=x"};
        if (!read) kept.push_back(entry);
        EXPECT_EQ(entriesOf(strictRead(rewrite(input, std::nullopt)).first[1].data), kept) << entry;
    }
}

TEST_F(FLACTest, TheFirstCommentBlockIsRewrittenOrANewOneFollowsStreamInfo) {
    const RawBlock info{0x00, kInfo.data};
    const Bytes second = commentData("other", {"ISRC=FRZ03980021"});
    const Bytes ours = commentData("PELORIX", {kEntry});
    const struct {
        std::vector<BlockSpec> blocks;
        std::optional<std::string> code;
        std::vector<RawBlock> want;
    } cases[] = {
        {{kInfo}, kCode, {info, {0x84, ours}}},
        {{kInfo, {3, Bytes(18, 3)}, padding(100)},
         kCode,
         {info, {0x04, ours}, {0x03, Bytes(18, 3)}, {0x81, Bytes(100, 0)}}},
        {{kInfo, padding(10)}, std::nullopt, {info, {0x81, Bytes(10, 0)}}},
        // Removing the only entry keeps an empty block; padding never absorbs a change.
        {{kInfo, comments("reference libFLAC 1.4.2", {kEntry}), padding(64)},
         std::nullopt,
         {info, {0x04, commentData("reference libFLAC 1.4.2", {})}, {0x81, Bytes(64, 0)}}},
        {{kInfo, comments("v", {"isrc=USRC17607839", "ISRC=FRZ039800212", "ARTIST=A"}), padding(8)},
         kCode,
         {info, {0x04, commentData("v", {"ARTIST=A", kEntry})}, {0x81, Bytes(8, 0)}}},
        {{kInfo, comments("v", {"TITLE=x"}), {4, second}},
         kCode,
         {info, {0x04, commentData("v", {"TITLE=x", kEntry})}, {0x84, second}}},
    };
    for (const auto& c : cases) {
        const auto [blocks, audio] = strictRead(rewrite(file(c.blocks), c.code));
        EXPECT_EQ(blocks, c.want) << &c - cases;
        EXPECT_EQ(audio, kAudio);
    }
    EXPECT_EQ(codeOf(file({kInfo, comments("v", {"TITLE=x"}), {4, second}})), std::nullopt);
}

TEST_F(FLACTest, TheCommentBlockMayNotOutgrowItsLengthField) {
    // A new block: 4 + 7 ("PELORIX") + 4 (count) + 4 + 5 ("ISRC=") bytes and the code, here a
    // long one, so that the input stays small.
    const std::size_t largest = (std::size_t(1) << 24) - 1;
    const Bytes input = file({kInfo});
    for (std::size_t size : {largest, largest + 1}) {
        const FileIn in(files.put(input));
        FileOut out(files.dir / ("big" + std::to_string(size)));
        const std::string code(size - 24, 'x');
        const std::string error = errorOf([&] { FLACTagger::write(in, out, code); });
        out.flushBuffer();
        const FileIn written(out.path());
        if (size == largest) {
            EXPECT_EQ(written.size(), input.size() + 4 + largest);
            EXPECT_EQ(written.read(4 + 4 + 34, 4), (Bytes{0x84, 0xFF, 0xFF, 0xFF}));
        } else {
            EXPECT_EQ(error, unsupported(msg::flacCommentTooLarge));
            EXPECT_EQ(written.size(), 0u);
        }
    }
}

TEST_F(FLACTest, DamagedFilesFailCleanlyOrRewriteToAWellFormedFile) {
    const Bytes lead = id3::tag({.frames = {id3::textFrame("TIT2", "x")}});
    int written = 0;
    const Bytes seed = file({kInfo, comments("v", {"ARTIST=a", "ISRC=X"}), padding(20)}, lead);
    forEachDamaged(seed, 0, 150, [&](const Bytes& f) {
        try {
            const Bytes out = rewrite(f, kCode);
            ++written;
            EXPECT_EQ(codeOf(out), kCode);
        } catch (const TagError&) {
        }
    });
    EXPECT_GT(written, 30);
    // Thousands of empty blocks come through in order, the new block second.
    std::vector<BlockSpec> blocks{kInfo};
    for (int i = 0; i < 5000; ++i) blocks.push_back({std::uint8_t(5 + i % 100), {}});
    const auto raw = strictRead(rewrite(file(blocks), kCode)).first;
    ASSERT_EQ(raw.size(), 5002u);
    EXPECT_EQ(raw[1].header, 0x04);
    EXPECT_EQ(raw[5001].header, 0x80 | (5 + 4999 % 100));
}
