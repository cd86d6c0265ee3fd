// SPDX-License-Identifier: MIT
// FLAC files: the rewrite of the comment blocks. Key spellings and damaged chains are stored cases
// in fuzz/corpus (outcomes.tsv).
#include "core/formats/flac.h"
#include "core/formats/vorbis_comment.h"

#include <gtest/gtest.h>

#include "support/codec_harness.h"
#include "support/flac_builder.h"
#include "support/id3_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::flac;
using namespace std::string_literals;
using Code = std::optional<std::string>;

namespace {

const std::string kCode = "GBAYE2400001", kEntry = "ISRC=" + kCode;
const BlockLayout kInfo = streamInfo();
const Bytes kAudio = bytesOf("\xFF\xF8 audio frames\x00\x01\x02"s);

Bytes file(std::vector<BlockLayout> blocks, Bytes leading = {}) {
    return flac::file({std::move(leading), std::move(blocks), kAudio});
}

struct FLACFile : ::testing::Test {
    Bytes rewrite(const Bytes& input, const Code& isrc) {
        return files.written(input,
                             [&](auto& in, auto& out) { formats::flac::write(in, out, isrc); });
    }
    Code codeOf(const Bytes& f) { return files.read(f, formats::flac::readISRC); }
    Scratch files;
};

}  // namespace

TEST_F(FLACFile, EveryCommentBlockWithACodeGetsTheNewOneAndEverythingElseStays) {
    const BlockLayout title = comments("v", {"TITLE=x"}), pad = padding(64), app{3, Bytes(18, 3)};
    const BlockLayout fresh = comments("PELORIX", {kEntry}), other = comments("w", {"A=1"});
    const BlockLayout titled = comments("v", {"TITLE=x", kEntry});
    const Bytes tag = id3::tag({.version = 2, .padding = 33});  // stepped over whatever its version
    const struct {
        std::vector<BlockLayout> in;
        Code read;
        Code code;
        std::vector<BlockLayout> out;
        Bytes leading = {};
    } cases[] = {
        // A new block follows STREAMINFO; padding never absorbs a change.
        {{kInfo}, {}, kCode, {kInfo, fresh}},
        {{kInfo, app, pad}, {}, kCode, {kInfo, fresh, app, pad}},
        {{kInfo, pad}, {}, std::nullopt, {kInfo, pad}},
        // Keys in any letter case (U+0131 upper-cases to I) go; the code goes last.
        {{kInfo, comments("v", {"isrc= USRC17607839\n", "\xC4\xB1src=x", "ARTIST=A"}), pad},
         "USRC17607839",
         kCode,
         {kInfo, comments("v", {"ARTIST=A", kEntry}), pad}},
        {{kInfo, comments("v", {"ISRC", "ISRCX=1", " ISRC=1", "\xEF\xBC\xA9SRC=1", kEntry})},
         kCode,
         std::nullopt,
         {kInfo, comments("v", {"ISRC", "ISRCX=1", " ISRC=1", "\xEF\xBC\xA9SRC=1"})}},
        // The other entries are copied in runs between the ISRC entries.
        {{kInfo, comments("v", {"A=1", "ISRC=FRZ03980021", "B=2", "isrc=x", "C=3"})},
         "FRZ03980021",
         kCode,
         {kInfo, comments("v", {"A=1", "B=2", "C=3", kEntry})}},
        // A second block that holds a code is read, and gets the same code or loses it.
        {{kInfo, title, comments("w", {"ISRC=FRZ03980021"})},
         "FRZ03980021",
         kCode,
         {kInfo, titled, comments("w", {kEntry})}},
        {{kInfo, title, other}, {}, kCode, {kInfo, titled, other}},
        {{kInfo, title}, {}, kCode, {kInfo, titled}, tag},
    };
    for (const auto& c : cases) {
        const Bytes input = file(c.in, c.leading);
        EXPECT_EQ(codeOf(input), c.read) << &c - cases;
        EXPECT_EQ(rewrite(input, c.code), file(c.out, c.leading)) << &c - cases;
    }
}

TEST_F(FLACFile, TheCommentBlockMayNotOutgrowItsLengthField) {
    // A new block: 4 + 7 ("PELORIX") + 4 (count) + 4 + 5 ("ISRC=") bytes and the code, here a
    // long one, so that the input stays small.
    const std::size_t largest = (std::size_t(1) << 24) - 1;
    const Bytes input = file({kInfo});
    for (std::size_t size : {largest, largest + 1}) {
        const FileIn in(files.put(input));
        FileOut out(files.dir / ("big" + std::to_string(size)));
        const std::string error =
            errorOf([&] { formats::flac::write(in, out, std::string(size - 24, 'x')); });
        out.flushBuffer();
        const FileIn written(out.path());
        EXPECT_EQ(written.size(), size == largest ? input.size() + 4 + largest : 0);
        EXPECT_EQ(error, size == largest ? "" : formats::flac::msg::flacCommentTooLarge);
    }
}

// A comment block whose count promises more entries than its length holds, or whose entries stop
// short of its end: a rewrite would lose the entries other readers find past it, so reading,
// writing and removing all call it damaged.
TEST_F(FLACFile, ACommentBlockThatDoesNotHoldItsEntriesIsDamagedToEveryMode) {
    const Bytes whole = comments("v", {"TITLE=Song", "ARTIST=Band", "ALBUM=Disc", kEntry}).data;
    for (const Bytes& data : {slice(whole, 0, 48), join({whole, Bytes{7, 0, 0, 0, 'X'}})}) {
        const Bytes input = file({kInfo, {4, data}, padding(16)});
        EXPECT_EQ(errorOf([&] { codeOf(input); }), formats::flac::msg::flacCommentDamaged);
        EXPECT_EQ(errorOf([&] { rewrite(input, kCode); }), formats::flac::msg::flacCommentDamaged);
        EXPECT_EQ(errorOf([&] { rewrite(input, std::nullopt); }),
                  formats::flac::msg::flacCommentDamaged);
    }
    // An ISRC entry of megabytes is no code: refused, not read.
    const Bytes huge = file({kInfo, comments("v", {"ISRC=" + std::string(1 << 20, 'x')})});
    EXPECT_EQ(errorOf([&] { codeOf(huge); }), formats::vorbis::msg::codeEntryTooLarge);
}
