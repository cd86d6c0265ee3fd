// SPDX-License-Identifier: MIT
// The command line, through the real binary: output lines, exit codes, argument order, and
// what the files look like afterwards.

#include <cstdio>
#include <set>

#include "cli/cli.h"
#include "cli/escape.h"
#include "e2e_support.h"
#include "support/flac_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;

namespace {

// The words of `s`, split at each space.
std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> w;
    std::istringstream in(s);
    for (std::string word; in >> word;) w.push_back(word);
    return w;
}

const std::string
    kNoFile = "Cannot open the file: No such file or directory",
    kUnsupported = "This file type is not supported. PELORIX handles WAV, AIFF, MP3, FLAC and M4A.";

// a.wav holds a valid code, b.wav none, c.wav a text with control characters, d.wav "XYZ".
void makeFiles(const TempDir& dir) {
    writeFile(dir / "a.wav", wavWithCode("FIABC2600010", audioBytes(100, 1)));
    writeFile(dir / "b.wav", wav(audioBytes(100, 2)));
    writeFile(dir / "c.wav", wavWithCode("XY\nZ\x1b[2J\x7f\tQ", audioBytes(100, 3)));
    writeFile(dir / "d.wav", wavWithCode("XYZ", audioBytes(100, 4)));
    writeFile(dir / "notes.txt", bytesOf("these are words, not audio"));
}

// Every file under the folder, hidden ones too, with its bytes.
std::map<std::string, Bytes> snapshot(const fs::path& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) files[fs::relative(e.path(), dir).string()] = readFile(e.path());
    return files;
}

std::string codeIn(const fs::path& file) {
    return read::readISRC(file).value_or("-");
}

Bytes flacFile(std::uint32_t seed) {
    return flac::file({{}, {flac::streamInfo(), flac::padding(64)}, audioBytes(64, seed)});
}

// a.wav and b.wav without a code, "c, d.wav", a.flac (one recording with a.wav), lists/ with
// its own b.wav, a link to ../a.wav and d, a link to deep/sub, whose parent holds another b.wav.
void makeSongs(const TempDir& dir) {
    writeFile(dir / "a.wav", wav(audioBytes(100, 1)));
    writeFile(dir / "b.wav", wav(audioBytes(100, 2)));
    writeFile(dir / "c, d.wav", wav(audioBytes(100, 3)));
    writeFile(dir / "a.flac", flacFile(4));
    fs::create_directories(dir / "deep" / "sub");
    writeFile(dir / "deep" / "b.wav", wav(audioBytes(100, 5)));
    fs::create_directory(dir / "lists");
    writeFile(dir / "lists" / "b.wav", wav(audioBytes(100, 6)));
    fs::create_symlink("../deep/sub", dir / "lists" / "d");
    fs::create_symlink("../a.wav", dir / "lists" / "a-link.wav");
}

}  // namespace

// Many operands read at once: the lines come in the order given, a folder's files in its place.
TEST(CommandLineTest, ReadsManyFilesAndFoldersInOrder) {
    TempDir dir;
    fs::create_directories(dir / "album" / "disc 2");
    writeFile(dir / "album" / "1.wav", wavWithCode("FIABC2600001", audioBytes(100, 1)));
    writeFile(dir / "album" / "notes.txt", bytesOf("not audio"));
    writeFile(dir / "album" / "disc 2" / "2.wav", wav(audioBytes(100, 2)));
    std::vector<std::string> args{"--read"};
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        const std::string name = std::to_string(i) + ".wav";
        if (i % 7 == 3) {
            expected += name + "\tERROR: " + kNoFile + "\n";
        } else if (i % 5 == 0) {
            const std::string code = "FIABC26" + std::to_string(10000 + i);
            writeFile(dir / name, wavWithCode(code, audioBytes(10, std::uint32_t(i))));
            expected += name + "\tFI-ABC-26-" + code.substr(7) + "\n";
        } else {
            writeFile(dir / name, wav(audioBytes(10, std::uint32_t(i))));
            expected += name + "\t-\n";
        }
        args.push_back(name);
        if (i == 100) {
            args.push_back("album");
            expected += "album/1.wav\tFI-ABC-26-00001\nalbum/disc 2/2.wav\t-\n";
        }
    }
    const Outcome r = runPelorix(dir.path(), args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, expected);
}

// Every mode's lines and exit status, and the usage errors, which change no file.
TEST(CommandLineTest, LinesAndExitCodes) {
    const auto usage = [](const std::string& why) {
        return "pelorix: " + why + " (see pelorix --help)\n";
    };
    const std::string none;
    // Status, arguments (split at spaces), output, standard error.
    const std::tuple<int, std::string, std::string, std::string> cases[] = {
        {0, "--read ./a.wav b.wav c.wav d.wav",
         "./a.wav\tFI-ABC-26-00010\nb.wav\t-\nc.wav\tXY\\nZ\\x1b[2J\\x7f\\tQ\nd.wav\tXYZ\n", none},
        {1, "--read missing.wav notes.txt a.wav",
         "missing.wav\tERROR: " + kNoFile + "\nnotes.txt\tERROR: " + kUnsupported +
             "\na.wav\tFI-ABC-26-00010\n",
         none},
        // One mode at a time, unless the second mode word names a file; "--" ends the options.
        {2, "--write FIABC2600001 a.wav --read b.wav", none,
         usage("--read after --write: one mode at a time")},
        {2, "--read --write X b.wav", none, usage("--write after --read: one mode at a time")},
        {2, "--read --help", none, usage("--help after --read: one mode at a time")},
        {2, "--version --help", none, usage("--help after --version: one mode at a time")},
        {0, "--read --selftest b.wav", "--selftest\t-\nb.wav\t-\n", none},
        {1, "--write FIABC2600001 -- --read", "ERROR --read: " + kNoFile + "\n", none},
        {2, "b.wav --read a.wav", none, usage("b.wav before --read: files go after the mode")},
        {2, "--read", none, usage("--read takes files or folders")},
        {2, "--remove", none, usage("--remove takes files or folders")},
        {2, "--write FIABC2600001", none, usage("--write takes a code and files")},
        {2, "--write not-a-code a.wav b.wav", none,
         "Invalid ISRC \"not-a-code\": it has 8 letters and digits besides separators; a code has "
         "12.\n"},
        {2, "--write FI-ABC-2X-00001 a.wav", none,
         "Invalid ISRC \"FI-ABC-2X-00001\": the 6th and 7th must be digits (year).\n"},
        {1, "--remove missing.wav", "ERROR missing.wav: " + kNoFile + "\n", none},
        {0, "--help", cli::usage(), none},
        {0, "-h", cli::usage(), none},
        {0, "--version", std::string("pelorix ") + PELORIX_VERSION + "\n", none},
    };
    TempDir dir;
    makeFiles(dir);
    writeFile(dir / "--selftest", wav(audioBytes(100, 5)));  // a file with a mode's name
    const auto before = snapshot(dir.path());
    for (const auto& [status, args, out, err] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = runPelorix(dir.path(), words(args));
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(snapshot(dir.path()), before);  // none of these may change a file
    }
    // The window cannot open here (status 1); a mistyped argument never gets that far (status 2).
    const std::pair<int, std::vector<std::string>> oneLine[] = {
        {1, {"", "a.wav", "-- -x.wav"}},
        {2,
         {"--write", "--write FIABC2600001", "--wirte FIABC2600001 a.wav", "-r a.wav",
          "--read=a.wav", "--selftes", "--json", "--read --jsno a.wav", "--match x --read a.wav",
          "--write-list", "--sequence FIABC2600001", "--sequence FIABC2600001 --bogus a.wav",
          "a.wav --dry-run"}}};
    for (const auto& [status, lines] : oneLine) {
        for (const auto& args : lines) {
            SCOPED_TRACE(args);
            const Outcome r = runPelorix(dir.path(), words(args));
            EXPECT_EQ(r.status, status);
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(r.err.starts_with("pelorix: ")) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
            EXPECT_EQ(snapshot(dir.path()), before);
        }
    }
}

TEST(CommandLineTest, WriteAndRemoveChangeTheFiles) {
    TempDir dir;
    makeFiles(dir);
    fs::create_symlink("d.wav", dir / "link.wav");
    // One code on three recordings: only with --reuse-code (the ledger's rule has its own test).
    Outcome r = runPelorix(dir.path(), {"--reuse-code", "--write", "fi-abc-26-00001", "./a.wav",
                                        "notes.txt", "b.wav", "link.wav"});
    EXPECT_EQ(r.out, "OK ./a.wav\nERROR notes.txt: " + kUnsupported + "\nOK b.wav\nOK link.wav\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Wrote 3, kept 0, unchanged 0, failed 1.\n");
    EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));

    // A second removal finds no code: it says so and leaves the very same files.
    for (const char* counts :
         {"Removed 2, kept 0, unchanged 0", "Removed 0, kept 0, unchanged 2"}) {
        const ino_t inode = lstatOf(dir / "b.wav").st_ino;
        r = runPelorix(dir.path(), {"--remove", "a.wav", "b.wav"});
        EXPECT_EQ(r.out, "OK a.wav\nOK b.wav\n");
        EXPECT_EQ(r.err, counts + std::string(", failed 0.\n"));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(lstatOf(dir / "b.wav").st_ino == inode, counts[8] == '0');
    }
    r = runPelorix(dir.path(), {"--read", "a.wav", "b.wav", "link.wav"});
    EXPECT_EQ(r.out, "a.wav\t-\nb.wav\t-\nlink.wav\tFI-ABC-26-00001\n");
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"a.wav", "b.wav", "c.wav", "d.wav", "link.wav",
                                                    "notes.txt"}));
}

TEST(CommandLineTest, ModeChoiceFollowsAFixedOrder) {
    using enum cli::Mode;
    // The first mode word picks the mode; a second one (that names no file here) is an error,
    // as is anything but an option before the mode. Element 0 is the program's name.
    const std::pair<cli::Mode, std::vector<std::string>> cases[] = {
        {window, {"pelorix", "", "pelorix x y", "pelorix -- --read", "--selftest"}},
        {selfCheck, {"pelorix --selftest", "pelorix --json --selftest"}},
        {write,
         {"pelorix --write C f", "pelorix --write --read f", "pelorix --write C -- --remove",
          "pelorix --json --write C g"}},
        {remove, {"pelorix --remove -- --write"}},
        {help, {"pelorix --help", "pelorix --dry-run -h"}},
        {next, {"pelorix --ledger x --next FI-ABC-26"}},
        {ledgerExport, {"pelorix --ledger-export --json --ledger x"}},
        {ledgerAdd, {"pelorix --reuse-code --ledger-add a b"}},
        {usageError,
         {"pelorix --READ -read --read=a --Help -help", "pelorix x --write C",
          "pelorix --write C --", "pelorix --read --selftest", "pelorix --write C f --selftest",
          "pelorix --write C --write", "pelorix --remove --help", "pelorix --help --version",
          "pelorix --help f", "pelorix --match", "pelorix --read f --match",
          "pelorix --match title", "pelorix --match tune --write-list l", "pelorix --next",
          "pelorix --reuse-code", "pelorix --ledger-export --ledger", "pelorix --next A B"}},
        {sequence, {"pelorix --sequence C -- --bogus"}}};
    for (const auto& [mode, lines] : cases)
        for (const auto& args : lines) EXPECT_EQ(cli::chooseMode(words(args)), mode) << args;
}

// As text for a terminal and as a JSON string: reversible, and nothing that steers the terminal
// or turns the text around it passes raw.
TEST(CommandLineTest, ControlCharactersAreEscaped) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"a\tb\rc\"", "a\\tb\\rc\"", "\"a\\tb\\rc\\\"\""},
        {std::string("\0\x01\x1f\x7f", 4), "\\x00\\x01\\x1f\\x7f",
         "\"\\u0000\\u0001\\u001f\\u007f\""},
        {"\xC2\x85next\xC2\x9B", "\\u0085next\\u009b", "\"\\u0085next\\u009b\""},  // NEL, CSI
        {"\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xB5", "\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xB5",
         "\"\\u00e9t\\u00e9 \\ud83c\\udfb5\""},
        // Bytes that are not UTF-8 (an over-long newline among them, a surrogate's bytes).
        {"bad\x9b\xC0\x8A\xED\xA0\x80", "bad\\x9b\\xc0\\x8a\\xed\\xa0\\x80",
         "\"bad\\udc9b\\udcc0\\udc8a\\udced\\udca0\\udc80\""},
        // Right-to-left override, isolates, marks: shown, never obeyed.
        {"a\u202Egnp.wav\u2066\u200F\u061C", "a\\u202egnp.wav\\u2066\\u200f\\u061c",
         "\"a\\u202egnp.wav\\u2066\\u200f\\u061c\""},
        {"back\\x9b", "back\\\\x9b", "\"back\\\\x9b\""},  // a backslash is not an escape
    };
    for (const auto& [stored, text, json] : cases) {
        EXPECT_EQ(cli::escapeControls(stored), text) << text;
        EXPECT_EQ(cli::jsonString(stored), json) << json;
    }
}

TEST(CommandLineTest, ListsAreReadInEveryDialect) {
    using Codes = std::map<std::string, std::string>;
    const Codes two = {{"a.wav", "FIABC2600001"}, {"b.wav", "FIABC2600002"}};
    const std::tuple<std::string, std::string, Codes> cases[] = {
        {"no header", "../a.wav,FIABC2600001\n../b.wav,FIABC2600002\n", two},
        {"BOM, semicolons, CRLF, header in capitals",
         "\xEF\xBB\xBF"
         "FILENAME;Code\r\n../a.wav;FIABC2600001\r\n../b.wav;FI-ABC-26-00002\r\n",
         two},
        {"tabs, ISRC prefixes, blank lines",
         "\n../a.wav\tISRC: fiabc2600001\n\n../b.wav\tisrc FI-ABC-26-00002\n", two},
        {"quotes, comma in the name, no final newline",
         "\"../c, d.wav\",\"FIABC2600003\"\n../a.wav,FIABC2600001",
         {{"c, d.wav", "FIABC2600003"}, {"a.wav", "FIABC2600001"}}},
        {"columns by header",
         "Title;ISRC;Path;Notes\nx;FIABC2600001;../a.wav;\"a;b\"\n",
         {{"a.wav", "FIABC2600001"}}},
        {"one recording in two formats",
         "file,code\n../a.wav,FIABC2600001\n../a.flac,FIABC2600001\n",
         {{"a.wav", "FIABC2600001"}, {"a.flac", "FIABC2600001"}}},
        {"UTF-16 with BOM, tabs",
         std::string("\xFF\xFE.\0.\0/\0a\0.\0w\0a\0v\0\t\0F\0I\0A\0B\0C\0"
                     "2\0006\0000\0000\0000\0000\0001\0\n\0",
                     46),
         {{"a.wav", "FIABC2600001"}}},
    };
    for (const auto& [name, list, codes] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        makeSongs(dir);
        writeFile(dir / "lists" / "list.csv", bytesOf(list));
        const Outcome r = runPelorix(dir.path(), {"--write-list", "lists/list.csv"});
        EXPECT_EQ(r.status, 0) << r.out;
        for (const auto& [file, code] : codes) EXPECT_EQ(codeIn(dir / file), code) << file;
    }
}

TEST(CommandLineTest, AListWithAnyProblemIsRefusedWhole) {
    const std::string none = "No file was changed (1 problem).\n";
    const std::pair<std::string, std::string> cases[] = {
        {"../a.wav,FIABC26000\n\n../zz.wav,FIABC2600003\n..,FIABC2600004\n../a.wav,FIABC2600001,x\n"
         "../b\xE9.wav,FIABC2600002\n",
         "lists/l.csv:1: \"FIABC26000\" is not a valid ISRC.\nlists/l.csv:3: lists/../zz.wav: No "
         "such file.\nlists/l.csv:4: lists/..: This is a folder; name its files.\nlists/l.csv:5: "
         "This line has 3 columns; a list without a header row has two: file and code.\n"
         "lists/l.csv:6: This line is not UTF-8 text; save the list as UTF-8.\n"
         "No file was changed (5 problems).\n"},
        {"../a.wav;FIABC2600001\n../b.wav;FI-ABC-26-00001\n./../a.wav;FIABC2600002\n",
         "lists/l.csv:2: lists/../b.wav: FI-ABC-26-00001 is also given to lists/../a.wav in this "
         "batch, a different recording.\nlists/l.csv:3: lists/./../a.wav is given "
         "FI-ABC-26-00002 here and FI-ABC-26-00001 on line 1 (lists/../a.wav, the same "
         "file).\nNo file was changed (2 "
         "problems).\n"},
        {"isrc,notes\nFIABC2600001,x\n",
         "lists/l.csv:1: The header names no column that finds the files (path, file name, title "
         "or track).\n" +
             none},
        {"../a.wav,\"FIABC\n2600001\"\n../b.wav,\"x\"y\n",  // a quoted field spans lines 1-2
         "lists/l.csv:1: \"FIABC\\n2600001\" is not a valid ISRC.\nlists/l.csv:3: A quote on this "
         "line is out of place; quote a whole field, and double a quote inside one.\n"
         "No file was changed (2 problems).\n"},
        {"../a.wav,FIABC2600001\n../b.wav,\"FIABC2600002\n",
         "lists/l.csv:2: A quoted field that begins on this line is never closed.\n" + none},
        {"\r\n \r\n", "lists/l.csv: The list names no file and code.\n" + none},
        // One file under two names, two files under one spelling, a name cut short by a NUL.
        {"../a.wav,FIABC2600001\na-link.wav,FIABC2600002\n",
         "lists/l.csv:2: lists/a-link.wav is given FI-ABC-26-00002 here and FI-ABC-26-00001 on "
         "line 1 (lists/../a.wav, the same file).\n" +
             none},
        {"d/../b.wav,FIABC2600005\nb.wav,FIABC2600005\n",
         "lists/l.csv:2: lists/b.wav: FI-ABC-26-00005 is also given to lists/d/../b.wav in this "
         "batch, a different recording.\n" +
             none},
        {std::string("../a.wav\0.flac,FIABC2600001\n", 27),
         "lists/l.csv:1: This line holds a NUL character.\n" + none},
        {"", "lists/l.csv: Cannot open the list: No such file or directory\n" + none},
    };
    for (const auto& [list, out] : cases) {
        SCOPED_TRACE(list);
        TempDir dir;
        makeSongs(dir);
        if (!list.empty()) writeFile(dir / "lists" / "l.csv", bytesOf(list));
        const auto before = snapshot(dir.path());
        const Outcome r = runPelorix(dir.path(), {"--write-list", "lists/l.csv"});
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

// A backup copy is left out only beside its original, and said so; a file named twice (a link
// beside it) is numbered once; a file that already carries its code is left untouched.
TEST(CommandLineTest, SequencesNumberRecordingsInNaturalOrderAndReplaceOnlyWhenAsked) {
    TempDir dir;
    fs::create_directories(dir / "album" / "sub");
    std::uint32_t seed = 10;  // recordings of their own, but Song.wav and Song.flac by name
    for (const char* name :
         {"Track 10.wav", "Track 2.wav", "track 1.wav", ".hidden.wav", "Track 2 (original).wav",
          "Blue (original).wav", "Song.wav", "sub/x.wav"}) {
        writeFile(dir / "album" / name, wav(audioBytes(100, seed++)));
    }
    fs::create_symlink("Track 10.wav", dir / "album" / "zz.wav");
    writeFile(dir / "album" / "Song.flac", flacFile(6));
    writeFile(dir / "album" / "notes.txt", bytesOf("words"));
    writeFile(dir / "b.wav", wavWithCode("FIABC2600009", audioBytes(100, 7)));
    const auto before = snapshot(dir.path());
    const std::string remarks =
        "pelorix: left out album/Track 2 (original).wav, a backup copy of Track 2.wav\n"
        "pelorix: album/zz.wav is album/Track 10.wav; it is numbered once\n";
    Outcome r = runPelorix(dir.path(), {"--sequence", "FIABC2699996", "album", "b.wav"});
    EXPECT_EQ(r.out,
              "The sequence from FI-ABC-26-99996 would pass FI-ABC-26-99999 "
              "at album/Track 10.wav.\nNo file was changed (1 problem).\n");
    EXPECT_EQ(r.err, remarks);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(snapshot(dir.path()), before);

    std::string lines =
        "OK album/Blue (original).wav: FI-ABC-26-00001\nOK album/Song.flac: FI-ABC-26-00002\n"
        "OK album/Song.wav: FI-ABC-26-00002\nOK album/track 1.wav: FI-ABC-26-00003\n"
        "OK album/Track 2.wav: FI-ABC-26-00004\nOK album/Track 10.wav: FI-ABC-26-00005\n"
        "OK album/sub/x.wav: FI-ABC-26-00006\n";
    const std::string kept = "KEPT b.wav: it carries FI-ABC-26-00009; --replace replaces it\n";
    // Status, arguments, output, the summary.
    const std::tuple<int, std::string, std::string, std::string> runs[] = {
        {1, "--sequence FI-ABC-26-00001 album b.wav", lines + kept,
         "Wrote 7, kept 1, unchanged 0, failed 0.\n"},
        {0, "--sequence FI-ABC-26-00001 album --replace b.wav",
         lines + "OK b.wav: FI-ABC-26-00007\n", "Wrote 1, kept 0, unchanged 7, failed 0.\n"},
    };
    for (const auto& [status, args, out, summary] : runs) {
        const ino_t inode = lstatOf(dir / "album" / "Song.wav").st_ino;
        r = runPelorix(dir.path(), words(args));
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, remarks + summary);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(lstatOf(dir / "album" / "Song.wav").st_ino != inode,
                  summary.starts_with("Wrote 7"));
    }
    EXPECT_EQ(codeIn(dir / "album" / "Track 10.wav"), "FIABC2600005");
}

TEST(CommandLineTest, DryRunsTellWhatWouldHappenAndTouchNothing) {
    TempDir dir;
    makeFiles(dir);
    writeFile(dir / "bad.wav", wav({chunks::wavFormat(),
                                    {"data", audioBytes(100, 9)},
                                    {"id3 ", id3::tag({.version = 2})}}));
    writeFile(dir / "l.csv", bytesOf("a.wav;FIABC2600007\nb.wav;FIABC2600008\n"));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--dry-run", "--write", "ISRC FIABC2600001", "a.wav", "b.wav", "bad.wav", "notes.txt"},
         "a.wav\tFI-ABC-26-00010 -> FI-ABC-26-00001\nb.wav\tERROR: FI-ABC-26-00001 is also given "
         "to a.wav in this batch, a different recording.\nbad.wav\t"
         "ERROR: This file has an ID3v2.2 tag. PELORIX supports ID3v2.3 and ID3v2.4 only.\n"
         "notes.txt\tERROR: " +
             kUnsupported + "\n"},
        {{"--remove", "c.wav", "--dry-run"}, "c.wav\tXY\\nZ\\x1b[2J\\x7f\\tQ -> -\n"},
        {{"--dry-run", "--write-list", "l.csv"},
         "a.wav\tFI-ABC-26-00010 (kept: a different code; --replace replaces it)\nb.wav\t- -> "
         "FI-ABC-26-00008\n"},
        {{"--dry-run", "--replace", "--sequence", "FIABC2600001", "a.wav"},
         "a.wav\tFI-ABC-26-00010 -> FI-ABC-26-00001\n"},
    };
    for (const auto& [args, out] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const auto before = snapshot(dir.path());
        const Outcome r = runPelorix(dir.path(), args);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(snapshot(dir.path()), before);  // no byte changed, no file added
    }
}

// A replace needs only the folder's permission, yet the file's own counts, and an owner or group
// it would change is refused (root runs as an ordinary user); the dry run rehearses the same.
TEST(CommandLineTest, TheCallerMustBeAbleToWriteTheFileAndKeepItsOwner) {
    const bool root = ::geteuid() == 0;
    const uid_t user = root ? 65534 : ::geteuid();
    const gid_t users = root ? 65534 : ::getegid();
    const std::string notOwner(msg::ownerNotKept);
    const std::tuple<std::string, mode_t, uid_t, gid_t, std::string> all[] = {
        {"ok.wav", 0644, user, users, ""},
        {"ro.wav", 0444, user, users, std::string(msg::notWritable)},
        {"root.wav", 0666, 0, 0, notOwner},
        {"group.wav", 0666, user, 0, notOwner},  // a group the user is not in
        {"ro/a.wav", 0644, user, users, msg::cannotWrite(platformText(EACCES))},
    };
    std::vector<std::tuple<std::string, mode_t, uid_t, gid_t, std::string>> files;
    for (const auto& f : all)
        if (root || (std::get<2>(f) == user && std::get<3>(f) == users)) files.push_back(f);
    TempDir dir;
    fs::create_directory(dir / "ro");
    std::vector<std::string> args = {"--dry-run", "--write", kCode};
    std::string rehearsed, said;
    for (const auto& [name, mode, owner, group, error] : files) {
        writeFile(dir / name, wav(audioBytes(100)));
        ASSERT_EQ(::chown((dir / name).c_str(), owner, group) | ::chmod((dir / name).c_str(), mode),
                  0);
        args.push_back(name);
        rehearsed +=
            name + (error.empty() ? "\t- -> FI-ABC-26-00001\n" : "\tERROR: " + error + "\n");
        said += error.empty() ? "OK " + name + "\n" : "ERROR " + name + ": " + error + "\n";
    }
    ASSERT_EQ(::chown(dir.path().c_str(), user, users) | ::chmod((dir / "ro").c_str(), 0555), 0);
    const auto before = snapshot(dir.path());
    const std::string as = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    Outcome r = runPelorix(dir.path(), args, as);
    EXPECT_EQ(r.out, rehearsed);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(snapshot(dir.path()), before);
    r = runPelorix(dir.path(), std::vector(args.begin() + 1, args.end()), as);
    EXPECT_EQ(r.out, said);
    EXPECT_EQ(r.status, 1);
    for (const auto& [name, mode, owner, group, error] : files) {
        SCOPED_TRACE(name);
        const struct stat st = lstatOf(dir / name);
        EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
                  std::tuple(owner, group, mode));
        EXPECT_EQ(readFile(dir / name) == before.at(name), !error.empty());
    }
    EXPECT_EQ(snapshot(dir.path()).size(), before.size());  // nothing left beside the files
}

// Every object parses; a path that is not UTF-8 comes back byte for byte (Python's
// os.fsencode); a kept file shows both codes, a refusal what it concerns.
TEST(CommandLineTest, JsonLinesAreValidJson) {
    TempDir dir;
    makeFiles(dir);
    writeFile(dir / "x\xff.wav", wav(audioBytes(100, 8)));
    writeFile(dir / "x\xfe.wav", wav(audioBytes(100, 9)));
    writeFile(dir / "l.csv", bytesOf("b.wav,FIABC2600003\nzz.wav,FIABC2600004\n"));
    std::string all;
    for (const std::string args :
         {"--json --read a.wav c.wav d.wav missing.wav x\xff.wav x\xfe.wav",
          "--json --write FIABC2600002 b.wav notes.txt", "--json --write FIABC2600002 b.wav",
          "--dry-run --remove a.wav --json", "--json --write bad-code b.wav",
          "--json --sequence FIABC2600001 a.wav b.wav",
          "--json --sequence FIABC2699999 a.wav d.wav", "--json --write-list l.csv"}) {
        all += runPelorix(dir.path(), words(args)).out;
    }
    writeFile(dir / "out.jsonl", bytesOf(all));
    const RunResult py = runShell(
        "python3 -c 'import json,os,sys\nfor l in sys.stdin.buffer:\n o=json.loads(l); "
        "p=o.pop(\"path\", "
        "None)\n for k in \"message title artist album track disc seconds\".split(): o.pop(k, "
        "None)\n print(p and os.fsencode(p), *sorted(f\"{k}={v!r}\" for "
        "k,v in o.items()))' <" +
        quoted((dir / "out.jsonl").string()));
    EXPECT_EQ(py.output,
              "b'a.wav' code='FIABC2600010' format='WAV' result='ok'\n"
              "b'c.wav' code=None format='WAV' result='ok' stored='XY\\nZ\\x1b[2J\\x7f\\tQ'\n"
              "b'd.wav' code=None format='WAV' result='ok' stored='XYZ'\n"
              "b'missing.wav' code=None format=None result='error'\n"
              "b'x\\xff.wav' code=None format='WAV' result='ok'\n"
              "b'x\\xfe.wav' code=None format='WAV' result='ok'\n"
              "b'b.wav' code='FIABC2600002' format='WAV' previous=None result='ok'\n"
              "b'notes.txt' code='FIABC2600002' format=None previous=None result='error'\n"
              "b'b.wav' code='FIABC2600002' format='WAV' previous='FIABC2600002' "
              "result='unchanged'\n"
              "b'a.wav' code=None dry_run=True format='WAV' previous='FIABC2600010' result='ok'\n"
              "None input='bad-code' reason='it has 7 letters and digits besides separators; a "
              "code has 12' result='refused'\n"
              // Files that keep their codes use up no number: none passes 99999.
              "b'a.wav' code='FIABC2600010' format='WAV' previous='FIABC2600010' result='kept'\n"
              "b'b.wav' code='FIABC2600002' format='WAV' previous='FIABC2600002' result='kept'\n"
              "b'a.wav' code='FIABC2600010' format='WAV' previous='FIABC2600010' result='kept'\n"
              "b'd.wav' code=None format='WAV' previous='XYZ' result='kept'\n"
              "b'zz.wav' line=2 list='l.csv' result='refused'\n");
}

TEST(CommandLineTest, NoFileNameCanForgeALineOrSteerTheTerminal) {
    TempDir dir;
    fs::create_directory(dir / "d");
    const std::string forged = "d/x\nOK fake.wav", steer = "d/\x1b]0;t\x07\xC2\x9B.wav";
    writeFile(dir / forged, wav(audioBytes(100, 1)));
    writeFile(dir / steer, wav(audioBytes(100, 2)));
    const std::string f = "d/x\\nOK fake.wav", s = "d/\\x1b]0;t\\x07\\u009b.wav";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--read", forged, steer}, f + "\t-\n" + s + "\t-\n"},
        {{"--reuse-code", "--write", kCode, forged, steer}, "OK " + f + "\nOK " + s + "\n"},
        {{"--dry-run", "--remove", forged, steer},
         f + "\tFI-ABC-26-00001 -> -\n" + s + "\tFI-ABC-26-00001 -> -\n"},
        {{"--replace", "--sequence", kCode, "d"},  // control characters do not count in the order
         "OK " + s + ": FI-ABC-26-00001\nOK " + f + ": FI-ABC-26-00002\n"},
    };
    for (const auto& [args, out] : cases) {
        const Outcome r = runPelorix(dir.path(), args);
        EXPECT_EQ(r.out, out);
    }
}

// A sequence stalled on a one-page output pipe: a colleague's write meanwhile is kept, and a
// reader that goes away stops the run without a signal and without a file left behind.
TEST(CommandLineTest, ConcurrentWritesAndAClosedOutput) {
    TempDir dir;
    fs::create_directory(dir / "album");
    const auto fileName = [](int i) {
        char name[16];
        std::snprintf(name, sizeof name, "t%03d.wav", i);
        return std::string(name);
    };
    for (int i = 1; i <= 200; ++i)
        writeFile(dir / "album" / fileName(i), wav(audioBytes(64, std::uint32_t(i))));
    writeFile(dir / "race.py", bytesOf(R"(import fcntl, os, subprocess, sys
pelorix, stop = sys.argv[1], sys.argv[2] == "close"
r, w = os.pipe()
fcntl.fcntl(r, fcntl.F_SETPIPE_SZ, 4096)
run = subprocess.Popen([pelorix] + sys.argv[3:], stdout=w, stderr=subprocess.PIPE)
os.close(w)
os.read(r, 1)
if stop:
    os.close(r)
else:
    other = subprocess.run([pelorix, "--reuse-code", "--write", "FIZZZ2600001", "album/t200.wav"],
                           capture_output=True, text=True)
    print(other.stdout, end="")
    print(os.fdopen(r).read().splitlines()[-1])
print(run.wait(), run.stderr.read().decode(), end="")
)"));
    const auto race = [&](const std::string& how, const std::string& args) {
        return runShell("cd " + quoted(dir.path().string()) +
                        " && PELORIX_LEDGER=" + quoted(freshLedger()) + " python3 race.py " +
                        quoted(PELORIX_BINARY) + " " + how + " " + args)
            .output;
    };
    EXPECT_EQ(race("write", "--sequence FIABC2600001 album"),
              "OK album/t200.wav\nKEPT album/t200.wav: it carries FI-ZZZ-26-00001; --replace "
              "replaces it\n1 Wrote 199, kept 1, unchanged 0, failed 0.\n");
    EXPECT_EQ(codeIn(dir / "album/t200.wav"), "FIZZZ2600001");

    // The reader goes after one byte: no file is changed once the output is seen closed, and
    // every file changed is told, on the output or (its line refused) on standard error.
    const std::string said = race("close", "--replace --sequence FIABC2600501 album");
    std::size_t printed = 0;
    ASSERT_EQ(
        std::sscanf(said.c_str(), "1 pelorix: the output was closed after %zu of 200", &printed), 1)
        << said;
    std::set<std::string> told, changed;
    for (std::size_t i = 1; i <= printed; ++i) told.insert(fileName(int(i)));
    for (std::size_t at = 0; (at = said.find("pelorix: album/", at)) != std::string::npos;) {
        told.insert(said.substr(at + 15, 8));
        EXPECT_EQ(said.substr(at + 23, 13), " was changed;") << said;
        at += 15;
    }
    for (const auto& [name, bytes] : snapshot(dir / "album")) {
        EXPECT_TRUE(name.starts_with("t")) << name << " left behind";
        const std::string code = codeIn(dir / "album" / name);
        if (code.starts_with("FIABC") && code >= "FIABC2600501") changed.insert(name);
    }
    EXPECT_EQ(changed, told) << said;
    EXPECT_LE(changed.size(), 128u) << "the run went on after its output closed";
}

// Lists from pipes, one file under two names, and a list that never ends.
TEST(CommandLineTest, ListsFromPipesAndFilesNamedTwice) {
    TempDir dir;
    makeSongs(dir);
    fs::create_symlink("a.wav", dir / "link.wav");
    writeFile(dir / "l.csv",
              bytesOf("b.wav,FIABC2600002\nlink.wav,FIABC2600001\na.wav,FIABC2600001\n"));
    const std::pair<std::string, std::string> cases[] = {
        {"cat l.csv | $P --write-list -",
         "pelorix: -:3: a.wav is the file of line 2; it is written once\n"
         "OK b.wav: FI-ABC-26-00002\nOK link.wav: FI-ABC-26-00001\n"
         "Wrote 2, kept 0, unchanged 0, failed 0.\n0\n"},
        {"$P --write-list /dev/stdin <l.csv",
         "pelorix: /dev/stdin:3: a.wav is the file of line 2; it is written once\n"
         "OK b.wav: FI-ABC-26-00002\nOK link.wav: FI-ABC-26-00001\n"
         "Wrote 0, kept 0, unchanged 2, failed 0.\n0\n"},
        {"yes x | head -n 500 | $P --write-list - | tail -n 2",
         "-:101: Too many problems; reading stopped here.\nNo file was changed (101 "
         "problems).\n0\n"},
        {"$P --write-list /dev/zero",
         "/dev/zero: The list is larger than 8 MiB; split it into smaller lists.\n"
         "No file was changed (1 problem).\n2\n"},
    };
    for (const auto& [command, said] : cases) {
        SCOPED_TRACE(command);
        const ino_t inode = lstatOf(dir / "b.wav").st_ino;
        EXPECT_EQ(runShell("cd " + quoted(dir.path().string()) + " && P=" + quoted(PELORIX_BINARY) +
                           " && export PELORIX_LEDGER=" + quoted(freshLedger()) + " && (" +
                           command + ") 2>&1; echo $?")
                      .output,
                  said);
        if (said.find("unchanged 2") != std::string::npos) {
            EXPECT_EQ(lstatOf(dir / "b.wav").st_ino, inode);  // not even rewritten
        }
    }
    EXPECT_EQ(codeIn(dir / "a.wav"), "FIABC2600001");
}

// A label's sheet finds its files by title, track or name in the folders given.
TEST(CommandLineTest, SheetsFindFilesByTitleTrackOrName) {
    const std::string cd1 = "OK release/CD1/01 Opening.wav: FI-ABC-26-00001\n",
                      cd2 =
                          "OK release/CD2/01 Second Dawn.flac: FI-ABC-26-00002\n"
                          "OK release/CD2/01 Second Dawn.wav: FI-ABC-26-00002\n";
    // Status, options, the sheet, output.
    const std::tuple<int, std::string, std::string, std::string> cases[] = {
        {0, "", "Track;Title;ISRC\n1-01;opening;FIABC2600001\n2-01;Second  Dawn;FIABC2600002\n",
         cd1 + cd2},
        {0, "--match track", "Track;Title;ISRC\n1-01;x;FIABC2600001\nCD2/01;y;FIABC2600002\n",
         cd1 + cd2},
        {0, "", "Disc,Track,Code\nCD 2,1,FIABC2600002\n", cd2},
        {0, "shop", "Track;Title;ISRC\n1-01;opening;FIABC2600001\n",  // and its copy elsewhere
         cd1 + "OK shop/01 Opening.wav: FI-ABC-26-00001\n"},
        {0, "--match name", "Name,ISRC\n01 Opening.wav,FIABC2600001\n", cd1},
        {0, "", "Title,ISRC\nRain,FIABC2600003\n",  // its title tag
         "OK release/CD1/02 Take 2.wav: FI-ABC-26-00003\n"},
        {2, "--match track", "Track;Title;ISRC\n01;Rain;FIABC2600001\n9;Opening;FIABC2600002\n",
         "sheet.csv:2: \"01\" matches 3 files of more than one recording: release/CD1/01 "
         "Opening.wav, release/CD2/01 Second Dawn.flac, ….\nsheet.csv:3: No file matches \"9\".\n"
         "No file was changed (2 problems).\n"},
        {2, "", "Artist;Notes;ISRC\nx;y;FIABC2600001\n",
         "sheet.csv:1: The header names no column that finds the files (path, file name, title "
         "or track).\nNo file was changed (1 problem).\n"},
    };
    for (const auto& [status, options, sheet, out] : cases) {
        SCOPED_TRACE(sheet);
        TempDir dir;
        fs::create_directories(dir / "release" / "CD1");
        fs::create_directories(dir / "release" / "CD2");
        fs::create_directories(dir / "shop");
        writeFile(dir / "release/CD1/01 Opening.wav", wav(audioBytes(100, 1)));
        writeFile(dir / "shop/01 Opening.wav", wav(audioBytes(100, 1)));
        writeFile(dir / "release/CD1/02 Take 2.wav",
                  wav({chunks::wavFormat(),
                       {"data", audioBytes(100, 4)},
                       {"id3 ", id3::tag({.frames = {id3::textFrame("TIT2", "Rain")}})}}));
        writeFile(dir / "release/CD2/01 Second Dawn.wav", wav(audioBytes(100, 2)));
        writeFile(dir / "release/CD2/01 Second Dawn.flac", flacFile(3));
        writeFile(dir / "sheet.csv", bytesOf(sheet));
        const Outcome r =
            runPelorix(dir.path(), words("--write-list sheet.csv release " + options));
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.status, status);
    }
}
