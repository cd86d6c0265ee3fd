// SPDX-License-Identifier: MIT
// Real files made by ffmpeg, flac and lame, tagged by the real binary, then opened by other
// readers: ffprobe, metaflac and mutagen find the code, ffmpeg decodes the same samples and copies
// the same packets without a complaint, and the other tags and the cover art are still there.
#include <algorithm>

#include "e2e_support.h"

using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

const std::string kShown = "FI-ABC-26-00001";
const std::string kFF = "ffmpeg -nostdin -v error -y ";

// What mutagen sees: a "code=" line for each code in the format's own place, then title,
// artist, the number of pictures, and the form type of a RIFF or FORM file.
const char* kMutagen = R"PY(
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

// Each reader's report on a file, split into the codes it finds ("READER: CODE") and the rest
// (every other tag, stream, cover picture), which a write leaves alone.
std::pair<Lines, Lines> view(const fs::path& file) {
    std::pair<Lines, Lines> v;
    const std::tuple<std::string, std::string, std::string> readers[] = {
        {"ffprobe",
         "ffprobe -v error -of default=nw=1 -show_entries format_tags:stream_tags:"
         "stream=index,codec_type,codec_name:stream_disposition=attached_pic",
         "TAG:ISRC="},
        {"mutagen", "/usr/bin/python3 -c " + quoted(kMutagen), "CODE="},
        {"metaflac", "metaflac --show-tag=ISRC", "ISRC="}};
    for (const auto& [reader, command, code] : readers) {
        if (reader == "metaflac" && file.extension() != ".flac") continue;
        const RunResult r = runShell(command + " " + quoted(file.string()));
        EXPECT_EQ(r.status, 0) << r.output;
        for (const std::string& line : linesOf(r.output)) {
            std::string key = line.substr(0, line.find('=') + 1);
            std::transform(key.begin(), key.end(), key.begin(), ::toupper);
            const bool isCode = key == code || key == "TAG:TSRC=";
            (isCode ? v.first : v.second)
                .push_back(reader + ": " + line.substr(isCode ? key.size() : 0));
        }
    }
    return v;
}

// One ffmpeg run: the first audio stream decoded to 16-bit samples, a checksum of every packet
// of every stream copied as it is, every stream decoded to nowhere, and its complaints.
Lines decode(const fs::path& file) {
    const fs::path samples = file.parent_path() / "decoded.pcm",
                   packets = file.parent_path() / "packets.md5";
    const RunResult r =
        runShell(kFF + "-i " + quoted("file:" + file.string()) + " -map 0:a:0 -f s16le " +
                 quoted("file:" + samples.string()) + " -map 0 -c copy -f framemd5 " +
                 quoted("file:" + packets.string()) + " -map 0 -f null -");
    EXPECT_EQ(r.status, 0) << r.output;
    const Bytes s = readFile(samples);
    EXPECT_GT(s.size(), 300000u);
    return {r.output, runShell("sha256sum < " + quoted(samples.string())).output,
            runShell("cat " + quoted(packets.string())).output};
}

// Two seconds of two tones in stereo and a tiny cover picture, made once, copied into `dir`;
// false (the test skips) when a tool is missing (scripts/setup.sh installs them all).
bool sources(const TempDir& dir) {
    static TempDir shared;
    static const bool made =
        runShell(
            "which ffmpeg ffprobe flac metaflac lame && /usr/bin/python3 -c 'import mutagen' && "
            "cd " +
            quoted(shared.path().string()) + " && " + kFF +
            "-f lavfi -i sine=frequency=440:duration=2 -f lavfi -i sine=frequency=660:duration=2 "
            "-filter_complex amerge -ac 2 -ar 44100 -c:a pcm_s16le source.wav && " +
            kFF + "-f lavfi -i color=c=red:s=32x32:d=1 -frames:v 1 cover.png")
            .status == 0;
    if (made) {
        for (const char* name : {"source.wav", "cover.png"})
            fs::copy_file(shared / name, dir / name);
    }
    return made;
}

struct Made {
    const char* name;
    const char* file;
    std::string make;  // run in the folder, where source.wav and cover.png are
    const char* tags;  // what mutagen finds besides the code
    // ffmpeg prefers a WAV file's LIST/INFO tags and then ignores its ID3 chunk altogether.
    bool ffprobeSeesID3 = true;
};

const std::string kTags = " -metadata title=Song -metadata artist=Band ";
const std::string kCover =
    "-i source.wav -i cover.png -map 0 -map 1 -c:v copy -disposition:v attached_pic ";
const char* const kNone = "title=- artist=- pictures=0";
const char* const kTitled = "title=Song artist=Band pictures=0";
const char* const kAll = "title=Song artist=Band pictures=1";

std::vector<Made> madeFiles() {
    return {
        {"ffmpeg_wav", "a.wav", kFF + "-i source.wav -map_metadata -1 -fflags +bitexact a.wav",
         kNone},
        {"ffmpeg_wav_info", "a.wav", kFF + "-i source.wav" + kTags + "a.wav", kNone, false},
        {"ffmpeg_aiff", "a.aiff", kFF + "-i source.wav -write_id3v2 1" + kTags + "a.aiff", kTitled},
        {"ffmpeg_aifc_float", "a.aifc", kFF + "-i source.wav -c:a pcm_f32be -f aiff a.aifc", kNone},
        {"ffmpeg_flac", "a.flac", kFF + kCover + "-c:a flac" + kTags + "a.flac", kAll},
        {"ffmpeg_mp3_v24", "a.mp3", kFF + kCover + "-c:a libmp3lame" + kTags + "a.mp3", kAll},
        {"ffmpeg_mp3_v23", "a.mp3",
         kFF + kCover + "-c:a libmp3lame -id3v2_version 3" + kTags + "a.mp3", kAll},
        {"ffmpeg_aac_moov_last", "a.m4a", kFF + kCover + "-c:a aac -b:a 96k" + kTags + "a.m4a",
         kAll},
        {"ffmpeg_aac_moov_first", "a.m4a",
         kFF + kCover + "-c:a aac -movflags +faststart" + kTags + "a.m4a", kAll},
        {"ffmpeg_alac_moov_last", "a.m4a", kFF + "-i source.wav -c:a alac" + kTags + "a.m4a",
         kTitled},
        {"ffmpeg_alac_moov_first", "a.m4a",
         kFF + kCover + "-c:a alac -movflags +faststart" + kTags + "a.m4a", kAll},
        {"flac_tool", "a.flac",
         "flac -s -f --tag=TITLE=Song --tag=ARTIST=Band --picture=cover.png -o a.flac source.wav",
         kAll},
        {"lame_tool", "a.mp3", "lame --quiet --tt Song --ta Band --ti cover.png source.wav a.mp3",
         kAll},
        {"lame_tool_untagged", "a.mp3", "lame --quiet source.wav a.mp3", kNone},
    };
}

class Interop : public ::testing::TestWithParam<Made> {};

}  // namespace

TEST_P(Interop, OtherReadersSeeTheCodeAndTheSameAudio) {
    const Made& m = GetParam();
    TempDir dir;
    if (!sources(dir)) GTEST_SKIP() << "ffmpeg, flac, lame or python3-mutagen is not installed";
    const RunResult made = runShell("cd " + quoted(dir.path().string()) + " && " + m.make);
    ASSERT_EQ(made.status, 0) << m.make << "\n" << made.output;
    const fs::path file = dir / m.file;
    const auto [none, rest] = view(file);
    const Lines decoded = decode(file);
    ASSERT_TRUE(none.empty());
    EXPECT_EQ(decoded[0], "");
    EXPECT_NE(std::find(rest.begin(), rest.end(), "mutagen: " + std::string(m.tags)), rest.end());

    // Written, then removed: in each state every reader finds the one code, or none, and nothing
    // else changed: tags, streams, cover art, form type, samples, packets, clean decoding.
    Lines codes;
    for (const char* reader : {"ffprobe: ", "mutagen: ", "metaflac: "}) {
        if ((reader[0] != 'f' || m.ffprobeSeesID3) &&
            (reader[1] != 'e' || file.extension() == ".flac")) {
            codes.push_back(reader + kCode);
        }
    }
    for (const bool removing : {false, true}) {
        SCOPED_TRACE(removing ? "after --remove" : "after --write");
        const Outcome run =
            runPelorix(dir.path(), removing ? Lines{"--remove", file.string()}
                                            : Lines{"--write", kShown, file.string()});
        EXPECT_EQ(run.out + run.err, "OK " + file.string() + "\n");
        EXPECT_EQ(runPelorix(dir.path(), {"--read", file.string()}).out,
                  file.string() + "\t" + (removing ? "-" : kShown) + "\n");
        EXPECT_EQ(view(file), std::pair(removing ? Lines{} : codes, rest));
        EXPECT_EQ(decode(file), decoded);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Interop, ::testing::ValuesIn(madeFiles()),
                         [](const auto& info) { return std::string(info.param.name); });
