// Writes the seed corpus of every fuzz target, built with the tests' byte builders: small files
// of every layout the codecs know, well-formed and damaged. Run it with the corpus folder
// (fuzz/corpus) as its argument after changing a builder or adding a layout.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/flac_builder.h"
#include "support/id3_builder.h"
#include "support/mp4_builder.h"

using namespace pelorix::test;
namespace fs = std::filesystem;

namespace {

using Seeds = std::map<std::string, Bytes>;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes id3v1() {
    Bytes t = bytesOf("TAG");
    t.resize(128, 0);
    return t;
}

Bytes utf16le(const std::string& ascii, bool bom) {
    Bytes out;
    if (bom) out = {0xFF, 0xFE};
    for (char c : ascii) out.insert(out.end(), {std::uint8_t(c), 0});
    return out;
}

Bytes binaryBody(std::size_t n) {
    Bytes b = bytesOf(std::string("\0image/png\0\x03\0", 14));
    const Bytes img = chunks::audio(n, 11);
    b.insert(b.end(), img.begin(), img.end());
    return b;
}

Seeds id3Seeds() {
    using namespace id3;
    Seeds s;
    const Bytes audio = fakeAudio(700);
    const auto code = [](std::uint8_t enc = 0) { return textFrame("TSRC", "FIABC2600001", enc); };
    s["v3-title-code.mp3"] =
        join({tag({3, 0, {textFrame("TIT2", "Song"), code()}, false, {}, false, false, 64}), audio,
              id3v1()});
    s["v4-artist-code.mp3"] = join(
        {tag({4, 0, {textFrame("TPE1", "Band", 3), code(3)}, false, {}, false, false, 32}), audio});
    s["v3-unsync-extended.mp3"] =
        join({tag({3, 0, {code(), {"APIC", binaryBody(200)}}, true, extendedHeaderV3()}), audio});
    FrameSpec unsyncCode = code();
    unsyncCode.unsync = true;
    FrameSpec lengthCode{
        "TSRC", join({Bytes{0, 0, 0, 13}, textBody(0, std::string("GBXYZ9900001"))}), 0, 0x01};
    s["v4-frame-unsync-footer.mp3"] =
        join({tag({4, 0, {unsyncCode, {"APIC", binaryBody(150)}}, false, {}, false, true}), audio});
    s["v4-data-length-extended.mp3"] =
        join({tag({4, 0, {lengthCode}, false, extendedHeaderV4()}), audio});
    s["v4-tag-unsync.mp3"] =
        join({tag({4, 0, {textFrame("TIT2", "\xFF\xFE"), code()}, true}), audio});
    s["utf16-bom.mp3"] =
        join({tag({3, 0, {{"TSRC", textBody(1, utf16le("FIABC2600001", true))}}}), audio});
    s["utf16be.mp3"] =
        join({tag({4, 0, {{"TSRC", textBody(2, Bytes{0, 'F', 0, 'I', 0, 'X'})}}}), audio});
    s["compressed-code.mp3"] =
        join({tag({4, 0, {{"TSRC", textBody(0, std::string("x")), 0, 0x08}}}), audio});
    s["two-codes-nul-list.mp3"] =
        join({tag({4, 0, {{"TSRC", textBody(3, std::string("\0FIABC2600001\0GB", 16))}, code()}}),
              audio});
    s["v2-tag.mp3"] = join({tag({2, 0, {code()}}), audio});
    s["truncated-tag.mp3"] =
        join({tag({3, 0, {code()}, false, {}, false, false, 0, {}, 5000}), fakeAudio(40)});
    FrameSpec overlong = code();
    overlong.declaredSize = 900;
    s["frame-overlong.mp3"] =
        join({tag({3, 0, {textFrame("TIT2", "A"), overlong}, false, {}, false, false, 16}), audio});
    s["extended-flag-only.mp3"] = join({tag({3, 0, {code()}, false, {}, true}), audio});
    s["garbage-after-frames.mp3"] =
        join({tag({3, 0, {code()}, false, {}, false, false, 8, bytesOf("zz\x01")}), audio});
    s["no-tag.mp3"] = join({audio, id3v1()});
    // Removing the code strips the first tag and leaves the second one leading the file.
    s["two-leading-tags.mp3"] =
        join({tag({3, 0, {code()}}),
              tag({4, 0, {textFrame("TSRC", "GBXYZ9900001")}, false, {}, false, true}), audio});
    return s;
}

Seeds chunkSeeds() {
    using namespace chunks;
    using id3::tag;
    using id3::textFrame;
    Seeds s;
    const Bytes codeTag = tag({3,
                               0,
                               {textFrame("TIT2", "Song"), textFrame("TSRC", "FIABC2600001")},
                               false,
                               {},
                               false,
                               false,
                               20});
    const Bytes v4Tag = tag({4, 0, {textFrame("TSRC", "GBXYZ9900001", 3)}});
    const ChunkSpec list{"LIST", join({bytesOf("INFO"), bytesOf("INAM"), Bytes{5, 0, 0, 0},
                                       bytesOf("Song"), Bytes{0, 0}})};
    s["plain.wav"] = wav(200);
    s["code-last.wav"] = wav(200, {{"id3 ", codeTag}});
    s["code-first-and-list.wav"] =
        file({true, "", {wavFormat(), {"id3 ", v4Tag}, list, {"data", audio(600)}}, std::nullopt});
    s["two-tags-upper-case.wav"] = wav(100, {{"ID3 ", codeTag}, {"id3 ", v4Tag}});
    s["odd-chunk-no-pad.wav"] =
        file({true,
              "",
              {wavFormat(), {"junk", Bytes(7, 1), std::nullopt, false}, {"data", audio(400)}},
              std::nullopt});
    s["odd-chunk-padded.wav"] = wav(100, {{"note", bytesOf("odd"), std::nullopt, true, 0x55}});
    s["overlong-data.wav"] =
        file({true, "", {wavFormat(), {"data", audio(300), 100000}}, std::nullopt});
    s["form-size-wrong.wav"] = file({true, "", {wavFormat(), {"data", audio(300)}}, 12});
    s["tiny-tag-chunk.wav"] = wav(50, {{"id3 ", bytesOf("ID3")}});
    s["rf64.wav"] =
        join({bytesOf("RF64"), Bytes{0xFF, 0xFF, 0xFF, 0xFF}, bytesOf("WAVE"), Bytes(40, 0)});
    s["plain.aiff"] = aiff(200);
    s["code.aiff"] = aiff(200, {{"ID3 ", codeTag}});
    s["code.aifc"] = aiff(150, {{"ID3 ", v4Tag}, {"NAME", bytesOf("Song")}}, true);
    s["odd-name-chunk.aiff"] = aiff(100, {{"NAME", bytesOf("Song!")}, {"ID3 ", codeTag}});
    s["cut-short.aiff"] = [] {
        Bytes b = aiff(200, {{"ID3 ", bytesOf("ID3\x03")}});
        b.resize(b.size() - 300);
        return b;
    }();
    return s;
}

Seeds flacSeeds() {
    using namespace flac;
    Seeds s;
    const Bytes audio = chunks::audio(1500, 3);
    const auto c = [](std::vector<std::string> entries) {
        return comments("reference libFLAC 1.4.2", std::move(entries));
    };
    s["comments-code.flac"] =
        file({{}, {streamInfo(), c({"TITLE=Song", "ISRC=FIABC2600001"}), padding(100)}, audio});
    s["no-comments.flac"] = file({{}, {streamInfo(), padding(64)}, audio});
    s["only-streaminfo.flac"] = file({{}, {streamInfo()}, audio});
    s["lower-case-keys.flac"] =
        file({{}, {streamInfo(), c({"isrc=GBXYZ9900001", "Isrc=X", "ARTIST=Band"})}, audio});
    s["two-comment-blocks.flac"] =
        file({{}, {streamInfo(), c({"ISRC=A"}), padding(10), c({"ISRC=B"})}, audio});
    s["leading-id3.flac"] = file({id3::tag({3, 0, {id3::textFrame("TIT2", "x")}}),
                                  {streamInfo(), c({"ISRC=FIABC2600001"})},
                                  audio});
    s["count-overstated.flac"] =
        file({{}, {streamInfo(), {4, commentData("v", {"ISRC=FIABC2600001"}, 40)}}, audio});
    s["vendor-overlong.flac"] =
        file({{}, {streamInfo(), {4, join({Bytes{0xFF, 0, 0, 0}, bytesOf("vendor")})}}, audio});
    s["picture-block.flac"] =
        file({{}, {streamInfo(), {6, binaryBody(300)}, c({"ISRC=FIABC2600001"})}, audio});
    s["no-last-flag.flac"] =
        file({{}, {{0, streamInfo().data, false}, {4, commentData("v", {}), false}}, {}});
    s["block-overlong.flac"] =
        file({{}, {streamInfo(), {1, Bytes(20, 0), std::nullopt, 5000}}, {}});
    s["not-flac.flac"] = bytesOf("fLaX and some more bytes");
    return s;
}

Seeds mp4Seeds() {
    using namespace mp4;
    Seeds s;
    const Bytes items =
        cat({textItem("\xA9nam", "Song"), freeform("com.apple.iTunes", "ISRC", "FIABC2600001"),
             freeform("com.apple.iTunes", "MOOD", "calm")});
    const auto m = [](MovieOptions o) { return movie(o).file; };
    s["moov-first.m4a"] = m({});
    s["moov-last.m4a"] = m({false});
    s["moov-first-items.m4a"] = m({true, false, false, false, udtaWithItems(items)});
    s["moov-last-items.m4a"] = m({false, false, false, false, udtaWithItems(items)});
    s["co64.m4a"] = m({true, true, false, false,
                       udtaWithItems(freeform("com.apple.iTunes", "isrc", "GBXYZ9900001"))});
    s["moov-size64.m4a"] = m({true, false, true});
    s["mdat-size0.m4a"] = m({true, false, false, true});
    s["quicktime-meta.m4a"] =
        m({true, false, false, false, box("udta", metaQuickTime(box("ilst", items)))});
    s["item-without-data.m4a"] =
        m({false, false, false, false,
           udtaWithItems(freeform("com.apple.iTunes", "ISRC", std::nullopt))});
    s["meta-without-hdlr.m4a"] =
        m({true, false, false, false, box("udta", box("meta", Bytes(12, 0)))});
    s["udta-empty.m4a"] = m({true, false, false, false, box("udta")});

    // A fragmented file: an empty movie, one fragment with an absolute base offset, an index.
    const Bytes ftyp = box("ftyp", cat({text("iso6"), u32(0), text("iso6mp41")}));
    const Bytes moov = box("moov", cat({fullBox("mvhd", 0, 0, Bytes(96, 0)),
                                        box("mvex", fullBox("trex", 0, 0, Bytes(20, 0)))}));
    const std::uint64_t moofAt = ftyp.size() + moov.size();
    const auto moofFor = [](std::uint64_t base) {
        return box("moof", cat({fullBox("mfhd", 0, 0, u32(1)), box("traf", tfhd(1, base))}));
    };
    const std::uint64_t moofSize = moofFor(0).size();
    const Bytes moof = moofFor(moofAt + moofSize + 8);
    const Bytes mdat = box("mdat", chunks::audio(200, 5));
    const Bytes mfra = box("mfra", tfra(1, {moofAt}));
    s["fragmented.mp4"] = cat({ftyp, moov, moof, mdat, mfra});
    s["fragmented-v0-index.mp4"] = cat({ftyp, moov, moof, mdat, box("mfra", tfra(0, {moofAt}))});
    s["sidx-before-moov.mp4"] = cat({ftyp, box("sidx", Bytes(24, 0)), moov, moof, mdat});
    s["no-moov.m4a"] = cat({ftyp, box("mdat", Bytes(64, 1))});
    return s;
}

Seeds writeSeeds() {
    Seeds s;
    // One of each format, then the damaged ones that reach furthest into the driver.
    for (const auto& [name, bytes] : id3Seeds()) {
        if (name == "v3-title-code.mp3" || name == "no-tag.mp3" ||
            name == "v4-frame-unsync-footer.mp3")
            s[name] = bytes;
    }
    for (const auto& [name, bytes] : chunkSeeds()) {
        if (name == "code-last.wav" || name == "odd-chunk-no-pad.wav" || name == "code.aifc" ||
            name == "plain.aiff")
            s[name] = bytes;
    }
    for (const auto& [name, bytes] : flacSeeds()) {
        if (name == "comments-code.flac" || name == "no-comments.flac" ||
            name == "leading-id3.flac")
            s[name] = bytes;
    }
    for (const auto& [name, bytes] : mp4Seeds()) {
        if (name == "moov-first-items.m4a" || name == "moov-last.m4a" || name == "fragmented.mp4" ||
            name == "co64.m4a")
            s[name] = bytes;
    }
    s["not-audio.txt"] = bytesOf("This is a plain text file, not audio at all.\n");
    // Removing the only frame leaves one byte, which the read-back cannot take for audio.
    s["code-only-then-one-byte.mp3"] =
        join({id3::tag({3, 0, {id3::textFrame("TSRC", "GBXYZ9900001")}}), Bytes{'e'}});
    // A chunk offset past any real file, harmless until the movie changes size: a code of the
    // same length can replace the one there, removing it is refused.
    {
        using namespace mp4;
        Bytes file = movie({true, true, false, false,
                            udtaWithItems(freeform("com.apple.iTunes", "ISRC", "GBXYZ9900001"))})
                         .file;
        const std::size_t table = find(file, "co64");
        for (std::size_t i = 0; i < 8; ++i) file[table + 20 + i] = 0xBB;
        s["bogus-chunk-offset.m4a"] = file;
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    const std::map<std::string, Seeds> targets = {{"id3", id3Seeds()},
                                                  {"chunk", chunkSeeds()},
                                                  {"flac", flacSeeds()},
                                                  {"mp4", mp4Seeds()},
                                                  {"write", writeSeeds()}};
    std::size_t count = 0;
    for (const auto& [target, seeds] : targets) {
        fs::create_directories(root / target);
        for (const auto& [name, bytes] : seeds) {
            writeFile(root / target / ("seed-" + name), bytes);
            ++count;
        }
    }
    std::printf("%zu seeds written under %s\n", count, root.c_str());
    return 0;
}
