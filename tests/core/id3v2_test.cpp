// SPDX-License-Identifier: MIT
// ID3v2 tags: the rebuilt tag, byte for byte. The frame walk, the text decoding, MP3 files and
// format detection are stored cases in fuzz/corpus (outcomes.tsv); peak memory is the bench's.
#include "core/formats/id3v2.h"

#include <gtest/gtest.h>

#include "support/codec_harness.h"
#include "support/id3_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using id3::FrameLayout;
using id3::textFrame;
using Code = std::optional<std::string>;

namespace {

const std::string kCode = "GBAYE2400001";
const Bytes kLatin = join({{0}, bytesOf(kCode)});

}  // namespace

TEST(ID3v2, RebuildKeepsTheVersionAndEveryOtherFrameByteForByte) {
    const Bytes fresh = {'I', 'D', '3', 3,   0, 0, 0, 0,  0x08, 0x17,  // 1047, synchsafe
                         'T', 'S', 'R', 'C', 0, 0, 0, 13, 0,    0};
    EXPECT_EQ(*ID3v2::settingISRC(std::nullopt, kCode), join({fresh, kLatin, Bytes(1024, 0)}));
    EXPECT_FALSE(ID3v2::settingISRC(std::nullopt, std::nullopt));
    for (std::uint8_t v : {3, 4}) {
        // Opaque frames (compressed, encrypted, grouped) and every TSRC: the code goes last.
        const std::vector<FrameLayout> frames = {
            textFrame("TSRC", "GBAAA2600001"),
            textFrame("TIT2", "Title", 1),
            {.id = "APIC", .body = Bytes(300, 0xAB), .status = 0x40},
            {.id = "PRIV", .body = {1, 2, 3}, .format = std::uint8_t(v == 3 ? 0xC0 : 0x0C)},
            textFrame("TSRC", "GBAAA2600002"),
            textFrame("TSR1", "someone else's")};
        const auto tag = ID3v2::parse(id3::tag({.version = v, .frames = frames, .footer = v == 4}));
        const Bytes out = *ID3v2::settingISRC(tag, kCode);
        const std::vector<FrameLayout> kept = {frames[1], frames[2], frames[3], frames[5],
                                               textFrame("TSRC", kCode)};
        EXPECT_EQ(out, id3::tag({.version = v, .frames = kept, .padding = 1024}));
        EXPECT_EQ(
            *ID3v2::settingISRC(tag, std::nullopt),
            id3::tag({.version = v, .frames = {kept.begin(), kept.end() - 1}, .padding = 1024}));
    }
    // Frames and padding of exactly 2^28 bytes are one more than the size field holds.
    std::optional<ID3v2::Tag> big{ID3v2::Tag{4, {{"APIC", {0, 0}, {}}}}};
    big->frames[0].body.resize((std::size_t(1) << 28) - 1024 - 10 - 10 - 13);
    EXPECT_EQ(errorOf([&] { ID3v2::settingISRC(big, kCode); }), msg::id3TooLarge);
}
