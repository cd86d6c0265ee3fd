// SPDX-License-Identifier: MIT
// The built-in self test: its child-process runner, its sample files, the ffmpeg adapter that
// stands in for the platform converter, and whole runs of `pelorix --selftest` with working,
// missing and broken tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "cli/process.h"
#include "cli/self_test.h"
#include "core/formats/detect.h"
#include "core/tag_error.h"
#include "e2e_support.h"

using namespace pelorix;
using namespace pelorix::test;
using e2e::linesOf;
using e2e::quoted;
namespace fs = std::filesystem;

TEST(ProcessTest, PassesArgumentsVerbatimAndJoinsBothStreams) {
    struct Case {
        std::string program;
        std::vector<std::string> args;
        int status;
        std::string output;
    };
    const Case cases[] = {
        {"sh", {"-c", "printf out; printf err >&2; exit 3"}, 3, "outerr"},
        // No shell in between: spaces, quotes and dollars arrive untouched.
        {"printf", {"%s|", "a b", "$HOME", "'q' \"r\"", "*"}, 0, "a b|$HOME|'q' \"r\"|*|"},
        {"printf",
         {"a\\377b"},
         0,
         "a\xEF\xBF\xBD"
         "b"},                                               // invalid UTF-8 becomes U+FFFD
        {"sh", {"-c", "read x; echo got:$x"}, 0, "got:\n"},  // standard input is empty
        {"sh", {"-c", "kill -KILL $$"}, 128 + 9, ""},
        // Only the first mebibyte is kept; the rest is drained and the child still reaped.
        {"sh",
         {"-c", "head -c 3000000 /dev/zero | tr '\\0' a; exit 5"},
         5,
         std::string(kMaxProcessOutput, 'a')},
        {"/nonexistent/tool", {}, -1, "No such file or directory"},
        {"pelorix-no-such-tool", {"x"}, -1, "No such file or directory"},
    };
    for (const auto& c : cases) {
        const ProcessResult r = runProcess(c.program, c.args);
        EXPECT_EQ(r.status, c.status) << c.program << " " << c.args.front();
        EXPECT_TRUE(r.output == c.output) << c.program << " gave " << r.output.substr(0, 80);
    }
}

TEST(SampleFiles, OtherReadersOpenThemAsMade) {
    TempDir dir;
    SelfTest::makeWAV(dir / "plain.wav", false);
    SelfTest::makeWAV(dir / "tag.wav", true);
    SelfTest::makeMP3(dir / "t.mp3");
    const RunResult r = runShell(
        "cd " + quoted(dir.path().string()) + " && /usr/bin/python3 -c " +
        quoted("import mutagen.wave, mutagen.mp3\n"
               "for name in ('plain.wav', 'tag.wav'):\n"
               "    f = mutagen.wave.WAVE(name)\n"
               "    print(f.info.sample_rate, f.info.channels, f.info.bits_per_sample,\n"
               "          f.info.length, f.tags['TIT2'].text[0] if f.tags else '-')\n"
               "f = mutagen.mp3.MP3('t.mp3')\n"
               "print(f.tags.version, f.tags['TIT2'].text[0], len(f.tags.getall('APIC')),\n"
               "      f.info.sample_rate, f.info.bitrate)\n"));
    EXPECT_EQ(r.output,
              "44100 1 16 1.0 -\n"
              "44100 1 16 1.0 Hello\n"
              "(2, 4, 0) Hello MP3 1 44100 128000\n");
}

TEST(ConverterTest, EachConversionMakesItsFormatWithoutMetadata) {
    TempDir dir;
    const fs::path src = dir / "src.wav";
    SelfTest::makeWAV(src, false);
    const SelfTest::Tools tools = SelfTest::Tools::ffmpeg();

    const std::map<std::string, std::pair<AudioFormat::Kind, std::string>> expected = {
        {"AIFF", {AudioFormat::aiff, "pcm_s16be"}},
        {"FLAC", {AudioFormat::flac, "flac"}},
        {"M4A-AAC", {AudioFormat::m4a, "aac"}},
        {"M4A-ALAC", {AudioFormat::m4a, "alac"}}};
    ASSERT_EQ(SelfTest::conversions().size(), expected.size());
    std::set<bool> moovFirst;
    for (const auto& c : SelfTest::conversions()) {
        SCOPED_TRACE(c.label);
        const auto& [kind, codec] = expected.at(c.label);
        const fs::path out = dir / (c.label + "." + c.extension);
        const ProcessResult r = SelfTest::convert(tools, c.target, src, out);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(AudioFormat::detect(out).kind(), kind);
        EXPECT_EQ(runProcess("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of",
                                         "default=nw=1", out.string()})
                      .output,
                  "codec_name=" + codec + "\n");

        const Bytes f = readFile(out);
        EXPECT_EQ(countOf(f, "Test Title"), 0u) << "metadata was carried over";
        EXPECT_EQ(countOf(f, "Lavf"), 0u) << "encoder name written";
        if (kind == AudioFormat::m4a) {
            const auto at = [&](const std::string& type) {
                return std::search(f.begin(), f.end(), type.begin(), type.end());
            };
            ASSERT_TRUE(at("moov") != f.end() && at("mdat") != f.end());
            EXPECT_EQ(at("moov") < at("mdat"), c.target.moovFirst);
            moovFirst.insert(at("moov") < at("mdat"));
        }
    }
    EXPECT_EQ(moovFirst.size(), 2u) << "both MP4 layouts are exercised";
}

TEST(PcmHashTest, DependsOnTheSoundAloneAndDecodesToShortHeaderedPcm) {
    TempDir dir;
    const SelfTest::Tools tools = SelfTest::Tools::ffmpeg();
    const fs::path plain = dir / "plain.wav", tagged = dir / "tagged.wav";
    SelfTest::makeWAV(plain, false);
    SelfTest::makeWAV(tagged, true);
    const Bytes original = readFile(plain);
    Bytes changed = original;
    changed[56 + 2 * 30000] ^= 0x01;  // one sample, far beyond the decoded header
    writeFile(dir / "changed.wav", changed);
    writeFile(dir / "noise.wav", bytesOf("not audio at all"));

    const auto h = SelfTest::pcmHash(tools, plain, dir.path());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->size(), 64u);
    EXPECT_EQ(SelfTest::pcmHash(tools, tagged, dir.path()), h);
    EXPECT_NE(SelfTest::pcmHash(tools, dir / "changed.wav", dir.path()), h);
    EXPECT_FALSE(SelfTest::pcmHash(tools, dir / "noise.wav", dir.path()));
    EXPECT_FALSE(SelfTest::pcmHash(tools, dir / "missing.wav", dir.path()));

    // The decode ends in the tone's samples exactly as the WAV holds them (16-bit little-endian
    // mono), behind a header shorter than the part the hash skips.
    const fs::path caf = dir / "decoded.caf";
    ASSERT_EQ(SelfTest::convert(tools, SelfTest::decodeTarget(), plain, caf).status, 0);
    const Bytes decoded = readFile(caf);
    const Bytes samples(original.begin() + 56, original.begin() + 56 + 88200);
    ASSERT_GT(decoded.size(), samples.size());
    EXPECT_EQ(std::string(decoded.begin(), decoded.begin() + 4), "caff");
    EXPECT_LT(decoded.size() - samples.size(), 4096u);
    EXPECT_TRUE(
        std::equal(samples.begin(), samples.end(), decoded.end() - std::ptrdiff_t(samples.size())));
}

// ---- whole runs -------------------------------------------------------------------------------

namespace {

const std::vector<std::string> kAll = {"WAV",     "WAV+ID3",  "AIFF",         "FLAC",
                                       "M4A-AAC", "M4A-ALAC", "MP3 (ID3v2.4)"};
const std::vector<std::string> kConverted = {"AIFF", "FLAC", "M4A-AAC", "M4A-ALAC"};
const std::vector<std::string> kBuiltHere = {"WAV", "WAV+ID3", "MP3 (ID3v2.4)"};

struct Case {
    const char* name;
    // The ffmpeg found through PATH: the real tools when absent; otherwise a script of this body
    // alone ("" for no ffmpeg and no ffprobe at all).
    std::optional<std::string> ffmpeg;
    bool tmpExists;
    int status;
    std::string summary;  // a pattern for the last line
    std::vector<std::string> scenarios;
    std::vector<std::string> failures;  // how lines that must be there begin, after "  FAIL: "
};

std::vector<Case> cases() {
    std::vector<std::string> noConverter;
    for (const auto& label : kBuiltHere) {
        noConverter.push_back(label + ": ffmpeg decodes to identical PCM");
        noConverter.push_back(label + ": ffprobe opens the file (-1)");
    }
    auto plus = [&](const std::string& why) {
        std::vector<std::string> lines = noConverter;
        for (const auto& label : kConverted) lines.push_back(label + ": ffmpeg failed: " + why);
        return lines;
    };
    return {
        {"Working", std::nullopt, true, 0, "88 ok, 0 failed", kAll, {}},
        // Each file made here: no decode (one step fails, the other passes) and no ffprobe.
        {"MissingConverter", "", true, 1, "38 ok, 10 failed", kBuiltHere,
         plus("No such file or directory")},
        {"FailingConverter", "echo 'boom: cannot convert'; exit 1", true, 1, "38 ok, 10 failed",
         kBuiltHere, plus("boom: cannot convert")},
        // It claims success but writes something that is not audio: the scenarios end there.
        {"ConverterWritesNoAudio",
         "for last; do :; done; printf 'plain text, not audio' > \"${last#file:}\"",
         true,
         1,
         "[0-9]+ ok, [1-9][0-9]* failed",
         {"WAV", "WAV+ID3", "AIFF"},
         {"unexpected error: " + std::string(msg::unsupportedType)}},
        // Only the code parser's checks run.
        {"NoTemporaryFolder",
         std::nullopt,
         false,
         1,
         "4 ok, 1 failed",
         {},
         {"unexpected error: Cannot create the work folder"}},
    };
}

class SelfTestRun : public ::testing::TestWithParam<Case> {};

}  // namespace

// Each run is `pelorix --selftest` with TMPDIR a relative name that ffmpeg would take for a
// protocol, so every path it hands the tools must be marked as a file.
TEST_P(SelfTestRun, ReportsEveryCheckAndLeavesNothingBehind) {
    const Case& run = GetParam();
    TempDir cwd;
    const fs::path tmp = cwd / "mmsh:tmp";
    if (run.tmpExists) fs::create_directory(tmp);
    std::string prefix = "cd " + quoted(cwd.path().string()) + " && TMPDIR=mmsh:tmp";
    if (run.ffmpeg) {
        fs::create_directory(cwd / "bin");
        if (!run.ffmpeg->empty()) {
            std::ofstream(cwd / "bin" / "ffmpeg") << "#!/bin/sh\n" << *run.ffmpeg << "\n";
            fs::permissions(cwd / "bin" / "ffmpeg", fs::perms::owner_all);
        }
        prefix += " PATH=" + quoted((cwd / "bin").string());
    }
    const RunResult r = e2e::pelorix({"--selftest"}, prefix);
    EXPECT_EQ(r.status, run.status);
    if (run.tmpExists) {
        EXPECT_EQ(fs::directory_iterator(tmp), fs::directory_iterator()) << "work folder left";
    }

    const std::vector<std::string> lines = linesOf(r.output);
    ASSERT_GE(lines.size(), 2u) << r.output;
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("PELORIX selftest: " + run.summary)))
        << lines.back();
    // The rest: scenario headers, failures, and notes that ffprobe shows the code.
    std::vector<std::string> scenarios, failures;
    for (auto it = lines.begin(); it + 2 < lines.end(); ++it) {
        if (it->starts_with("== ")) {
            scenarios.push_back(it->substr(3));
        } else if (it->starts_with("  FAIL: ")) {
            failures.push_back(it->substr(8));
        } else {
            EXPECT_EQ(*it, "  (ffprobe shows the ISRC)");
        }
    }
    EXPECT_EQ(scenarios, run.scenarios);
    EXPECT_NE(lines.back().find(" " + std::to_string(failures.size()) + " failed"),
              std::string::npos)
        << "one line per failure";
    for (const std::string& expected : run.failures) {
        EXPECT_TRUE(std::any_of(failures.begin(), failures.end(), [&](const std::string& line) {
            return line.starts_with(expected);
        })) << expected;
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, SelfTestRun, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });
