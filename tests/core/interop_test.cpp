// SPDX-License-Identifier: MIT
// Real files made (and some coded) by ffmpeg, flac, lame and the tag tools, read, written and
// cleared by the real binary: every other reader finds the new code (or none) and nothing else
// changed; ffmpeg decodes the same samples and copies the same packets without a complaint.
#include <algorithm>
#include <future>
#include <set>

#include "e2e_support.h"

using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

const std::string kShown = "FI-ABC-26-00001";
const std::string kTheirs = "GBAYE2600077";
const std::string kFF = "ffmpeg -nostdin -v error -y ";

// What mutagen shows: "code=" for each code in a place mutagen names as the ISRC (ID3 TSRC and
// TXXX:ISRC, the Vorbis entry, the iTunes item), every other tag, the number of pictures, and
// the form type of a RIFF or FORM file. MP4 items of `mdta` keys have no name mutagen knows.
const char* kMutagen = R"PY(
import sys, mutagen
from mutagen.mp4 import MP4
from mutagen.flac import FLAC
f = mutagen.File(sys.argv[1])
t, pictures = f.tags or {}, 0
def show(key, value):
    code = key.upper() in ('TSRC', 'ISRC', '----:COM.APPLE.ITUNES:ISRC')
    print(('code=' if code else key + '=') + value)
if isinstance(f, MP4):
    for key, values in t.items():
        if key == 'covr': pictures += len(values)
        elif key.isprintable() and key.strip():
            for v in values: show(key, bytes(v).decode() if key.startswith('----') else str(v))
elif isinstance(f, FLAC):
    for key, value in t: show(key, value)
    pictures = len(f.pictures)
else:
    for frame in t.values():
        if frame.FrameID == 'APIC': pictures += 1
        elif frame.FrameID == 'TSRC' or frame.FrameID == 'TXXX' and frame.desc.upper() == 'ISRC':
            for x in frame.text: show('TSRC', str(x))
        else: print(frame.pprint())
print('pictures=%d' % pictures)
head = open(sys.argv[1], 'rb').read(12)
if head[:4] in (b'FORM', b'RIFF'): print('form=' + head[8:].decode())
)PY";

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), ::toupper);
    return s;
}

// One reader: its letter in a case's list, its command, and how a line of its output splits into
// a key and a value; `isCode` picks the keys that hold the ISRC as that reader names them.
struct Reader {
    char letter;
    const char* name;
    std::string command;
    std::pair<std::string, std::string> (*split)(const std::string& line);
    bool (*isCode)(const std::string& key, std::string& value);
};

std::pair<std::string, std::string> atEquals(const std::string& line) {
    const auto at = line.find('=');
    return {line.substr(0, at), at == std::string::npos ? "" : line.substr(at + 1)};
}
std::pair<std::string, std::string> atColon(const std::string& line) {
    const auto at = line.find(" : ");
    return {trimmed(line.substr(0, at)), at == std::string::npos ? "" : line.substr(at + 3)};
}
std::pair<std::string, std::string> atSpaces(const std::string& line) {
    const auto at = line.find("  ", 2);
    return {trimmed(line.substr(0, at)), at == std::string::npos ? "" : trimmed(line.substr(at))};
}

const Reader kReaders[] = {
    {'f', "ffprobe",
     "ffprobe -v error -of default=nw=1 -show_entries format_tags:stream_tags:"
     "stream=index,codec_type,codec_name:stream_disposition=attached_pic",
     atEquals,
     [](const std::string& key, std::string&) {
         return upper(key) == "TAG:ISRC" || upper(key) == "TAG:TSRC";
     }},
    {'m', "mutagen", "/usr/bin/python3 -c " + quoted(kMutagen), atEquals,
     [](const std::string& key, std::string&) { return key == "code"; }},
    // The file's own facts (size, dates, where the audio begins) and figures derived from its
    // size are left out: a new tag changes them.
    {'x', "exiftool",
     "exiftool -a -G1 -s -x File:all -x System:all -x ExifTool:all -x Composite:all", atColon,
     [](const std::string& key, std::string& value) {
         const std::string group = key.substr(0, key.find(']') + 1),
                           name = trimmed(key.substr(group.size()));
         if (name == "UserDefinedText" && value.rfind("(ISRC) ", 0) == 0) {
             value.erase(0, 7);
             return true;
         }
         return name == "ISRC" || name == "ISRCNumber" || name == "ISRCCode" ||
                (group == "[RIFF]" && name == "Source");
     }},
    {'k', "kid3-cli", "kid3-cli -c 'get all 123'", atSpaces,
     [](const std::string& key, std::string&) { return key == "ISRC"; }},
    {'i', "mediainfo", "mediainfo", atColon,
     [](const std::string& key, std::string&) {
         // "isr": its name for QuickTime's \xA9isr atom.
         return key == "ISRC" || key == "isr" || key == "Original source form/Distributed by";
     }},
    {'l', "metaflac", "metaflac --export-tags-to=-", atEquals,
     [](const std::string& key, std::string&) { return upper(key) == "ISRC"; }},
};

// Lines that describe the file rather than its tags: exiftool's file headings and where the
// audio lies, kid3's file and tag headings (and the items of MP4 `mdta` keys, which it shows
// without a name), every mediainfo section but the first and its sizes and rates.
bool skipped(const Reader& r, const std::string& line, bool& past) {
    if (r.letter == 'x')
        return line.rfind("[", 0) != 0 || line.find(" MediaDataOffset ") != std::string::npos;
    if (r.letter == 'k')
        return line.rfind("  ", 0) != 0 || line.rfind("  Name: ", 0) == 0 ||
               atSpaces(line).first.empty();
    if (r.letter != 'i') return false;
    past = past || line.empty();
    const std::string key = atColon(line).first;
    return past || key == "General" || key == "Complete name" || key == "File size" ||
           key.rfind("Overall bit rate", 0) == 0 || key == "Stream size";
}

// Each reader's report on a file, split into the codes it finds ("READER: CODE", sorted, each
// once) and the rest (every other tag, stream, cover picture), which a write leaves alone.
struct View {
    std::set<std::string> codes;
    Lines rest;
    friend bool operator==(const View&, const View&) = default;
};

View view(const fs::path& file) {
    // The readers run side by side; most of their time is spent starting up.
    std::vector<std::future<RunResult>> runs;
    for (const Reader& r : kReaders) {
        runs.push_back(std::async(std::launch::async, [&r, &file] {
            if (r.letter == 'l' && file.extension() != ".flac") return RunResult{};
            return runShell(r.command + " " + quoted(file.string()));
        }));
    }
    View v;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Reader& r = kReaders[i];
        const RunResult run = runs[i].get();
        if (r.letter == 'l' && file.extension() != ".flac") continue;
        EXPECT_EQ(run.status, 0) << r.name << ": " << run.output;
        bool past = false;
        for (const std::string& line : linesOf(run.output)) {
            if (skipped(r, line, past)) continue;
            auto [key, value] = r.split(line);
            if (r.isCode(key, value)) {
                // mediainfo joins the values of two places with " / ".
                for (std::size_t at; (at = value.find(" / ")) != std::string::npos;) {
                    v.codes.insert(r.name + (": " + value.substr(0, at)));
                    value.erase(0, at + 3);
                }
                v.codes.insert(r.name + (": " + value));
            } else {
                v.rest.push_back(r.name + (": " + key + "=" + value));
            }
        }
    }
    std::sort(v.rest.begin(), v.rest.end());  // a write may move a tag: order aside
    return v;
}

std::set<std::string> seenBy(const char* letters, const std::string& code) {
    std::set<std::string> seen;
    for (const Reader& r : kReaders) {
        if (std::string(letters).find(r.letter) != std::string::npos)
            seen.insert(r.name + (": " + code));
    }
    return seen;
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
    EXPECT_GT(readFile(samples).size(), 30000u);
    return {r.output, runShell("sha256sum < " + quoted(samples.string())).output,
            runShell("cat " + quoted(packets.string())).output};
}

// Half a second of two tones in stereo and a tiny cover picture, made once, copied into `dir`;
// false (the test skips) when a tool is missing (scripts/setup.sh installs them all).
bool sources(const TempDir& dir) {
    static TempDir shared;
    static const bool made =
        runShell(
            "which ffmpeg ffprobe flac metaflac lame exiftool kid3-cli mediainfo mid3v2 && "
            "/usr/bin/python3 -c 'import mutagen' && cd " +
            quoted(shared.path().string()) + " && " + kFF +
            "-f lavfi -i sine=frequency=440:duration=0.5 -f lavfi -i "
            "sine=frequency=660:duration=0.5 -filter_complex amerge -ac 2 -ar 44100 -c:a "
            "pcm_s16le source.wav && " +
            kFF + "-f lavfi -i color=c=red:s=32x32:d=1 -frames:v 1 cover.png")
            .status == 0;
    if (made) {
        for (const char* name : {"source.wav", "cover.png"})
            fs::copy_file(shared / name, dir / name);
    }
    return made;
}

// A file as a tool makes it: `make` runs in the folder where source.wav and cover.png are.
// `seen`: the readers (their letters) that see the code PELORIX writes. `theirs`: the file comes
// with kTheirs stored by the tool, which --read must show and a write must replace everywhere.
struct Made {
    const char* name;
    const char* file;
    std::string make;
    const char* seen;
    bool theirs = false;
};

const std::string kTags = " -metadata title=Song -metadata artist=Band ";
const std::string kIsrc = " -metadata ISRC=" + kTheirs + " ";
const std::string kCover =
    "-i source.wav -i cover.png -map 0 -map 1 -c:v copy -disposition:v attached_pic ";
const std::string kKid3 =
    "kid3-cli -c 'set title Song' -c 'set artist Band' -c 'set isrc " + kTheirs + "' ";

std::vector<Made> madeFiles() {
    return {
        // Untagged and tagged files of each kind, written and cleared by PELORIX. ffmpeg prefers
        // a WAV file's LIST/INFO tags and then ignores its ID3 chunk altogether.
        {"ffmpeg_wav", "a.wav", kFF + "-i source.wav -map_metadata -1 -fflags +bitexact a.wav",
         "fmxki"},
        {"ffmpeg_wav_info", "a.wav", kFF + "-i source.wav" + kTags + "a.wav", "mxki"},
        {"ffmpeg_aiff", "a.aiff", kFF + "-i source.wav -write_id3v2 1" + kTags + "a.aiff", "fmxki"},
        {"ffmpeg_aifc_float", "a.aifc", kFF + "-i source.wav -c:a pcm_f32be -f aiff a.aifc", "fmx"},
        {"ffmpeg_flac", "a.flac", kFF + kCover + "-c:a flac" + kTags + "a.flac", "fmxkil"},
        {"ffmpeg_mp3_v24", "a.mp3", kFF + kCover + "-c:a libmp3lame" + kTags + "a.mp3", "fmxki"},
        {"ffmpeg_mp3_v23", "a.mp3",
         kFF + kCover + "-c:a libmp3lame -id3v2_version 3" + kTags + "a.mp3", "fmxki"},
        {"ffmpeg_aac_moov_last", "a.m4a", kFF + kCover + "-c:a aac -b:a 96k" + kTags + "a.m4a",
         "fmxki"},
        {"ffmpeg_alac_moov_first", "a.m4a",
         kFF + kCover + "-c:a alac -movflags +faststart" + kTags + "a.m4a", "fmxki"},
        {"flac_tool", "a.flac",
         "flac -s -f --tag=TITLE=Song --tag=ARTIST=Band --picture=cover.png -o a.flac source.wav",
         "fmxkil"},
        {"lame_tool", "a.mp3", "lame --quiet --tt Song --ta Band --ti cover.png source.wav a.mp3",
         "fmxki"},
        {"lame_tool_untagged", "a.mp3", "lame --quiet source.wav a.mp3", "fmxki"},

        // Files another tool has coded already, in the place it chooses.
        {"ffmpeg_mp3_txxx", "a.mp3", kFF + kCover + "-c:a libmp3lame" + kTags + kIsrc + "a.mp3",
         "fmxki", true},
        {"ffmpeg_aiff_txxx", "a.aiff",
         kFF + "-i source.wav -write_id3v2 1" + kTags + kIsrc + "a.aiff", "fmxki", true},
        {"ffmpeg_wav_info_isrc", "a.wav", kFF + "-i source.wav" + kTags + kIsrc + "a.wav", "fmxki",
         true},
        {"ffmpeg_flac_isrc", "a.flac", kFF + "-i source.wav" + kTags + kIsrc + "a.flac", "fmxkil",
         true},
        {"ffmpeg_m4a_mdta", "a.m4a",
         kFF + "-i source.wav -c:a aac -movflags use_metadata_tags" + kTags + kIsrc + "a.m4a",
         "fmxki", true},
        {"exiftool_m4a_isr", "a.m4a",
         kFF + "-i source.wav -c:a aac" + kTags +
             "a.m4a && exiftool -q -overwrite_original "
             "-UserData:ISRCCode=" +
             kTheirs + " a.m4a",
         "fmxki", true},
        {"mutagen_mp3_v23", "a.mp3",
         "lame --quiet --tt Song source.wav a.mp3 && mid3v2 --TSRC " + kTheirs + " a.mp3", "fmxki",
         true},
        // kid3 names its chunk "ID3 ", which only mutagen, kid3 and mediainfo read in a WAV.
        {"kid3_wav", "a.wav", kFF + "-i source.wav -map_metadata -1 a.wav && " + kKid3 + "a.wav",
         "mki", true},
        {"kid3_aiff", "a.aiff", kFF + "-i source.wav a.aiff && " + kKid3 + "a.aiff", "fmxki", true},
        {"kid3_m4a", "a.m4a", kFF + "-i source.wav -c:a aac a.m4a && " + kKid3 + "a.m4a", "fmxki",
         true},
        {"metaflac_flac", "a.flac",
         "flac -s -f --tag=TITLE=Song -o a.flac source.wav && metaflac --set-tag=ISRC=" + kTheirs +
             " a.flac",
         "fmxkil", true},
    };
}

void PrintTo(const Made& m, std::ostream* os) {
    *os << m.make;
}

class Interop : public ::testing::TestWithParam<Made> {};

}  // namespace

TEST_P(Interop, EveryReaderSeesTheCodeAndTheSameTagsAndAudio) {
    const Made& m = GetParam();
    TempDir dir;
    if (!sources(dir)) GTEST_SKIP() << "a tool of scripts/setup.sh is not installed";
    const RunResult made = runShell("cd " + quoted(dir.path().string()) + " && " + m.make);
    ASSERT_EQ(made.status, 0) << m.make << "\n" << made.output;
    const fs::path file = dir / m.file;
    const View before = view(file);
    const Lines decoded = decode(file);
    EXPECT_EQ(decoded[0], "");
    // The tool's code, where it put it, is the file's code to every mode.
    for (const std::string& code : before.codes)
        EXPECT_EQ(code.substr(code.find(' ') + 1), kTheirs);
    EXPECT_EQ(before.codes.empty(), !m.theirs);
    EXPECT_EQ(runPelorix(dir.path(), {"--read", file.string()}).out,
              file.string() + "\t" + (m.theirs ? "GB-AYE-26-00077" : "-") + "\n");

    // Written, then removed: in each state every reader finds the one code, or none, and nothing
    // else changed: tags, streams, cover art, form type, samples, packets, clean decoding.
    for (const bool removing : {false, true}) {
        SCOPED_TRACE(removing ? "after --remove" : "after --write");
        const Outcome run =
            runPelorix(dir.path(), removing ? Lines{"--remove", file.string()}
                                            : Lines{"--write", kShown, file.string()});
        EXPECT_EQ(run.out + run.err, "OK " + file.string() + "\n");
        EXPECT_EQ(runPelorix(dir.path(), {"--read", file.string()}).out,
                  file.string() + "\t" + (removing ? "-" : kShown) + "\n");
        const View now = view(file);
        EXPECT_EQ(now.codes, removing ? std::set<std::string>{} : seenBy(m.seen, kCode));
        EXPECT_EQ(now.rest, before.rest);
        EXPECT_EQ(decode(file), decoded);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Interop, ::testing::ValuesIn(madeFiles()),
                         [](const auto& info) { return std::string(info.param.name); });
