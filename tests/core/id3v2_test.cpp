// SPDX-License-Identifier: MIT
// ID3v2 tags: the rebuilt tag, byte for byte. The frame walk, the text decoding, MP3 files and
// format detection are stored cases in fuzz/corpus (outcomes.tsv); peak memory is the bench's.
#include "core/formats/id3v2.h"

#include <gtest/gtest.h>

#include "core/formats/mp3.h"
#include "support/codec_harness.h"
#include "support/id3_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using id3::FrameLayout;
using id3::textFrame;
using Code = std::optional<std::string>;

namespace {

const std::string kCode = "GBAYE2400001";

}  // namespace

TEST(ID3v2, RebuildKeepsTheVersionAndEveryOtherFrameByteForByte) {
    for (std::uint8_t v : {3, 4}) {
        // Opaque frames (compressed, encrypted, grouped) and every TSRC: the code goes last.
        const std::vector<FrameLayout> frames = {
            textFrame("TSRC", "GBAAA2600001"),
            textFrame("TIT2", "Title", 1),
            {.id = "APIC", .body = Bytes(300, 0xAB), .status = 0x40},
            {.id = "PRIV", .body = {1, 2, 3}, .format = std::uint8_t(v == 3 ? 0xC0 : 0x0C)},
            textFrame("TSRC", "GBAAA2600002"),
            textFrame("TSR1", "someone else's")};
        const auto tag =
            formats::id3v2::parse(id3::tag({.version = v, .frames = frames, .footer = v == 4}));
        const Bytes out = *formats::id3v2::settingISRC(tag, kCode);
        const std::vector<FrameLayout> kept = {frames[1], frames[2], frames[3], frames[5],
                                               textFrame("TSRC", kCode)};
        EXPECT_EQ(out, id3::tag({.version = v, .frames = kept, .padding = 1024}));
        EXPECT_EQ(
            *formats::id3v2::settingISRC(tag, std::nullopt),
            id3::tag({.version = v, .frames = {kept.begin(), kept.end() - 1}, .padding = 1024}));
    }
    // Frames and padding of exactly 2^28 bytes are one more than the size field holds.
    std::optional<formats::id3v2::Tag> big{formats::id3v2::Tag{4, {{"APIC", {0, 0}, {}}}}};
    big->frames[0].body.resize((std::size_t(1) << 28) - 1024 - 10 - 10 - 13);
    EXPECT_EQ(errorOf([&] { formats::id3v2::settingISRC(big, kCode); }),
              formats::id3v2::msg::id3TooLarge);
}

// A tag read from a file holds only what can carry a code; its rewrite copies the rest from the
// file and must come out as the rewrite of the whole tag in memory.
TEST(ID3v2, FileTagsWithLargeFramesRewriteAsTheWholeTagWould) {
    const Bytes big(300000, 0x5A);
    Bytes stuffed(140000, 0xFF);  // unsynchronised: every 0xFF followed by a 0x00
    for (std::size_t i = 1; i < stuffed.size(); i += 2) stuffed[i] = 0x00;
    const auto tx = [](const std::string& text) { return textFrame("TXXX", text); };
    const std::vector<FrameLayout> frames = {
        {.id = "APIC", .body = big},
        tx(std::string(" isrc ") + '\0' + kCode + '\0' + std::string(70000, 'x')),
        tx(std::string(70000, 'd') + '\0' + "ISRC"),
        textFrame("TSRC", "GBAAA2600001")};
    struct Row {
        std::uint8_t version, flags;  // tag header flags: 0x80 unsynchronised
        std::vector<FrameLayout> frames;
        std::size_t padding = 16;
        bool damaged = false;
        std::uint32_t firstSize = 0;  // stored in the first frame's header, plain, when not 0
        bool asStored = false;        // unsynchronised frames are kept as they were
    };
    const std::vector<Row> rows = {
        {3, 0, frames},
        {4, 0, frames},
        {3, 0x80, {{.id = "APIC", .body = stuffed}, frames[1]}, 0, false, 70000},
        {4, 0x80, {{.id = "APIC", .body = stuffed}, frames[1]}, 0, false, 0, true},
        {4, 0, {{.id = "APIC", .body = stuffed, .format = 0x02}, frames[3]}, 0, false, 0, true},
        {4, 0, frames, 3 << 20, true},
        {4, 0, {frames[0], frames[3]}, 0, false, 300000},
    };
    Scratch files;
    for (const Row& row : rows) {
        Bytes tag =
            id3::tag({.version = row.version, .frames = row.frames, .padding = row.padding});
        tag[5] = row.flags;
        if (row.damaged) tag.back() = 1;
        if (row.firstSize) std::copy_n(bytes32BE(row.firstSize).begin(), 4, tag.begin() + 14);
        const Bytes file = join({tag, id3::fakeAudio(5000)});
        const auto whole = formats::id3v2::parse(tag);
        formats::Carriers expected;
        formats::id3v2::addCarriers(*whole, "ID3", expected);
        EXPECT_EQ(files.read(file, formats::mp3::carriers), expected);
        for (const Code& code : {Code(kCode), Code()}) {
            Bytes out;
            const std::string error = errorOf([&] {
                out = files.written(file,
                                    [&](auto& in, auto& o) { formats::mp3::write(in, o, code); });
            });
            EXPECT_EQ(error, row.damaged ? formats::id3v2::msg::id3Damaged : "");
            if (!error.empty()) continue;
            const Bytes want = *formats::id3v2::settingISRC(whole, code);
            if (!row.asStored) {
                EXPECT_EQ(out, join({want, id3::fakeAudio(5000)}));
            }
            EXPECT_EQ(formats::id3v2::parse(out)->frames, formats::id3v2::parse(want)->frames);
        }
    }
}
