// The tagging driver end to end: round trips, verification, backups, the temporary file, and
// what must survive a replace (mode, owner, attributes, symbolic links).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/audio_tagger.h"
#include "core/sha256.h"
#include "core/tag_error.h"
#include "driver_fixtures.h"
#include "support/files.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::driver;
namespace fs = std::filesystem;

namespace {

const std::string kCode = "FIABC2600001";

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// Removes the after-write hook however a test ends.
struct HookGuard {
    ~HookGuard() { AudioTagger::testing::setAfterWriteHook(nullptr); }
};

// Replaces the first occurrence of `from` in the file by `to` (same length).
void patchFile(const fs::path& p, const std::string& from, const std::string& to) {
    Bytes b = readFile(p);
    auto it = std::search(b.begin(), b.end(), from.begin(), from.end());
    ASSERT_NE(it, b.end()) << from;
    std::copy(to.begin(), to.end(), it);
    writeFile(p, b);
}

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

// ---- round trips -------------------------------------------------------------------------

TEST(DriverTest, RoundTripOnEveryFormat) {
    if (!haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const fs::path source = dir / "tone.wav";
    ASSERT_EQ(runShell("ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=0.3 "
                       "-ar 44100 '" + source.string() + "'").status, 0);
    struct Case {
        std::string name;
        std::string codec;
        AudioFormat format;
    };
    const Case cases[] = {{"a.wav", "", AudioFormat::wav},
                          {"a.aiff", "", AudioFormat::aiff},
                          {"a.mp3", "-c:a libmp3lame", AudioFormat::mp3},
                          {"a.flac", "", AudioFormat::flac},
                          {"a.m4a", "-c:a aac", AudioFormat::m4a}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir / c.name;
        ASSERT_EQ(runShell("ffmpeg -loglevel error -i '" + source.string() + "' " + c.codec +
                           " '" + file.string() + "'").status, 0);
        ASSERT_EQ(AudioFormat::detect(file), c.format);
        const std::string audio = AudioTagger::fingerprint(file, c.format);
        EXPECT_EQ(AudioTagger::readISRC(file), std::nullopt);

        AudioTagger::writeISRC(file, kCode, false);
        EXPECT_EQ(AudioTagger::readISRC(file), kCode);
        EXPECT_EQ(AudioTagger::fingerprint(file, c.format), audio);

        // The same code again: no short cut, the file is rewritten (a new inode) and verified.
        const ino_t before = lstatOf(file).st_ino;
        AudioTagger::writeISRC(file, kCode, false);
        EXPECT_NE(lstatOf(file).st_ino, before);
        EXPECT_EQ(AudioTagger::readISRC(file), kCode);
        EXPECT_EQ(AudioTagger::fingerprint(file, c.format), audio);

        AudioTagger::writeISRC(file, "GBXYZ9912345", false);
        EXPECT_EQ(AudioTagger::readISRC(file), "GBXYZ9912345");

        AudioTagger::writeISRC(file, std::nullopt, false);
        EXPECT_EQ(AudioTagger::readISRC(file), std::nullopt);
        EXPECT_EQ(AudioTagger::fingerprint(file, c.format), audio);
    }
    EXPECT_TRUE(tempFiles(dir).empty());
}

TEST(DriverTest, RemovingFromAFileWithoutACodeSucceeds) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    writeFile(file, wav(audioBytes(1000)));
    AudioTagger::writeISRC(file, std::nullopt, false);
    EXPECT_EQ(AudioTagger::readISRC(file), std::nullopt);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
}

TEST(DriverTest, ReadReturnsAnInvalidStoredCodeAsStored) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    for (const std::string stored : {"XYZ", "fi-abc-26-00001", "FIABC26000019"}) {
        writeFile(file, wavWithCode(stored, audioBytes(64)));
        EXPECT_EQ(AudioTagger::readISRC(file), stored);
    }
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
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.MP3"});
}

TEST(DriverTest, StaleTemporaryFileIsReplaced) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    writeFile(file, wav(audioBytes(500)));
    writeFile(dir / ".Song.wav.pelorix-tmp", bytesOf("left over from a crash"));
    AudioTagger::writeISRC(file, kCode, false);
    EXPECT_EQ(AudioTagger::readISRC(file), kCode);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
}

TEST(DriverTest, FailuresBeforeTheWriteLeaveNothingBehind) {
    TempDir dir;
    struct Case {
        std::string name;
        Bytes content;
        std::string message;
    };
    Bytes truncated = bytesOf("fLaC");  // a block that claims more than the file holds
    truncated.insert(truncated.end(), {0x80, 0x00, 0x03, 0xE8, 1, 2, 3, 4, 5, 6});
    const Case cases[] = {
        {"notes.txt", bytesOf("just some words, not audio"), std::string(msg::unsupportedType)},
        {"short.wav", bytesOf("RIFF1234"), std::string(msg::tooShortForAudio)},
        {"cut.flac", truncated, std::string(msg::flacTruncated)},
        {"v2.mp3", [] {
             Bytes b = id3({{"TSRC", "X"}});
             b[3] = 2;
             Bytes a = mpegAudio(100);
             b.insert(b.end(), a.begin(), a.end());
             return b;
         }(), msg::id3Version(2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / c.name, c.content);
        EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(dir / c.name, kCode, true); }), c.message);
        EXPECT_EQ(readFile(dir / c.name), c.content);
    }
    EXPECT_EQ(dir.list().size(), std::size(cases));
    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(dir / "missing.wav", kCode, false); })
                  .rfind("Cannot open the file: ", 0),
              0u);
}

// ---- verification --------------------------------------------------------------------------

TEST(DriverTest, AWriterThatChangesTheAudioIsRefused) {
    HookGuard guard;
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes audio = audioBytes(3000);
    const Bytes original = wav(audio);
    writeFile(file, original);

    struct Case {
        std::string what;
        std::function<void(const fs::path&)> damage;
    };
    const Case cases[] = {
        {"one byte flipped", [&](const fs::path& tmp) {
             Bytes b = readFile(tmp);
             auto it = std::search(b.begin(), b.end(), audio.begin(), audio.end());
             ASSERT_NE(it, b.end());
             it[1500] ^= 0x01;
             writeFile(tmp, b);
         }},
        {"last byte dropped", [&](const fs::path& tmp) {
             writeFile(tmp, wavWithCode(kCode, Bytes(audio.begin(), audio.end() - 1)));
         }},
        {"audio moved to another data chunk", [&](const fs::path& tmp) {
             // Same bytes, but the fingerprint takes only the first "data" chunk.
             const Bytes half1(audio.begin(), audio.begin() + 1500);
             const Bytes half2(audio.begin() + 1500, audio.end());
             writeFile(tmp, wav({{"fmt ", wavFmt()}, {"data", half1}, {"data", half2},
                                 {"id3 ", id3({{"TSRC", kCode}})}}));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AudioTagger::testing::setAfterWriteHook(c.damage);
        EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, true); }), msg::verifyAudio);
        EXPECT_EQ(readFile(file), original);
        EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});  // no backup, no tmp
    }
}

// Whatever happens to the original while its copy is made wins over the copy: replacing it
// would silently undo that change.
TEST(DriverTest, AnOriginalChangedDuringTheWriteIsNotReplaced) {
    HookGuard guard;
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes original = wav(audioBytes(500));
    const Bytes edited = wav(audioBytes(500, 9));
    struct Case {
        std::string what;
        std::function<void()> change;
        Bytes expected;
    };
    const Case cases[] = {
        {"rewritten in place with other audio", [&] { writeFile(file, edited); }, edited},
        {"replaced by another file", [&] {
             writeFile(dir / "other.wav", edited);
             fs::rename(dir / "other.wav", file);
         }, edited},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(file, original);
        AudioTagger::testing::setAfterWriteHook([&](const fs::path&) { c.change(); });
        EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, true); }), msg::verifyAudio);
        EXPECT_EQ(readFile(file), c.expected);
        EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    }
}

TEST(DriverTest, ACodeThatDoesNotReadBackIsRefused) {
    HookGuard guard;
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes original = wavWithCode("GBXYZ9900001", audioBytes(200));
    writeFile(file, original);
    struct Case {
        std::optional<std::string> code;
        std::string stored;    // what the writer put in the file
        std::string tampered;  // what the hook turns it into
    };
    const Case cases[] = {
        {kCode, kCode, "FIABC2600002"},
        {kCode, kCode, "fiabc2600001"},  // no case folding in the comparison
        {std::nullopt, "GBXYZ9900001", "GBXYZ9900001"},  // a removal that did not happen
    };
    for (const auto& c : cases) {
        AudioTagger::testing::setAfterWriteHook([&](const fs::path& tmp) {
            if (c.code) {
                patchFile(tmp, c.stored, c.tampered);
            } else {
                writeFile(tmp, original);
            }
        });
        EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, c.code, true); }), msg::verifyISRC);
        EXPECT_EQ(readFile(file), original);
        EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    }
}

TEST(DriverTest, ACanonicallyEquivalentCodeReadsBackAsEqual) {
    HookGuard guard;
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes audio = audioBytes(200);
    writeFile(file, wav(audio));
    // Written precomposed (U+00E9), read back decomposed (e + U+0301, UTF-16 with a BOM).
    const Bytes decomposed = {1, 0xFF, 0xFE, 'e', 0, 0x01, 0x03, 'A', 0, 'B', 0};
    const Bytes replacement =
        wav({{"fmt ", wavFmt()}, {"data", audio}, {"id3 ", id3Frames({{"TSRC", decomposed}})}});
    AudioTagger::testing::setAfterWriteHook(
        [&](const fs::path& tmp) { writeFile(tmp, replacement); });
    AudioTagger::writeISRC(file, std::string("\xC3\xA9") + "AB", false);
    EXPECT_EQ(readFile(file), replacement);

    // A different letter is not equivalent.
    const Bytes other = {1, 0xFF, 0xFE, 'e', 0, 0x00, 0x03, 'A', 0, 'B', 0};
    AudioTagger::testing::setAfterWriteHook([&](const fs::path& tmp) {
        writeFile(tmp, wav({{"fmt ", wavFmt()}, {"data", audio}, {"id3 ", id3Frames({{"TSRC", other}})}}));
    });
    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, std::string("\xC3\xA9") + "AB", false); }),
              msg::verifyISRC);
    EXPECT_EQ(readFile(file), replacement);
}

// ---- fingerprint ---------------------------------------------------------------------------

TEST(FingerprintTest, CoversTheAudioBytesOnly) {
    TempDir dir;
    const Bytes audio = audioBytes(3 * (1 << 20) + 77);  // several pieces
    const Bytes tail(128, 'T');
    struct Case {
        std::string name;
        Bytes content;
        AudioFormat format;
        std::string expected;
    };
    Bytes mp3 = id3({{"TIT2", "Title"}}, 300);
    const Bytes frames = mpegAudio(5000);
    mp3.insert(mp3.end(), frames.begin(), frames.end());
    Bytes mp3Bigger = id3({{"TIT2", "A much longer title"}, {"TSRC", kCode}}, 4000);
    mp3Bigger.insert(mp3Bigger.end(), frames.begin(), frames.end());
    Bytes bare = frames;
    Bytes withTail = mp3;
    withTail.insert(withTail.end(), tail.begin(), tail.end());
    const std::string audioDigest = sha256Hex(audio);
    const std::string framesDigest = sha256Hex(frames);
    Bytes tailDigestInput = frames;
    tailDigestInput.insert(tailDigestInput.end(), tail.begin(), tail.end());

    const Case cases[] = {
        {"plain.wav", wav(audio), AudioFormat::wav, audioDigest},
        {"tagged.wav", wavWithCode(kCode, audio), AudioFormat::wav, audioDigest},
        {"reordered.wav",
         wav({{"id3 ", id3({{"TSRC", kCode}}, 99)}, {"LIST", bytesOf("abc")}, {"fmt ", wavFmt()},
              {"data", audio}}),
         AudioFormat::wav, audioDigest},
        {"nodata.wav", wav({{"fmt ", wavFmt()}}), AudioFormat::wav, sha256Hex({})},
        {"tag.mp3", mp3, AudioFormat::mp3, framesDigest},
        {"bigger.mp3", mp3Bigger, AudioFormat::mp3, framesDigest},
        {"bare.mp3", bare, AudioFormat::mp3, framesDigest},
        {"tail.mp3", withTail, AudioFormat::mp3, sha256Hex(tailDigestInput)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / c.name, c.content);
        const std::string fp = AudioTagger::fingerprint(dir / c.name, c.format);
        EXPECT_EQ(fp, c.expected);
        EXPECT_EQ(fp.size(), 64u);
        EXPECT_EQ(fp.find_first_not_of("0123456789abcdef"), std::string::npos);
    }

    Bytes changed = audio;
    changed[changed.size() / 2] ^= 0x80;
    writeFile(dir / "changed.wav", wav(changed));
    EXPECT_NE(AudioTagger::fingerprint(dir / "changed.wav", AudioFormat::wav), audioDigest);
}

TEST(FingerprintTest, AnMP3TagLargerThanTheFileIsTruncated) {
    TempDir dir;
    Bytes b = id3({{"TIT2", "x"}}, 5000);
    b.resize(200);
    writeFile(dir / "cut.mp3", b);
    EXPECT_EQ(errorOf([&] { AudioTagger::fingerprint(dir / "cut.mp3", AudioFormat::mp3); }),
              msg::id3Truncated);
}

// ---- backups -------------------------------------------------------------------------------

TEST(BackupTest, NumberedCopiesOfTheOldContent) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes v0 = wav(audioBytes(300));
    writeFile(file, v0);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);

    AudioTagger::writeISRC(file, "FIABC2600001", true);
    const Bytes v1 = readFile(file);
    AudioTagger::writeISRC(file, "FIABC2600002", true);
    const Bytes v2 = readFile(file);
    AudioTagger::writeISRC(file, "FIABC2600003", false);  // backup off: no copy
    AudioTagger::writeISRC(file, "FIABC2600004", true);

    EXPECT_EQ(dir.list(), (std::vector<std::string>{"Song (original 2).wav",
                                                    "Song (original 3).wav",
                                                    "Song (original).wav", "Song.wav"}));
    EXPECT_EQ(readFile(dir / "Song (original).wav"), v0);
    EXPECT_EQ(readFile(dir / "Song (original 2).wav"), v1);
    EXPECT_NE(readFile(dir / "Song (original 3).wav"), v2);  // taken after the unbacked write
    EXPECT_EQ(AudioTagger::readISRC(dir / "Song (original 3).wav"), "FIABC2600003");
    EXPECT_EQ(lstatOf(dir / "Song (original).wav").st_mode & 07777, 0640u);
}

TEST(BackupTest, NamesWithoutExtensionAndTakenNames) {
    TempDir dir;
    const fs::path file = dir / "LICENSE";
    writeFile(file, wav(audioBytes(50)));
    // Whatever already holds a candidate name is skipped, never overwritten or followed.
    fs::create_directory(dir / "LICENSE (original)");
    fs::create_symlink(dir / "elsewhere", dir / "LICENSE (original 2)");
    const Bytes before = readFile(file);
    EXPECT_EQ(AudioTagger::makeBackup(file), dir / "LICENSE (original 3)");
    EXPECT_EQ(readFile(dir / "LICENSE (original 3)"), before);
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
    writeFile(dir / "a.b.wav", bytesOf("x"));
    EXPECT_EQ(AudioTagger::makeBackup(dir / "a.b.wav"), dir / "a.b (original).wav");
}

// ---- what survives the replace -----------------------------------------------------------

TEST(ReplaceTest, PermissionBitsSurvive) {
    TempDir dir;
    for (mode_t mode : {0600, 0640, 0644, 0755, 0444}) {
        SCOPED_TRACE(mode);
        const fs::path file = dir / "Song.wav";
        fs::remove(file);
        writeFile(file, wav(audioBytes(100)));
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        AudioTagger::writeISRC(file, kCode, true);
        EXPECT_EQ(AudioTagger::readISRC(file), kCode);
        EXPECT_EQ(lstatOf(file).st_mode & 07777, mode);
        EXPECT_EQ(lstatOf(dir / "Song (original).wav").st_mode & 07777, mode);
        fs::remove(dir / "Song (original).wav");
    }
}

TEST(ReplaceTest, OwnerAndExtendedAttributesSurvive) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    writeFile(file, wav(audioBytes(100)));
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
    }
    const std::string value = "kept";
    const bool xattrs = ::setxattr(file.c_str(), "user.pelorix", value.data(), value.size(), 0) == 0;
    if (!root && !xattrs) GTEST_SKIP() << "neither chown nor user attributes are available";

    AudioTagger::writeISRC(file, kCode, false);
    const struct stat st = lstatOf(file);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
    }
    if (xattrs) {
        char buf[16] = {};
        const ssize_t n = ::getxattr(file.c_str(), "user.pelorix", buf, sizeof buf);
        EXPECT_EQ(std::string(buf, n > 0 ? std::size_t(n) : 0), value);
    }
}

TEST(ReplaceTest, ASymbolicLinkStaysALinkToTheTaggedFile) {
    TempDir dir;
    fs::create_directory(dir / "music");
    fs::create_directory(dir / "links");
    const fs::path target = dir / "music" / "Song.wav";
    writeFile(target, wav(audioBytes(100)));
    const fs::path link = dir / "links" / "Song.wav";
    fs::create_symlink("../music/Song.wav", link);
    const fs::path link2 = dir / "links" / "again.wav";  // a chain of links
    fs::create_symlink("Song.wav", link2);

    AudioTagger::writeISRC(link2, kCode, true);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(link2));
    EXPECT_EQ(fs::read_symlink(link), "../music/Song.wav");
    EXPECT_EQ(AudioTagger::readISRC(target), kCode);
    EXPECT_EQ(AudioTagger::readISRC(link2), kCode);
    // Backup and temporary file live beside the real file.
    EXPECT_EQ(fs::directory_iterator(dir / "music") == fs::directory_iterator(), false);
    std::vector<std::string> music;
    for (const auto& e : fs::directory_iterator(dir / "music")) music.push_back(e.path().filename());
    std::sort(music.begin(), music.end());
    EXPECT_EQ(music, (std::vector<std::string>{"Song (original).wav", "Song.wav"}));
    std::size_t inLinks = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "links")) ++inLinks;
    EXPECT_EQ(inLinks, 2u);

    fs::create_symlink("nowhere.wav", dir / "links" / "dangling.wav");
    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(dir / "links" / "dangling.wav", kCode, false); })
                  .rfind("Cannot open the file: ", 0),
              0u);
}

TEST(ReplaceTest, APlantedLinkAtTheTemporaryNameRedirectsNothing) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const fs::path victim = dir / "victim.txt";
    writeFile(file, wav(audioBytes(100)));
    writeFile(victim, bytesOf("precious"));
    fs::create_symlink(victim, dir / ".Song.wav.pelorix-tmp");

    AudioTagger::writeISRC(file, kCode, false);
    EXPECT_EQ(readFile(victim), bytesOf("precious"));
    EXPECT_EQ(AudioTagger::readISRC(file), kCode);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"Song.wav", "victim.txt"}));
}

TEST(ReplaceTest, AFolderAtTheTemporaryNameIsNeverRemoved) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes original = wav(audioBytes(100));
    writeFile(file, original);
    const fs::path folder = dir / ".Song.wav.pelorix-tmp";
    fs::create_directory(folder);
    writeFile(folder / "inside.txt", bytesOf("keep me"));

    const std::string error = errorOf([&] { AudioTagger::writeISRC(file, kCode, false); });
    EXPECT_EQ(error.rfind("Cannot write next to the file: ", 0), 0u) << error;
    EXPECT_EQ(readFile(file), original);
    EXPECT_EQ(readFile(folder / "inside.txt"), bytesOf("keep me"));
}
