// The ID3v2 codec: header sizing, the frame walk, text decoding and the rebuilt tag.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "core/id3v2.h"
#include "core/tag_error.h"
#include "support/id3_builder.h"

using namespace pelorix;
namespace id3 = pelorix::test::id3;

namespace {

struct Failure {
    std::string message;
    TagError::Kind kind = TagError::Kind::io;
    bool thrown = false;
};

Failure failureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const TagError& e) {
        return {e.what(), e.kind(), true};
    }
    return {};
}

ID3v2::Tag parsed(const Bytes& bytes) {
    auto t = ID3v2::parse(bytes);
    if (!t) throw std::runtime_error("no tag");
    return *t;
}

std::vector<std::string> ids(const ID3v2::Tag& t) {
    std::vector<std::string> out;
    for (const auto& f : t.frames) out.push_back(f.id);
    return out;
}

Bytes header(std::initializer_list<int> b) {
    Bytes out;
    for (int v : b) out.push_back(std::uint8_t(v));
    return out;
}

// A body that holds every troublesome byte pair for unsynchronisation.
Bytes binaryBody() {
    return {0x00, 0xFF, 0x00, 0xFF, 0xE0, 0xFF, 0xFF, 0x12, 0xFF, 0xFB, 0x00, 0x00, 0xFF};
}

}  // namespace

// ---- totalSize and removeUnsync ------------------------------------------------------------

TEST(ID3v2TotalSize, RecognisesOnlyUsableHeaders) {
    struct Case {
        const char* name;
        Bytes header;
        std::optional<std::uint64_t> total;
    };
    const Case cases[] = {
        {"v3", header({'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1}), 267},
        {"v4 with footer", header({'I', 'D', '3', 4, 0, 0x10, 0, 0, 2, 1}), 277},
        {"v3 ignores the footer flag", header({'I', 'D', '3', 3, 0, 0x10, 0, 0, 2, 1}), 267},
        {"v2 is still sized", header({'I', 'D', '3', 2, 0, 0, 0, 0, 0, 5}), 15},
        {"largest size", header({'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}), 268435465},
        {"nine bytes", header({'I', 'D', '3', 3, 0, 0, 0, 0, 2}), std::nullopt},
        {"not ID3", header({'I', 'D', '4', 3, 0, 0, 0, 0, 2, 1}), std::nullopt},
        {"lower case", header({'i', 'd', '3', 3, 0, 0, 0, 0, 2, 1}), std::nullopt},
        {"version FF", header({'I', 'D', '3', 0xFF, 0, 0, 0, 0, 2, 1}), std::nullopt},
        {"revision FF", header({'I', 'D', '3', 3, 0xFF, 0, 0, 0, 2, 1}), std::nullopt},
        {"size byte 6 top bit", header({'I', 'D', '3', 3, 0, 0, 0x80, 0, 2, 1}), std::nullopt},
        {"size byte 9 top bit", header({'I', 'D', '3', 3, 0, 0, 0, 0, 2, 0x81}), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ID3v2::totalSize(c.header), c.total) << c.name;
}

TEST(ID3v2RemoveUnsync, DropsOnlyTheZeroAfterEachFF) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{0xFF, 0x00}, {0xFF}},
        {{0xFF, 0x00, 0x00}, {0xFF, 0x00}},
        {{0x01, 0xFF}, {0x01, 0xFF}},
        {{0xFF, 0xFF, 0x00, 0xE0}, {0xFF, 0xFF, 0xE0}},
        {{0x00, 0x00, 0xFF, 0x01}, {0x00, 0x00, 0xFF, 0x01}},
        {{}, {}},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ID3v2::removeUnsync(in), out);
    EXPECT_EQ(ID3v2::removeUnsync(id3::unsynchronise(binaryBody())), binaryBody());
}

// ---- parse: refusals -----------------------------------------------------------------------

TEST(ID3v2Parse, NoHeaderIsNoTag) {
    EXPECT_FALSE(ID3v2::parse(test::bytesOf("RIFF0000WAVEfmt ")));
    EXPECT_FALSE(ID3v2::parse(Bytes{}));
}

TEST(ID3v2Parse, RefusesOtherVersionsWithTheExactMessage) {
    for (std::uint8_t v : {0, 2, 5, 10, 254}) {
        Bytes t = id3::tag({.version = v, .frames = {id3::textFrame("TSRC", "FIABC2600001")}});
        auto f = failureOf([&] { ID3v2::parse(t); });
        EXPECT_EQ(f.kind, TagError::Kind::unsupported) << int(v);
        EXPECT_EQ(f.message, "This file has an ID3v2." + std::to_string(v) +
                                 " tag. PELORIX supports ID3v2.3 and ID3v2.4 only.");
    }
    auto f = failureOf([] { ID3v2::parse(id3::tag({.version = 2})); });
    EXPECT_EQ(f.message, "This file has an ID3v2.2 tag. PELORIX supports ID3v2.3 and ID3v2.4 only.");
}

TEST(ID3v2Parse, DamagedHeadersAreReported) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string_view message;
    };
    Bytes full = id3::tag({.frames = {id3::textFrame("TIT2", "Song")}, .padding = 20});
    Bytes cut(full.begin(), full.end() - 1);
    const Case cases[] = {
        {"one byte short", cut, msg::id3Truncated},
        {"only the header", Bytes(full.begin(), full.begin() + 10), msg::id3Truncated},
        {"size past any file", id3::tag({.declaredSize = 0x0FFFFFFF}), msg::id3Truncated},
        {"extended flag, 3-byte body",
         id3::tag({.extendedFlag = true, .trailing = {1, 2, 3}}), msg::id3Damaged},
        {"extended flag, empty body v4", id3::tag({.version = 4, .extendedFlag = true}),
         msg::id3Damaged},
    };
    for (const auto& c : cases) {
        auto f = failureOf([&] { ID3v2::parse(c.bytes); });
        EXPECT_TRUE(f.thrown) << c.name;
        EXPECT_EQ(f.kind, TagError::Kind::malformed) << c.name;
        EXPECT_EQ(f.message, c.message) << c.name;
    }
}

// ---- parse: the frame walk -----------------------------------------------------------------

TEST(ID3v2Parse, FrameWalkStopsSilently) {
    const auto tit2 = id3::textFrame("TIT2", "Title");
    const auto talb = id3::textFrame("TALB", "Album");
    struct Case {
        const char* name;
        id3::TagSpec spec;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {"padding ends the list", {.frames = {tit2, talb}, .padding = 1024}, {"TIT2", "TALB"}},
        {"lower-case identifier", {.frames = {tit2, id3::textFrame("TaLB", "x"), talb}}, {"TIT2"}},
        {"identifier with a space", {.frames = {tit2, id3::textFrame("TXX ", "x"), talb}}, {"TIT2"}},
        {"size past the body",
         {.frames = {tit2, {.id = "TALB", .body = {0, 'A'}, .declaredSize = 100}}},
         {"TIT2"}},
        {"v3 size with the top bit",
         {.frames = {tit2, {.id = "TALB", .body = {0, 'A'}, .declaredSize = 0xFFFFFFFF}}},
         {"TIT2"}},
        {"fewer than 10 bytes left", {.frames = {tit2}, .trailing = {'T', 'A', 'L', 'B', 0}}, {"TIT2"}},
        {"zero-size frames are frames", {.frames = {{.id = "TXXX"}, {.id = "PRIV"}, tit2}},
         {"TXXX", "PRIV", "TIT2"}},
        {"digits in identifiers", {.version = 4, .frames = {{.id = "XYZ9", .body = {1}}, tit2}},
         {"XYZ9", "TIT2"}},
        {"empty tag", {.padding = 0}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ids(parsed(id3::tag(c.spec))), c.expected) << c.name;
}

TEST(ID3v2Parse, FramesKeepTheirFlagsAndBodies) {
    for (std::uint8_t v : {3, 4}) {
        id3::FrameSpec apic{.id = "APIC", .body = binaryBody(), .status = 0x60, .format = 0x45};
        auto t = parsed(id3::tag({.version = v, .frames = {apic, id3::textFrame("TIT2", "x")}}));
        ASSERT_EQ(t.frames.size(), 2u);
        EXPECT_EQ(t.version, v);
        EXPECT_EQ(t.frames[0].flags, (Bytes{0x60, 0x45}));
        EXPECT_EQ(t.frames[0].body, binaryBody());
    }
}

TEST(ID3v2Parse, FrameSizesFollowTheVersion) {
    // 200 bytes: 00 00 00 C8 big-endian, 00 00 01 48 synchsafe. Read with the wrong rule the
    // frame would claim 328 bytes and be dropped.
    const Bytes big(200, 'a');
    for (std::uint8_t v : {3, 4}) {
        auto t = parsed(id3::tag({.version = v, .frames = {{.id = "COMM", .body = big},
                                                           id3::textFrame("TIT2", "x")},
                                  .padding = 400}));
        ASSERT_EQ(ids(t), (std::vector<std::string>{"COMM", "TIT2"})) << int(v);
        EXPECT_EQ(t.frames[0].body, big);
    }
}

TEST(ID3v2Parse, ExtendedHeaderIsSkipped) {
    const auto tit2 = id3::textFrame("TIT2", "Title");
    struct Case {
        const char* name;
        id3::TagSpec spec;
        std::vector<std::string> expected;
    };
    // A v3 header of 10 (6 + CRC) bytes, and a v4 one of 12 bytes that holds bytes that could
    // pass for a frame identifier.
    const Bytes v3crc = {0, 0, 0, 10, 0x80, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
    const Bytes v4long = {0, 0, 0, 12, 1, 0x20, 'A', 'B', 'C', 'D', 0x11, 0x22};
    std::vector<Case> cases = {
        {"v3 six bytes", {.version = 3, .frames = {tit2}, .extendedHeader = id3::extendedHeaderV3()},
         {"TIT2"}},
        {"v3 with CRC", {.version = 3, .frames = {tit2}, .extendedHeader = v3crc}, {"TIT2"}},
        {"v4 six bytes", {.version = 4, .frames = {tit2}, .extendedHeader = id3::extendedHeaderV4()},
         {"TIT2"}},
        {"v4 twelve bytes", {.version = 4, .frames = {tit2}, .extendedHeader = v4long}, {"TIT2"}},
        // Writers that set the flag without an extended header: the frames must not be lost.
        {"v3 flag without header", {.version = 3, .frames = {tit2}, .extendedFlag = true}, {"TIT2"}},
        {"v4 flag without header", {.version = 4, .frames = {tit2}, .extendedFlag = true}, {"TIT2"}},
        {"v3 bogus size, no frame at start",
         {.version = 3, .extendedHeader = {0, 0, 0, 99, 0, 0}, .padding = 10}, {}},
        {"v4 length past the body, no frame",
         {.version = 4, .extendedHeader = {0, 0, 0x7F, 0x7F, 0, 0}, .padding = 10}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ids(parsed(id3::tag(c.spec))), c.expected) << c.name;
}

TEST(ID3v2Parse, FooterIsIgnored) {
    Bytes t = id3::tag({.version = 4, .frames = {id3::textFrame("TSRC", "FIABC2600001")},
                        .footer = true});
    EXPECT_EQ(ID3v2::totalSize(t), t.size());
    auto tag = parsed(t);
    EXPECT_EQ(ids(tag), std::vector<std::string>{"TSRC"});
    Bytes rebuilt = *ID3v2::settingISRC(tag, "GBAAA2600001");
    EXPECT_EQ(rebuilt[5], 0x00);
    EXPECT_EQ(test::countOf(rebuilt, "3DI"), 0u);
}

TEST(ID3v2Parse, Version3UnsynchronisationIsUndoneOverTheBody) {
    // Version 3 counts frame sizes before unsynchronisation, so the body is undone whole.
    id3::TagSpec spec{.version = 3,
                      .frames = {{.id = "APIC", .body = binaryBody()},
                                 {.id = "PRIV", .body = {0xFF, 0xFE, 0xFF}},
                                 id3::textFrame("TSRC", "FIABC2600001")},
                      .unsync = true,
                      .padding = 8};
    Bytes bytes = id3::tag(spec);
    ASSERT_GT(bytes.size(), id3::tag({.frames = spec.frames, .padding = 8}).size());
    auto t = parsed(bytes);
    ASSERT_EQ(ids(t), (std::vector<std::string>{"APIC", "PRIV", "TSRC"}));
    EXPECT_EQ(t.frames[0].body, binaryBody());
    EXPECT_EQ(t.frames[1].body, (Bytes{0xFF, 0xFE, 0xFF}));
    EXPECT_EQ(ID3v2::isrc(t), "FIABC2600001");

    Bytes rebuilt = *ID3v2::settingISRC(t, "FIABC2600002");
    EXPECT_EQ(rebuilt[5], 0x00);  // written plainly
    auto again = parsed(rebuilt);
    EXPECT_EQ(again.frames[0], t.frames[0]);
    EXPECT_EQ(again.frames[1], t.frames[1]);
}

TEST(ID3v2Parse, Version4UnsynchronisationIsUndonePerFrame) {
    // Version 4 frame sizes count the stored (unsynchronised) bytes; undoing the whole body
    // first would misplace every frame after the first FF 00 pair.
    const id3::FrameSpec tit2 = id3::textFrame("TIT2", "Title");
    const id3::FrameSpec tsrc = id3::textFrame("TSRC", "FIABC2600001");
    struct Case {
        const char* name;
        id3::TagSpec spec;
    };
    const Case cases[] = {
        {"frame flag only",
         {.version = 4,
          .frames = {{.id = "APIC", .body = binaryBody(), .unsync = true}, tit2, tsrc},
          .padding = 30}},
        {"header flag only",
         {.version = 4,
          .frames = {{.id = "APIC", .body = binaryBody()}, tit2, tsrc},
          .unsync = true,
          .padding = 30}},
        {"both flags, data length indicator",
         {.version = 4,
          .frames = {{.id = "APIC", .body = binaryBody(), .format = 0x01, .unsync = true},
                     {.id = "PRIV", .body = {0xFF, 0x00, 0xFF}, .unsync = true},
                     tit2, tsrc},
          .unsync = true}},
    };
    for (const auto& c : cases) {
        auto t = parsed(id3::tag(c.spec));
        ASSERT_EQ(t.frames.size(), c.spec.frames.size()) << c.name;
        for (std::size_t i = 0; i < t.frames.size(); ++i) {
            EXPECT_EQ(t.frames[i].id, c.spec.frames[i].id) << c.name;
            EXPECT_EQ(t.frames[i].body, c.spec.frames[i].body) << c.name << " frame " << i;
            EXPECT_EQ(t.frames[i].flags[1], c.spec.frames[i].format) << c.name << " frame " << i;
        }
        EXPECT_EQ(ID3v2::isrc(t), "FIABC2600001") << c.name;

        // The rebuilt tag stores every frame plainly, so it reads back the same.
        Bytes rebuilt = *ID3v2::settingISRC(t, "FIABC2600001");
        EXPECT_EQ(rebuilt[5], 0x00);
        EXPECT_EQ(parsed(rebuilt), t) << c.name;
    }
}

// ---- isrc ----------------------------------------------------------------------------------

TEST(ID3v2ISRC, DecodesEveryEncoding) {
    const std::string code = "FIABC2600001";
    auto utf16 = [](const std::string& ascii, bool little, bool bom) {
        Bytes out;
        if (bom) out = little ? Bytes{0xFF, 0xFE} : Bytes{0xFE, 0xFF};
        for (char ch : ascii) {
            if (little) out.insert(out.end(), {std::uint8_t(ch), 0});
            else out.insert(out.end(), {0, std::uint8_t(ch)});
        }
        return out;
    };
    auto cat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        const char* name;
        Bytes body;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"latin1", id3::textBody(0, code), code},
        {"latin1 high bytes", id3::textBody(0, Bytes{0xC9, 'A', 0xFF}), "\u00C9A\u00FF"},
        {"utf16 LE with BOM", id3::textBody(1, utf16(code, true, true)), code},
        {"utf16 BE with BOM", id3::textBody(1, utf16(code, false, true)), code},
        {"utf16 without BOM is LE", id3::textBody(1, utf16(code, true, false)), code},
        {"utf16 BE without BOM misreads", id3::textBody(1, utf16("AB", false, false)),
         "\u4100\u4200"},
        {"utf16 one byte", id3::textBody(1, Bytes{'A'}), std::nullopt},
        {"utf16 odd length", id3::textBody(1, cat(utf16(code, true, true), {'x'})), std::nullopt},
        {"utf16 lone surrogate", id3::textBody(1, Bytes{0xFF, 0xFE, 0x00, 0xD8, 'A', 0}),
         std::nullopt},
        {"utf16 surrogate pair", id3::textBody(1, Bytes{0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}),
         "\U0001F600"},
        {"utf16BE", id3::textBody(2, utf16(code, false, false)), code},
        {"utf16BE odd length", id3::textBody(2, Bytes{0, 'A', 0}), std::nullopt},
        {"utf8", id3::textBody(3, "FI\u00C9"), "FI\u00C9"},
        {"utf8 invalid", id3::textBody(3, Bytes{'F', 0xC3, 0x28}), std::nullopt},
        {"utf8 overlong", id3::textBody(3, Bytes{0xC0, 0xAF}), std::nullopt},
        {"unknown encoding", id3::textBody(4, code), std::nullopt},
        {"encoding 0xFF", id3::textBody(0xFF, code), std::nullopt},
    };
    for (const auto& c : cases) {
        ID3v2::Tag t{3, {{"TSRC", {0, 0}, c.body}}};
        EXPECT_EQ(ID3v2::isrc(t), c.expected) << c.name;
    }
}

TEST(ID3v2ISRC, TakesTheFirstPieceTrimmed) {
    struct Case {
        const char* name;
        Bytes body;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"NULs around", id3::textBody(0, Bytes{0, 0, 'A', 'B', 0, 'C', 0}), "AB"},
        {"spaces and newline", id3::textBody(3, " \tAB\n\r\u3000"), "AB"},
        {"only NULs", id3::textBody(0, Bytes{0, 0, 0}), std::nullopt},
        {"utf16 NUL terminated", id3::textBody(1, Bytes{0xFF, 0xFE, 'A', 0, 0, 0}), "A"},
        {"blank piece is kept as empty", id3::textBody(0, Bytes{' ', 0, 'A'}), ""},
        {"encoding byte only", Bytes{0}, std::nullopt},
        {"empty body", Bytes{}, std::nullopt},
        {"inner space kept", id3::textBody(0, "FI ABC"), "FI ABC"},
    };
    for (const auto& c : cases) {
        ID3v2::Tag t{4, {{"TSRC", {0, 0}, c.body}}};
        EXPECT_EQ(ID3v2::isrc(t), c.expected) << c.name;
    }
}

TEST(ID3v2ISRC, HonoursFrameFlagsByVersion) {
    const Bytes plain = id3::textBody(0, "FIABC2600001");
    Bytes withLength = {0, 0, 0, 13};
    withLength.insert(withLength.end(), plain.begin(), plain.end());
    struct Case {
        std::uint8_t version;
        std::uint8_t format;
        Bytes body;
        bool readable;
    };
    const Case cases[] = {
        {4, 0x00, plain, true},       {4, 0x02, plain, true},        {4, 0x40, plain, true},
        {4, 0x04, plain, false},      {4, 0x08, plain, false},       {4, 0x01, withLength, true},
        {4, 0x01, {0, 0, 0, 1}, false}, {4, 0x01, {0, 0, 0, 1, 0}, false},
        {3, 0x00, plain, true},       {3, 0x20, plain, true},        {3, 0x3F, plain, true},
        {3, 0x40, plain, false},      {3, 0x80, plain, false},       {3, 0x01, plain, true},
    };
    for (const auto& c : cases) {
        ID3v2::Tag t{c.version, {{"TSRC", {0xFF, c.format}, c.body}}};
        auto got = ID3v2::isrc(t);
        EXPECT_EQ(got.has_value(), c.readable) << int(c.version) << " " << int(c.format);
        if (c.readable) { EXPECT_EQ(got, "FIABC2600001"); }
    }
}

TEST(ID3v2ISRC, OnlyTheFirstTSRCCounts) {
    ID3v2::Tag t{3,
                 {{"TIT2", {0, 0}, id3::textBody(0, "Song")},
                  {"TSRC", {0, 0x80}, id3::textBody(0, "AAAAA2600001")},
                  {"TSRC", {0, 0}, id3::textBody(0, "BBBBB2600001")}}};
    EXPECT_EQ(ID3v2::isrc(t), std::nullopt);
    t.frames[1].flags[1] = 0;
    EXPECT_EQ(ID3v2::isrc(t), "AAAAA2600001");
    EXPECT_EQ(ID3v2::isrc(ID3v2::Tag{3, {{"TIT2", {0, 0}, id3::textBody(0, "x")}}}), std::nullopt);
}

// ---- settingISRC ---------------------------------------------------------------------------

TEST(ID3v2Setting, FreshTagIsVersion3WithPadding) {
    Bytes t = *ID3v2::settingISRC(std::nullopt, "FIABC2600001");
    ASSERT_EQ(t.size(), 10u + 10 + 1 + 12 + 1024);
    const Bytes head = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x08, 0x17,   // 1047 synchsafe
                        'T', 'S', 'R', 'C', 0, 0, 0, 13, 0, 0, 0};
    EXPECT_EQ(Bytes(t.begin(), t.begin() + 21), head);
    EXPECT_EQ(std::string(t.begin() + 21, t.begin() + 33), "FIABC2600001");
    EXPECT_EQ(std::count(t.begin() + 33, t.end(), 0), 1024);
    EXPECT_EQ(ID3v2::totalSize(t), t.size());
}

TEST(ID3v2Setting, KeepsVersionAndEveryOtherFrameByteForByte) {
    const Bytes big(300, 0xAB);
    for (std::uint8_t v : {3, 4}) {
        // Compressed, encrypted and grouped frames with v4 data length indicators: opaque bodies.
        std::vector<id3::FrameSpec> frames = {
            id3::textFrame("TIT2", "Title", 1),
            {.id = "APIC", .body = big, .status = 0x40, .format = 0x00},
            {.id = "COMM", .body = binaryBody(), .format = std::uint8_t(v == 4 ? 0x09 : 0x80)},
            {.id = "PRIV", .body = {1, 2, 3}, .format = std::uint8_t(v == 4 ? 0x04 : 0x40)},
            {.id = "TXXX", .body = {9, 9}, .format = std::uint8_t(v == 4 ? 0x40 : 0x20)},
        };
        Bytes original = id3::tag({.version = v, .frames = frames, .padding = 50});
        Bytes rebuilt = *ID3v2::settingISRC(parsed(original), "FIABC2600001");

        EXPECT_EQ(rebuilt[3], v);
        EXPECT_EQ(rebuilt[4], 0);
        // The frames are the original bytes, in order, then the new TSRC frame and padding.
        Bytes expected(original.begin() + 10, original.end() - 50);
        auto tsrc = id3::frameBytes(id3::textFrame("TSRC", "FIABC2600001"), v);
        expected.insert(expected.end(), tsrc.begin(), tsrc.end());
        expected.resize(expected.size() + 1024, 0);
        EXPECT_EQ(Bytes(rebuilt.begin() + 10, rebuilt.end()), expected) << int(v);
        EXPECT_EQ(ID3v2::totalSize(rebuilt), rebuilt.size());
    }
}

TEST(ID3v2Setting, ReplacesEveryTSRCWithOneLastFrame) {
    ID3v2::Tag t{4,
                 {{"TSRC", {0, 0}, id3::textBody(0, "AAAAA2600001")},
                  {"TIT2", {0, 0}, id3::textBody(0, "Song")},
                  {"TSRC", {0x40, 0x04}, id3::textBody(0, "BBBBB2600001")},
                  {"TALB", {0, 0}, id3::textBody(0, "Album")}}};
    auto out = parsed(*ID3v2::settingISRC(t, "FIABC2600001"));
    EXPECT_EQ(ids(out), (std::vector<std::string>{"TIT2", "TALB", "TSRC"}));
    EXPECT_EQ(out.frames.back().flags, (Bytes{0, 0}));
    EXPECT_EQ(ID3v2::isrc(out), "FIABC2600001");
}

TEST(ID3v2Setting, MatchesTSRCExactly) {
    // Only "TSRC" is the code's frame; a frame spelt otherwise is someone else's and is kept.
    ID3v2::Tag t{3, {{"TIT2", {0, 0}, id3::textBody(0, "Song")}, {"Tsrc", {0, 0}, {'x'}}}};
    Bytes bytes = *ID3v2::settingISRC(t, std::nullopt);
    EXPECT_EQ(test::countOf(bytes, "Tsrc"), 1u);
    EXPECT_EQ(test::countOf(bytes, "TSRC"), 0u);
}

TEST(ID3v2Setting, RemovingTheLastFrameGivesNoTag) {
    EXPECT_FALSE(ID3v2::settingISRC(std::nullopt, std::nullopt));
    EXPECT_FALSE(ID3v2::settingISRC(ID3v2::Tag{4, {}}, std::nullopt));
    ID3v2::Tag onlyCode{3, {{"TSRC", {0, 0}, id3::textBody(0, "A")}, {"TSRC", {0, 0}, {}}}};
    EXPECT_FALSE(ID3v2::settingISRC(onlyCode, std::nullopt));

    for (std::uint8_t v : {3, 4}) {
        ID3v2::Tag both{v,
                        {{"TSRC", {0, 0}, id3::textBody(0, "FIABC2600001")},
                         {"TIT2", {0, 0}, id3::textBody(0, "Song")}}};
        Bytes t = *ID3v2::settingISRC(both, std::nullopt);
        EXPECT_EQ(t.size(), 10u + 10 + 5 + 1024);
        EXPECT_EQ(t[3], v);
        EXPECT_EQ(ids(parsed(t)), std::vector<std::string>{"TIT2"});
    }
}

TEST(ID3v2Setting, RefusesATagItsSizeFieldCannotHold) {
    // The header's synchsafe field holds 2^28 - 1 bytes of frames and padding.
    const std::size_t limit = std::size_t(1) << 28;
    Bytes art;
    art.reserve(limit);  // so that growing it by one byte below does not copy it
    art.resize(limit - 1 - 1024 - 10 - 10 - 13);
    ID3v2::Tag t{4, {}};
    t.frames.push_back({"APIC", {0, 0}, std::move(art)});
    auto fits = ID3v2::settingISRC(t, "FIABC2600001");
    ASSERT_TRUE(fits);
    EXPECT_EQ(ID3v2::totalSize(*fits), limit - 1 + 10);
    EXPECT_EQ(fits->size(), limit - 1 + 10);
    fits.reset();

    t.frames[0].body.push_back(0);
    auto f = failureOf([&] { ID3v2::settingISRC(t, "FIABC2600001"); });
    EXPECT_EQ(f.kind, TagError::Kind::unsupported);
    EXPECT_EQ(f.message, msg::id3TooLarge);
}

// ---- hostile input -------------------------------------------------------------------------

TEST(ID3v2Hostile, DamagedTagsNeverCrash) {
    // Every single-byte corruption and every truncation of a realistic tag either parses or
    // fails with a TagError; whatever parses can be read and rebuilt.
    for (std::uint8_t v : {3, 4}) {
        const Bytes good = id3::tag({.version = v,
                                     .frames = {id3::textFrame("TIT2", "Title", 1),
                                                {.id = "APIC", .body = binaryBody(), .unsync = true},
                                                id3::textFrame("TSRC", "FIABC2600001")},
                                     .unsync = v == 3,
                                     .extendedHeader = v == 3 ? id3::extendedHeaderV3()
                                                              : id3::extendedHeaderV4(),
                                     .footer = v == 4,
                                     .padding = 16});
        auto exercise = [](const Bytes& b) {
            try {
                if (auto t = ID3v2::parse(b)) {
                    (void)ID3v2::isrc(*t);
                    auto rebuilt = ID3v2::settingISRC(*t, "FIABC2600001");
                    ASSERT_TRUE(rebuilt);
                    ASSERT_TRUE(ID3v2::parse(*rebuilt));
                }
            } catch (const TagError&) {
            }
        };
        for (std::size_t i = 0; i < good.size(); ++i) {
            for (std::uint8_t value : {0x00, 0x7F, 0x80, 0xFF, 0x0A}) {
                Bytes b = good;
                b[i] = value;
                exercise(b);
            }
            exercise(Bytes(good.begin(), good.begin() + std::ptrdiff_t(i)));
        }
    }
}

TEST(ID3v2Hostile, EndlessPaddingAndZeroSizes) {
    auto t = parsed(id3::tag({.version = 4, .frames = {{.id = "TSRC"}}, .padding = 4 << 20}));
    EXPECT_EQ(ids(t), std::vector<std::string>{"TSRC"});
    EXPECT_EQ(ID3v2::isrc(t), std::nullopt);
    // Junk after padding stays outside the tag.
    auto j = parsed(id3::tag({.frames = {id3::textFrame("TIT2", "x")}, .trailing = {0, 'T', 'A', 'L', 'B', 0, 0, 0, 1, 0, 0, 'x'}}));
    EXPECT_EQ(ids(j), std::vector<std::string>{"TIT2"});
}
