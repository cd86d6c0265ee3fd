// Real files made at test time by ffmpeg, flac and lame, tagged by the real binary, then opened
// by other readers: ffprobe, metaflac and mutagen find the code where they look for it, ffmpeg
// decodes the same samples and copies the same packets without a single complaint, and the
// other tags and the cover art are still there. And the reverse: codes that mutagen and ffmpeg
// wrote are read by `pelorix --read`.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.h"

using namespace pelorix::test;
namespace fs = std::filesystem;

namespace {

const std::string kCode = "FIABC2600001";
const std::string kShown = "FI-ABC-26-00001";
const std::string kTheirs = "GBXYZ9900002";
const std::string kTheirsShown = "GB-XYZ-99-00002";

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string quoted(const fs::path& p) { return quoted(p.string()); }

bool have(const std::string& tool) { return runShell("command -v " + tool).status == 0; }

bool haveMutagen() { return runShell("/usr/bin/python3 -c 'import mutagen'").status == 0; }

// Skips the test when a tool it needs is missing (scripts/setup.sh installs them all).
#define REQUIRE_TOOLS(...)                                                  \
    for (const std::string& tool : {__VA_ARGS__}) {                        \
        if (!have(tool)) GTEST_SKIP() << tool << " is not installed";       \
    }                                                                       \
    if (!haveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed"

RunResult runPelorix(const std::vector<std::string>& args) {
    std::string command = quoted(std::string(PELORIX_BINARY));
    for (const auto& a : args) command += " " + quoted(a);
    return runShell(command);
}

// What mutagen sees, one "key=value" per line: isrc (the first code in the format's own place,
// "-" when none), how many code entries there are, title, artist, pictures.
const char* kMutagenScript = R"PY(
import sys, mutagen
from mutagen.mp4 import MP4
from mutagen.flac import FLAC
f = mutagen.File(sys.argv[1])
if f is None:
    sys.exit("mutagen cannot open the file")
t = f.tags
if isinstance(f, MP4):
    codes = [bytes(v).decode() for v in (t or {}).get('----:com.apple.iTunes:ISRC', [])]
    title = (t or {}).get('\xa9nam', ['-'])[0]
    artist = (t or {}).get('\xa9ART', ['-'])[0]
    pictures = len((t or {}).get('covr', []))
elif isinstance(f, FLAC):
    codes = f.get('isrc') or []
    title = (f.get('title') or ['-'])[0]
    artist = (f.get('artist') or ['-'])[0]
    pictures = len(f.pictures)
else:
    frames = lambda k: t.getall(k) if t is not None else []
    codes = [str(x) for fr in frames('TSRC') for x in fr.text]
    title = str(frames('TIT2')[0].text[0]) if frames('TIT2') else '-'
    artist = str(frames('TPE1')[0].text[0]) if frames('TPE1') else '-'
    pictures = len(frames('APIC'))
print('isrc=' + (codes[0] if codes else '-'))
print('codes=%d' % len(codes))
print('title=' + title)
print('artist=' + artist)
print('pictures=%d' % pictures)
)PY";

std::map<std::string, std::string> mutagenView(const fs::path& file, const fs::path& dir) {
    const fs::path script = dir / "view.py";
    if (!fs::exists(script)) writeFile(script, bytesOf(kMutagenScript));
    const RunResult r = runShell("/usr/bin/python3 " + quoted(script) + " " + quoted(file));
    EXPECT_EQ(r.status, 0) << r.output;
    std::map<std::string, std::string> view;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) view[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return view;
}

// Every tag and stream ffprobe reports, one per line, as "KEY=value".
std::vector<std::string> probed(const fs::path& file) {
    const RunResult r = runShell(
        "ffprobe -v error -show_entries "
        "format_tags:stream_tags:stream=index,codec_type,codec_name:stream_disposition=attached_pic "
        "-of default=nw=1 " + quoted("file:" + file.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<std::string> lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool isCodeLine(const std::string& line) {
    std::string upper = line;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    return upper.starts_with("TAG:TSRC=") || upper.starts_with("TAG:ISRC=");
}

std::vector<std::string> codeLines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out), isCodeLine);
    return out;
}

std::vector<std::string> otherLines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                 [](const std::string& l) { return !isCodeLine(l); });
    return out;
}

// One ffmpeg run over the file: its first audio stream decoded to 16-bit samples, a checksum of
// every packet of every stream copied as it is, and every stream decoded to nowhere, with
// whatever ffmpeg complained about on the way ("" when the file decodes cleanly).
struct Decoded {
    Bytes samples;
    Bytes packets;
    std::string complaints;
};

Decoded decode(const fs::path& file, const fs::path& work) {
    const fs::path samples = work / "decoded.pcm";
    const fs::path packets = work / "packets.md5";
    const RunResult r = runShell(
        "ffmpeg -nostdin -v error -y -i " + quoted("file:" + file.string()) +
        " -map 0:a:0 -f s16le " + quoted("file:" + samples.string()) +
        " -map 0 -c copy -f framemd5 " + quoted("file:" + packets.string()) + " -map 0 -f null -");
    EXPECT_EQ(r.status, 0) << r.output;
    return {readFile(samples), readFile(packets), r.output};
}

struct Made {
    const char* name;
    const char* file;
    const char* tool;  // the program that makes it
    std::string make;  // shell command run in the folder; source.wav and cover.png are there
    bool tagged;       // title and artist were written
    bool cover;
    // ffmpeg prefers a WAV file's LIST/INFO tags and then ignores its ID3 chunk altogether.
    bool ffprobeSeesID3 = true;
};

const std::string kFF = "ffmpeg -nostdin -v error -y ";
const std::string kTags = " -metadata title=Song -metadata artist=Band ";
const std::string kWithCover = "-i source.wav -i cover.png -map 0 -map 1 -c:v copy -disposition:v attached_pic ";

std::vector<Made> madeFiles() {
    return {
        {"ffmpeg_wav", "a.wav", "ffmpeg", kFF + "-i source.wav -map_metadata -1 -fflags +bitexact a.wav", false, false},
        {"ffmpeg_wav_info", "a.wav", "ffmpeg", kFF + "-i source.wav" + kTags + "a.wav", true, false, false},
        {"ffmpeg_aiff", "a.aiff", "ffmpeg", kFF + "-i source.wav -write_id3v2 1" + kTags + "a.aiff", true, false},
        {"ffmpeg_aifc_float", "a.aifc", "ffmpeg", kFF + "-i source.wav -c:a pcm_f32be -f aiff a.aifc", false, false},
        {"ffmpeg_flac", "a.flac", "ffmpeg", kFF + kWithCover + "-c:a flac" + kTags + "a.flac", true, true},
        {"ffmpeg_mp3_v24", "a.mp3", "ffmpeg", kFF + kWithCover + "-c:a libmp3lame -b:a 128k" + kTags + "a.mp3", true, true},
        {"ffmpeg_mp3_v23", "a.mp3", "ffmpeg", kFF + kWithCover + "-c:a libmp3lame -id3v2_version 3" + kTags + "a.mp3", true, true},
        {"ffmpeg_aac_moov_last", "a.m4a", "ffmpeg", kFF + kWithCover + "-c:a aac -b:a 96k" + kTags + "a.m4a", true, true},
        {"ffmpeg_aac_moov_first", "a.m4a", "ffmpeg", kFF + kWithCover + "-c:a aac -b:a 96k -movflags +faststart" + kTags + "a.m4a", true, true},
        {"ffmpeg_alac_moov_last", "a.m4a", "ffmpeg", kFF + "-i source.wav -c:a alac" + kTags + "a.m4a", true, false},
        {"ffmpeg_alac_moov_first", "a.m4a", "ffmpeg", kFF + kWithCover + "-c:a alac -movflags +faststart" + kTags + "a.m4a", true, true},
        {"flac_tool", "a.flac", "flac", "flac -s -f --tag=TITLE=Song --tag=ARTIST=Band --picture=cover.png -o a.flac source.wav", true, true},
        {"lame_tool", "a.mp3", "lame", "lame --quiet --tt Song --ta Band --ti cover.png source.wav a.mp3", true, true},
        {"lame_tool_untagged", "a.mp3", "lame", "lame --quiet source.wav a.mp3", false, false},
    };
}

// Two seconds of two tones in stereo, and a tiny cover picture, made once and copied into each
// test's folder.
void makeSources(const TempDir& dir) {
    static TempDir shared;
    static const RunResult made = runShell(
        "cd " + quoted(shared.path()) + " && " + kFF +
        "-f lavfi -i sine=frequency=440:duration=2 -f lavfi -i sine=frequency=660:duration=2 "
        "-filter_complex amerge -ac 2 -ar 44100 -c:a pcm_s16le source.wav && " + kFF +
        "-f lavfi -i color=c=red:s=32x32:d=1 -frames:v 1 cover.png");
    ASSERT_EQ(made.status, 0) << made.output;
    for (const char* name : {"source.wav", "cover.png"}) {
        fs::copy_file(shared / name, dir / name);
    }
}

class Interop : public ::testing::TestWithParam<Made> {};

}  // namespace

TEST_P(Interop, OtherReadersSeeTheCodeAndTheSameAudio) {
    const Made& m = GetParam();
    REQUIRE_TOOLS("ffmpeg", "ffprobe", "metaflac", m.tool);
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(makeSources(dir));
    const RunResult made = runShell("cd " + quoted(dir.path()) + " && " + m.make);
    ASSERT_EQ(made.status, 0) << made.output;
    const fs::path file = dir / m.file;
    const fs::path work = dir / "work";
    fs::create_directory(work);

    const auto probeBefore = probed(file);
    const auto viewBefore = mutagenView(file, work);
    const Decoded before = decode(file, work);
    EXPECT_EQ(before.complaints, "");
    ASSERT_TRUE(codeLines(probeBefore).empty());
    ASSERT_EQ(viewBefore.at("isrc"), "-");
    ASSERT_GT(before.samples.size(), 300000u);
    EXPECT_EQ(viewBefore.at("title"), m.tagged && m.ffprobeSeesID3 ? "Song" : "-");
    EXPECT_EQ(viewBefore.at("pictures"), m.cover ? "1" : "0");

    // Written, then removed: each state is checked by every reader.
    for (const bool removing : {false, true}) {
        SCOPED_TRACE(removing ? "after --remove" : "after --write");
        const RunResult run = removing ? runPelorix({"--remove", file.string()})
                                       : runPelorix({"--write", kShown, file.string()});
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output, "OK " + file.string() + "\n");
        EXPECT_EQ(runPelorix({"--read", file.string()}).output,
                  file.string() + "\t" + (removing ? "-" : kShown) + "\n");

        const auto probe = probed(file);
        const auto view = mutagenView(file, work);
        EXPECT_EQ(view.at("isrc"), removing ? "-" : kCode);
        EXPECT_EQ(view.at("codes"), removing ? "0" : "1");
        if (m.ffprobeSeesID3) {
            const std::string key = std::string(m.file).ends_with(".flac") ||
                                            std::string(m.file).ends_with(".m4a")
                                        ? "TAG:ISRC="
                                        : "TAG:TSRC=";
            EXPECT_EQ(codeLines(probe),
                      removing ? std::vector<std::string>{} : std::vector<std::string>{key + kCode});
        }
        if (std::string(m.file).ends_with(".flac")) {
            const RunResult tag = runShell("metaflac --show-tag=ISRC " + quoted(file));
            EXPECT_EQ(tag.output, removing ? "" : "ISRC=" + kCode + "\n");
        }

        // Nothing else changed: tags, streams, cover art, samples, packets, clean decoding.
        EXPECT_EQ(otherLines(probe), otherLines(probeBefore));
        for (const char* key : {"title", "artist", "pictures"}) {
            EXPECT_EQ(view.at(key), viewBefore.at(key)) << key;
        }
        const Decoded after = decode(file, work);
        EXPECT_TRUE(after.samples == before.samples) << "decoded samples differ";
        EXPECT_TRUE(after.packets == before.packets) << "packets differ";
        EXPECT_EQ(after.complaints, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Interop, ::testing::ValuesIn(madeFiles()),
                         [](const ::testing::TestParamInfo<Made>& info) {
                             return std::string(info.param.name);
                         });

TEST(InteropReverse, CodesOtherToolsWroteAreRead) {
    REQUIRE_TOOLS("ffmpeg", "lame");
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(makeSources(dir));
    const std::string in = "cd " + quoted(dir.path()) + " && ";
    struct Writer {
        const char* file;
        std::string command;  // run in the folder
    };
    const std::string mutagen = "/usr/bin/python3 -c ";
    auto id3 = [&](const std::string& cls, const std::string& file, const std::string& save) {
        return mutagen + quoted("from mutagen." + cls + "\nfrom mutagen.id3 import TSRC, TIT2\n"
                                "f = " + cls.substr(cls.rfind(' ') + 1) + "('" + file + "')\n"
                                "f.add_tags() if f.tags is None else None\n"
                                "f.tags.add(TIT2(encoding=3, text=['Song']))\n"
                                "f.tags.add(TSRC(encoding=3, text=['" + kTheirs + "']))\n"
                                "f.save(" + save + ")\n");
    };
    const std::vector<Writer> writers = {
        {"mutagen-v24.mp3", "lame --quiet source.wav mutagen-v24.mp3 && " +
                                id3("mp3 import MP3", "mutagen-v24.mp3", "")},
        {"mutagen-v23.mp3", "lame --quiet source.wav mutagen-v23.mp3 && " +
                                id3("mp3 import MP3", "mutagen-v23.mp3", "v2_version=3")},
        {"mutagen.wav", "cp source.wav mutagen.wav && " + id3("wave import WAVE", "mutagen.wav", "")},
        {"mutagen.aiff", kFF + "-i source.wav mutagen.aiff && " +
                             id3("aiff import AIFF", "mutagen.aiff", "")},
        {"mutagen.flac", kFF + "-i source.wav mutagen.flac && " + mutagen +
                             quoted("from mutagen.flac import FLAC\nf = FLAC('mutagen.flac')\n"
                                    "f['ISRC'] = '" + kTheirs + "'\nf.save()\n")},
        {"mutagen.m4a", kFF + "-i source.wav -c:a aac mutagen.m4a && " + mutagen +
                            quoted("from mutagen.mp4 import MP4, MP4FreeForm\n"
                                   "f = MP4('mutagen.m4a')\n"
                                   "f['----:com.apple.iTunes:ISRC'] = [MP4FreeForm(b'" + kTheirs +
                                   "')]\nf.save()\n")},
        // ffmpeg stores a four-letter key that names an ID3 frame as that frame.
        {"ffmpeg-v24.mp3", kFF + "-i source.wav -metadata TSRC=" + kTheirs + " ffmpeg-v24.mp3"},
        {"ffmpeg-v23.mp3", kFF + "-i source.wav -id3v2_version 3 -metadata TSRC=" + kTheirs +
                               " ffmpeg-v23.mp3"},
        {"ffmpeg.aiff", kFF + "-i source.wav -write_id3v2 1 -metadata TSRC=" + kTheirs + " ffmpeg.aiff"},
        {"ffmpeg.flac", kFF + "-i source.wav -metadata ISRC=" + kTheirs + " ffmpeg.flac"},
    };
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.file);
        const RunResult made = runShell(in + w.command);
        ASSERT_EQ(made.status, 0) << made.output;
        const fs::path file = dir / w.file;
        const RunResult read = runPelorix({"--read", file.string()});
        EXPECT_EQ(read.status, 0);
        EXPECT_EQ(read.output, file.string() + "\t" + kTheirsShown + "\n");

        // Our replacement is the only code the other tool then finds.
        ASSERT_EQ(runPelorix({"--write", kCode, file.string()}).status, 0);
        const auto view = mutagenView(file, dir.path());
        EXPECT_EQ(view.at("isrc"), kCode);
        EXPECT_EQ(view.at("codes"), "1");
    }
}
