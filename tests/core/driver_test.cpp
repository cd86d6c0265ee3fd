// SPDX-License-Identifier: MIT
// The tagging driver end to end: round trips, the checks before the replace, fingerprints,
// backups, the temporary file, and what must survive a replace (mode, owner, attributes, links).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <tuple>

#include "core/io/sha256.h"
#include "core/tag_error.h"
#include "core/write/audio_tagger.h"
#include "driver_fixtures.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::driver;
namespace fs = std::filesystem;

namespace {

// Removes the after-write hook however a test ends.
struct HookGuard {
    ~HookGuard() { AudioTagger::testing::setAfterWriteHook(nullptr); }
};

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

using Names = std::vector<std::string>;

}  // namespace

// ---- round trips -------------------------------------------------------------------------

TEST(DriverTest, RoundTripOnEveryFormat) {
    if (!haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const fs::path source = dir / "tone.wav";
    ASSERT_EQ(runShell("ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=0.3 "
                       "-ar 44100 '" +
                       source.string() + "'")
                  .status,
              0);
    const std::tuple<std::string, std::string, AudioFormat> cases[] = {
        {"a.wav", "", AudioFormat::wav},
        {"a.aiff", "", AudioFormat::aiff},
        {"a.mp3", "-c:a libmp3lame", AudioFormat::mp3},
        {"a.flac", "", AudioFormat::flac},
        {"a.m4a", "-c:a aac", AudioFormat::m4a}};
    for (const auto& [name, codec, format] : cases) {
        SCOPED_TRACE(name);
        const fs::path file = dir / name;
        ASSERT_EQ(runShell("ffmpeg -loglevel error -i '" + source.string() + "' " + codec + " '" +
                           file.string() + "'")
                      .status,
                  0);
        ASSERT_EQ(AudioFormat::detect(file), format);
        const std::string audio = AudioTagger::fingerprint(file, format);
        EXPECT_EQ(AudioTagger::readISRC(file), std::nullopt);
        // The same code twice: no short cut, the file is rewritten (a new inode) and verified.
        using Code = std::optional<std::string>;
        for (const Code& code : {Code(kCode), Code(kCode), Code("GBXYZ9912345"), Code()}) {
            const ino_t before = lstatOf(file).st_ino;
            AudioTagger::writeISRC(file, code, false);
            EXPECT_NE(lstatOf(file).st_ino, before);
            EXPECT_EQ(AudioTagger::readISRC(file), code);
            EXPECT_EQ(AudioTagger::fingerprint(file, format), audio);
        }
    }
    EXPECT_TRUE(tempFiles(dir).empty());
}

TEST(DriverTest, StoredTextReadsBackAsStoredAndNothingToRemoveIsNoError) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    for (const std::string stored : {"XYZ", "fi-abc-26-00001", "FIABC26000019"}) {
        writeFile(file, wavWithCode(stored, audioBytes(64)));
        EXPECT_EQ(AudioTagger::readISRC(file), stored);
    }
    writeFile(file, wav(audioBytes(1000)));
    AudioTagger::writeISRC(file, std::nullopt, false);
    EXPECT_EQ(AudioTagger::readISRC(file), std::nullopt);
    EXPECT_EQ(dir.list(), Names{"Song.wav"});
}

// A stream recognised only by its name: a new leading tag makes the temporary file
// recognisable; an output without any tag is not, so such a write must fail and change nothing.
TEST(DriverTest, MP3KnownOnlyByItsExtension) {
    TempDir dir;
    const fs::path file = dir / "Song.MP3";
    const Bytes plain = bytesOf("plain text, no frame sync at all");
    writeFile(file, plain);
    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, std::nullopt, false); }),
              msg::unsupportedType);
    EXPECT_EQ(readFile(file), plain);

    AudioTagger::writeISRC(file, kCode, false);
    EXPECT_EQ(AudioTagger::readISRC(file), kCode);
    const Bytes tagged = readFile(file);
    EXPECT_TRUE(std::equal(plain.rbegin(), plain.rend(), tagged.rbegin()));

    // Removing the only frame leaves no tag, and the temporary name does not end in mp3.
    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, std::nullopt, true); }),
              msg::unsupportedType);
    EXPECT_EQ(readFile(file), tagged);
    EXPECT_EQ(dir.list(), Names{"Song.MP3"});
}

TEST(DriverTest, FailuresBeforeTheWriteLeaveNothingBehind) {
    TempDir dir;
    const Bytes truncated = concat({bytesOf("fLaC"), {0x80, 0x00, 0x03, 0xE8, 1, 2, 3, 4, 5, 6}});
    Bytes v22 = concat({id3Tag({{"TSRC", "X"}}), id3::fakeAudio(100)});
    v22[3] = 2;
    const std::tuple<std::string, Bytes, std::string> cases[] = {
        {"notes.txt", bytesOf("just some words, not audio"), std::string(msg::unsupportedType)},
        {"short.wav", bytesOf("RIFF1234"), std::string(msg::tooShortForAudio)},
        {"cut.flac", truncated, std::string(msg::flacTruncated)},  // a block larger than the file
        {"v2.mp3", v22, "This file has an ID3v2.2 tag. PELORIX supports ID3v2.3 and ID3v2.4 only."},
    };
    for (const auto& [name, content, message] : cases) {
        SCOPED_TRACE(name);
        writeFile(dir / name, content);
        EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(dir / name, kCode, true); }), message);
        EXPECT_EQ(readFile(dir / name), content);
    }
    EXPECT_EQ(dir.list().size(), std::size(cases));
    fs::create_symlink("nowhere.wav", dir / "dangling.wav");
    for (const char* name : {"missing.wav", "dangling.wav"}) {
        EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(dir / name, kCode, false); }),
                  msg::cannotOpen(platformText(ENOENT)));
    }
}

// Before the write, a leftover file or link at the temporary name goes (a link is never
// followed); a folder there is never removed, and the write is refused. What appears between that
// cleanup and the creation is not ours: refused, and neither followed, written to nor deleted.
TEST(DriverTest, WhateverSitsAtTheTemporaryName) {
    const auto link = [](const fs::path& at, const fs::path& to) { fs::create_symlink(to, at); };
    struct Case {
        std::string what;
        bool during;  // planted when the write opens the temporary file
        std::function<void(const fs::path& at, const fs::path& victim)> plant;
        std::string error;
    };
    const Case cases[] = {
        {"a stale file", false, [](const fs::path& at, auto&) { writeFile(at, bytesOf("x")); }, ""},
        {"a link", false, link, ""},
        {"a folder", false,
         [](const fs::path& at, auto&) {
             fs::create_directory(at);
             writeFile(at / "inside.txt", bytesOf("keep me"));
         },
         msg::cannotWrite(platformText(EEXIST))},
        {"a link planted during the write", true, link, msg::cannotWrite(platformText(EEXIST))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path file = dir / "Song.wav", tmp = dir / ".Song.wav.pelorix-tmp";
        const Bytes original = wav(audioBytes(100));
        writeFile(file, original);
        writeFile(dir / "victim.txt", bytesOf("precious"));
        if (!c.during) c.plant(tmp, dir / "victim.txt");
        {
            Seam seam([&](const Seam::Call& call) {
                if (c.during && call.op == sys::Op::open && call.path == tmp.string() &&
                    !fs::exists(fs::symlink_status(tmp))) {
                    c.plant(tmp, dir / "victim.txt");
                }
                return 0;
            });
            EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, false); }), c.error);
        }
        EXPECT_EQ(readFile(dir / "victim.txt"), bytesOf("precious"));
        if (c.error.empty()) {
            EXPECT_EQ(AudioTagger::readISRC(file), kCode);
            EXPECT_EQ(dir.list(), (Names{"Song.wav", "victim.txt"}));
        } else {
            EXPECT_EQ(readFile(file), original);
            EXPECT_TRUE(fs::exists(fs::symlink_status(tmp)));
        }
    }
}

// ---- the checks before the replace ---------------------------------------------------------

// Changed audio, an original changed meanwhile and a code that does not read back are refused:
// the file stays as it was (or as whoever changed it left it) and nothing is left beside it. A
// code that reads back canonically equivalent passes.
TEST(DriverTest, TheChecksBeforeTheReplace) {
    HookGuard guard;
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes audio = audioBytes(3000);
    const Bytes original = wavWithCode("GBXYZ9900001", audio);
    const Bytes edited = wav(audioBytes(3000, 9));
    Bytes flipped = audio;
    flipped[1500] ^= 0x01;
    const auto withTSRC = [&](const Bytes& body) {
        return wav({chunks::wavFormat(),
                    {"data", audio},
                    {"id3 ", id3::tag({.frames = {{"TSRC", body}}})}});
    };
    // "éAB" read back decomposed (e + U+0301, UTF-16 with a byte order mark), and with another
    // combining mark: not the same text.
    const std::string accented =
        "\xC3\xA9"
        "AB";
    const Bytes decomposed = withTSRC({1, 0xFF, 0xFE, 'e', 0, 0x01, 0x03, 'A', 0, 'B', 0});
    // The writer's output replaced by these bytes, or the original changed meanwhile.
    const auto put = [](Bytes b) { return [b](const fs::path& tmp) { writeFile(tmp, b); }; };
    const auto change = [&](const Bytes& b) { return [&, p = &b](auto&) { writeFile(file, *p); }; };
    struct Case {
        std::string what;
        std::optional<std::string> code;
        std::function<void(const fs::path& tmp)> tamper;
        std::string_view error;  // empty: the write goes through
        const Bytes& after;      // the file afterwards
    };
    const Case cases[] = {
        {"one audio byte flipped", kCode, put(wavWithCode(kCode, flipped)), msg::verifyAudio,
         original},
        {"last audio byte dropped", kCode,
         put(wavWithCode(kCode, Bytes(audio.begin(), audio.end() - 1))), msg::verifyAudio,
         original},
        {"audio split over two data chunks (only the first counts)", kCode,
         put(wav({chunks::wavFormat(),
                  {"data", Bytes(audio.begin(), audio.begin() + 1500)},
                  {"data", Bytes(audio.begin() + 1500, audio.end())},
                  {"id3 ", id3Tag({{"TSRC", kCode}})}})),
         msg::verifyAudio, original},
        // Whatever happens to the original meanwhile wins: replacing it would undo that.
        {"original rewritten with other audio", kCode, change(edited), msg::verifyAudio, edited},
        {"original rewritten with the same bytes", kCode, change(original), msg::verifyAudio,
         original},
        {"original replaced by another file", kCode,
         [&](auto&) {
             writeFile(dir / "other.wav", edited);
             fs::rename(dir / "other.wav", file);
         },
         msg::verifyAudio, edited},
        {"another code read back", kCode, put(wavWithCode("FIABC2600002", audio)), msg::verifyISRC,
         original},
        {"the code read back in lower case", kCode, put(wavWithCode("fiabc2600001", audio)),
         msg::verifyISRC, original},
        {"a removal that did not happen", std::nullopt, put(original), msg::verifyISRC, original},
        {"another letter read back", accented,
         put(withTSRC({1, 0xFF, 0xFE, 'e', 0, 0x00, 0x03, 'A', 0, 'B', 0})), msg::verifyISRC,
         original},
        {"the same text read back decomposed", accented, put(decomposed), "", decomposed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(file, original);
        // An older time stamp, so that any change the hook makes shows in it.
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
        AudioTagger::testing::setAfterWriteHook(c.tamper);
        EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, c.code, true); }), c.error);
        EXPECT_TRUE(readFile(file) == c.after);
        EXPECT_EQ(dir.list(),
                  (c.error.empty() ? Names{"Song (original).wav", "Song.wav"} : Names{"Song.wav"}));
        fs::remove(dir / "Song (original).wav");
    }
}

// ---- fingerprint ---------------------------------------------------------------------------

TEST(FingerprintTest, CoversTheAudioBytesOnly) {
    TempDir dir;
    const Bytes audio = audioBytes(3 * (1 << 20) + 77);  // several pieces
    const Bytes frames = id3::fakeAudio(5000, 2);
    const Bytes tag = id3Tag({{"TIT2", "Title"}}, 300);
    Bytes cut = id3Tag({{"TIT2", "x"}}, 5000);
    cut.resize(200);
    const std::tuple<std::string, Bytes, AudioFormat, std::string> cases[] = {
        {"tagged.wav", wavWithCode(kCode, audio), AudioFormat::wav, sha256Hex(audio)},
        {"reordered.wav",
         wav({{"id3 ", id3Tag({{"TSRC", kCode}}, 99)},
              {"LIST", bytesOf("abc")},
              chunks::wavFormat(),
              {"data", audio}}),
         AudioFormat::wav, sha256Hex(audio)},
        {"nodata.wav", wav({chunks::wavFormat()}), AudioFormat::wav, sha256Hex({})},
        {"tag.mp3", concat({tag, frames}), AudioFormat::mp3, sha256Hex(frames)},
        {"bigger.mp3",
         concat({id3Tag({{"TIT2", "A much longer title"}, {"TSRC", kCode}}, 4000), frames}),
         AudioFormat::mp3, sha256Hex(frames)},
        {"bare.mp3", frames, AudioFormat::mp3, sha256Hex(frames)},
        {"tail.mp3", concat({tag, frames, Bytes(128, 'T')}), AudioFormat::mp3,
         sha256Hex(concat({frames, Bytes(128, 'T')}))},
        {"cut.mp3", cut, AudioFormat::mp3, std::string(msg::id3Truncated)},  // a tag past the end
    };
    for (const auto& [name, content, format, expected] : cases) {
        writeFile(dir / name, content);
        std::string digest;
        const std::string error =
            errorOf([&] { digest = AudioTagger::fingerprint(dir / name, format); });
        EXPECT_EQ(error.empty() ? digest : error, expected) << name;
    }
}

// ---- backups -------------------------------------------------------------------------------

TEST(BackupTest, NumberedCopiesOfTheOldContent) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes v0 = wav(audioBytes(300));
    writeFile(file, v0);
    AudioTagger::writeISRC(file, "FIABC2600001", true);
    const Bytes v1 = readFile(file);
    AudioTagger::writeISRC(file, "FIABC2600002", true);
    AudioTagger::writeISRC(file, "FIABC2600003", false);  // backup off: no copy
    AudioTagger::writeISRC(file, "FIABC2600004", true);
    EXPECT_EQ(dir.list(), (Names{"Song (original 2).wav", "Song (original 3).wav",
                                 "Song (original).wav", "Song.wav"}));
    EXPECT_EQ(readFile(dir / "Song (original).wav"), v0);
    EXPECT_EQ(readFile(dir / "Song (original 2).wav"), v1);
    EXPECT_EQ(AudioTagger::readISRC(dir / "Song (original 3).wav"), "FIABC2600003");

    // Whatever already holds a candidate name is skipped, never overwritten or followed.
    writeFile(dir / "LICENSE", wav(audioBytes(50)));
    fs::create_directory(dir / "LICENSE (original)");
    fs::create_symlink(dir / "elsewhere", dir / "LICENSE (original 2)");
    EXPECT_EQ(AudioTagger::makeBackup(dir / "LICENSE"), dir / "LICENSE (original 3)");
    EXPECT_EQ(readFile(dir / "LICENSE (original 3)"), wav(audioBytes(50)));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
    writeFile(dir / "a.b.wav", bytesOf("x"));
    EXPECT_EQ(AudioTagger::makeBackup(dir / "a.b.wav"), dir / "a.b (original).wav");

    // The kernel copy unavailable (another filesystem), from the start or after its first
    // piece: the rest is read and written, and lands after what the kernel already copied.
    writeFile(dir / "big.wav", wav(audioBytes((1 << 20) + 3)));
    for (int refusedFrom : {0, 1}) {
        SCOPED_TRACE(refusedFrom);
        Seam seam([&](const Seam::Call& c) {
            return c.op == sys::Op::copyRange && c.nth >= refusedFrom ? EXDEV : 0;
        });
        const fs::path copy = AudioTagger::makeBackup(dir / "big.wav");
        EXPECT_TRUE(readFile(copy) == readFile(dir / "big.wav"));
        EXPECT_EQ(seam.count[sys::Op::copyRange], refusedFrom + 1);
        fs::remove(copy);
    }
}

// ---- what survives the replace -----------------------------------------------------------

TEST(ReplaceTest, ModeOwnerAndAttributesSurviveInTheFileAndItsBackup) {
    const bool root = ::geteuid() == 0;
    // Set-id bits too: a change of owner clears them, so the mode must come after it.
    for (mode_t mode : {0600, 0640, 0755, 0444, 06755}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, wav(audioBytes(100)));
        if (root) {
            ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
        }
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        const bool xattrs = ::setxattr(file.c_str(), "user.pelorix", "kept", 4, 0) == 0;
        AudioTagger::writeISRC(file, kCode, true);
        EXPECT_EQ(AudioTagger::readISRC(file), kCode);
        for (const fs::path& p : {file, dir / "Song (original).wav"}) {
            const struct stat st = lstatOf(p);
            EXPECT_EQ(st.st_mode & 07777, mode) << p;
            if (root) {
                EXPECT_EQ(std::pair(st.st_uid, st.st_gid), std::pair(1234u, 5678u)) << p;
            }
            char buf[16] = {};
            (void)::getxattr(p.c_str(), "user.pelorix", buf, sizeof buf);
            EXPECT_EQ(std::string(buf), xattrs ? "kept" : "") << p;
        }
    }
}

TEST(ReplaceTest, ASymbolicLinkStaysALinkToTheTaggedFile) {
    TempDir dir;
    fs::create_directory(dir / "music");
    fs::create_directory(dir / "links");
    writeFile(dir / "music" / "Song.wav", wav(audioBytes(100)));
    fs::create_symlink("../music/Song.wav", dir / "links" / "Song.wav");
    fs::create_symlink("Song.wav", dir / "links" / "again.wav");  // a chain of links

    AudioTagger::writeISRC(dir / "links" / "again.wav", kCode, true);
    EXPECT_TRUE(fs::is_symlink(dir / "links" / "again.wav"));
    EXPECT_EQ(fs::read_symlink(dir / "links" / "Song.wav"), "../music/Song.wav");
    EXPECT_EQ(AudioTagger::readISRC(dir / "music" / "Song.wav"), kCode);
    // Backup and temporary file live beside the real file.
    const auto count = [](const fs::path& p) {
        return std::distance(fs::directory_iterator(p), fs::directory_iterator());
    };
    EXPECT_TRUE(fs::is_regular_file(dir / "music" / "Song (original).wav"));
    EXPECT_EQ(count(dir / "music"), 2);
    EXPECT_EQ(count(dir / "links"), 2);
}
