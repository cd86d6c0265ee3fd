// The built-in self test: its child-process runner, its sample files, the ffmpeg adapter that
// stands in for the platform converter, and whole runs with working, missing and broken tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/audio_format.h"
#include "core/binary_io.h"
#include "core/process.h"
#include "core/self_test.h"
#include "core/tag_error.h"
#include "support/files.h"

using namespace pelorix;
using pelorix::test::TempDir;
namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one scope and puts the old value back.
class EnvOverride {
public:
    EnvOverride(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::uint16_t le16(const Bytes& b, std::size_t at) { return std::uint16_t(b[at] | b[at + 1] << 8); }

std::vector<std::string> linesOf(const std::string& s) {
    std::vector<std::string> lines;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The top-level chunk ids of a RIFF file; fails the test when the sizes do not add up.
std::vector<std::string> riffChunks(const Bytes& f) {
    std::vector<std::string> ids;
    EXPECT_EQ(le32(f, 4), f.size() - 8) << "RIFF size";
    std::size_t at = 12;
    while (at + 8 <= f.size()) {
        ids.push_back(fourCC(f, at));
        at += 8 + le32(f, at + 4) + (le32(f, at + 4) & 1);
    }
    EXPECT_EQ(at, f.size()) << "chunks do not end at the end of the file";
    return ids;
}

std::string python(const std::string& script, const fs::path& file) {
    ProcessResult r = runProcess("/usr/bin/python3", {"-c", script, file.string()});
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
}

std::string probe(const fs::path& file, const std::string& entries) {
    return runProcess("ffprobe", {"-v", "error", "-show_entries", entries, "-of",
                                  "default=noprint_wrappers=1", file.string()})
        .output;
}

// The top-level MP4 box types in file order.
std::vector<std::string> mp4Boxes(const Bytes& f) {
    std::vector<std::string> types;
    for (std::size_t at = 0; at + 8 <= f.size();) {
        std::uint32_t size = be32(f, at);
        types.push_back(fourCC(f, at + 4));
        if (size < 8) break;
        at += size;
    }
    return types;
}

}  // namespace

// ---- child processes --------------------------------------------------------------------------

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
        {"printf", {"a\\377b"}, 0, "a\xEF\xBF\xBD" "b"},  // invalid UTF-8 becomes U+FFFD
        {"sh", {"-c", "read x; echo got:$x"}, 0, "got:\n"},  // standard input is empty
        {"sh", {"-c", "kill -KILL $$"}, 128 + 9, ""},
        {"/nonexistent/tool", {}, -1, "No such file or directory"},
        {"pelorix-no-such-tool", {"x"}, -1, "No such file or directory"},
    };
    for (const auto& c : cases) {
        ProcessResult r = runProcess(c.program, c.args);
        EXPECT_EQ(r.status, c.status) << c.program;
        EXPECT_EQ(r.output, c.output) << c.program;
    }
}

TEST(ProcessTest, KeepsOnlyTheFirstMebibyteOfOutputAndStillReapsTheChild) {
    ProcessResult r = runProcess("sh", {"-c", "head -c 3000000 /dev/zero | tr '\\0' a; exit 5"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.output.size(), kMaxProcessOutput);
    EXPECT_EQ(r.output.find_first_not_of('a'), std::string::npos);
}

// ---- sample files -----------------------------------------------------------------------------

TEST(FixtureTest, WavHoldsTheToneAndItsChunksInOrder) {
    TempDir dir;
    for (bool extraID3 : {false, true}) {
        fs::path p = dir / (extraID3 ? "tag.wav" : "plain.wav");
        SelfTest::makeWAV(p, extraID3);
        Bytes f = test::readFile(p);

        std::vector<std::string> expected = {"fmt ", "junk", "data", "LIST"};
        if (extraID3) expected.push_back("id3 ");
        EXPECT_EQ(riffChunks(f), expected);
        EXPECT_EQ(f.size(), extraID3 ? 88386u : 88288u);

        // Reference values of 8000 sin(2 pi 440 i / 44100), truncated toward zero.
        const std::size_t data = 12 + 24 + 12 + 8;
        const std::pair<std::size_t, std::int16_t> samples[] = {
            {0, 0}, {1, 501}, {25, 7999}, {51, -444}, {75, -7999}, {100, -113}, {44099, -501}};
        for (auto [i, v] : samples) {
            EXPECT_EQ(std::int16_t(le16(f, data + 2 * i)), v) << "sample " << i;
        }

        // Another reader finds the title in the ID3 chunk.
        std::string tags = python(
            "import sys, mutagen.wave\n"
            "f = mutagen.wave.WAVE(sys.argv[1])\n"
            "print(f.tags['TIT2'].text[0] if f.tags else '-')",
            p);
        EXPECT_EQ(tags, extraID3 ? "Hello\n" : "-\n");
    }
}

TEST(FixtureTest, Mp3HasTagFramesAndTail) {
    TempDir dir;
    fs::path p = dir / "t.mp3";
    SelfTest::makeMP3(p);
    Bytes f = test::readFile(p);

    std::size_t tagEnd = 10 + synchsafeDecode(f, 6);
    ASSERT_EQ(f.size(), tagEnd + 60 * 417 + 128);
    for (std::size_t k = 0; k < 60; ++k) {
        EXPECT_EQ(be32(f, tagEnd + k * 417), 0xFFFB9000u) << "frame " << k;
    }
    EXPECT_EQ(std::string(f.end() - 128, f.end() - 125), "TAG");

    std::string info = python(
        "import sys, mutagen.mp3\n"
        "f = mutagen.mp3.MP3(sys.argv[1])\n"
        "print(f.tags.version, f.tags['TIT2'].text[0], len(f.tags.getall('APIC')), "
        "f.info.sample_rate, f.info.bitrate)",
        p);
    EXPECT_EQ(info, "(2, 4, 0) Hello MP3 1 44100 128000\n");
}

// ---- the ffmpeg adapter -----------------------------------------------------------------------

TEST(ConverterTest, EachConversionMakesItsFormatWithoutMetadata) {
    TempDir dir;
    fs::path src = dir / "src.wav";
    SelfTest::makeWAV(src, false);
    const SelfTest::Tools tools = SelfTest::Tools::ffmpeg();

    struct Expect {
        AudioFormat::Kind kind;
        std::string codec;
    };
    const std::map<std::string, Expect> expected = {{"AIFF", {AudioFormat::aiff, "pcm_s16be"}},
                                                   {"FLAC", {AudioFormat::flac, "flac"}},
                                                   {"M4A-AAC", {AudioFormat::m4a, "aac"}},
                                                   {"M4A-ALAC", {AudioFormat::m4a, "alac"}}};
    ASSERT_EQ(SelfTest::conversions().size(), expected.size());
    int moovFirst = 0, moovLast = 0;
    for (const auto& c : SelfTest::conversions()) {
        SCOPED_TRACE(c.label);
        const Expect& e = expected.at(c.label);
        fs::path out = dir / (c.label + "." + c.extension);
        ProcessResult r = SelfTest::convert(tools, c.target, src, out);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(AudioFormat::detect(out).kind(), e.kind);
        EXPECT_EQ(probe(out, "stream=codec_name"), "codec_name=" + e.codec + "\n");

        Bytes f = test::readFile(out);
        EXPECT_EQ(test::countOf(f, "Test Title"), 0u) << "metadata was carried over";
        EXPECT_EQ(test::countOf(f, "Lavf"), 0u) << "encoder name written";
        if (e.kind == AudioFormat::m4a) {
            auto boxes = mp4Boxes(f);
            auto moov = std::find(boxes.begin(), boxes.end(), "moov");
            auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
            ASSERT_TRUE(moov != boxes.end() && mdat != boxes.end());
            EXPECT_EQ(moov < mdat, c.target.moovFirst);
            ++(moov < mdat ? moovFirst : moovLast);
        }
    }
    EXPECT_EQ(moovFirst, 1);
    EXPECT_EQ(moovLast, 1);
}

TEST(PcmHashTest, DependsOnTheSoundAloneAndDecodesToShortHeaderedPcm) {
    TempDir dir;
    const SelfTest::Tools tools = SelfTest::Tools::ffmpeg();
    fs::path plain = dir / "plain.wav", tagged = dir / "tagged.wav", changed = dir / "changed.wav";
    SelfTest::makeWAV(plain, false);
    SelfTest::makeWAV(tagged, true);
    Bytes f = test::readFile(plain);
    f[56 + 2 * 30000] ^= 0x01;  // one sample, far beyond the decoded header
    test::writeFile(changed, f);
    test::writeFile(dir / "noise.wav", test::bytesOf("not audio at all"));

    auto h = SelfTest::pcmHash(tools, plain, dir.path());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->size(), 64u);
    EXPECT_EQ(SelfTest::pcmHash(tools, plain, dir.path()), h);
    EXPECT_EQ(SelfTest::pcmHash(tools, tagged, dir.path()), h);
    EXPECT_NE(SelfTest::pcmHash(tools, changed, dir.path()), h);
    EXPECT_FALSE(SelfTest::pcmHash(tools, dir / "noise.wav", dir.path()));
    EXPECT_FALSE(SelfTest::pcmHash(tools, dir / "missing.wav", dir.path()));

    // A relative name that looks like a protocol is still a file.
    fs::copy_file(plain, dir / "mmsh:plain.wav");
    fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    auto relative = SelfTest::pcmHash(tools, "mmsh:plain.wav", ".");
    fs::current_path(cwd);
    EXPECT_EQ(relative, h);

    // The decode is CAF holding 16-bit little-endian linear PCM, and its audio starts well
    // inside the 4096 bytes that the hash skips.
    Bytes caf = test::readFile(dir / "decoded-plain.wav.caf");
    ASSERT_GT(caf.size(), 4096u + 80000u);
    EXPECT_EQ(std::string(caf.begin(), caf.begin() + 4), "caff");
    std::optional<std::size_t> dataStart;
    for (std::size_t at = 8; at + 12 <= caf.size() && !dataStart;) {
        std::string type = fourCC(caf, at);
        std::uint64_t size = std::uint64_t(be32(caf, at + 4)) << 32 | be32(caf, at + 8);
        if (type == "desc") {
            EXPECT_EQ(fourCC(caf, at + 20), "lpcm");
            EXPECT_EQ(be32(caf, at + 24) & 2u, 2u) << "little-endian flag";
            EXPECT_EQ(be32(caf, at + 36), 1u) << "channels";
            EXPECT_EQ(be32(caf, at + 40), 16u) << "bits";
        }
        if (type == "data") dataStart = at + 12 + 4;  // after the edit count
        at += 12 + size;
    }
    ASSERT_TRUE(dataStart);
    EXPECT_LT(*dataStart, 1024u);
}

// ---- whole runs -------------------------------------------------------------------------------

namespace {

struct RunOutcome {
    int code = -1;
    std::vector<std::string> lines;
    std::vector<std::string> leftInTmp;
};

// One run with its work folder in a private TMPDIR and, when given, PATH replaced.
RunOutcome runSelfTest(const std::optional<std::string>& path = std::nullopt) {
    TempDir tmp;
    EnvOverride tmpdir("TMPDIR", tmp.path().string());
    std::optional<EnvOverride> searchPath;
    if (path) searchPath.emplace("PATH", *path);
    std::ostringstream out;
    RunOutcome o;
    o.code = SelfTest::run(out);
    o.lines = linesOf(out.str());
    o.leftInTmp = tmp.list();
    return o;
}

const std::vector<std::string> kScenarios = {"== WAV",      "== WAV+ID3",  "== AIFF",
                                             "== FLAC",     "== M4A-AAC",  "== M4A-ALAC",
                                             "== MP3 (ID3v2.4)"};

std::vector<std::string> withPrefix(const std::vector<std::string>& lines, const std::string& p) {
    std::vector<std::string> out;
    for (const auto& l : lines) {
        if (l.starts_with(p)) out.push_back(l);
    }
    return out;
}

void writeScript(const fs::path& p, const std::string& body) {
    std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(p, fs::perms::owner_all);
}

}  // namespace

TEST(SelfTestRun, PassesEveryCheckWithFfmpegAndLeavesNothingBehind) {
    RunOutcome o = runSelfTest();
    EXPECT_EQ(o.code, 0);
    ASSERT_GE(o.lines.size(), 2u);
    EXPECT_EQ(o.lines.back(), "PELORIX selftest: 88 ok, 0 failed");
    EXPECT_EQ(o.lines[o.lines.size() - 2], "");
    EXPECT_EQ(withPrefix(o.lines, "== "), kScenarios);
    for (std::size_t i = 0; i + 2 < o.lines.size(); ++i) {
        const std::string& l = o.lines[i];
        EXPECT_TRUE(l.starts_with("== ") || l == "  (ffprobe shows the ISRC)") << l;
    }
    EXPECT_TRUE(o.leftInTmp.empty());
}

TEST(SelfTestRun, ReportsBrokenOrMissingConvertersAndStillSummarises) {
    TempDir bin;
    fs::path failing = bin / "failing", missing = bin / "missing";
    fs::create_directories(failing);
    fs::create_directories(missing);
    writeScript(failing / "ffmpeg", "echo 'boom: cannot convert'; exit 1");

    struct Case {
        fs::path path;
        std::string why;
    };
    for (const Case& c : {Case{missing, "No such file or directory"},
                          Case{failing, "boom: cannot convert"}}) {
        SCOPED_TRACE(c.why);
        RunOutcome o = runSelfTest(c.path.string());
        EXPECT_EQ(o.code, 1);
        ASSERT_FALSE(o.lines.empty());
        // Each exercised file: no decode (step 7 fails, step 16 passes) and no inspector.
        EXPECT_EQ(o.lines.back(), "PELORIX selftest: 38 ok, 10 failed");
        for (const char* label : {"AIFF", "FLAC", "M4A-AAC", "M4A-ALAC"}) {
            EXPECT_TRUE(contains(o.lines, std::string("  FAIL: ") + label +
                                              ": ffmpeg failed: " + c.why))
                << label;
        }
        for (const char* label : {"WAV", "WAV+ID3", "MP3 (ID3v2.4)"}) {
            EXPECT_TRUE(contains(o.lines, std::string("  FAIL: ") + label +
                                              ": ffmpeg decodes to identical PCM"));
            EXPECT_TRUE(contains(o.lines, std::string("  FAIL: ") + label +
                                              ": ffprobe opens the file (-1)"));
        }
        EXPECT_EQ(withPrefix(o.lines, "== "),
                  (std::vector<std::string>{"== WAV", "== WAV+ID3", "== MP3 (ID3v2.4)"}));
        EXPECT_TRUE(o.leftInTmp.empty());
    }
}

TEST(SelfTestRun, TheProgramRunsItAndExitsWithItsResult) {
    TempDir tmp, emptyBin;
    test::RunResult r = test::runShell("PATH='" + emptyBin.path().string() + "' TMPDIR='" +
                                       tmp.path().string() + "' '" PELORIX_BINARY "' --selftest");
    EXPECT_EQ(r.status, 1);
    auto lines = linesOf(r.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "PELORIX selftest: 38 ok, 10 failed");
    EXPECT_TRUE(tmp.list().empty());
}

TEST(SelfTestRun, AnUnexpectedErrorEndsTheScenariosButNotTheRun) {
    // A converter that claims success but writes something that is not audio.
    TempDir bin;
    writeScript(bin / "ffmpeg",
                "for last; do :; done; printf 'plain text, not audio' > \"${last#file:}\"");
    RunOutcome o = runSelfTest(bin.path().string());
    EXPECT_EQ(o.code, 1);
    EXPECT_TRUE(contains(o.lines, "  FAIL: unexpected error: " +
                                      std::string(msg::unsupportedType)));
    EXPECT_EQ(withPrefix(o.lines, "== "),
              (std::vector<std::string>{"== WAV", "== WAV+ID3", "== AIFF"}));
    ASSERT_FALSE(o.lines.empty());
    EXPECT_TRUE(std::regex_match(o.lines.back(),
                                 std::regex("PELORIX selftest: [0-9]+ ok, [1-9][0-9]* failed")));
    EXPECT_TRUE(o.leftInTmp.empty());

    // A temporary directory that cannot be used is one failure, not a crash.
    EnvOverride tmpdir("TMPDIR", (bin / "nowhere").string());
    std::ostringstream out;
    EXPECT_EQ(SelfTest::run(out), 1);
    EXPECT_NE(out.str().find("  FAIL: unexpected error: "), std::string::npos);
    EXPECT_EQ(linesOf(out.str()).back(), "PELORIX selftest: 4 ok, 1 failed");
}
