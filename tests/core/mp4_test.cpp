// SPDX-License-Identifier: MIT
// MP4/M4A: hostile trees, chunk offset tables and fragment offsets that follow a resized movie,
// and a fragmented file made by ffmpeg that must decode the same after a write. The ISRC item
// cases are stored files in fuzz/corpus.
#include "core/formats/mp4.h"

#include <gtest/gtest.h>

#include "support/codec_harness.h"
#include "support/mp4_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::mp4;

namespace {

const std::string kCode = "FIABC2600001";
const Bytes kFtyp = box("ftyp", join({text("M4A "), u32(0)}));
const std::string kDamaged(formats::mp4::msg::mp4Damaged), tooLarge(formats::mp4::msg::mp4TooLarge),
    kOffsets(formats::mp4::msg::mp4OffsetsDamaged);

class MP4File : public ::testing::Test {
  protected:
    Bytes write(const Bytes& input, const std::optional<std::string>& code) {
        return files.written(input,
                             [&](auto& in, auto& out) { formats::mp4::write(in, out, code); });
    }
    std::string refusal(const Bytes& input, const std::optional<std::string>& code = kCode) {
        return errorOf([&] { write(input, code); });
    }
    std::optional<std::string> read(const Bytes& f) {
        return files.read(f, formats::mp4::readISRC);
    }
    Scratch files;
};

}  // namespace

TEST_F(MP4File, DeepNestingIsDamageNotACrash) {
    // 100000 nested boxes would exhaust the stack of a recursive walk (other hostile trees are
    // stored cases).
    Bytes deep;
    for (std::uint32_t i = 0; i < 100000; ++i) {
        const Bytes header = join({u32(8 * (100000 - i) + 8), text("udta")});
        deep.insert(deep.end(), header.begin(), header.end());
    }
    deep = movie({.moovTail = join({deep, box("free")})}).file;
    EXPECT_EQ(errorOf([&] { read(deep); }), kDamaged);
    EXPECT_EQ(refusal(deep), kDamaged);
}

// A write rebuilds the item list and keeps the rest of the movie (a 64-bit size comes out as a
// 32-bit one); chunk offsets past the movie follow it as it grows or shrinks, whether the movie
// is ahead of its audio or behind it.
TEST_F(MP4File, TheMovieKeepsItsBoxesAndTheOffsetsPastItFollow) {
    const Bytes isrc = item("com.apple.iTunes", "ISRC", kCode);
    const Bytes other = item("com.apple.iTunes", "MOOD", "calm");
    const Bytes mood = box("name", join({u32(0), text("MOOD")}));  // the first name counts
    const Bytes old = item("COM.apple.itunes", "isrc", "GBXYZ9900001 \n", mood);
    auto udta = [&](const Bytes& items) { return box("udta", join({meta(items), {1, 2, 3}})); };
    auto stbl = [](const Bytes& table) { return box("stbl", table); };
    const Bytes added = box("udta", meta(isrc));  // 141 bytes
    const struct {
        Bytes before;
        std::optional<std::string> code;
        Bytes after;  // when no error is expected
        std::string error;
    } cases[] = {
        {stbl(stco({1, 0xFFFF0000u})), kCode, join({stbl(stco({1, 0xFFFF008Du})), added}), ""},
        {stbl(co64({0xFFFFFFF0ull})), kCode, join({stbl(co64({0x10000007Dull})), added}), ""},
        {stbl(box("stco", u32(0))), kCode, join({stbl(box("stco", u32(0))), added}), ""},
        {udta(join({old, other})), kCode, udta(join({other, isrc})), ""},  // 18 bytes shorter
        {join({box64("free", {7}), stbl(stco({0xFFFF0000u})), udta(join({isrc, other}))}),
         std::nullopt, join({box("free", {7}), stbl(stco({0xFFFEFFA8u})), udta(other)}), ""},
        {stbl(stco({0xFFFFFFA0u})), kCode, {}, tooLarge},
        {stbl(co64({0x7FFFFFFFFFFFFFF0ull})), kCode, {}, tooLarge},
        {stbl(co64({0x8000000000000000ull})), kCode, {}, tooLarge},
        {stbl(fullBox("stco", 0, 0, join({u32(3), u32(1), u32(2)}))), kCode, {}, kOffsets},
    };
    for (const auto& c : cases) {
        for (const bool first : {true, false}) {
            for (const bool wide : {false, true}) {
                // Ahead of each case's boxes, an offset right at the end of the movie.
                auto make = [&](std::uint64_t end, const Bytes& tail) {
                    const Bytes table = stbl(stco({std::uint32_t(end)}));
                    return movie(
                        {.moovFirst = first, .co64 = wide, .moovTail = join({table, tail})});
                };
                const auto before = make(0, c.before), after = make(0, c.after);
                const std::uint64_t end = before.moovStart + before.moovSize;
                const auto in = make(end, c.before);
                const auto want = make(end + after.moovSize - before.moovSize, c.after);
                const auto at = testing::Message() << &c - cases << " " << first << wide;
                Bytes got;
                EXPECT_EQ(errorOf([&] { got = write(in.file, c.code); }), c.error) << at;
                EXPECT_EQ(got, c.error.empty() ? want.file : Bytes{}) << at;
            }
        }
    }
}

// ftyp, moov, moof (a traf with a base data offset and one without), mdat, mfra.
TEST_F(MP4File, FragmentOffsetsFollowTheMovie) {
    const Bytes moov = box("moov", join({fullBox("mvhd", 0, 0, Bytes(96, 0)), box("mvex")}));
    const std::uint64_t moofAt = kFtyp.size() + moov.size();
    auto moofWith = [](std::uint64_t base) {
        return box("moof", join({fullBox("mfhd", 0, 0, u32(1)), box("traf", tfhd(1, base)),
                                 box("traf", tfhd(2, std::nullopt))}));
    };
    const std::uint64_t moofSize = moofWith(0).size();
    const std::uint64_t payload = moofAt + moofSize + 8;
    const Bytes mdat = box("mdat", Bytes(64, 0x5A));
    // Random-access entries of either version; the one below the `moov` stays.
    auto mfra = [](std::uint64_t at) {
        return box("mfra", join({tfra(0, {at}), tfra(1, {at, 3})}));
    };
    const Bytes file = join({kFtyp, moov, moofWith(payload), mdat, mfra(moofAt)});

    const Bytes out = write(file, kCode);
    EXPECT_EQ(out, join({kFtyp, slice(out, kFtyp.size(), moov.size() + 141),
                         moofWith(payload + 141), mdat, mfra(moofAt + 141)}));
    // Removing the code again moves everything back by the item's 80 bytes.
    const Bytes removed = write(out, std::nullopt);
    ASSERT_EQ(removed.size(), file.size() + 61);
    EXPECT_EQ(slice(removed, moofAt + 61, moofSize), moofWith(payload + 61));

    // A base offset pushed past 2^63 - 1, a tfra claiming more entries than it holds, and a
    // segment index ahead of the movie, which cannot be kept consistent.
    const Bytes far = moofWith(0x7FFFFFFFFFFFFFF0ull);
    EXPECT_EQ(refusal(join({kFtyp, moov, far, mdat})), tooLarge);
    Bytes shortTfra = tfra(0, {moofAt});
    shortTfra[23] = 9;  // entry count
    EXPECT_EQ(refusal(join({kFtyp, moov, moofWith(payload), mdat, box("mfra", shortTfra)})),
              kOffsets);
    const Bytes sidx = fullBox("sidx", 0, 0, Bytes(24, 0));
    EXPECT_EQ(refusal(join({kFtyp, sidx, moov, moofWith(0), mdat})),
              std::string(formats::mp4::msg::mp4Layout));
}

TEST_F(MP4File, AFragmentedFileFromFFmpegDecodesToTheSamePacketsAfterAWrite) {
    if (runShell("command -v ffmpeg").status != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const auto original = files.dir / "original.m4a";
    const auto made = runShell(
        "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=3 -c:a aac "
        "-movflags +frag_keyframe+empty_moov -frag_duration 500000 '" +
        original.string() + "'");
    ASSERT_EQ(made.status, 0) << made.output;
    const Bytes bytes = readFile(original);
    ASSERT_GT(countOf(bytes, "tfhd"), 0u);  // track fragment headers with absolute base offsets

    auto decoded = [&](const Bytes& file, const std::string& format) {
        const auto in = files.put(file), to = files.dir / ("decoded." + format);
        const auto r = runShell("ffmpeg -nostdin -v error -y -i '" + in.string() + "' -f " +
                                format + " '" + to.string() + "'");
        EXPECT_EQ(r.status, 0) << r.output;
        return readFile(to);
    };
    const Bytes pcm = decoded(bytes, "s16le"), packets = decoded(bytes, "framemd5");
    ASSERT_GT(pcm.size(), 100000u);
    const Bytes written = write(bytes, kCode);
    EXPECT_EQ(read(written), kCode);
    EXPECT_EQ(decoded(written, "s16le"), pcm);
    EXPECT_EQ(decoded(written, "framemd5"), packets);
    EXPECT_EQ(write(written, std::nullopt), bytes);  // ffmpeg leaves an ilst: only the item goes
}
