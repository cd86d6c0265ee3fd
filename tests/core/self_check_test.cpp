// SPDX-License-Identifier: MIT
// The built-in self test: its child-process runner, the ffmpeg adapter of its converter, the
// decoded-sound hash, and whole runs of `pelorix --selftest` with working and broken tools.

#include <algorithm>
#include <set>

#include "cli/process.h"
#include "cli/self_check.h"
#include "core/formats/format.h"
#include "e2e_support.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;

TEST(ProcessTest, PassesArgumentsVerbatimAndJoinsBothStreams) {
    const std::tuple<std::string, std::vector<std::string>, int, std::string> cases[] = {
        {"sh", {"-c", "printf out; printf err >&2; exit 3"}, 3, "outerr"},
        // No shell in between: spaces, quotes and dollars arrive untouched.
        {"printf", {"%s|", "a b", "$HOME", "'q' \"r\"", "*"}, 0, "a b|$HOME|'q' \"r\"|*|"},
        {"printf", {"a\\377b"}, 0, "a\uFFFDb"},              // invalid UTF-8 becomes U+FFFD
        {"sh", {"-c", "read x; echo got:$x"}, 0, "got:\n"},  // standard input is empty
        {"sh", {"-c", "kill -KILL $$"}, 128 + 9, ""},
        // Only the first mebibyte is kept; the rest is drained and the child still reaped.
        {"sh",
         {"-c", "head -c 3000000 /dev/zero | tr '\\0' a; exit 5"},
         5,
         std::string(kMaxProcessOutput, 'a')},
        {"pelorix-no-such-tool", {"x"}, -1, "No such file or directory"},
    };
    for (const auto& [program, args, status, output] : cases) {
        const ProcessResult r = runProcess(program, args);
        EXPECT_EQ(r.status, status) << program << " " << args.front();
        EXPECT_TRUE(r.output == output) << program << " gave " << r.output.substr(0, 80);
    }
}

TEST(ConverterTest, EachConversionMakesItsFormatAndTheSoundDecidesTheHash) {
    TempDir dir;
    const auto ffmpeg = cli::self_check::ffmpegConverter();
    const fs::path src = dir / "src.wav";
    cli::self_check::makeWAV(src, false);
    std::set<bool> indexFirst;
    for (const auto& c : cli::self_check::conversions()) {
        SCOPED_TRACE(c.label);
        const fs::path out = dir / (c.label + "." + c.extension);
        const ProcessResult r = ffmpeg->convert(c.target, src, out);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(formats::AudioFormat::detect(out),
                  c.extension == "aiff"   ? formats::AudioFormat::aiff
                  : c.extension == "flac" ? formats::AudioFormat::flac
                                          : formats::AudioFormat::m4a);
        EXPECT_EQ(runShell("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " +
                           quoted(out.string()))
                      .output,
                  std::string(c.target.codec == "pcm16be" ? "pcm_s16be" : c.target.codec) + "\n");
        const Bytes f = readFile(out);
        EXPECT_EQ(countOf(f, "Test Title") + countOf(f, "Lavf"), 0u) << "metadata carried over";
        const auto at = [&](const std::string& t) {
            return std::search(f.begin(), f.end(), t.begin(), t.end());
        };
        if (c.extension == "m4a") indexFirst.insert(at("moov") < at("mdat"));
    }
    EXPECT_EQ(indexFirst.size(), 2u) << "both MP4 layouts are exercised";
    EXPECT_EQ(ffmpeg->convert({"ogg", "vorbis"}, src, dir / "x.ogg").status, -1);

    // The decoded sound alone decides the hash: a tag changes nothing, one sample does.
    cli::self_check::makeWAV(dir / "tagged.wav", true);
    Bytes changed = readFile(src);
    changed[56 + 2 * 30000] ^= 0x01;
    writeFile(dir / "changed.wav", changed);
    writeFile(dir / "noise.wav", bytesOf("not audio at all"));
    const auto h = cli::self_check::pcmHash(*ffmpeg, src, dir.path());
    ASSERT_TRUE(h);
    EXPECT_EQ(cli::self_check::pcmHash(*ffmpeg, dir / "tagged.wav", dir.path()), h);
    EXPECT_NE(cli::self_check::pcmHash(*ffmpeg, dir / "changed.wav", dir.path()), h);
    EXPECT_FALSE(cli::self_check::pcmHash(*ffmpeg, dir / "noise.wav", dir.path()));
}

TEST(SampleFiles, OtherReadersOpenThemAsMade) {
    TempDir dir;
    cli::self_check::makeWAV(dir / "plain.wav", false);
    cli::self_check::makeWAV(dir / "tag.wav", true);
    cli::self_check::makeMP3(dir / "t.mp3");
    const RunResult r = runShell(
        "cd " + quoted(dir.path().string()) + " && /usr/bin/python3 -c " +
        quoted(
            "import mutagen.wave, mutagen.mp3\n"
            "for name in ('plain.wav', 'tag.wav'):\n"
            "    i = mutagen.wave.WAVE(name).info\n"
            "    print(i.sample_rate, i.channels, i.bits_per_sample, i.length)\n"
            "f = mutagen.mp3.MP3('t.mp3')\n"
            "print(f.tags.version, f.tags['TIT2'], len(f.tags.getall('APIC')), f.info.bitrate)\n"));
    EXPECT_EQ(r.output, "44100 1 16 1.0\n44100 1 16 1.0\n(2, 4, 0) Hello MP3 1 128000\n");
}

// Each run is `pelorix --selftest` with TMPDIR a relative name that ffmpeg would take for a
// protocol, so every path it hands the tools must be marked as a file; the ffmpeg found through
// PATH is the real one, or a script of the given body. Whatever happens, the work folder goes.
TEST(SelfCheckRun, ReportsEveryFailureAndLeavesNothingBehind) {
    const std::tuple<std::optional<std::string>, bool, int, std::string> cases[] = {
        {std::nullopt, true, 0, ""},
        {"echo 'boom: cannot convert'; exit 1", true, 1,
         "AIFF: ffmpeg failed: boom: cannot convert"},
        // It claims success but writes something that is not audio.
        {"for last; do :; done; printf 'plain text, not audio' > \"${last#file:}\"", true, 1,
         "unexpected error: " + msg::unsupportedType(formats::labels(", ", " and "))},
        {std::nullopt, false, 1, "unexpected error: Cannot create the work folder"},
    };
    for (const auto& [ffmpeg, tmpExists, status, failure] : cases) {
        SCOPED_TRACE(failure);
        TempDir cwd;
        if (tmpExists) fs::create_directory(cwd / "mmsh:tmp");
        std::string vars = "TMPDIR=mmsh:tmp";
        if (ffmpeg) {
            fs::create_directory(cwd / "bin");
            std::ofstream(cwd / "bin" / "ffmpeg") << "#!/bin/sh\n" << *ffmpeg << "\n";
            fs::permissions(cwd / "bin" / "ffmpeg", fs::perms::owner_all);
            vars += " PATH=" + quoted((cwd / "bin").string());
        }
        const Outcome r = runPelorix(cwd.path(), {"--selftest"}, vars);
        EXPECT_EQ(r.status, status) << r.out << r.err;
        EXPECT_EQ(r.out.find("  FAIL: " + failure) != std::string::npos, !failure.empty()) << r.out;
        EXPECT_TRUE(!tmpExists || fs::is_empty(cwd / "mmsh:tmp")) << "work folder left";
        EXPECT_TRUE(status != 0 || countOf(bytesOf(r.out), "== ") == 7) << "a format left out";
    }
}
