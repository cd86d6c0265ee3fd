// SPDX-License-Identifier: MIT
// The command line, through the real binary: output lines, exit codes, argument order, and
// what the files look like afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/write/audio_tagger.h"
#include "driver_fixtures.h"
#include "support/files.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::driver;
namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readText(const fs::path& p) {
    const Bytes b = readFile(p);
    return std::string(b.begin(), b.end());
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs pelorix in `cwd` without any display, with stdout and stderr kept apart.
Outcome runPelorix(const fs::path& cwd, const std::vector<std::string>& args) {
    static TempDir capture;
    std::string command = "(cd " + quoted(cwd.string()) +
                          " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                          quoted(PELORIX_BINARY);
    for (const auto& a : args) command += " " + quoted(a);
    command += " >" + quoted((capture / "out").string()) + " 2>" +
               quoted((capture / "err").string()) + ")";
    Outcome r;
    r.status = runShell(command).status;
    r.out = readText(capture / "out");
    r.err = readText(capture / "err");
    return r;
}

const std::string kNoFile = "Cannot open the file: No such file or directory";

// a.wav holds a valid code, b.wav none, c.wav a text with control characters, d.wav "XYZ".
void makeFiles(const TempDir& dir) {
    writeFile(dir / "a.wav", wavWithCode("FIABC2600010", audioBytes(100, 1)));
    writeFile(dir / "b.wav", wav(audioBytes(100, 2)));
    writeFile(dir / "c.wav", wavWithCode("XY\nZ\x1b[2J\x7f\tQ", audioBytes(100, 3)));
    writeFile(dir / "d.wav", wavWithCode("XYZ", audioBytes(100, 4)));
    writeFile(dir / "notes.txt", bytesOf("these are words, not audio"));
}

}  // namespace

TEST(CommandLineTest, LinesAndExitCodes) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const std::string unsupported =
        "This file type is not supported. PELORIX handles WAV, "
        "AIFF, MP3, FLAC and M4A.";
    const Case cases[] = {
        {{"--read", "./a.wav", "b.wav", "c.wav", "d.wav"},
         "./a.wav\tFI-ABC-26-00010\nb.wav\t-\nc.wav\tXY\\nZ\\x1b[2J\\x7f\\tQ\nd.wav\tXYZ\n",
         0},
        {{"--read"}, "", 0},
        {{"--read", "missing.wav", "notes.txt", "a.wav"},
         "missing.wav\tERROR: " + kNoFile + "\nnotes.txt\tERROR: " + unsupported +
             "\na.wav\tFI-ABC-26-00010\n",
         1},
        // Read wins over write in either order; everything after --read is a path.
        {{"--write", "FIABC2600001", "a.wav", "--read", "b.wav"}, "b.wav\t-\n", 0},
        {{"--read", "b.wav", "--write", "FIABC2600001"},
         "b.wav\t-\n--write\tERROR: " + kNoFile + "\nFIABC2600001\tERROR: " + kNoFile + "\n",
         1},
        {{"--read", "--help"}, "--help\tERROR: " + kNoFile + "\n", 1},
        {{"--write", "not a code", "a.wav", "b.wav"}, "Invalid ISRC\n", 2},
        {{"--write", "FIABC2600001", "--help"}, "ERROR --help: " + kNoFile + "\n", 1},
        {{"--remove"}, "", 0},
        {{"--remove", "missing.wav"}, "ERROR missing.wav: " + kNoFile + "\n", 1},
        {{"--help"}, cli::usage(), 0},
        {{"-h"}, cli::usage(), 0},
        {{"--version"}, std::string("pelorix ") + PELORIX_VERSION + "\n", 0},
        {{"--version", "--help"}, cli::usage(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        TempDir dir;
        makeFiles(dir);
        const Bytes a = readFile(dir / "a.wav");
        const Bytes b = readFile(dir / "b.wav");
        const Outcome r = runPelorix(dir.path(), c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "");
        // None of these may change a file.
        EXPECT_EQ(readFile(dir / "a.wav"), a);
        EXPECT_EQ(readFile(dir / "b.wav"), b);
    }
}

TEST(CommandLineTest, WriteAndRemoveChangeTheFiles) {
    TempDir dir;
    makeFiles(dir);
    ASSERT_EQ(::chmod((dir / "b.wav").c_str(), 0640), 0);
    fs::create_symlink("d.wav", dir / "link.wav");
    Outcome r = runPelorix(
        dir.path(), {"--write", "fi-abc-26-00001", "./a.wav", "notes.txt", "b.wav", "link.wav"});
    EXPECT_EQ(r.out,
              "OK ./a.wav\nERROR notes.txt: This file type is not supported. PELORIX "
              "handles WAV, AIFF, MP3, FLAC and M4A.\nOK b.wav\nOK link.wav\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    // Stored in the 12-character form, never the hyphenated one.
    for (const char* name : {"a.wav", "b.wav", "d.wav"}) {
        const Bytes content = readFile(dir / name);
        EXPECT_EQ(countOf(content, "FIABC2600001"), 1u) << name;
        EXPECT_EQ(countOf(content, "FI-ABC"), 0u) << name;
    }
    EXPECT_EQ(lstatOf(dir / "b.wav").st_mode & 07777, 0640u);
    EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));

    r = runPelorix(dir.path(), {"--remove", "a.wav", "b.wav"});
    EXPECT_EQ(r.out, "OK a.wav\nOK b.wav\n");
    EXPECT_EQ(r.status, 0);
    r = runPelorix(dir.path(), {"--read", "a.wav", "b.wav", "link.wav"});
    EXPECT_EQ(r.out, "a.wav\t-\nb.wav\t-\nlink.wav\tFI-ABC-26-00001\n");
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"a.wav", "b.wav", "c.wav", "d.wav", "link.wav",
                                                    "notes.txt"}));
}

TEST(CommandLineTest, WithoutADisplayTheWindowModeSaysSoOnStandardError) {
    TempDir dir;
    makeFiles(dir);
    const Bytes a = readFile(dir / "a.wav");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"--write"}, {"--write", "FIABC2600001"}, {"a.wav"}, {"--selftes"}}) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        const Outcome r = runPelorix(dir.path(), args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    }
    EXPECT_EQ(readFile(dir / "a.wav"), a);
}

// ---- in-process: mode choice and escaping --------------------------------------------------

TEST(CommandLineTest, ModeChoiceFollowsAFixedOrder) {
    using cli::Mode;
    struct Case {
        std::vector<std::string> args;
        Mode mode;
    };
    const Case cases[] = {
        {{"pelorix"}, Mode::window},
        {{}, Mode::window},
        {{"pelorix", "--read", "--selftest"}, Mode::selfTest},
        {{"pelorix", "--write", "C", "f", "--selftest"}, Mode::selfTest},
        {{"--selftest"}, Mode::selfTest},  // element 0 is searched too
        {{"pelorix", "--write", "C", "f"}, Mode::write},
        // Only the first --write counts: this one has a code but no file after it.
        {{"pelorix", "--write", "C", "--write"}, Mode::write},
        {{"pelorix", "x", "--write", "C"}, Mode::window},
        {{"pelorix", "--write", "C", "--remove"}, Mode::write},  // a file named --remove
        {{"pelorix", "--remove", "--write", "C"}, Mode::remove},
        {{"pelorix", "--remove", "--write", "C", "f"}, Mode::write},
        {{"pelorix", "--remove", "--help"}, Mode::remove},
        {{"pelorix", "--help", "--version"}, Mode::help},
        {{"pelorix", "--READ", "-read", "--read=a", "--Help", "-help"}, Mode::window},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cli::chooseMode(c.args), c.mode) << ::testing::PrintToString(c.args);
    }
}

TEST(CommandLineTest, ControlCharactersAreEscaped) {
    struct Case {
        std::string stored;
        std::string shown;
    };
    const Case cases[] = {
        {"XYZ", "XYZ"},
        {"a\nb", "a\\nb"},
        {"a\tb\rc", "a\\tb\\rc"},
        {std::string("\0\x01\x1f", 3), "\\x00\\x01\\x1f"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {"del\x7f", "del\\x7f"},
        {"\xC2\x85next\xC2\x9B", "\\u0085next\\u009b"},  // C1 controls NEL and CSI
        {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5",
         "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"},
        {"bad\x9b"
         "byte\xC3",
         "bad\\x9bbyte\\xc3"},       // not UTF-8: shown as bytes
        {"\xC0\x8A", "\\xc0\\x8a"},  // an over-long newline is not a newline in disguise
        {"back\\slash", "back\\slash"},
    };
    for (const auto& c : cases) EXPECT_EQ(cli::escapeControls(c.stored), c.shown) << c.shown;
}
