// SPDX-License-Identifier: MIT
// Every place a file holds a code: found, judged, kept in step by a write and a removal, checked
// by the verification, audited on the command line, and read back by other tools.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli.h"
#include "core/formats/carriers.h"
#include "core/formats/flac.h"
#include "core/formats/id3v2.h"
#include "core/formats/mp3.h"
#include "core/read/read.h"
#include "core/tag_error.h"
#include "core/write/verify.h"
#include "core/write/write.h"
#include "support/chunk_builder.h"
#include "support/codec_harness.h"
#include "support/flac_builder.h"
#include "support/id3_builder.h"
#include "support/mp4_builder.h"

namespace pelorix {
namespace {

using namespace test;
namespace fs = std::filesystem;

const std::string A = "GBAYE2600077", B = "FIABC2600001", C = "DEXYZ2600002", D = "USRC12600123";

id3::FrameLayout tsrc(const std::string& text) {
    return id3::textFrame("TSRC", text);
}
id3::FrameLayout txxx(const std::string& description, const std::string& value) {
    return id3::textFrame("TXXX", description + '\0' + value);
}
Bytes tag(std::vector<id3::FrameLayout> frames, std::uint8_t version = 3) {
    return id3::tag({.version = version, .frames = std::move(frames), .padding = 16});
}
Bytes axmlWith(const std::string& code) {
    return bytesOf(
        "<?xml version=\"1.0\"?><ebucore:ebuCoreMain xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmlns:ebucore=\"urn:ebu:metadata-schema:ebucore\"><ebucore:coreMetadata>"
        "<ebucore:title><dc:title>Take 5</dc:title></ebucore:title><ebucore:identifier "
        "typeLabel=\"GUID\" formatLabel=\"ISRC\"><dc:identifier>ISRC:" +
        code +
        "</dc:identifier></ebucore:identifier></ebucore:coreMetadata></ebucore:ebuCoreMain>");
}
chunks::ChunkLayout infoSource(const std::string& code) {
    const Bytes list = chunks::file({.chunks = {{"ISRC", bytesOf(code)}}});
    return {"LIST", join({bytesOf("INFO"), slice(list, 12, list.size())})};
}
Bytes movieWith(const Bytes& items, const Bytes& more = {}) {
    return mp4::movie({.moovTail = mp4::box("udta", join({mp4::meta(items), more}))}).file;
}
// A QuickTime text atom (exiftool's `\xA9isr`, "ISRCCode"): length, language, text.
Bytes quickTimeText(const std::string& type, const std::string& text) {
    return mp4::box(type, join({{0, std::uint8_t(text.size()), 0, 0}, bytesOf(text)}));
}
// A `meta` of `mdta` keys as ffmpeg's use_metadata_tags writes it: the keys by name, then an
// item per key, named by its number.
Bytes mdtaMeta(const std::vector<std::pair<std::string, std::string>>& pairs) {
    Bytes keys = mp4::u32(std::uint32_t(pairs.size())), items;
    for (std::uint32_t i = 0; i < pairs.size(); ++i) {
        keys = join({keys, mp4::u32(std::uint32_t(8 + pairs[i].first.size())),
                     mp4::text("mdta" + pairs[i].first)});
        const Bytes number = mp4::u32(i + 1);
        items = join({items, mp4::box(std::string(number.begin(), number.end()),
                                      mp4::box("data", join({mp4::u32(1), mp4::u32(0),
                                                             mp4::text(pairs[i].second)})))});
    }
    const Bytes handler =
        mp4::fullBox("hdlr", 0, 0, join({mp4::u32(0), mp4::text("mdta"), Bytes(13, 0)}));
    return mp4::fullBox("meta", 0, 0,
                        join({handler, mp4::fullBox("keys", 0, 0, keys), mp4::box("ilst", items)}));
}
// A CUESHEET block of a CD rip: a track per code, then the lead-out.
flac::BlockLayout cueSheet(const std::vector<std::string>& codes) {
    const auto track = [](std::uint8_t number, const std::string& code, std::uint8_t indices) {
        return join({Bytes(8, 0), Bytes(1, number), bytesOf(code), Bytes(12 - code.size() + 14, 0),
                     Bytes(1, indices), Bytes(12 * indices, 0)});
    };
    Bytes tracks;
    for (std::size_t i = 0; i < codes.size(); ++i)
        tracks = join({tracks, track(std::uint8_t(i + 1), codes[i], 1)});
    return {5, join({Bytes(128, 0), Bytes{0, 0, 0, 0, 0, 1, 0x58, 0x88, 0x80}, Bytes(258, 0),
                     Bytes(1, std::uint8_t(codes.size() + 1)), tracks, track(170, "", 0)})};
}
// An APEv2 tag (header, items, footer) with one item.
Bytes apeTag(const std::string& key, const std::string& value) {
    const auto le = [](std::uint32_t v) {
        return Bytes{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                     std::uint8_t(v >> 24)};
    };
    const Bytes item =
        join({le(std::uint32_t(value.size())), le(0), bytesOf(key), {0}, bytesOf(value)});
    const auto edge = [&](std::uint32_t flags) {
        return join({bytesOf("APETAGEX"), le(2000), le(std::uint32_t(item.size() + 32)), le(1),
                     le(flags), Bytes(8, 0)});
    };
    return join({edge(0xA0000000u), item, edge(0x80000000u)});
}
// A version 4 frame stored compressed, with its data length: the text "\0" + A deflated.
id3::FrameLayout compressedTsrc() {
    return {.id = "TSRC",
            .body = {0,    0,    0,    13,   0x78, 0x9C, 0x63, 0x70, 0x77, 0x72, 0x8C, 0x74, 0x35,
                     0x32, 0x33, 0x30, 0x30, 0x30, 0x37, 0x07, 0x00, 0x13, 0x91, 0x02, 0xCF},
            .format = 0x09};
}

Bytes flacWith(std::vector<flac::BlockLayout> blocks) {
    return flac::file({.leading = {}, .blocks = std::move(blocks), .audio = chunks::audio(300)});
}
Bytes mp3With(const Bytes& tags, const Bytes& after = {}) {
    return join({tags, id3::fakeAudio(2000), after});
}

// A WAV past 4 GiB in form, not in size: `ds64` holds the form's and the audio's sizes.
Bytes wav64(const char* id, const std::vector<chunks::ChunkLayout>& extra) {
    const Bytes audio = chunks::audio(256);
    std::vector<chunks::ChunkLayout> list{
        {"ds64", Bytes(28)}, chunks::wavFormat(), {"data", audio, 0xFFFFFFFFu}};
    list.insert(list.end(), extra.begin(), extra.end());
    Bytes f = chunks::file({.chunks = list, .formSize = 0xFFFFFFFFu});
    std::copy_n(id, 4, f.begin());
    for (int i = 0; i < 8; ++i) {
        f[20 + i] = std::uint8_t((f.size() - 8) >> (8 * i));
        f[28 + i] = std::uint8_t(audio.size() >> (8 * i));
    }
    return f;
}

// "place=text" per carrier, joined with "|"; report-only ones marked "~".
std::string listed(const formats::Carriers& carriers) {
    std::string out;
    for (const formats::Carrier& c : carriers)
        out += (out.empty() ? "" : "|") + std::string(c.reportOnly ? "~" : "") + c.place + "=" +
               c.text;
    return out;
}

struct Case {
    const char* name;
    Bytes file;
    std::string carriers;  // as listed() gives them
    formats::Verdict verdict;
    std::optional<std::string> read;  // what --read prints
};

std::vector<Case> cases() {
    const Bytes mp3 =
        mp3With(join({tag({tsrc(A + '\0' + B), txxx("isrc", A)}, 4), tag({tsrc(C)})}));
    return {
        {"a.mp3", mp3,
         "ID3 TSRC=" + A + "|ID3 TSRC (second value)=" + B + "|ID3 TXXX:ISRC=" + A +
             "|second ID3 tag TSRC=" + C,
         formats::Verdict::conflict, A},
        {"b.wav",
         chunks::wav(64, {{"axml", axmlWith(A)},
                          infoSource("LP 1972"),
                          {"id3 ", tag({tsrc("GB-AYE-26-00077")})}}),
         "axml=" + A + "|~INFO ISRC (source)=LP 1972|ID3 TSRC=GB-AYE-26-00077",
         formats::Verdict::same, "GB-AYE-26-00077"},
        // Where other tools put a code: ffmpeg's TXXX:ISRC and INFO ISRC, a compressed frame,
        // exiftool's QuickTime atom, ffmpeg's `mdta` key, a CD rip's cue sheet.
        {"txxx.mp3", mp3With(tag({txxx("ISRC", A)}, 4)), "ID3 TXXX:ISRC=" + A,
         formats::Verdict::one, A},
        {"txxx.aiff", chunks::aiff(64, {{"ID3 ", tag({txxx("ISRC", A)})}}), "ID3 TXXX:ISRC=" + A,
         formats::Verdict::one, A},
        {"info.wav", chunks::wav(64, {infoSource(A)}), "INFO ISRC=" + A, formats::Verdict::one, A},
        {"compressed.mp3", mp3With(tag({compressedTsrc()}, 4)), "ID3 TSRC=" + A,
         formats::Verdict::one, A},
        {"isr.m4a", movieWith(mp4::item("", "\xA9nam", "Song"), quickTimeText("\xA9isr", A)),
         "MP4 \xC2\xA9isr=" + A, formats::Verdict::one, A},
        {"mdta.m4a",
         mp4::movie({.moovTail = mp4::box("udta", mdtaMeta({{"title", "Song"}, {"ISRC", A}}))})
             .file,
         "MP4 mdta ISRC=" + A, formats::Verdict::one, A},
        {"two_values.m4a",
         movieWith(mp4::item("com.apple.iTunes", "ISRC", A,
                             mp4::box("data", join({mp4::u32(1), mp4::u32(0), mp4::text(B)})))),
         "MP4 ----:com.apple.iTunes:ISRC=" + A +
             "|MP4 ----:com.apple.iTunes:ISRC (second value)=" + B,
         formats::Verdict::conflict, A},
        {"cuesheet.flac",
         flacWith({flac::streamInfo(), flac::comments("x", {"TITLE=Song"}), cueSheet({A})}),
         "CUESHEET track 1 ISRC=" + A, formats::Verdict::one, A},
        {"axml_only.wav", chunks::wav(64, {{"axml", axmlWith(B)}}), "axml=" + B,
         formats::Verdict::one, B},
        {"rf64.wav", wav64("RF64", {{"axml", axmlWith(B)}, {"id3 ", tag({tsrc(A)})}}),
         "axml=" + B + "|ID3 TSRC=" + A, formats::Verdict::conflict, A},
        {"bw64.wav", wav64("BW64", {{"axml", axmlWith(B)}}), "axml=" + B, formats::Verdict::one, B},
        {"aiff.aiff",
         chunks::aiff(64, {{"ID3 ", tag({tsrc(A)})}, {"ID3 ", tag({txxx("ISRC", B)})}}),
         "ID3 TSRC=" + A + "|second ID3 chunk TXXX:ISRC=" + B, formats::Verdict::conflict, A},
        {"a.flac",
         flacWith({flac::streamInfo(), flac::comments("x", {"ISRC=" + A, "isrc=" + B}),
                   flac::comments("y", {"ISRC=" + A})}),
         "Vorbis ISRC=" + A + "|Vorbis ISRC (second entry)=" + B +
             "|second comment block ISRC=" + A,
         formats::Verdict::conflict, A},
        {"a.m4a",
         movieWith(join(
             {mp4::item("com.apple.itunes", "isrc", A), mp4::item("", "xid ", "L:isrc:" + B)})),
         "MP4 ----:com.apple.itunes:isrc=" + A + "|~MP4 xid=L:isrc:" + B, formats::Verdict::one, A},
    };
}

TEST(Carriers, FoundJudgedAndKeptInStepByWritesAndRemovals) {
    TempDir dir;
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir / c.name;
        writeFile(path, c.file);
        const formats::Carriers before = read::carriers(path);
        EXPECT_EQ(listed(before), c.carriers);
        EXPECT_EQ(formats::verdictOf(before), c.verdict);
        EXPECT_EQ(read::readISRC(path), c.read);
        write::writeISRC(path, D, false);
        const Bytes bytes = readFile(path);
        const std::string text(bytes.begin(), bytes.end());
        if (text.starts_with("RF64") || text.starts_with("BW64")) {  // ds64 has the new size
            std::uint64_t form = 0;
            for (int i = 7; i >= 0; --i) form = form << 8 | bytes[20 + std::size_t(i)];
            EXPECT_EQ(form, bytes.size() - 8);
            EXPECT_EQ(text.substr(text.find("data") + 4, 4), std::string(4, '\xFF'));
        }
        const formats::Carriers written = read::carriers(path);
        for (const formats::Carrier& w : written)
            EXPECT_TRUE(w.reportOnly || w.text == D) << w.place;
        for (const formats::Carrier& b : before) {  // the report-only ones are left as they were
            EXPECT_TRUE(!b.reportOnly || std::count(written.begin(), written.end(), b) == 1);
        }
        write::writeISRC(path, std::nullopt, false);
        EXPECT_EQ(formats::verdictOf(read::carriers(path)), formats::Verdict::none);
        EXPECT_EQ(read::readISRC(path), std::nullopt);
    }
}

// A code in a place no write reaches (an APEv2 tag after MP3 audio, cue sheet codes of several
// tracks) or a code field no code fits in is listed where it can be read, and a write or removal
// that would leave it behind is refused, the file as it was.
TEST(Carriers, ACodeWhereNoWriteReachesIsReadAndTheWriteRefused) {
    TempDir dir;
    const struct {
        const char* name;
        Bytes file;
        std::string_view refusal;
    } cases[] = {
        {"ape.mp3", mp3With(tag({tsrc(A)}), apeTag("ISRC", A)), formats::mp3::msg::apeCode},
        {"cues.flac", flacWith({flac::streamInfo(), cueSheet({A, B})}),
         formats::flac::msg::flacCueSheetTracks},
        {"huge.mp3", mp3With(tag({tsrc(std::string((1 << 20) + 1, '1'))})),
         formats::id3v2::msg::id3CodeTooLarge},
    };
    for (const auto& c : cases) {
        const fs::path path = dir / c.name;
        writeFile(path, c.file);
        for (const auto& code : {std::optional(D), std::optional<std::string>()}) {
            EXPECT_EQ(errorOf([&] { write::writeISRC(path, code, false); }), c.refusal) << c.name;
            EXPECT_EQ(readFile(path), c.file);
        }
    }
    EXPECT_EQ(listed(read::carriers(dir / "ape.mp3")), "ID3 TSRC=" + A + "|APEv2 ISRC=" + A);
    EXPECT_EQ(listed(read::carriers(dir / "cues.flac")),
              "CUESHEET track 1 ISRC=" + A + "|CUESHEET track 2 ISRC=" + B);
    writeFile(dir / "ape.mp3", mp3With({}, apeTag("ISRC", B)));
    EXPECT_EQ(read::readISRC(dir / "ape.mp3"), B);
}

TEST(Carriers, VerificationRefusesAFileLeftWithAnotherCode) {
    TempDir dir;
    writeFile(dir / "a.wav", chunks::wav(64, {{"axml", axmlWith(A)}, {"id3 ", tag({tsrc(D)})}}));
    const FileIn in(dir / "a.wav");
    const auto audio = formats::format(formats::AudioFormat::wav).audioRanges(in);
    EXPECT_THROW(write::verifyWritten(in, audio, in, formats::AudioFormat::wav, D), TagError);
}

std::pair<int, std::string> run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::vector<std::string> all = {"pelorix"};  // element 0: the program's name
    all.insert(all.end(), args.begin(), args.end());
    const int status = *cli::run(all, out, err);
    return {status, out.str() + err.str()};
}

TEST(Carriers, AuditAndAxmlOptionOnTheCommandLine) {
    TempDir dir;
    for (const Case& c : cases()) writeFile(dir / c.name, c.file);
    auto [status, out] = run({"--audit", dir.path().string()});
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("aiff.aiff\tconflict\n\tID3 TSRC\tGB-AYE-26-00077\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("\tINFO ISRC (source), report only\tLP 1972\n"), std::string::npos);

    const fs::path plain = dir / "plain.wav";
    writeFile(plain, chunks::wav(64));
    EXPECT_EQ(run({"--write", D, plain.string()}).first, 0);
    EXPECT_EQ(listed(read::carriers(plain)), "ID3 TSRC=" + D);
    EXPECT_EQ(run({"--axml", "--write", D, plain.string()}).first, 0);
    EXPECT_EQ(listed(read::carriers(plain)), "axml=" + D + "|ID3 TSRC=" + D);
    std::tie(status, out) = run({"--json", "--audit", plain.string(), (dir / "gone.wav").string()});
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("\"verdict\":\"same code\",\"carriers\":[{\"place\":\"axml\""),
              std::string::npos);
    EXPECT_NE(out.find("\"result\":\"error\""), std::string::npos) << out;
    EXPECT_EQ(run({"--audit"}).first, 2);

    // A code in any counted place is the file's code to every mode: never replaced unasked.
    const std::string txxx = (dir / "txxx.mp3").string();
    std::tie(status, out) = run({"--sequence", D, txxx});
    EXPECT_EQ(out, "KEPT " + txxx +
                       ": it carries GB-AYE-26-00077; --replace replaces it\nWrote 0, kept 1, "
                       "unchanged 0, failed 0.\n");
    EXPECT_EQ(status, 1);
}

// RF64 as ffmpeg writes it: ffmpeg decodes the same PCM after the write.
TEST(Carriers, AnRF64FileFromFFmpegKeepsItsAudio) {
    if (runShell("command -v ffmpeg").status != 0) GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const std::string rf64 = (dir / "a.wav").string(), md5 = " -v error -f md5 - ";
    ASSERT_EQ(runShell("ffmpeg -v error -f lavfi -i sine=d=0.3 -rf64 always " + rf64).status, 0);
    const std::string pcm = runShell("ffmpeg -i " + rf64 + md5).output;
    write::writeISRC(rf64, D, false);
    EXPECT_EQ(runShell("ffmpeg -i " + rf64 + md5).output, pcm);
    EXPECT_EQ(listed(read::carriers(rf64)), "ID3 TSRC=" + D);
}

}  // namespace
}  // namespace pelorix
