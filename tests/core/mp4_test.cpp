// SPDX-License-Identifier: MIT
// MP4/M4A: the box tree (parsing, serialising, offset tables, fragments) and the ISRC item, on
// files built byte by byte, and a fragmented file made by ffmpeg that must decode the same after.
#include "core/formats/mp4.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/codec_harness.h"
#include "support/mp4_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::mp4;

namespace {

const std::string kCode = "FIABC2600001";
const std::string kMean = "com.apple.iTunes";
const Bytes kFtyp = box("ftyp", cat({text("M4A "), u32(0)}));
const Bytes kItem = freeform(kMean, "ISRC", kCode);
const std::string kDamaged = malformed(msg::mp4Damaged);

// `levels` nested udta boxes around an empty free box, built in one pass.
Bytes nestedUdta(std::size_t levels) {
    Bytes out;
    for (std::size_t i = 0; i < levels; ++i) {
        const Bytes header = cat({u32(std::uint32_t(8 * (levels - i) + 8)), text("udta")});
        out.insert(out.end(), header.begin(), header.end());
    }
    return cat({out, box("free")});
}

Bytes slice(const Bytes& b, std::uint64_t at, std::uint64_t n) {
    return Bytes(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n));
}

MP4Tagger::Box* childOf(const MP4Tagger::Box& b, const std::string& type) {
    for (auto& c : *b.children) {
        if (c->type == type) return c.get();
    }
    return nullptr;
}

class MP4File : public ::testing::Test {
  protected:
    Bytes write(const Bytes& input, const std::optional<std::string>& code) {
        return files.written(input, [&](auto& in, auto& out) { MP4Tagger::write(in, out, code); });
    }
    std::string refusal(const Bytes& input, const std::optional<std::string>& code = kCode) {
        return errorOf([&] { write(input, code); });
    }
    std::optional<std::string> read(const Bytes& f) { return files.read(f, MP4Tagger::readISRC); }
    MP4Tagger::LoadedMoov load(const Bytes& f) { return files.read(f, MP4Tagger::loadMoov); }
    // Every 48-byte chunk of `after` holds the bytes its counterpart in `before` held.
    static void expectChunksIntact(const Bytes& before, const Bytes& after) {
        const auto was = chunkOffsets(before), now = chunkOffsets(after);
        ASSERT_EQ(was.size(), now.size());
        for (std::size_t i = 0; i < was.size(); ++i) {
            ASSERT_LE(now[i] + 48, after.size());
            EXPECT_EQ(slice(after, now[i], 48), slice(before, was[i], 48)) << i;
        }
    }
    Scratch files;
};

}  // namespace

TEST(MP4BoxTree, UntouchedTreesSerializeByteForByteAndLargeHeadersComeBackPlain) {
    const Bytes items = cat({textItem("\xA9nam", "Song"), kItem});
    const Movie full = movie({.moovTail = udtaWithItems(items)});
    const Bytes plain = box("udta", box("free", text("abc")));
    const std::pair<Bytes, Bytes> cases[] = {
        {slice(full.file, full.moovStart, full.moovSize), {}},
        {box("moov", cat({box("udta", metaQuickTime(box("ilst", items))), box("free", {5})})), {}},
        {box("moov", box("udta", box("meta", text("opaque payload, no handler")))), {}},
        // Fewer than 8 bytes after the last child are a trailer.
        {box("moov", cat({box("trak", cat({box("edts"), text("\x01\x02")})), text("xyz")})), {}},
        {box("udta", cat({box("free", text("ab")), Bytes(7, 0xA7)})), {}},
        {box("udta", box0("free", text("abc"))), plain},
        {box("udta", box64("free", text("abc"))), plain},
        {nestedUdta(40), {}},  // deep, but not too deep
    };
    for (const auto& [in, want] : cases) {
        const auto parsed = MP4Tagger::parseBoxes(in, 0, in.size());
        ASSERT_EQ(parsed.boxes.size(), 1u);
        EXPECT_EQ(MP4Tagger::serialize(*parsed.boxes[0]), want.empty() ? in : want);
    }
}

TEST(MP4BoxTree, HostileSizesAndNestingAreDamagedNotCrashes) {
    const Bytes free = text("free"), eight(8, 0);
    const Bytes cases[] = {
        cat({u32(7), free, eight}),
        cat({u32(100), free, eight}),
        cat({u32(1), free, Bytes(4, 0)}),
        cat({u32(1), free, u64(8), eight}),
        cat({u32(1), free, u64(~0ull), eight}),
        box("udta", cat({u32(40), free, eight})),
        metaISO(cat({u32(3), text("ilst")})),
        nestedUdta(5000),
    };
    for (const Bytes& b : cases) {
        EXPECT_EQ(errorOf([&] { MP4Tagger::parseBoxes(b, 0, b.size()); }), kDamaged);
    }
}

TEST_F(MP4File, TopLevelWalkMovieBoxAndMedia) {
    auto top = [&](const Bytes& f) { return files.read(f, MP4Tagger::topLevel); };
    const auto list = top(cat({kFtyp, box("free", Bytes(3, 0)), box0("mdat", Bytes(100, 7))}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2].type, "mdat");
    EXPECT_EQ(list[2].start, kFtyp.size() + 11);
    EXPECT_EQ(list[2].size, 108u);
    // Fewer than 8 stray bytes, or a 64-bit header cut short, end the walk quietly.
    EXPECT_EQ(top(cat({kFtyp, Bytes(7, 1)})).size(), 1u);
    EXPECT_EQ(top(cat({kFtyp, u32(1), text("mdat"), Bytes(3, 0)})).size(), 1u);
    for (const Bytes& bad : {cat({u32(4), text("free")}), cat({u32(9), text("free")}),
                             cat({u32(1), text("mdat"), u64(12), Bytes(4, 0)}),
                             cat({u32(1), text("mdat"), u64(1ull << 62)})}) {
        EXPECT_EQ(errorOf([&] { top(cat({kFtyp, bad})); }), kDamaged);
    }
    auto loading = [&](const Bytes& tail) { return errorOf([&] { load(cat({kFtyp, tail})); }); };
    EXPECT_EQ(loading(box("mdat", Bytes(20, 0))), malformed(msg::mp4NoMoov));
    EXPECT_EQ(loading(box("moov", cat({u32(2), text("trak")}))), kDamaged);
    // A `moov` of 2^29 bytes: damaged where the file is shorter, refused unread where it is not.
    const Bytes huge = cat({u32(1u << 29), text("moov")});
    EXPECT_EQ(loading(huge), kDamaged);
    const auto p = files.put(cat({kFtyp, huge}));
    ASSERT_EQ(::truncate(p.c_str(), off_t(kFtyp.size()) + (off_t(1) << 29)), 0);
    EXPECT_EQ(errorOf([&] { MP4Tagger::loadMoov(FileIn(p)); }), unsupported(msg::mp4HeaderLarge));

    const Bytes media = cat({kFtyp, box("mdat", {1, 1}), box("moov"), box0("mdat", {2})});
    const std::vector<ByteRange> want = {{kFtyp.size() + 8, 2}, {kFtyp.size() + 10 + 8 + 8, 1}};
    EXPECT_EQ(files.read(media, MP4Tagger::mediaRanges), want);
}

TEST(MP4Offsets, EntriesAtOrAboveTheThresholdMove) {
    const std::string tooLarge = unsupported(msg::mp4TooLarge);
    const std::string damaged = malformed(msg::mp4OffsetsDamaged);
    const struct {
        Bytes table;
        std::uint64_t threshold;
        std::int64_t delta;
        Bytes want;  // when no error is expected
        std::string error;
    } cases[] = {
        {stco({99, 100, 5000}), 100, 80, stco({99, 180, 5080}), ""},
        {stco({99, 100, 5000}), 100, -8, stco({99, 92, 4992}), ""},
        {co64({1, 0xFFFFFFF0ull}), 2, 0x20, co64({1, 0x100000010ull}), ""},
        {box("stco", u32(0)), 0, 8, box("stco", u32(0)), ""},  // no room for a count: left alone
        {stco({10, 4294967290u}), 5, 80, {}, tooLarge},
        {stco({10, 12}), 10, -11, {}, tooLarge},
        {co64({0x7FFFFFFFFFFFFFF0ull}), 0, 0x20, {}, tooLarge},
        {co64({0x8000000000000000ull}), 0, -8, {}, tooLarge},
        {fullBox("stco", 0, 0, cat({u32(3), u32(1), u32(2)})), 0, 8, {}, damaged},
        {fullBox("co64", 0, 0, cat({u32(1), u32(1)})), 0, 8, {}, damaged},
    };
    for (const auto& c : cases) {
        // Inside a container, so the walk has to reach it.
        const Bytes stbl = box("stbl", c.table);
        auto tree = MP4Tagger::parseBoxes(stbl, 0, stbl.size()).boxes[0];
        const auto error = errorOf([&] { MP4Tagger::adjustOffsets(*tree, c.threshold, c.delta); });
        EXPECT_EQ(error, c.error) << &c - cases;
        if (c.error.empty()) {
            EXPECT_EQ(MP4Tagger::serialize(*tree), box("stbl", c.want)) << &c - cases;
        }
    }
}

TEST_F(MP4File, ChunkOffsetsFollowTheMovieWhateverItsLayout) {
    const std::optional<std::string> none;
    const struct {
        MovieOptions options;
        std::optional<std::string> code;
        std::int64_t grows;  // the file and the offsets after the `moov`
    } cases[] = {
        // udta (8) > meta (12) > hdlr (33) + ilst (8) > item (80), appended after the track.
        {{}, kCode, 141},
        {{.co64 = true}, kCode, 141},
        {{.mdatSize0 = true}, kCode, 141},
        {{.moovSize64 = true}, none, -8},  // the size comes back in 32 bits
        {{}, none, 0},
    };
    for (const auto& c : cases) {
        const Movie m = movie(c.options);
        const Bytes out = write(m.file, c.code);
        ASSERT_EQ(out.size(), m.file.size() + c.grows) << &c - cases;
        EXPECT_EQ(slice(out, 0, m.moovStart), slice(m.file, 0, m.moovStart));
        for (std::size_t i = 0; i < m.chunkOffsets.size(); ++i) {
            EXPECT_EQ(chunkOffsets(out)[i], m.chunkOffsets[i] + c.grows) << &c - cases;
        }
        expectChunksIntact(m.file, out);
        EXPECT_EQ(read(out), c.code);
    }
    // A `moov` after the `mdat` moves no offset.
    const Movie last = movie({.moovFirst = false});
    EXPECT_EQ(chunkOffsets(write(last.file, kCode)), last.chunkOffsets);
    // Written: the path appended whole; again: nothing changes; removed: an empty ilst stays.
    const Movie m = movie();
    const Bytes out = write(m.file, kCode);
    EXPECT_EQ(slice(out, m.moovStart + m.moovSize, 141), udtaWithItems(kItem));
    EXPECT_EQ(write(out, kCode), out);
    const Bytes removed = write(out, std::nullopt);
    EXPECT_EQ(removed.size(), m.file.size() + 61);
    EXPECT_EQ(slice(removed, m.moovStart + m.moovSize, 61), udtaWithItems({}));
    // A chunk near 2^32 cannot move.
    Bytes near = m.file;
    const std::size_t at = find(near, "stco") + 12;
    for (std::size_t i = 0; i < 4; ++i) near[at + i] = i == 3 ? 0xF0 : 0xFF;
    EXPECT_EQ(refusal(near), unsupported(msg::mp4TooLarge));
}

TEST_F(MP4File, EveryMatchingItemGoesTheNewOneComesLastAndTheLayoutStays) {
    const Bytes title = textItem("\xA9nam", "A title");
    const Bytes old = freeform(kMean, "ISRC", "GBXYZ9900001");
    const Bytes lower = freeform(kMean, "isrc", "USAAA0000001");
    const Bytes otherMean = freeform("com.apple.itunes", "ISRC", "USAAA0000002");
    const Bytes noData = freeform(kMean, "ISRC", std::nullopt);
    const Bytes damaged = box("----", cat({u32(50), text("name"), u32(0)}));
    const struct {
        Bytes udta;
        std::optional<std::string> before;
        std::vector<Bytes> after;  // the items
        std::size_t prefix = 4;    // of the meta box
        Bytes trailer = {};        // of the ilst
    } cases[] = {
        {udtaWithItems(cat({title, old})), "GBXYZ9900001", {title, kItem}},
        {box("udta", metaQuickTime(box("ilst", cat({title, old})))),
         "GBXYZ9900001",
         {title, kItem},
         0},
        {box("udta", metaISO(box("ilst", cat({title, old, Bytes(3, 9)})))),
         "GBXYZ9900001",
         {title, kItem},
         4,
         Bytes(3, 9)},
        {udtaWithItems(cat({otherMean, lower, old})), "USAAA0000001", {otherMean, kItem}},
        {udtaWithItems(cat({noData, old})), std::nullopt, {kItem}},
        // An item whose parts cannot be read is someone else's, and never a reason to fail.
        {udtaWithItems(cat({damaged, old})), "GBXYZ9900001", {damaged, kItem}},
        {udtaWithItems(freeform(kMean, "ISRC", " \n GBXYZ9900004\t")), "GBXYZ9900004", {kItem}},
    };
    for (const auto& c : cases) {
        const Movie m = movie({.moovTail = c.udta});
        EXPECT_EQ(read(m.file), c.before) << &c - cases;
        const Bytes out = write(m.file, kCode);
        expectChunksIntact(m.file, out);
        const auto loaded = load(out);
        const auto meta = childOf(*childOf(*loaded.box, "udta"), "meta");
        ASSERT_TRUE(meta && meta->children);
        EXPECT_EQ(meta->prefix.size(), c.prefix);
        const auto ilst = childOf(*meta, "ilst");
        EXPECT_EQ(ilst->trailer, c.trailer);
        std::vector<Bytes> items;
        for (const auto& i : *ilst->children) items.push_back(MP4Tagger::serialize(*i));
        EXPECT_EQ(items, c.after) << &c - cases;
    }
}

TEST_F(MP4File, OnlyTheFirstBoxOfEachLevelCounts) {
    const Bytes a = freeform(kMean, "ISRC", "USAAA0000001");
    const Bytes b = freeform(kMean, "ISRC", "USAAA0000002");
    const Bytes c = freeform(kMean, "ISRC", "USAAA0000003");
    // moov: meta (not under udta), udta [meta [ilst(a), ilst(b)], meta(c)], udta [ilst(c)]
    const Bytes first =
        box("udta", cat({metaISO(cat({box("ilst", a), box("ilst", b)})), metaISO(box("ilst", c))}));
    const Movie m = movie({.moovTail = cat({metaISO(box("ilst", c)), first, udtaWithItems(c)})});
    EXPECT_EQ(read(m.file), "USAAA0000001");
    const Bytes out = write(m.file, kCode);
    EXPECT_EQ(countOf(out, "USAAA0000001"), 0u);
    EXPECT_EQ(countOf(out, "USAAA0000002"), 1u);
    EXPECT_EQ(countOf(out, "USAAA0000003"), 3u);
    EXPECT_EQ(read(out), kCode);
    EXPECT_EQ(out.size(), m.file.size());
    // A meta right under moov does not stand in for the missing udta.
    const Movie bare = movie({.moovTail = metaISO(box("ilst", c))});
    EXPECT_EQ(read(bare.file), std::nullopt);
    EXPECT_EQ(write(bare.file, kCode).size(), bare.file.size() + 141);
}

TEST_F(MP4File, HostileAndOpaqueMoviesGiveMessages) {
    const Bytes deep = movie({.moovTail = nestedUdta(100000)}).file;
    const Bytes opaque = movie({.moovTail = box("udta", box("meta", text("no handler")))}).file;
    EXPECT_EQ(errorOf([&] { read(deep); }), kDamaged);
    EXPECT_EQ(refusal(deep), kDamaged);
    EXPECT_EQ(read(opaque), std::nullopt);
    EXPECT_EQ(refusal(opaque), unsupported(msg::mp4Layout));
    EXPECT_EQ(refusal(opaque, std::nullopt), unsupported(msg::mp4Layout));
    EXPECT_EQ(refusal(cat({kFtyp, u32(1), text("moov"), u64(9), Bytes(8, 0)})), kDamaged);
    EXPECT_EQ(errorOf([&] {
                  read(cat({kFtyp, box("moov", cat({u32(5000), text("udta")}))}));
              }),
              kDamaged);
}

// ftyp, moov, moof (a traf with a base data offset and one without), mdat, mfra.
TEST_F(MP4File, FragmentOffsetsFollowTheMovie) {
    const Bytes moov = box("moov", cat({fullBox("mvhd", 0, 0, Bytes(96, 0)), box("mvex")}));
    const std::uint64_t moofAt = kFtyp.size() + moov.size();
    auto moofWith = [](std::uint64_t base) {
        return box("moof", cat({fullBox("mfhd", 0, 0, u32(1)), box("traf", tfhd(1, base)),
                                box("traf", tfhd(2, std::nullopt))}));
    };
    const std::uint64_t moofSize = moofWith(0).size();
    const std::uint64_t payload = moofAt + moofSize + 8;
    const Bytes mdat = box("mdat", Bytes(64, 0x5A));
    // Random-access entries of either version; the one below the `moov` stays.
    auto mfra = [](std::uint64_t at) {
        return box("mfra", cat({tfra(0, {at}), tfra(1, {at, 3})}));
    };
    const Bytes file = cat({kFtyp, moov, moofWith(payload), mdat, mfra(moofAt)});

    const Bytes out = write(file, kCode);
    EXPECT_EQ(out, cat({kFtyp, slice(out, kFtyp.size(), moov.size() + 141), moofWith(payload + 141),
                        mdat, mfra(moofAt + 141)}));
    // Removing the code again moves everything back by the item's 80 bytes.
    const Bytes removed = write(out, std::nullopt);
    ASSERT_EQ(removed.size(), file.size() + 61);
    EXPECT_EQ(slice(removed, moofAt + 61, moofSize), moofWith(payload + 61));

    // A base offset pushed past 2^63 - 1, a tfra claiming more entries than it holds, and a
    // segment index ahead of the movie, which cannot be kept consistent.
    const Bytes far = moofWith(0x7FFFFFFFFFFFFFF0ull);
    EXPECT_EQ(refusal(cat({kFtyp, moov, far, mdat})), unsupported(msg::mp4TooLarge));
    Bytes shortTfra = tfra(0, {moofAt});
    shortTfra[23] = 9;  // entry count
    EXPECT_EQ(refusal(cat({kFtyp, moov, moofWith(payload), mdat, box("mfra", shortTfra)})),
              malformed(msg::mp4OffsetsDamaged));
    const Bytes sidx = fullBox("sidx", 0, 0, Bytes(24, 0));
    EXPECT_EQ(refusal(cat({kFtyp, sidx, moov, moofWith(0), mdat})), unsupported(msg::mp4Layout));
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
    const auto at = find(bytes, "tfhd");  // a track fragment header with an absolute base offset
    ASSERT_TRUE(at != std::string::npos && (bytes.at(at + 7) & 0x01));

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
