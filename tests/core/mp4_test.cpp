// The MP4 box tree (parsing, serialising, offset tables, fragments) and the ISRC item, on files
// built byte by byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <limits>

#include "core/binary_io.h"
#include "core/mp4_tagger.h"
#include "core/tag_error.h"
#include "support/files.h"
#include "support/mp4_builder.h"

using namespace pelorix;
using namespace pelorix::test::mp4;
using pelorix::test::countOf;
using pelorix::test::readFile;
using pelorix::test::TempDir;
using pelorix::test::writeFile;

namespace {

const std::string kCode = "FIABC2600001";

// The error message of fn, or "" when it does not throw a TagError.
std::string errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const TagError& e) {
        return e.what();
    }
    return "";
}

// `levels` nested udta boxes around an empty free box, built in one pass.
Bytes nestedUdta(std::size_t levels) {
    Bytes out;
    for (std::size_t i = 0; i < levels; ++i) {
        const Bytes header = cat({u32(std::uint32_t(8 * (levels - i) + 8)), text("udta")});
        out.insert(out.end(), header.begin(), header.end());
    }
    const Bytes inner = box("free", {});
    out.insert(out.end(), inner.begin(), inner.end());
    return out;
}

const Bytes kFtyp = box("ftyp", cat({text("M4A "), u32(0)}));

Bytes slice(const Bytes& b, std::uint64_t at, std::uint64_t n) {
    return Bytes(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n));
}

class MP4File : public ::testing::Test {
protected:
    TempDir dir;
    int serial = 0;

    std::filesystem::path put(const Bytes& bytes) {
        auto p = dir / ("in" + std::to_string(++serial) + ".m4a");
        writeFile(p, bytes);
        return p;
    }
    Bytes write(const Bytes& input, const std::optional<std::string>& code) {
        FileIn in(put(input));
        auto outPath = dir / ("out" + std::to_string(++serial) + ".m4a");
        FileOut out(outPath);
        MP4Tagger::write(in, out, code);
        out.close();
        return readFile(outPath);
    }
    std::optional<std::string> read(const Bytes& file) {
        FileIn in(put(file));
        return MP4Tagger::readISRC(in);
    }
    MP4Tagger::LoadedMoov load(const Bytes& file) {
        FileIn in(put(file));
        return MP4Tagger::loadMoov(in);
    }
    std::vector<MP4Tagger::TopLevelEntry> top(const Bytes& file) {
        FileIn in(put(file));
        return MP4Tagger::topLevel(in);
    }
    // Every chunk of `after` holds the bytes its counterpart in `before` held.
    void expectChunksIntact(const Bytes& before, const Bytes& after, std::size_t chunkSize) {
        auto was = chunkOffsets(before);
        auto now = chunkOffsets(after);
        ASSERT_EQ(was.size(), now.size());
        for (std::size_t i = 0; i < was.size(); ++i) {
            ASSERT_LE(now[i] + chunkSize, after.size());
            EXPECT_EQ(slice(after, now[i], chunkSize), slice(before, was[i], chunkSize)) << i;
        }
    }
};

MP4Tagger::Box* childOf(const MP4Tagger::Box& b, const std::string& type) {
    for (auto& c : *b.children) {
        if (c->type == type) return c.get();
    }
    return nullptr;
}

}  // namespace

// ---- box tree ------------------------------------------------------------------------------

TEST(MP4BoxTree, UntouchedTreeSerializesByteForByte) {
    const Bytes items = cat({textItem("\xA9nam", "Song"), freeform("com.apple.iTunes", "ISRC", kCode)});
    const Movie full = movie({.moovTail = udtaWithItems(items)});
    const Bytes moovs[] = {
        slice(full.file, full.moovStart, full.moovSize),
        box("moov", cat({box("udta", metaQuickTime(box("ilst", items))), box("free", Bytes(5, 0))})),
        box("moov", box("udta", box("meta", text("opaque payload, no handler")))),
        box("moov", cat({box("trak", cat({box("edts", {}), text("\x01\x02\x03")})), text("xyz")})),
    };
    for (const Bytes& moov : moovs) {
        auto parsed = MP4Tagger::parseBoxes(moov, 0, moov.size());
        ASSERT_EQ(parsed.boxes.size(), 1u);
        EXPECT_TRUE(parsed.trailer.empty());
        EXPECT_EQ(MP4Tagger::serialize(*parsed.boxes[0]), moov);
    }
}

TEST(MP4BoxTree, MetaStylesPrefixesAndTrailers) {
    const Bytes ilst = box("ilst", textItem("\xA9nam", "x"));
    {   // ISO style: version/flags kept as the prefix, hdlr and ilst as children
        auto p = MP4Tagger::parseBoxes(metaISO(ilst), 0, metaISO(ilst).size());
        const auto& meta = *p.boxes[0];
        ASSERT_TRUE(meta.children);
        EXPECT_EQ(meta.prefix, Bytes(4, 0));
        ASSERT_EQ(meta.children->size(), 2u);
        EXPECT_EQ((*meta.children)[0]->type, "hdlr");
        EXPECT_EQ((*meta.children)[1]->type, "ilst");
    }
    {   // QuickTime style: children from the first payload byte, no prefix
        const Bytes qt = metaQuickTime(ilst);
        auto p = MP4Tagger::parseBoxes(qt, 0, qt.size());
        const auto& meta = *p.boxes[0];
        ASSERT_TRUE(meta.children);
        EXPECT_TRUE(meta.prefix.empty());
        EXPECT_EQ(meta.children->size(), 2u);
        EXPECT_EQ(MP4Tagger::serialize(meta), qt);
    }
    {   // no handler in either place: an opaque leaf
        const Bytes opaque = box("meta", cat({u32(0), u32(0), text("abcdefgh")}));
        auto p = MP4Tagger::parseBoxes(opaque, 0, opaque.size());
        EXPECT_FALSE(p.boxes[0]->children);
        EXPECT_EQ(p.boxes[0]->raw, slice(opaque, 8, opaque.size() - 8));
    }
    for (std::size_t n = 1; n <= 7; ++n) {  // 1..7 stray bytes after the last child
        const Bytes tail(n, std::uint8_t(0xA0 + n));
        const Bytes udta = box("udta", cat({box("free", text("ab")), tail}));
        auto p = MP4Tagger::parseBoxes(udta, 0, udta.size());
        EXPECT_EQ(p.boxes[0]->trailer, tail) << n;
        EXPECT_EQ(p.boxes[0]->children->size(), 1u) << n;
        EXPECT_EQ(MP4Tagger::serialize(*p.boxes[0]), udta) << n;
    }
}

TEST(MP4BoxTree, SizeZeroAndLargeSizesComeBackWithPlainHeaders) {
    const Bytes inner = box("free", text("abc"));
    const Bytes zero = box("udta", box0("free", text("abc")));
    auto p = MP4Tagger::parseBoxes(zero, 0, zero.size());
    EXPECT_EQ(MP4Tagger::serialize(*p.boxes[0]), box("udta", inner));

    const Bytes large = box("udta", box64("free", text("abc")));
    p = MP4Tagger::parseBoxes(large, 0, large.size());
    EXPECT_EQ(MP4Tagger::serialize(*p.boxes[0]), box("udta", inner));
    EXPECT_EQ(MP4Tagger::serialize(*p.boxes[0]).size(), large.size() - 8);
}

TEST(MP4BoxTree, HostileSizesAreDamagedNotCrashes) {
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"size below 8", cat({u32(7), text("free"), Bytes(8, 0)})},
        {"past the end", cat({u32(100), text("free"), Bytes(8, 0)})},
        {"64-bit size cut short", cat({u32(1), text("free"), Bytes(4, 0)})},
        {"tiny 64-bit size", cat({u32(1), text("free"), u64(8), Bytes(8, 0)})},
        {"huge 64-bit size", cat({u32(1), text("free"), u64(~0ull), Bytes(8, 0)})},
        {"child past its parent", box("udta", cat({u32(40), text("free"), Bytes(8, 0)}))},
        {"damaged inside a meta", metaISO(cat({u32(3), text("ilst")}))},
        {"nesting far too deep", nestedUdta(5000)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorOf([&] { MP4Tagger::parseBoxes(c.bytes, 0, c.bytes.size()); }),
                  msg::mp4Damaged)
            << c.what;
    }
    // Depth that real files never reach but that is still sane parses fine.
    const Bytes ok = nestedUdta(40);
    EXPECT_EQ(MP4Tagger::serialize(*MP4Tagger::parseBoxes(ok, 0, ok.size()).boxes[0]), ok);
}

TEST_F(MP4File, TopLevelListing) {
    const Bytes& ftyp = kFtyp;
    auto list = top(cat({ftyp, box("free", Bytes(3, 0)), box0("mdat", Bytes(100, 7))}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2].type, "mdat");
    EXPECT_EQ(list[2].start, ftyp.size() + 11);
    EXPECT_EQ(list[2].size, 108u);

    // Fewer than 8 stray bytes, or a 64-bit header cut short, end the walk quietly.
    EXPECT_EQ(top(cat({ftyp, Bytes(7, 1)})).size(), 1u);
    EXPECT_EQ(top(cat({ftyp, u32(1), text("mdat"), Bytes(3, 0)})).size(), 1u);

    const Bytes bad[] = {cat({ftyp, u32(4), text("free")}), cat({ftyp, u32(9), text("free")}),
                         cat({ftyp, u32(1), text("mdat"), u64(12), Bytes(4, 0)}),
                         cat({ftyp, u32(1), text("mdat"), u64(1ull << 62)})};
    for (const auto& b : bad) EXPECT_EQ(errorOf([&] { top(b); }), msg::mp4Damaged);
}

TEST_F(MP4File, LoadingTheMovieBox) {
    const Movie m = movie();
    auto loaded = load(m.file);
    EXPECT_EQ(loaded.start, m.moovStart);
    EXPECT_EQ(loaded.size, m.moovSize);
    EXPECT_EQ(loaded.box->type, "moov");

    const Bytes& ftyp = kFtyp;
    EXPECT_EQ(errorOf([&] { load(cat({ftyp, box("mdat", Bytes(20, 0))})); }), msg::mp4NoMoov);
    EXPECT_EQ(errorOf([&] { load(cat({ftyp, box("moov", cat({u32(2), text("trak")}))})); }),
              msg::mp4Damaged);
    // A `moov` of 2^29 bytes declared in a file that is not that long.
    EXPECT_EQ(errorOf([&] { load(cat({ftyp, u32(1u << 29), text("moov")})); }), msg::mp4Damaged);

    // The same in a (sparse) file that really is that long: refused before it is read.
    auto p = dir / "big.m4a";
    writeFile(p, cat({ftyp, u32(1u << 29), text("moov")}));
    ASSERT_EQ(::truncate(p.c_str(), off_t(ftyp.size()) + (off_t(1) << 29)), 0);
    FileIn in(p);
    EXPECT_EQ(errorOf([&] { MP4Tagger::loadMoov(in); }), msg::mp4HeaderLarge);
}

TEST_F(MP4File, MediaRangesAreTheMdatPayloads) {
    const Bytes& ftyp = kFtyp;
    const Bytes file = cat({ftyp, box("mdat", Bytes(10, 1)), box("moov", {}), box0("mdat", Bytes(5, 2))});
    FileIn in(put(file));
    const std::vector<ByteRange> want = {{ftyp.size() + 8, 10}, {ftyp.size() + 18 + 8 + 8, 5}};
    EXPECT_EQ(MP4Tagger::mediaRanges(in), want);
}

// ---- chunk offset tables ---------------------------------------------------------------------

TEST(MP4Offsets, EntriesAtOrAboveTheThresholdMove) {
    struct Case {
        const char* what;
        Bytes table;
        std::uint64_t threshold;
        std::int64_t delta;
        Bytes want;         // empty when an error is expected
        std::string error;
    } cases[] = {
        {"stco grows", stco({99, 100, 5000}), 100, 80, stco({99, 180, 5080}), ""},
        {"stco shrinks", stco({99, 100, 5000}), 100, -8, stco({99, 92, 4992}), ""},
        {"co64 grows past 32 bits", co64({1, 0xFFFFFFF0ull}), 2, 0x20, co64({1, 0x100000010ull}), ""},
        {"stco near 2^32", stco({10, 4294967290u}), 5, 80, {}, std::string(msg::mp4TooLarge)},
        {"stco below zero", stco({10, 12}), 10, -11, {}, std::string(msg::mp4TooLarge)},
        {"co64 past 2^63-1", co64({0x7FFFFFFFFFFFFFF0ull}), 0, 0x20, {}, std::string(msg::mp4TooLarge)},
        {"co64 beyond 2^63", co64({0x8000000000000000ull}), 0, -8, {}, std::string(msg::mp4TooLarge)},
        {"count larger than the table", fullBox("stco", 0, 0, cat({u32(3), u32(1), u32(2)})), 0, 8,
         {}, std::string(msg::mp4OffsetsDamaged)},
        {"co64 count larger than the table", fullBox("co64", 0, 0, cat({u32(1), u32(1)})), 0, 8,
         {}, std::string(msg::mp4OffsetsDamaged)},
        {"too short to hold a count: left alone", box("stco", u32(0)), 0, 8, box("stco", u32(0)), ""},
    };
    for (const auto& c : cases) {
        // Inside a container, so the walk has to reach it.
        const Bytes stbl = box("stbl", c.table);
        auto tree = MP4Tagger::parseBoxes(stbl, 0, stbl.size()).boxes[0];
        std::string err = errorOf([&] { MP4Tagger::adjustOffsets(*tree, c.threshold, c.delta); });
        EXPECT_EQ(err, c.error) << c.what;
        if (c.error.empty()) {
            EXPECT_EQ(MP4Tagger::serialize(*tree), box("stbl", c.want)) << c.what;
        }
    }
}

// ---- the ISRC item -------------------------------------------------------------------------

TEST(MP4Item, LayoutAndAccessors) {
    auto item = MP4Tagger::makeItem(kCode);
    const Bytes want = freeform("com.apple.iTunes", "ISRC", kCode);
    EXPECT_EQ(MP4Tagger::serialize(*item), want);
    EXPECT_EQ(want.size(), 68u + kCode.size());
    EXPECT_EQ(MP4Tagger::itemMean(*item), "com.apple.iTunes");
    EXPECT_EQ(MP4Tagger::itemName(*item), "ISRC");
    EXPECT_EQ(MP4Tagger::sub(*item, "data"), cat({u32(1), u32(0), text(kCode)}));
    EXPECT_EQ(MP4Tagger::sub(*item, "itif"), std::nullopt);

    // Only `----` items are looked into; a damaged item gives nothing; a short version field
    // leaves an empty text; invalid UTF-8 becomes U+FFFD.
    MP4Tagger::Box other("\xC2\xA9nam", item->raw);
    EXPECT_EQ(MP4Tagger::itemName(other), std::nullopt);
    MP4Tagger::Box broken("----", cat({u32(50), text("name"), u32(0)}));
    EXPECT_EQ(MP4Tagger::itemName(broken), std::nullopt);
    MP4Tagger::Box odd("----", cat({box("name", Bytes{0, 0}), box("mean", cat({u32(0), Bytes{'a', 0xFF}}))}));
    EXPECT_EQ(MP4Tagger::itemName(odd), "");
    EXPECT_EQ(MP4Tagger::itemMean(odd), "a\xEF\xBF\xBD");
}

TEST_F(MP4File, FirstWriteCreatesThePathAndMovesTheChunks) {
    const Movie m = movie();
    const Bytes out = write(m.file, kCode);
    ASSERT_EQ(out.size(), m.file.size() + 141);
    auto loaded = load(out);
    EXPECT_EQ(loaded.start, m.moovStart);
    EXPECT_EQ(loaded.size, m.moovSize + 141);
    // udta -> meta (ISO, mdir handler) -> ilst -> item, appended after the track
    const Bytes tail = udtaWithItems(freeform("com.apple.iTunes", "ISRC", kCode));
    EXPECT_EQ(slice(out, m.moovStart + m.moovSize, 141), tail);
    EXPECT_EQ(slice(out, 0, m.moovStart), slice(m.file, 0, m.moovStart));
    for (std::size_t i = 0; i < m.chunkOffsets.size(); ++i) {
        EXPECT_EQ(chunkOffsets(out)[i], m.chunkOffsets[i] + 141);
    }
    expectChunksIntact(m.file, out, 48);
    EXPECT_EQ(read(out), kCode);
    EXPECT_EQ(read(m.file), std::nullopt);

    // Written again: nothing changes. Removed: an empty ilst stays.
    EXPECT_EQ(write(out, kCode), out);
    const Bytes removed = write(out, std::nullopt);
    EXPECT_EQ(removed.size(), m.file.size() + 141 - 80);
    EXPECT_EQ(slice(removed, m.moovStart + m.moovSize, 61), udtaWithItems({}));
    EXPECT_EQ(read(removed), std::nullopt);
    expectChunksIntact(m.file, removed, 48);

    // Removing from a file that has no path adds nothing.
    EXPECT_EQ(write(m.file, std::nullopt), m.file);
}

TEST_F(MP4File, OffsetVariants) {
    {   // moov after mdat: no offset moves
        const Movie m = movie({.moovFirst = false});
        const Bytes out = write(m.file, kCode);
        EXPECT_EQ(chunkOffsets(out), m.chunkOffsets);
        EXPECT_EQ(slice(out, 0, m.moovStart), slice(m.file, 0, m.moovStart));
        EXPECT_EQ(read(out), kCode);
    }
    {   // 64-bit chunk offsets
        const Movie m = movie({.co64 = true});
        const Bytes out = write(m.file, kCode);
        expectChunksIntact(m.file, out, 48);
        EXPECT_EQ(chunkOffsets(out)[0], m.chunkOffsets[0] + 141);
    }
    {   // a moov with a 64-bit size comes back 8 bytes shorter
        const Movie m = movie({.moovSize64 = true});
        const Bytes out = write(m.file, std::nullopt);
        ASSERT_EQ(out.size(), m.file.size() - 8);
        EXPECT_EQ(chunkOffsets(out)[0], m.chunkOffsets[0] - 8);
        expectChunksIntact(m.file, out, 48);
    }
    {   // a last mdat of size 0 is copied whole
        const Movie m = movie({.mdatSize0 = true});
        const Bytes out = write(m.file, kCode);
        expectChunksIntact(m.file, out, 48);
        EXPECT_EQ(slice(out, out.size() - 10, 10), slice(m.file, m.file.size() - 10, 10));
    }
    {   // a chunk near 2^32 cannot move
        Movie m = movie();
        std::size_t at = find(m.file, "stco") + 12;
        for (int i = 0; i < 4; ++i) m.file[at + i] = 0xFF;
        m.file[at + 3] = 0xF0;
        EXPECT_EQ(errorOf([&] { write(m.file, kCode); }), msg::mp4TooLarge);
    }
}

TEST_F(MP4File, ExistingMetadataLayouts) {
    const Bytes title = textItem("\xA9nam", "A title");
    const Bytes old = freeform("com.apple.iTunes", "ISRC", "GBXYZ9900001");
    struct Case {
        const char* what;
        Bytes udta;
    } cases[] = {
        {"ISO meta", udtaWithItems(cat({title, old}))},
        {"QuickTime meta", box("udta", metaQuickTime(box("ilst", cat({title, old}))))},
        {"ilst with a trailer", box("udta", metaISO(box("ilst", cat({title, old, Bytes(3, 9)}))))},
    };
    for (const auto& c : cases) {
        const Movie m = movie({.moovTail = c.udta});
        EXPECT_EQ(read(m.file), "GBXYZ9900001") << c.what;
        const Bytes out = write(m.file, kCode);
        EXPECT_EQ(read(out), kCode) << c.what;
        EXPECT_EQ(out.size(), m.file.size()) << c.what;  // same length of code
        EXPECT_EQ(countOf(out, "ISRC"), 1u) << c.what;
        EXPECT_EQ(countOf(out, "A title"), 1u) << c.what;
        // The title stays first, byte for byte; the new item is last in the list.
        EXPECT_NE(find(out, std::string(title.begin(), title.end())), std::string::npos) << c.what;
        EXPECT_LT(find(out, "A title"), find(out, kCode)) << c.what;
        expectChunksIntact(m.file, out, 48);
        // Same layout stays: a QuickTime meta gains no version bytes.
        EXPECT_EQ(countOf(out, "hdlr"), countOf(m.file, "hdlr")) << c.what;
        const auto loaded = load(out);
        auto meta = childOf(*childOf(*loaded.box, "udta"), "meta");
        ASSERT_TRUE(meta && meta->children) << c.what;
        EXPECT_EQ(meta->prefix.size(), std::string(c.what) == "QuickTime meta" ? 0u : 4u);
        if (std::string(c.what) == "ilst with a trailer") {
            EXPECT_EQ(childOf(*meta, "ilst")->trailer, Bytes(3, 9));
        }
    }
}

TEST_F(MP4File, OpaqueMetaIsNeverRewritten) {
    const Movie m = movie({.moovTail = box("udta", box("meta", text("no handler in here")))});
    EXPECT_EQ(read(m.file), std::nullopt);
    EXPECT_EQ(errorOf([&] { write(m.file, kCode); }), msg::mp4Layout);
    EXPECT_EQ(errorOf([&] { write(m.file, std::nullopt); }), msg::mp4Layout);
}

TEST_F(MP4File, WhichItemsMatch) {
    const Bytes lower = freeform("com.apple.iTunes", "isrc", "USAAA0000001");
    const Bytes otherMean = freeform("com.apple.itunes", "ISRC", "USAAA0000002");
    const Bytes second = freeform("com.apple.iTunes", "ISRC", "USAAA0000003");
    const Bytes noData = freeform("com.apple.iTunes", "ISRC", std::nullopt);
    const Bytes padded = freeform("com.apple.iTunes", "ISRC", " \n USAAA0000004\t");

    EXPECT_EQ(read(movie({.moovTail = udtaWithItems(cat({otherMean, lower, second}))}).file),
              "USAAA0000001");
    EXPECT_EQ(read(movie({.moovTail = udtaWithItems(otherMean)}).file), std::nullopt);
    EXPECT_EQ(read(movie({.moovTail = udtaWithItems(cat({noData, second}))}).file), std::nullopt);
    EXPECT_EQ(read(movie({.moovTail = udtaWithItems(padded)}).file), "USAAA0000004");

    // Both matching items go, the other mean stays, the new item is last.
    const Movie m = movie({.moovTail = udtaWithItems(cat({lower, otherMean, noData, second}))});
    const Bytes out = write(m.file, kCode);
    EXPECT_EQ(countOf(out, "USAAA0000001") + countOf(out, "USAAA0000003"), 0u);
    EXPECT_EQ(countOf(out, "USAAA0000002"), 1u);
    EXPECT_EQ(countOf(out, "com.apple.iTunes"), 1u);
    const auto loaded = load(out);
    auto ilst = childOf(*childOf(*childOf(*loaded.box, "udta"), "meta"), "ilst");
    ASSERT_EQ(ilst->children->size(), 2u);
    EXPECT_EQ(MP4Tagger::serialize(*(*ilst->children)[0]), otherMean);
    EXPECT_EQ(MP4Tagger::serialize(*(*ilst->children)[1]), freeform("com.apple.iTunes", "ISRC", kCode));
    expectChunksIntact(m.file, out, 48);
}

TEST_F(MP4File, OnlyTheFirstBoxOfEachLevelCounts) {
    const Bytes a = freeform("com.apple.iTunes", "ISRC", "USAAA0000001");
    const Bytes b = freeform("com.apple.iTunes", "ISRC", "USAAA0000002");
    const Bytes c = freeform("com.apple.iTunes", "ISRC", "USAAA0000003");
    // moov: meta (ignored: not under udta), udta [meta [ilst(a), ilst(b)], meta], udta [ilst(c)]
    const Bytes tail = cat({metaISO(box("ilst", c)),
                            box("udta", cat({metaISO(cat({box("ilst", a), box("ilst", b)})),
                                             metaISO(box("ilst", c))})),
                            udtaWithItems(c)});
    const Movie m = movie({.moovTail = tail});
    EXPECT_EQ(read(m.file), "USAAA0000001");
    const Bytes out = write(m.file, kCode);
    EXPECT_EQ(countOf(out, "USAAA0000001"), 0u);
    EXPECT_EQ(countOf(out, "USAAA0000002"), 1u);
    EXPECT_EQ(countOf(out, "USAAA0000003"), 3u);
    EXPECT_EQ(read(out), kCode);
    EXPECT_EQ(out.size(), m.file.size());

    // A meta directly under moov does not stand in for the missing udta.
    const Movie bare = movie({.moovTail = metaISO(box("ilst", c))});
    EXPECT_EQ(read(bare.file), std::nullopt);
    const Bytes grown = write(bare.file, kCode);
    EXPECT_EQ(grown.size(), bare.file.size() + 141);
    EXPECT_EQ(countOf(grown, "USAAA0000003"), 1u);
}

TEST_F(MP4File, HostileMoviesGiveMessages) {
    const Movie m = movie({.moovTail = nestedUdta(100000)});
    EXPECT_EQ(errorOf([&] { read(m.file); }), msg::mp4Damaged);
    EXPECT_EQ(errorOf([&] { write(m.file, kCode); }), msg::mp4Damaged);

    const Bytes& ftyp = kFtyp;
    EXPECT_EQ(errorOf([&] { write(cat({ftyp, u32(1), text("moov"), u64(9), Bytes(8, 0)}), kCode); }),
              msg::mp4Damaged);
    EXPECT_EQ(errorOf([&] { read(cat({ftyp, box("moov", cat({u32(5000), text("udta")}))})); }),
              msg::mp4Damaged);
}

// ---- movie fragments -------------------------------------------------------------------------

// ftyp, moov, moof (two trafs: one with a base data offset, one without), mdat, mfra.
TEST_F(MP4File, FragmentOffsetsFollowTheMovie) {
    const Bytes& ftyp = kFtyp;
    const Bytes moov = box("moov", cat({fullBox("mvhd", 0, 0, Bytes(96, 0)), box("mvex", {})}));
    const std::uint64_t moofAt = ftyp.size() + moov.size();
    auto moofWith = [](std::uint64_t base) {
        return box("moof", cat({fullBox("mfhd", 0, 0, u32(1)),
                                box("traf", tfhd(1, base)), box("traf", tfhd(2, std::nullopt))}));
    };
    const std::uint64_t moofSize = moofWith(0).size();
    const std::uint64_t mdatPayload = moofAt + moofSize + 8;
    const Bytes mdat = box("mdat", Bytes(64, 0x5A));
    const Bytes mfra = box("mfra", cat({tfra(0, {moofAt}), tfra(1, {moofAt, 3})}));
    const Bytes file = cat({ftyp, moov, moofWith(mdatPayload), mdat, mfra});

    const Bytes out = write(file, kCode);
    ASSERT_EQ(out.size(), file.size() + 141);
    const std::size_t newMoof = moofAt + 141;
    EXPECT_EQ(slice(out, newMoof, moofSize), moofWith(mdatPayload + 141));
    EXPECT_EQ(slice(out, newMoof + moofSize, mdat.size()), mdat);
    const Bytes want = box("mfra", cat({tfra(0, {newMoof}), tfra(1, {newMoof, 3})}));
    EXPECT_EQ(slice(out, out.size() - want.size(), want.size()), want);
    EXPECT_EQ(read(out), kCode);

    // Removing the code again moves everything back by the item's 80 bytes.
    const Bytes removed = write(out, std::nullopt);
    ASSERT_EQ(removed.size(), file.size() + 61);
    EXPECT_EQ(slice(removed, moofAt + 61, moofSize), moofWith(mdatPayload + 61));

    // A base offset pushed past 2^63 - 1, and a tfra claiming more entries than it holds.
    const Bytes far = cat({ftyp, moov, moofWith(0x7FFFFFFFFFFFFFF0ull), mdat});
    EXPECT_EQ(errorOf([&] { write(far, kCode); }), msg::mp4TooLarge);
    Bytes shortTfra = tfra(0, {moofAt});
    shortTfra[23] = 9;  // entry count
    const Bytes badMfra = cat({ftyp, moov, moofWith(mdatPayload), mdat, box("mfra", shortTfra)});
    EXPECT_EQ(errorOf([&] { write(badMfra, kCode); }), msg::mp4OffsetsDamaged);
    // A segment index ahead of the movie cannot be kept consistent.
    const Bytes sidxFirst = cat({ftyp, fullBox("sidx", 0, 0, Bytes(24, 0)), moov, moofWith(0), mdat});
    EXPECT_EQ(errorOf([&] { write(sidxFirst, kCode); }), msg::mp4Layout);
}
