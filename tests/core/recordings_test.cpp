// SPDX-License-Identifier: MIT
// The same-recording rule on real music: sample digests against the FLAC encoder's, what files
// say about themselves, and every pair of a set of masters, copies and edits judged.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "core/io/binary_io.h"
#include "core/recordings/about.h"
#include "core/recordings/digest.h"
#include "core/recordings/grouping.h"
#include "core/recordings/listen.h"
#include "core/recordings/recording.h"
#include "support/chunk_builder.h"
#include "support/files.h"

namespace fs = std::filesystem;
using namespace pelorix;
using namespace pelorix::recordings;
using test::runShell;

namespace {

const char* const kMusic = "/usr/share/games/asc/music/frontiers.mp3";

bool have(const std::string& tools) {
    return fs::exists(kMusic) &&
           runShell("for t in " + tools + "; do command -v $t; done").status == 0;
}

std::optional<std::string> digestOf(const fs::path& p) {
    const FileIn in(p);
    return sampleDigest(in, formats::AudioFormat::detect(in));
}

// Three seconds of real music in `codec`, written by ffmpeg.
fs::path excerpt(const test::TempDir& dir, const std::string& name, const std::string& options) {
    const fs::path p = dir / name;
    const auto r = runShell("ffmpeg -nostdin -v error -y -t 3 -i " + std::string(kMusic) +
                            " -map_metadata -1 " + options + " '" + p.string() + "'");
    EXPECT_EQ(r.status, 0) << r.output;
    return p;
}

TEST(SampleDigest, EveryLosslessFormEqualsTheDigestOfTheFLACMadeFromIt) {
    if (!have("ffmpeg flac")) GTEST_SKIP() << "needs asc-music, ffmpeg and flac";
    test::TempDir dir;
    const struct {
        std::string name, codec;
        int bits;
    } lossless[] = {
        {"u8.wav", "pcm_u8", 8},       {"s8.aiff", "pcm_s8", 8},       {"s16.wav", "pcm_s16le", 16},
        {"s16.aiff", "pcm_s16be", 16}, {"sowt.aiff", "pcm_s16le", 16}, {"s24.wav", "pcm_s24le", 24},
        {"s24.aiff", "pcm_s24be", 24}, {"s32.wav", "pcm_s32le", 32},
    };
    std::map<int, std::set<std::string>> byBits;
    for (const auto& c : lossless) {
        SCOPED_TRACE(c.name);
        const fs::path p = excerpt(dir, c.name, "-c:a " + c.codec);
        const fs::path flac = dir / (c.name + ".flac");
        ASSERT_EQ(runShell("flac -s -f '" + p.string() + "' -o '" + flac.string() + "'").status, 0);
        const auto digest = digestOf(p);
        ASSERT_TRUE(digest);
        EXPECT_EQ(digest, digestOf(flac));
        byBits[c.bits].insert(*digest);
    }
    // One canonical form whatever the byte order and signedness: one digest per sample size.
    std::set<std::string> all;
    for (const auto& [bits, digests] : byBits) {
        EXPECT_EQ(digests.size(), 1u) << bits << " bits";
        all.insert(digests.begin(), digests.end());
    }
    EXPECT_EQ(all.size(), 4u);
    // No digest: lossy audio, floating point, compressed AIFF-C, a FLAC that stored none.
    const fs::path none[] = {excerpt(dir, "a.mp3", ""), excerpt(dir, "a.m4a", ""),
                             excerpt(dir, "f32.wav", "-c:a pcm_f32le"),
                             excerpt(dir, "alaw.aiff", "-c:a pcm_alaw")};
    for (const auto& p : none) EXPECT_EQ(digestOf(p), std::nullopt) << p;
    Bytes flac = test::readFile(dir / "s16.wav.flac");
    std::fill(flac.begin() + 26, flac.begin() + 42, 0);
    test::writeFile(dir / "zero.flac", flac);
    EXPECT_EQ(digestOf(dir / "zero.flac"), std::nullopt);
}

std::string command(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::vector<std::string> all = {"pelorix"};  // element 0: the program's name
    all.insert(all.end(), args.begin(), args.end());
    cli::run(all, out, err);
    return out.str() + err.str();
}

TEST(About, EveryFormatSaysTitleArtistAlbumNumbersAndLength) {
    if (!have("ffmpeg")) GTEST_SKIP() << "needs asc-music and ffmpeg";
    test::TempDir dir;
    const std::string tags =
        "-metadata title=Tïtle -metadata artist=Art -metadata album=Alb -metadata track=3/12 "
        "-metadata disc=2/2 ";
    const struct {
        std::string name, options;
        std::optional<unsigned> disc;
    } cases[] = {
        {"a.mp3", "", 2u},
        {"a.flac", "", 2u},
        {"a.m4a", "", 2u},
        {"id3.aiff", "-write_id3v2 1", 2u},
        {"info.wav", "", std::nullopt},  // LIST INFO has no disc number
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const About a = about(excerpt(dir, c.name, tags + c.options));
        EXPECT_EQ(a.title, "Tïtle");
        EXPECT_EQ(a.artist, "Art");
        EXPECT_EQ(a.album, "Alb");
        EXPECT_EQ(a.track, 3u);
        EXPECT_EQ(a.disc, c.disc);
        EXPECT_NEAR(a.seconds, 3.0, 0.1);  // encoders pad a frame or two
    }
    // The command line shows it: in JSON lines of --read and --audit, and in --audit's text.
    const std::string mp3 = (dir / "a.mp3").string();
    const std::string fields =
        "\"title\":\"T\\u00eftle\",\"artist\":\"Art\",\"album\":\"Alb\","
        "\"track\":3,\"disc\":2,\"seconds\":3.";
    for (const auto& args : {std::vector<std::string>{"--json", "--read", mp3},
                             std::vector<std::string>{"--json", "--audit", mp3}}) {
        EXPECT_NE(command(args).find(fields), std::string::npos) << args[1];
    }
    EXPECT_NE(command({"--audit", mp3})
                  .find("\tthe file says\ttitle \"Tïtle\", artist \"Art\", "
                        "album \"Alb\", track 3, disc 2, 0:03\n"),
              std::string::npos);
    // Untagged and in the other chunk file: nothing said, the length still known.
    const About bare = about(excerpt(dir, "bare.aiff", ""));
    About expected;
    expected.seconds = bare.seconds;
    EXPECT_EQ(bare, expected);
    EXPECT_NEAR(bare.seconds, 3.0, 0.01);
}

// scripts/recording-set.sh: per track t<N>/, master.wav with its copies and louder.wav are one
// recording; radio, fade and remix are one each.
std::string recordingIn(const fs::path& p) {
    const std::string stem = p.stem().string();
    const bool edit = stem == "radio" || stem == "fade" || stem == "remix";
    return p.parent_path().filename().string() + "/" + (edit ? stem : "master");
}

TEST(SameRecording, MastersCopiesAndEditsOfRealMusicAreToldApart) {
    if (!have("ffmpeg flac lame fpcalc")) {
        GTEST_SKIP() << "needs asc-music, ffmpeg, flac, lame and fpcalc (libchromaprint-tools)";
    }
    test::TempDir dir;
    const auto made = runShell("bash " PELORIX_SOURCE_DIR "/scripts/recording-set.sh '" +
                               dir.path().string() + "' 40 3");
    ASSERT_EQ(made.status, 0) << made.output;
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 30u);

    const Grouping g = group(files);
    // louder.wav and remix.wav last as long as master.flac to the sample, but a piece of their
    // middle differs from the FLAC's: they are not read to the end; master.wav is.
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string name = files[i].filename().string();
        if (name == "louder.wav" || name == "remix.wav" || name == "master.wav") {
            EXPECT_EQ(g.members[i].identity.pcmDigest.has_value(), name == "master.wav")
                << files[i];
        }
    }
    std::vector<Identity> ids;
    for (const auto& f : files) ids.push_back(identify(f));
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(g.members[i].undecided, "") << files[i];
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            const bool same = recordingIn(files[i]) == recordingIn(files[j]);
            const Comparison c = compare(ids[i], ids[j]);
            EXPECT_EQ(c.verdict, same ? Verdict::same : Verdict::different)
                << files[i] << " ~ " << files[j] << ": " << c.reason;
            EXPECT_EQ(g.members[i].recording == g.members[j].recording, same)
                << files[i] << " ~ " << files[j];
        }
    }

    // Without fpcalc the WAVs are still heard in this process, without either nothing is; the
    // samples tie the master to its FLAC, and the MP3 says what could not be checked.
    const struct {
        const char* chromaprint;
        bool louderJoined;
    } deafness[] = {{nullptr, true}, {"", false}};
    for (const auto& d : deafness) {
        SCOPED_TRACE(d.chromaprint ? "no library" : "the library");
        ::setenv("PELORIX_FPCALC", "", 1);
        if (d.chromaprint) ::setenv("PELORIX_CHROMAPRINT", d.chromaprint, 1);
        const Grouping deaf = group(files);
        ::unsetenv("PELORIX_FPCALC");
        ::unsetenv("PELORIX_CHROMAPRINT");
        std::map<std::string, const Member*> t0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (files[i].parent_path().filename() == "t0") {
                t0[files[i].filename()] = &deaf.members[i];
            }
        }
        EXPECT_EQ(t0["master.flac"]->recording, t0["master.wav"]->recording);
        EXPECT_EQ(t0["louder.wav"]->recording == t0["master.wav"]->recording, d.louderJoined);
        EXPECT_NE(t0["v0.mp3"]->recording, t0["master.wav"]->recording);
        EXPECT_NE(t0["v0.mp3"]->undecided.find("fpcalc"), std::string::npos)
            << t0["v0.mp3"]->undecided;
        EXPECT_EQ(t0["louder.wav"]->undecided.empty(), false);
    }
}

TEST(SameRecording, ADecoderThatHangsIsStoppedAndSaysSo) {
    if (!have("ffmpeg")) GTEST_SKIP() << "needs asc-music and ffmpeg";
    test::TempDir dir;
    const fs::path mp3 = excerpt(dir, "a.mp3", "");
    const fs::path tool = dir / "fpcalc", pidFile = dir / "pid";
    // It starts a child of its own and waits for it, as a decoder stuck on a network file would.
    test::writeFile(
        tool, test::bytesOf("#!/bin/sh\nsleep 60 &\necho $! > '" + pidFile.string() + "'\nwait\n"));
    fs::permissions(tool, fs::perms::owner_all);
    ::setenv("PELORIX_FPCALC", tool.c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    const Heard heard = hear(mp3, std::chrono::milliseconds(2000));
    ::unsetenv("PELORIX_FPCALC");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(heard.items.empty());
    EXPECT_EQ(heard.problem, "fpcalc took longer than 2 s and was stopped");
    // Its child went with it: gone, or a zombie waiting to be reaped (dying takes a moment).
    std::string pid;
    std::ifstream(pidFile) >> pid;
    ASSERT_FALSE(pid.empty());
    std::string state = "Z";
    for (int tries = 0; tries < 50; ++tries) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string line;
        if (!std::getline(stat, line)) break;
        state = line.substr(line.rfind(')') + 2, 1);
        if (state == "Z") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(state, "Z");
}

TEST(SameRecording, NamesTieFilesOfOneFolderOnly) {
    test::TempDir dir;
    fs::create_directories(dir / "CD1");
    fs::create_directories(dir / "CD2");
    fs::create_directories(dir / "Shop");
    std::vector<fs::path> files = {dir / "CD1/01 Intro.wav", dir / "CD2/01 Intro.wav",
                                   dir / "CD1/01 Intro.aiff", dir / "CD1/02 Song.wav",
                                   dir / "Shop/Opening.wav"};
    namespace chunks = test::chunks;
    test::writeFile(files[0], chunks::wav(4410));
    test::writeFile(
        files[1],
        chunks::file({.chunks = {chunks::wavFormat(), {"data", chunks::audio(4410 * 4, 9)}}}));
    test::writeFile(files[2], chunks::aiff(4410));
    test::writeFile(files[3], chunks::wav(88200));
    test::writeFile(files[4], chunks::wav(4410));
    // Two seconds like 02 Song.wav: its very samples, and the same but for one sample near the
    // start, far from the piece of the middle that is looked at first.
    fs::create_directories(dir / "Long");
    files.push_back(dir / "Long/a.wav");
    files.push_back(dir / "Long/b.wav");
    test::writeFile(files[5], chunks::wav(88200));
    Bytes nearly = chunks::wav(88200);
    nearly[std::size_t(std::search(nearly.begin(), nearly.end(), "data", "data" + 4) -
                       nearly.begin()) +
           10] ^= 1;
    test::writeFile(files[6], nearly);
    // The same samples again, 24 bits in 32-bit containers (WAVE_FORMAT_EXTENSIBLE) and packed
    // in three bytes: what differs is where they lie in the file.
    Bytes wide, packed;
    const Bytes noise = chunks::audio(88200 * 6);
    for (std::size_t i = 0; i < noise.size(); i += 3) {
        wide.insert(wide.end(), {0, noise[i], noise[i + 1], noise[i + 2]});
        packed.insert(packed.end(), {noise[i], noise[i + 1], noise[i + 2]});
    }
    const Bytes extensible = {0xFE, 0xFF, 2,    0, 0x44, 0xAC, 0, 0,    0x20, 0x62, 5,    0,   8, 0,
                              32,   0,    22,   0, 24,   0,    3, 0,    0,    0,    1,    0,   0, 0,
                              0,    0,    0x10, 0, 0x80, 0,    0, 0xAA, 0,    0x38, 0x9B, 0x71};
    const Bytes threeBytes = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x98, 0x09, 4, 0, 6, 0, 24, 0};
    files.push_back(dir / "Long/wide.wav");
    files.push_back(dir / "Shop/packed.wav");
    test::writeFile(files[7], chunks::file({.chunks = {{"fmt ", extensible}, {"data", wide}}}));
    test::writeFile(files[8], chunks::file({.chunks = {{"fmt ", threeBytes}, {"data", packed}}}));
    ::setenv("PELORIX_FPCALC", "", 1);
    ::setenv("PELORIX_CHROMAPRINT", "", 1);
    const Grouping g = group(files);
    ::unsetenv("PELORIX_FPCALC");
    ::unsetenv("PELORIX_CHROMAPRINT");
    EXPECT_EQ(g.members[2].recording, g.members[0].recording);
    EXPECT_EQ(g.members[2].reason, "the same name and length as " + files[0].string());
    EXPECT_NE(g.members[1].recording, g.members[0].recording);
    EXPECT_NE(g.members[1].undecided, "");  // as long as CD1's: only listening could tell
    EXPECT_NE(g.members[3].recording, g.members[0].recording);
    // Two seconds against a tenth: never taken for an intro (only for the nearly equal one).
    EXPECT_EQ(g.members[3].undecided.find("Intro"), std::string::npos) << g.members[3].undecided;
    EXPECT_EQ(g.members[4].recording, g.members[0].recording);
    EXPECT_EQ(g.members[4].reason, "the same samples as " + files[0].string());
    EXPECT_EQ(g.members[5].reason, "the same samples as " + files[3].string());
    EXPECT_NE(g.members[6].recording, g.members[3].recording);
    EXPECT_NE(g.members[6].undecided, "");
    // A middle unlike every other lossless file's: not read to the end.
    EXPECT_EQ(g.members[1].identity.pcmDigest, std::nullopt);
    EXPECT_EQ(g.members[8].reason, "the same samples as " + files[7].string());
    EXPECT_EQ(g.recordings, 5u);
}

}  // namespace
