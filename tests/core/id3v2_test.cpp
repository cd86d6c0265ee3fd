// SPDX-License-Identifier: MIT
// ID3v2 tags, MP3 files and format detection: the frame walk, text decoding, the rebuilt tag, the
// streamed MP3 rewrite and the detection rules in their order.
#include "core/formats/id3v2.h"
#include "core/formats/mp3.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/formats/detect.h"
#include "support/codec_harness.h"
#include "support/id3_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using id3::FrameSpec;
using id3::textFrame;
using namespace std::string_literals;

namespace {

const std::string kCode = "FIABC2600001";
// Every byte pair that unsynchronisation changes.
const Bytes kBinary = {0x00, 0xFF, 0x00, 0xFF, 0xE0, 0xFF, 0xFF, 0x12, 0xFF, 0xFB, 0, 0, 0xFF};
const Bytes kLatin = join({{0}, bytesOf(kCode)});  // a TSRC body

ID3v2::Tag parsed(const Bytes& bytes) {
    auto t = ID3v2::parse(bytes);
    if (!t) throw std::runtime_error("no tag");
    return *t;
}

Bytes extendedHeader(std::uint8_t v) {
    return v == 3 ? id3::extendedHeaderV3() : id3::extendedHeaderV4();
}

std::vector<std::string> ids(const ID3v2::Tag& t) {
    std::vector<std::string> out;
    for (const auto& f : t.frames) out.push_back(f.id);
    return out;
}

}  // namespace

TEST(ID3v2, HeaderSizeAndUnsynchronisation) {
    auto h = [](std::uint8_t v, std::uint8_t rev, std::uint8_t flags, const Bytes& size) {
        return join({bytesOf("ID3"), {v, rev, flags}, size});
    };
    const std::pair<Bytes, std::optional<std::uint64_t>> cases[] = {
        {h(3, 0, 0, {0, 0, 2, 1}), 267},    {h(4, 0, 0x10, {0, 0, 2, 1}), 277},  // v4 footer
        {h(3, 0, 0x10, {0, 0, 2, 1}), 267}, {h(2, 0, 0, {0x7F, 0x7F, 0x7F, 0x7F}), 268435465},
        {h(3, 0, 0, {0, 0, 2}), {}},        {bytesOf("id3\x03\0\0\0\0\x02\x01"s), {}},
        {h(0xFF, 0, 0, {0, 0, 2, 1}), {}},  {h(3, 0xFF, 0, {0, 0, 2, 1}), {}},
        {h(3, 0, 0, {0x80, 0, 2, 1}), {}},  {h(3, 0, 0, {0, 0, 2, 0x81}), {}},
    };
    for (const auto& [header, size] : cases) {
        EXPECT_EQ(ID3v2::totalSize(header), size) << testing::PrintToString(header);
    }
    EXPECT_EQ(ID3v2::removeUnsync({0xFF, 0x00, 0x00, 0x01, 0xFF}), (Bytes{0xFF, 0x00, 0x01, 0xFF}));
    EXPECT_EQ(ID3v2::removeUnsync(id3::unsynchronise(kBinary)), kBinary);
}

TEST(ID3v2, RefusesOtherVersionsAndDamagedHeaders) {
    const Bytes full = id3::tag({.frames = {textFrame("TIT2", "Song")}, .padding = 20});
    const std::pair<Bytes, std::string> cases[] = {
        {id3::tag({.version = 2}),
         unsupported("This file has an ID3v2.2 tag. PELORIX supports ID3v2.3 and ID3v2.4 only.")},
        {id3::tag({.version = 5}), unsupported(msg::id3Version(5))},
        {Bytes(full.begin(), full.end() - 1), malformed(msg::id3Truncated)},
        {id3::tag({.declaredSize = 0x0FFFFFFF}), malformed(msg::id3Truncated)},
        {id3::tag({.extendedFlag = true, .trailing = {1, 2, 3}}), malformed(msg::id3Damaged)},
        {id3::tag({.version = 4, .extendedFlag = true}), malformed(msg::id3Damaged)},
    };
    for (const auto& [tag, error] : cases) EXPECT_EQ(errorOf([&] { ID3v2::parse(tag); }), error);
    EXPECT_FALSE(ID3v2::parse(bytesOf("RIFF0000WAVEfmt ")));
}

TEST(ID3v2, FrameWalkStopsQuietlyAndSkipsExtendedHeaders) {
    const auto tit2 = textFrame("TIT2", "Title");
    const auto talb = textFrame("TALB", "Album");
    // 200 bytes: 00 00 00 C8 in v3, 00 00 01 48 synchsafe in v4; by the other rule, 328 bytes.
    const FrameSpec comm{.id = "COMM", .body = Bytes(200, 'a')};
    const Bytes v3crc = {0, 0, 0, 10, 0x80, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
    const Bytes v4long = {0, 0, 0, 12, 1, 0x20, 'A', 'B', 'C', 'D', 0x11, 0x22};
    using Ids = std::vector<std::string>;
    const Ids title = {"TIT2"};
    const std::pair<id3::TagSpec, Ids> cases[] = {
        {{.frames = {tit2, talb}, .padding = 1 << 22}, {"TIT2", "TALB"}},
        {{.frames = {tit2, textFrame("TaLB", "x"), talb}}, title},
        {{.frames = {tit2, {.id = "TALB", .body = {0, 'A'}, .declaredSize = 100}}}, title},
        {{.frames = {tit2, {.id = "TALB", .body = {0}, .declaredSize = 0xFFFFFFFF}}}, title},
        {{.frames = {tit2}, .trailing = {'T', 'A', 'L', 'B', 0}}, title},
        {{.frames = {{.id = "TXXX"}, {.id = "PRIV"}, tit2}}, {"TXXX", "PRIV", "TIT2"}},
        {{.version = 4, .frames = {{.id = "XYZ9", .body = {1}}, tit2}}, {"XYZ9", "TIT2"}},
        {{.version = 3, .frames = {comm, tit2}, .padding = 400}, {"COMM", "TIT2"}},
        {{.version = 4, .frames = {comm, tit2}, .padding = 400}, {"COMM", "TIT2"}},
        {{.frames = {tit2}, .extendedHeader = id3::extendedHeaderV3()}, title},
        {{.frames = {tit2}, .extendedHeader = v3crc}, title},
        {{.version = 4, .frames = {tit2}, .extendedHeader = id3::extendedHeaderV4()}, title},
        {{.version = 4, .frames = {tit2}, .extendedHeader = v4long}, title},
        // The extended-header flag without an extended header: the frames are not lost.
        {{.frames = {tit2}, .extendedFlag = true}, title},
        {{.version = 4, .frames = {tit2}, .extendedFlag = true}, title},
        {{.extendedHeader = {0, 0, 0, 99, 0, 0}, .padding = 10}, {}},
        {{.version = 4, .extendedHeader = {0, 0, 0x7F, 0x7F, 0, 0}, .padding = 10}, {}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(ids(parsed(id3::tag(cases[i].first))), cases[i].second) << "case " << i;
    }
}

TEST(ID3v2, UnsynchronisationIsUndoneOverTheBodyInV3AndPerFrameInV4) {
    const auto tit2 = textFrame("TIT2", "Title");
    const auto tsrc = textFrame("TSRC", kCode);
    const FrameSpec apic{.id = "APIC", .body = kBinary}, priv{.id = "PRIV", .body = {0xFF, 0}};
    const FrameSpec apicU{.id = "APIC", .body = kBinary, .unsync = true};
    const FrameSpec apicUL{.id = "APIC", .body = kBinary, .format = 0x01, .unsync = true};
    const FrameSpec privU{.id = "PRIV", .body = {0xFF, 0}, .unsync = true};
    const id3::TagSpec cases[] = {
        {.version = 3, .frames = {apic, priv, tsrc}, .unsync = true, .padding = 8},
        {.version = 4, .frames = {apicU, tit2, tsrc}, .padding = 30},
        {.version = 4, .frames = {apic, tit2, tsrc}, .unsync = true, .padding = 30},
        {.version = 4, .frames = {apicUL, privU, tit2, tsrc}, .unsync = true},
    };
    for (const auto& layout : cases) {
        // Every frame's content as written, its unsynchronisation bit cleared.
        std::vector<ID3v2::Frame> want;
        for (const auto& f : layout.frames) want.push_back({f.id, {f.status, f.format}, f.body});
        const auto t = parsed(id3::tag(layout));
        EXPECT_EQ(t.frames, want) << &layout - cases;
        const Bytes rebuilt = *ID3v2::settingISRC(t, kCode);
        EXPECT_EQ(rebuilt[5], 0);  // stored plainly
        EXPECT_EQ(parsed(rebuilt), t);
    }
}

TEST(ID3v2, CodeIsTheFirstTSRCDecodedSplitAndTrimmed) {
    Bytes le, be;
    for (std::uint8_t c : kCode) le.insert(le.end(), {c, 0}), be.insert(be.end(), {0, c});
    const std::optional<std::string> no;
    const struct {
        std::uint8_t version, format;
        Bytes body;
        std::optional<std::string> want;
    } cases[] = {
        {3, 0, {0, 0xC9, 'A', 0xFF}, "\u00C9A\u00FF"},
        {3, 0, join({{2}, be}), kCode},
        {3, 0, join({{1, 0xFF, 0xFE}, le}), kCode},
        {3, 0, join({{1, 0xFE, 0xFF}, be}), kCode},
        {3, 0, join({{1}, le}), kCode},  // UTF-16 without a BOM is little-endian
        {3, 0, join({{1, 0xFF, 0xFE}, le, {'x'}}), no},
        {3, 0, {1, 0xFF, 0xFE, 0, 0xD8, 0, 0}, no},
        {3, 0, join({{3}, bytesOf("FI\u00C9")}), "FI\u00C9"},
        {3, 0, {3, 'F', 0xC3, 0x28}, no},
        {3, 0, join({{4}, bytesOf(kCode)}), no},
        {4, 0, {0, 0, 0, 'A', 'B', 0, 'C'}, "AB"},
        {4, 0, join({{3}, bytesOf(" \tAB\n\r\u3000")}), "AB"},
        {4, 0, {1, 0xFF, 0xFE, 'A', 0, 0, 0}, "A"},
        {4, 0, {0, ' ', 0, 'A'}, ""},  // the first non-empty piece, then trimmed
        {4, 0, {0, 0, 0}, no},
        {4, 0, {}, no},
        // Unsynchronised (already undone) and grouped frames are read, compressed and encrypted
        // ones are not; v4 skips a data length indicator.
        {4, 0x02, kLatin, kCode},
        {4, 0x40, kLatin, kCode},
        {4, 0x04, kLatin, no},
        {4, 0x08, kLatin, no},
        {3, 0x20, kLatin, kCode},
        {3, 0x01, kLatin, kCode},
        {3, 0x40, kLatin, no},
        {3, 0x80, kLatin, no},
        {4, 0x01, {0, 0, 0, 1}, no},
        {4, 0x01, join({{0, 0, 0, 13}, kLatin}), kCode},
    };
    for (const auto& c : cases) {
        const ID3v2::Tag t{c.version, {{"TIT2", {0, 0}, {0}}, {"TSRC", {0, c.format}, c.body}}};
        EXPECT_EQ(ID3v2::isrc(t), c.want) << "case " << &c - cases;
    }
    // Only the first TSRC counts, even when it cannot be read.
    EXPECT_EQ(ID3v2::isrc({3, {{"TSRC", {0, 0x80}, kLatin}, {"TSRC", {0, 0}, kLatin}}}), no);
    EXPECT_EQ(ID3v2::isrc({3, {{"TIT2", {0, 0}, kLatin}}}), no);
}

TEST(ID3v2, RebuildKeepsTheVersionAndEveryOtherFrameByteForByte) {
    const Bytes fresh = {'I', 'D', '3', 3,   0, 0, 0, 0,  0x08, 0x17,  // 1047, synchsafe
                         'T', 'S', 'R', 'C', 0, 0, 0, 13, 0,    0};
    EXPECT_EQ(*ID3v2::settingISRC(std::nullopt, kCode), join({fresh, kLatin, Bytes(1024, 0)}));
    for (std::uint8_t v : {3, 4}) {
        // Compressed, encrypted and grouped frames are opaque and kept as they are.
        const auto flag = [v](std::uint8_t v3, std::uint8_t v4) { return v == 3 ? v3 : v4; };
        const std::vector<FrameSpec> frames = {
            textFrame("TIT2", "Title", 1),
            {.id = "APIC", .body = Bytes(300, 0xAB), .status = 0x40},
            {.id = "COMM", .body = kBinary, .format = flag(0x80, 0x09)},
            {.id = "PRIV", .body = {1, 2, 3}, .format = flag(0x40, 0x04)},
            {.id = "TXXX", .body = {9, 9}, .status = 0x20, .format = flag(0x20, 0x40)},
            textFrame("TSRC", "GBAAA2600001"),
        };
        // Extended header and footer are dropped; the new TSRC goes last.
        const Bytes rebuilt =
            *ID3v2::settingISRC(parsed(id3::tag({.version = v,
                                                 .frames = frames,
                                                 .extendedHeader = extendedHeader(v),
                                                 .footer = v == 4,
                                                 .padding = 50})),
                                kCode);
        Bytes want = {'I', 'D', '3', v, 0, 0};  // and the size, checked below
        for (const auto& f : frames) {
            if (f.id != "TSRC") want = join({want, id3::frameBytes(f, v)});
        }
        want = join({want, id3::frameBytes(textFrame("TSRC", kCode), v), Bytes(1024, 0)});
        const auto at = rebuilt.begin();
        EXPECT_EQ(join({{at, at + 6}, {at + 10, rebuilt.end()}}), want);
        EXPECT_EQ(ID3v2::totalSize(rebuilt), rebuilt.size());
    }
}

TEST(ID3v2, EveryTSRCMakesWayForOneLastFrameAndNoFrameLeftMeansNoTag) {
    auto frame = [](const char* id, Bytes flags = {0, 0}) { return ID3v2::Frame{id, flags, {0}}; };
    const ID3v2::Tag t{4, {frame("TSRC"), frame("TIT2"), frame("TSRC", {0x40, 4}), frame("TALB")}};
    const auto out = parsed(*ID3v2::settingISRC(t, kCode));
    EXPECT_EQ(out.version, 4);
    EXPECT_EQ(ids(out), (std::vector<std::string>{"TIT2", "TALB", "TSRC"}));
    EXPECT_EQ(out.frames.back(), (ID3v2::Frame{"TSRC", {0, 0}, kLatin}));

    EXPECT_FALSE(ID3v2::settingISRC(std::nullopt, std::nullopt));
    EXPECT_FALSE(ID3v2::settingISRC(ID3v2::Tag{3, {frame("TSRC"), frame("TSRC")}}, std::nullopt));
    // A frame spelt otherwise is someone else's.
    const Bytes kept = *ID3v2::settingISRC(ID3v2::Tag{3, {frame("TSRC"), frame("Tsrc")}}, {});
    EXPECT_EQ(kept.size(), 10u + 10 + 1 + 1024);
    EXPECT_EQ(countOf(kept, "Tsrc"), 1u);

    // Frames and padding of exactly 2^28 bytes are one more than the size field holds.
    std::optional<ID3v2::Tag> big{ID3v2::Tag{4, {{"APIC", {0, 0}, {}}}}};
    big->frames[0].body.resize((std::size_t(1) << 28) - 1024 - 10 - 10 - 13);
    EXPECT_EQ(errorOf([&] { ID3v2::settingISRC(big, kCode); }), unsupported(msg::id3TooLarge));
}

TEST(ID3v2, DamagedTagsGiveAMessageOrATagThatRebuildsWhole) {
    // Every truncation and many single-byte corruptions of a rich tag of each version.
    for (std::uint8_t v : {3, 4}) {
        const Bytes good = id3::tag({.version = v,
                                     .frames = {textFrame("TIT2", "Title", 1),
                                                {.id = "APIC", .body = kBinary, .unsync = true},
                                                textFrame("TSRC", kCode)},
                                     .unsync = v == 3,
                                     .extendedHeader = extendedHeader(v),
                                     .footer = v == 4,
                                     .padding = 16});
        auto exercise = [](const Bytes& b) {
            try {
                if (auto t = ID3v2::parse(b)) {
                    (void)ID3v2::isrc(*t);
                    std::erase_if(t->frames, [](const ID3v2::Frame& f) { return f.id == "TSRC"; });
                    const auto again = parsed(*ID3v2::settingISRC(*t, kCode));
                    t->frames.push_back({"TSRC", {0, 0}, kLatin});
                    EXPECT_EQ(again, *t);
                }
            } catch (const TagError&) {
            }
        };
        for (std::size_t i = 0; i < good.size(); ++i) {
            exercise(Bytes(good.begin(), good.begin() + std::ptrdiff_t(i)));
            for (std::uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
                Bytes b = good;
                b[i] = value;
                exercise(b);
            }
        }
    }
}

// ---- MP3 files -------------------------------------------------------------------------------

class MP3 : public ::testing::Test {
  protected:
    std::optional<std::string> read(const Bytes& b) { return files.read(b, MP3Tagger::readISRC); }
    Bytes write(const Bytes& b, const std::optional<std::string>& code) {
        return files.written(b, [&](auto& in, auto& out) { MP3Tagger::write(in, out, code); });
    }
    Scratch files;
};

TEST_F(MP3, OnlyTheLeadingTagChangesAndEverythingAfterItIsCopied) {
    const Bytes audio = id3::fakeAudio(3000), v1 = join({bytesOf("TAG"), Bytes(125, 'x')});
    const auto old = textFrame("TSRC", "GBAAA2600001");
    const Bytes v3 = id3::tag({.frames = {textFrame("TIT2", "Song"), old}, .padding = 100});
    const Bytes v4 = id3::tag({.version = 4, .frames = {old}, .footer = true});
    const Bytes codes = id3::tag({.version = 4, .frames = {old, old}});
    const Bytes second = id3::tag({.frames = {textFrame("TSRC", "USXXX2600009")}});
    const std::optional<std::string> code = kCode, none;
    const struct {
        Bytes leading;  // the tag that is replaced
        Bytes rest;     // what must follow the new tag, unchanged
        std::optional<std::string> code;
    } cases[] = {
        {v3, join({audio, v1}), code},
        {v4, audio, code},  // the footer goes with its tag
        {v3, join({second, audio}), code},
        {v3, {}, code},
        {{}, audio, code},
        {{}, audio, none},
        {codes, audio, none},
        {v3, audio, none},
        // Shorter than a tag header: no tag.
        {{}, {}, code},
        {{}, {0xFF, 0xFB}, code},
        {{}, {'I', 'D', '3', 3, 0, 0, 0, 0, 0}, code},
    };
    for (const auto& c : cases) {
        const Bytes out = write(join({c.leading, c.rest}), c.code);
        const auto tag = ID3v2::settingISRC(ID3v2::parse(c.leading), c.code);
        EXPECT_EQ(out, join({tag.value_or(Bytes{}), c.rest})) << "case " << &c - cases;
        EXPECT_EQ(read(out), c.code) << "case " << &c - cases;
    }
    // A tag the file cannot hold, footer included, and an unsupported version.
    const Bytes full = id3::tag({.frames = {old}}), foot = id3::tag({.version = 4, .footer = true});
    const std::pair<Bytes, std::string> refused[] = {
        {join({id3::tag({.version = 2, .padding = 20}), audio}), unsupported(msg::id3Version(2))},
        {Bytes(full.begin(), full.end() - 1), malformed(msg::id3Truncated)},
        {Bytes(foot.begin(), foot.end() - 4), malformed(msg::id3Truncated)},
    };
    for (const auto& [input, error] : refused) {
        EXPECT_EQ(errorOf([&] { read(input); }), error);
        EXPECT_EQ(errorOf([&] { write(input, kCode); }), error);
    }
}

TEST_F(MP3, MemoryStaysBoundedWhateverTheFileSize) {
    // 40 MiB behind a tag, sparse so that it costs no disk: the rewrite may hold the tag and one
    // piece, not the file.
    const Bytes tag = id3::tag({.frames = {textFrame("TSRC", "GBAAA2600001")}, .padding = 4000});
    const auto input = files.put(join({tag, id3::fakeAudio(kPieceSize)}));
    ASSERT_EQ(::truncate(input.c_str(), off_t(40) << 20), 0);
    const auto output = files.dir / "out.mp3";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A fresh process, so its high-water mark starts from what it holds now.
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        int status = 2;
        try {
            const FileIn in(input);
            FileOut out(output);
            MP3Tagger::write(in, out, kCode);
            out.flushBuffer();
            getrusage(RUSAGE_SELF, &after);
            status = after.ru_maxrss - before.ru_maxrss < 12 * 1024 ? 0 : 1;  // KiB
        } catch (...) {
        }
        _exit(status);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: memory grew with the file, 2: the write failed";

    const FileIn in(input), out(output);
    const std::uint64_t newTag = *ID3v2::totalSize(out.read(0, 10));
    ASSERT_EQ(out.size() - newTag, in.size() - tag.size());
    EXPECT_EQ(MP3Tagger::readISRC(out), kCode);
    for (std::uint64_t at = 0; at < in.size() - tag.size(); at += kPieceSize) {
        ASSERT_EQ(in.read(tag.size() + at, kPieceSize), out.read(newTag + at, kPieceSize)) << at;
    }
}

TEST(AudioFormat, DetectionFollowsTheRulesInOrder) {
    auto head = [](const std::string& s, std::size_t padTo = 16) {
        Bytes b = bytesOf(s);
        b.resize(std::max(padTo, b.size()), 0x11);
        return b;
    };
    const Bytes tag = id3::tag({.frames = {textFrame("TIT2", "x")}, .padding = 10});
    const Bytes footed = id3::tag({.version = 4, .footer = true});
    const std::string other = unsupported(msg::unsupportedType), rf64 = unsupported(msg::rf64);
    const Bytes noSync = {0xFF, 0xD0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, text = head("some text");
    const Bytes avi = head("RIFF\x24\0\0\0AVI LIST"s);
    const struct {
        const char* name;
        Bytes content;
        std::string want;
    } cases[] = {
        {"a.flac", head("fLaC", 11), malformed(msg::tooShortForAudio)},
        {"a.flac", head("fLaC", 12), "FLAC"},
        // A leading ID3v2 tag decides alone: FLAC when "fLaC" follows it, MP3 otherwise.
        {"a.mp3", join({tag, head("fLaC\0\0\0\x22"s, 8)}), "FLAC"},
        {"a.wav", join({tag, head("RIFF\0\0\0\0WAVE"s, 12)}), "MP3"},
        {"a.bin", join({tag, head("fLa", 3)}), "MP3"},
        {"a.bin", join({footed, head("fLaC", 4)}), "FLAC"},
        {"a.wav", join({id3::tag({.version = 2, .padding = 3}), head("", 20)}), "MP3"},
        {"a.bin", head("ID3\x03\0\0\0\0\0\x80"s), other},  // not a usable tag header
        {"a.bin", head("RIFF\x24\0\0\0WAVEfmt "s), "WAV"},
        {"a.bin", avi, other},
        {"a.MP3", avi, "MP3"},
        {"a.bin", head("riff\x24\0\0\0WAVEfmt "s), other},
        {"a.wav", head("RF64\xFF\xFF\xFF\xFFWAVEds64"s), rf64},
        {"a.mp3", head("BW64\xFF\xFF\xFF\xFFWAVEds64"s), rf64},
        {"a.bin",
         head("FORM\0\0\0\x40"
              "AIFFCOMM"s),
         "AIFF"},
        {"a.bin",
         head("FORM\0\0\0\x40"
              "AIFCFVER"s),
         "AIFF"},
        {"a.bin",
         head("FORM\0\0\0\x40"
              "8SVXVHDR"s),
         other},
        {"a.bin", head("FORMftypM4A "s), "M4A"},
        {"a.bin", head("fLaC\0\0\0\x22"s), "FLAC"},
        {"a.bin", head("flac\0\0\0\x22"s), other},
        {"a.bin",
         head("\0\0\0\x1C"
              "ftypisom"s),
         "M4A"},
        {"a.bin", {0xFF, 0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "MP3"},
        {"a.bin", noSync, other},
        {"a.Mp3", noSync, "MP3"},
        {"mp3", text, other},
        {"a.mp33", text, other},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const auto folder = dir / std::to_string(&c - cases);  // names repeat
        std::filesystem::create_directory(folder);
        writeFile(folder / c.name, c.content);
        std::string label;
        const auto error = errorOf([&] { label = AudioFormat::detect(folder / c.name).label(); });
        EXPECT_EQ(error.empty() ? label : error, c.want) << "case " << &c - cases;
    }
}
