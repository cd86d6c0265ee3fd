// SPDX-License-Identifier: MIT
// Real files made at test time by ffmpeg, flac and lame, tagged by the real binary, then opened
// by other readers: ffprobe, metaflac and mutagen find the code where they look for it, ffmpeg
// decodes the same samples and copies the same packets without a single complaint, and the
// other tags and the cover art are still there. And the reverse: codes that mutagen and ffmpeg
// wrote are read by `pelorix --read`.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"

using namespace pelorix::test;
using e2e::kCode;
using e2e::quoted;
namespace fs = std::filesystem;

namespace {

const std::string kShown = "FI-ABC-26-00001";
const std::string kTheirs = "GBXYZ9900002";
const std::string kFF = "ffmpeg -nostdin -v error -y ";

// What mutagen sees: a "code=" line for each code in the format's own place, then title, artist,
// the number of pictures, and the form type of a RIFF or FORM file (ffmpeg takes an AIFF-C file
// for one by its FVER chunk; stricter readers go by the form type).
const char* kMutagenScript = R"PY(
import sys, mutagen
from mutagen.mp4 import MP4
from mutagen.flac import FLAC
f = mutagen.File(sys.argv[1])
t = f.tags or {}
if isinstance(f, MP4):
    codes = [bytes(v).decode() for v in t.get('----:com.apple.iTunes:ISRC', [])]
    rest = [t.get('\xa9nam', ['-'])[0], t.get('\xa9ART', ['-'])[0], len(t.get('covr', []))]
elif isinstance(f, FLAC):
    codes = f.get('isrc') or []
    rest = [(f.get('title') or ['-'])[0], (f.get('artist') or ['-'])[0], len(f.pictures)]
else:
    frames = lambda k: t.getall(k) if t else []
    first = lambda k: str(frames(k)[0].text[0]) if frames(k) else '-'
    codes = [str(x) for fr in frames('TSRC') for x in fr.text]
    rest = [first('TIT2'), first('TPE1'), len(frames('APIC'))]
for code in codes:
    print('code=' + code)
print('title=%s artist=%s pictures=%d' % tuple(rest))
head = open(sys.argv[1], 'rb').read(12)
if head[:4] in (b'FORM', b'RIFF'):
    print('form=' + head[8:].decode())
)PY";

// What the other readers make of a file: the codes each one finds, as "READER: CODE", and the
// rest of what they report (every other tag, stream, cover picture), which a write leaves alone.
struct View {
    std::vector<std::string> codes;
    std::vector<std::string> rest;
};

View view(const fs::path& file) {
    View v;
    auto read = [&](const std::string& reader, const std::string& command,
                    const std::string& code) {
        const RunResult r = runShell(command + " " + quoted(file.string()));
        EXPECT_EQ(r.status, 0) << r.output;
        for (const std::string& line : e2e::linesOf(r.output)) {
            std::string key = line.substr(0, line.find('=') + 1);
            std::transform(key.begin(), key.end(), key.begin(), ::toupper);
            if (key == code || key == "TAG:TSRC=") {
                v.codes.push_back(reader + ": " + line.substr(key.size()));
            } else {
                v.rest.push_back(reader + ": " + line);
            }
        }
    };
    read("ffprobe",
         "ffprobe -v error -of default=nw=1 -show_entries format_tags:stream_tags:"
         "stream=index,codec_type,codec_name:stream_disposition=attached_pic",
         "TAG:ISRC=");
    read("mutagen", "/usr/bin/python3 -c " + quoted(kMutagenScript), "CODE=");
    if (file.extension() == ".flac") read("metaflac", "metaflac --show-tag=ISRC", "ISRC=");
    return v;
}

// One ffmpeg run over the file: its first audio stream decoded to 16-bit samples, a checksum of
// every packet of every stream copied as it is, and every stream decoded to nowhere, with
// whatever ffmpeg complained about on the way ("" when the file decodes cleanly).
struct Decoded {
    Bytes samples;
    Bytes packets;
    std::string complaints;
};

Decoded decode(const fs::path& file) {
    const fs::path samples = file.parent_path() / "decoded.pcm";
    const fs::path packets = file.parent_path() / "packets.md5";
    const RunResult r =
        runShell(kFF + "-i " + quoted("file:" + file.string()) + " -map 0:a:0 -f s16le " +
                 quoted("file:" + samples.string()) + " -map 0 -c copy -f framemd5 " +
                 quoted("file:" + packets.string()) + " -map 0 -f null -");
    EXPECT_EQ(r.status, 0) << r.output;
    return {readFile(samples), readFile(packets), r.output};
}

// Skips the tests when a tool is missing (scripts/setup.sh installs them all).
class WithTools : public ::testing::Test {
  protected:
    void SetUp() override {
        static const bool tools = runShell(
                                      "which ffmpeg ffprobe flac metaflac lame && "
                                      "/usr/bin/python3 -c 'import mutagen'")
                                      .status == 0;
        if (!tools) GTEST_SKIP() << "ffmpeg, flac, lame or python3-mutagen is not installed";
        ASSERT_NO_FATAL_FAILURE(makeSources());
    }

    // Two seconds of two tones in stereo, and a tiny cover picture, made once and copied into
    // each test's folder.
    void makeSources() {
        static TempDir shared;
        static const RunResult made = runShell(
            "cd " + quoted(shared.path().string()) + " && " + kFF +
            "-f lavfi -i sine=frequency=440:duration=2 -f lavfi -i sine=frequency=660:duration=2 "
            "-filter_complex amerge -ac 2 -ar 44100 -c:a pcm_s16le source.wav && " +
            kFF + "-f lavfi -i color=c=red:s=32x32:d=1 -frames:v 1 cover.png");
        ASSERT_EQ(made.status, 0) << made.output;
        for (const char* name : {"source.wav", "cover.png"})
            fs::copy_file(shared / name, dir / name);
    }

    // Runs a shell command in the test's folder.
    void inDir(const std::string& command) {
        const RunResult r = runShell("cd " + quoted(dir.path().string()) + " && " + command);
        ASSERT_EQ(r.status, 0) << command << "\n" << r.output;
    }

    TempDir dir;
};

struct Made {
    const char* name;
    const char* file;
    std::string make;  // run in the folder, where source.wav and cover.png are
    bool titled;       // mutagen finds a title and an artist
    bool cover;
    // ffmpeg prefers a WAV file's LIST/INFO tags and then ignores its ID3 chunk altogether.
    bool ffprobeSeesID3 = true;
};

const std::string kTags = " -metadata title=Song -metadata artist=Band ";
const std::string kCover =
    "-i source.wav -i cover.png -map 0 -map 1 -c:v copy -disposition:v attached_pic ";

std::vector<Made> madeFiles() {
    return {
        {"ffmpeg_wav", "a.wav", kFF + "-i source.wav -map_metadata -1 -fflags +bitexact a.wav",
         false, false},
        {"ffmpeg_wav_info", "a.wav", kFF + "-i source.wav" + kTags + "a.wav", false, false, false},
        {"ffmpeg_aiff", "a.aiff", kFF + "-i source.wav -write_id3v2 1" + kTags + "a.aiff", true,
         false},
        {"ffmpeg_aifc_float", "a.aifc", kFF + "-i source.wav -c:a pcm_f32be -f aiff a.aifc", false,
         false},
        {"ffmpeg_flac", "a.flac", kFF + kCover + "-c:a flac" + kTags + "a.flac", true, true},
        {"ffmpeg_mp3_v24", "a.mp3", kFF + kCover + "-c:a libmp3lame -b:a 128k" + kTags + "a.mp3",
         true, true},
        {"ffmpeg_mp3_v23", "a.mp3",
         kFF + kCover + "-c:a libmp3lame -id3v2_version 3" + kTags + "a.mp3", true, true},
        {"ffmpeg_aac_moov_last", "a.m4a", kFF + kCover + "-c:a aac -b:a 96k" + kTags + "a.m4a",
         true, true},
        {"ffmpeg_aac_moov_first", "a.m4a",
         kFF + kCover + "-c:a aac -b:a 96k -movflags +faststart" + kTags + "a.m4a", true, true},
        {"ffmpeg_alac_moov_last", "a.m4a", kFF + "-i source.wav -c:a alac" + kTags + "a.m4a", true,
         false},
        {"ffmpeg_alac_moov_first", "a.m4a",
         kFF + kCover + "-c:a alac -movflags +faststart" + kTags + "a.m4a", true, true},
        {"flac_tool", "a.flac",
         "flac -s -f --tag=TITLE=Song --tag=ARTIST=Band --picture=cover.png -o a.flac source.wav",
         true, true},
        {"lame_tool", "a.mp3", "lame --quiet --tt Song --ta Band --ti cover.png source.wav a.mp3",
         true, true},
        {"lame_tool_untagged", "a.mp3", "lame --quiet source.wav a.mp3", false, false},
    };
}

class Interop : public WithTools, public ::testing::WithParamInterface<Made> {};

}  // namespace

TEST_P(Interop, OtherReadersSeeTheCodeAndTheSameAudio) {
    const Made& m = GetParam();
    ASSERT_NO_FATAL_FAILURE(inDir(m.make));
    const fs::path file = dir / m.file;

    const View before = view(file);
    const Decoded decoded = decode(file);
    EXPECT_EQ(decoded.complaints, "");
    ASSERT_TRUE(before.codes.empty());
    ASSERT_GT(decoded.samples.size(), 300000u);
    const std::string tags = std::string("mutagen: title=") +
                             (m.titled ? "Song artist=Band" : "- artist=-") +
                             " pictures=" + (m.cover ? "1" : "0");
    EXPECT_NE(std::find(before.rest.begin(), before.rest.end(), tags), before.rest.end()) << tags;

    // Written, then removed: each state is checked by every reader.
    std::vector<std::string> codes;
    if (m.ffprobeSeesID3) codes.push_back("ffprobe: " + kCode);
    codes.push_back("mutagen: " + kCode);
    if (file.extension() == ".flac") codes.push_back("metaflac: " + kCode);
    for (const bool removing : {false, true}) {
        SCOPED_TRACE(removing ? "after --remove" : "after --write");
        const RunResult run = removing ? e2e::pelorix({"--remove", file.string()})
                                       : e2e::pelorix({"--write", kShown, file.string()});
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output, "OK " + file.string() + "\n");
        EXPECT_EQ(e2e::pelorix({"--read", file.string()}).output,
                  file.string() + "\t" + (removing ? "-" : kShown) + "\n");

        // Each reader finds the one code, or none; nothing else changed: tags, streams, cover
        // art, form type, samples, packets, clean decoding.
        const View now = view(file);
        EXPECT_EQ(now.codes, removing ? std::vector<std::string>{} : codes);
        EXPECT_EQ(now.rest, before.rest);
        const Decoded after = decode(file);
        EXPECT_TRUE(after.samples == decoded.samples) << "decoded samples differ";
        EXPECT_TRUE(after.packets == decoded.packets) << "packets differ";
        EXPECT_EQ(after.complaints, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Interop, ::testing::ValuesIn(madeFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

using InteropReverse = WithTools;

TEST_F(InteropReverse, CodesOtherToolsWroteAreRead) {
    // ffmpeg stores a four-letter key that names an ID3 frame as that frame.
    const std::string tsrc = " -metadata TSRC=" + kTheirs + " ";
    ASSERT_NO_FATAL_FAILURE(
        inDir("lame --quiet source.wav mutagen-v24.mp3 && cp mutagen-v24.mp3 mutagen-v23.mp3 && "
              "cp source.wav mutagen.wav && " +
              kFF +
              "-i source.wav mutagen.aiff mutagen.flac "
              "mutagen.m4a" +
              tsrc + "ffmpeg-v24.mp3 -id3v2_version 3" + tsrc +
              "ffmpeg-v23.mp3 "
              "-write_id3v2 1" +
              tsrc + "ffmpeg.aiff -metadata ISRC=" + kTheirs +
              " ffmpeg.flac && "
              "/usr/bin/python3 -c " +
              quoted(R"PY(
import sys, mutagen, mutagen.id3 as id3
from mutagen.mp4 import MP4FreeForm
code = sys.argv[1]
for name in ['mutagen-v24.mp3', 'mutagen-v23.mp3', 'mutagen.wav', 'mutagen.aiff']:
    f = mutagen.File(name)
    if f.tags is None:
        f.add_tags()
    f.tags.add(id3.TIT2(encoding=3, text=['Song']))
    f.tags.add(id3.TSRC(encoding=3, text=[code]))
    f.save(**({'v2_version': 3} if 'v23' in name else {}))
f = mutagen.File('mutagen.flac')
f['ISRC'] = code
f.save()
f = mutagen.File('mutagen.m4a')
f['----:com.apple.iTunes:ISRC'] = [MP4FreeForm(code.encode())]
f.save()
)PY") + " " + kTheirs));

    for (const char* name :
         {"mutagen-v24.mp3", "mutagen-v23.mp3", "mutagen.wav", "mutagen.aiff", "mutagen.flac",
          "mutagen.m4a", "ffmpeg-v24.mp3", "ffmpeg-v23.mp3", "ffmpeg.aiff", "ffmpeg.flac"}) {
        SCOPED_TRACE(name);
        const fs::path file = dir / name;
        const RunResult read = e2e::pelorix({"--read", file.string()});
        EXPECT_EQ(read.status, 0);
        EXPECT_EQ(read.output, file.string() + "\tGB-XYZ-99-00002\n");

        // Our replacement is the only code the other readers then find.
        ASSERT_EQ(e2e::pelorix({"--write", kCode, file.string()}).status, 0);
        const View v = view(file);
        EXPECT_EQ(std::count_if(v.codes.begin(), v.codes.end(),
                                [](const std::string& c) { return c.starts_with("mutagen: "); }),
                  1);
        for (const std::string& c : v.codes) EXPECT_TRUE(c.ends_with(": " + kCode)) << c;
    }
}
