// SPDX-License-Identifier: MIT
// Every place a file holds a code: found, judged, kept in step by a write and a removal, checked
// by the verification, audited on the command line, and read back by other tools.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli.h"
#include "core/formats/carriers.h"
#include "core/read/read.h"
#include "core/tag_error.h"
#include "core/write/verify.h"
#include "core/write/write.h"
#include "support/chunk_builder.h"
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
Bytes movieWith(const Bytes& items) {
    return mp4::movie({.moovTail = mp4::box("udta", mp4::meta(items))}).file;
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
    for (const formats::Carrier& c : carriers) {
        out += (out.empty() ? "" : "|") + std::string(c.reportOnly ? "~" : "") + c.place + "=" +
               c.text;
    }
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
        join({tag({tsrc(A + '\0' + B), txxx("isrc", A)}, 4), tag({tsrc(C)}), id3::fakeAudio(2000)});
    return {
        {"a.mp3", mp3,
         "ID3 TSRC=" + A + "|ID3 TSRC (second value)=" + B + "|ID3 TXXX:ISRC=" + A +
             "|second ID3 tag TSRC=" + C,
         formats::Verdict::conflict, A},
        {"b.wav",
         chunks::wav(
             64, {{"axml", axmlWith(A)}, infoSource(C), {"id3 ", tag({tsrc("GB-AYE-26-00077")})}}),
         "axml=" + A + "|~INFO ISRC (source)=" + C + "|ID3 TSRC=GB-AYE-26-00077",
         formats::Verdict::same, "GB-AYE-26-00077"},
        {"axml_only.wav", chunks::wav(64, {{"axml", axmlWith(B)}}), "axml=" + B,
         formats::Verdict::one, B},
        {"rf64.wav", wav64("RF64", {{"axml", axmlWith(B)}, {"id3 ", tag({tsrc(A)})}}),
         "axml=" + B + "|ID3 TSRC=" + A, formats::Verdict::conflict, A},
        {"bw64.wav", wav64("BW64", {{"axml", axmlWith(B)}}), "axml=" + B, formats::Verdict::one, B},
        {"aiff.aiff",
         chunks::aiff(64, {{"ID3 ", tag({tsrc(A)})}, {"ID3 ", tag({txxx("ISRC", B)})}}),
         "ID3 TSRC=" + A + "|second ID3 chunk TXXX:ISRC=" + B, formats::Verdict::conflict, A},
        {"a.flac",
         flac::file({.leading = {},
                     .blocks = {flac::streamInfo(), flac::comments("x", {"ISRC=" + A, "isrc=" + B}),
                                flac::comments("y", {"ISRC=" + A})},
                     .audio = chunks::audio(300)}),
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
    EXPECT_NE(out.find("\tINFO ISRC (source), report only\tDE-XYZ-26-00002\n"), std::string::npos);

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
