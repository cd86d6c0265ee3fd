// SPDX-License-Identifier: MIT
// The tagging driver end to end (the round trip over real files of every format is the interop
// test's): refusals, the checks before the replace, the caller's rights, fingerprints, backups,
// and what must survive a replace.
#include <sys/file.h>
#include <sys/xattr.h>

#include <chrono>
#include <tuple>

#include "core/io/sha256.h"
#include "e2e_support.h"
#include "support/mp4_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;

// A stream recognised only by its name: the temporary file is read as the original's format,
// whatever its own name says, so a code written to it can be removed again.
TEST(DriverTest, MP3KnownOnlyByItsExtension) {
    TempDir dir;
    const fs::path file = dir / "Song.MP3";
    const Bytes plain = join({Bytes(4, 0), bytesOf("plain text, no frame sync at all")});
    writeFile(file, plain);
    write::writeISRC(file, kCode, false);
    EXPECT_EQ(read::readISRC(file), kCode);
    write::writeISRC(file, std::nullopt, true);
    EXPECT_EQ(readFile(file), plain);
    EXPECT_EQ(dir.list(), (Names{"Song (original).MP3", "Song.MP3"}));
}

// Refused before anything is written: the file stays byte for byte, nothing is left beside it.
TEST(DriverTest, RefusalsLeaveTheFileAsItWas) {
    Bytes v22 = join({id3::tag({.frames = {id3::textFrame("TSRC", "X")}}), Bytes(100, 0xFF)});
    v22[3] = 2;
    const Bytes plain = wav(audioBytes(100));
    enum Beside { nothing, hardLink, writer, writeLock, folder };
    const std::tuple<std::string, Bytes, Beside, std::string> cases[] = {
        {"notes.txt", bytesOf("just some words, not audio"), nothing,
         msg::unsupportedType(formats::labels(", ", " and "))},
        {"short.wav", bytesOf("RIFF1234"), nothing, std::string(msg::tooShortForAudio)},
        {"v2.mp3", v22, nothing, msg::id3Version(2)},
        {"linked.wav", plain, hardLink, std::string(msg::hardLinks)},
        {"recording.wav", plain, writer, std::string(msg::openElsewhere)},  // open for writing
        {"busy.wav", plain, writeLock, std::string(msg::writeInProgress)},  // another write's lock
        {"Song.wav", plain, folder,
         msg::cannotWrite(platformText(EEXIST))},  // at the temporary name
    };
    for (const auto& [name, content, beside, error] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        const fs::path file = dir / name;
        writeFile(file, content);
        sys::Fd held(beside == writer ? ::open(file.c_str(), O_WRONLY)
                                      : ::open(file.c_str(), O_RDONLY));
        if (beside == hardLink) fs::create_hard_link(file, dir / "second name.wav");
        if (beside == writeLock) ::flock(held.get(), LOCK_EX);
        if (beside == folder) fs::create_directory(dir / ".Song.wav.pelorix-tmp");
        const Names before = dir.list();
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, kCode, true); }), error);
        EXPECT_EQ(readFile(file), content);
        EXPECT_EQ(dir.list(), before);
    }
    TempDir dir;
    fs::create_symlink("nowhere.wav", dir / "dangling.wav");
    for (const char* name : {"missing.wav", "dangling.wav"}) {
        EXPECT_EQ(errorOf([&] { write::writeISRC(dir / name, kCode, false); }),
                  msg::cannotOpen(platformText(ENOENT)));
    }
}

// On NFS a lock needs a descriptor open for writing (and there are no leases): the write opens
// one to lock, and relies on the change check.
TEST(DriverTest, ALockThatNeedsWriteAccess) {
    TempDir dir;
    writeFile(dir / "Song.wav", wav(audioBytes(100)));
    Seam seam([](const Seam::Call& c) { return c.op == sys::Op::lock && c.nth == 0 ? EBADF : 0; });
    write::writeISRC(dir / "Song.wav", kCode, false);
    EXPECT_EQ(seam.count[sys::Op::lock], 2);
    EXPECT_EQ(seam.count[sys::Op::lease], 0);
    EXPECT_EQ(read::readISRC(dir / "Song.wav"), kCode);
}

// A leftover file or link at the temporary name goes (a link is never followed). What appears
// between that cleanup and the creation is not ours: refused, neither followed nor deleted.
TEST(DriverTest, WhateverSitsAtTheTemporaryName) {
    for (const bool during : {false, true}) {
        SCOPED_TRACE(during ? "planted during the write" : "left by a crash");
        TempDir dir;
        const fs::path file = dir / "Song.wav", tmp = dir / ".Song.wav.pelorix-tmp";
        const Bytes original = wav(audioBytes(100));
        writeFile(file, original);
        writeFile(dir / "victim.txt", bytesOf("precious"));
        if (!during) fs::create_symlink(dir / "victim.txt", tmp);
        Seam seam([&](const Seam::Call& call) {
            if (during && call.op == sys::Op::open && call.path == tmp.string()) {
                fs::create_symlink(dir / "victim.txt", tmp);
            }
            return 0;
        });
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, kCode, false); }),
                  during ? msg::cannotWrite(platformText(EEXIST)) : "");
        EXPECT_EQ(readFile(dir / "victim.txt"), bytesOf("precious"));
        EXPECT_EQ(read::readISRC(file), during ? Code() : Code(kCode));
        EXPECT_EQ(fs::is_symlink(tmp), during);
    }
}

// Changed audio, a code that does not read back, and an original that another program opened
// or replaced meanwhile are refused: the file stays as it was, or as the other program left it,
// and nothing is left beside it. A code that reads back canonically equivalent passes.
TEST(DriverTest, TheChecksBeforeTheReplace) {
    struct HookGuard {
        ~HookGuard() { write::testing::setAfterWriteHook(nullptr); }
    } guard;
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes audio = audioBytes(3000);
    const Bytes original = wavWithCode("GBXYZ9900001", audio);
    const Bytes edited = wav(audioBytes(3000, 9)), appended = join({original, bytesOf("rec")});
    Bytes flipped = audio;
    flipped[1500] ^= 0x01;
    const auto withTSRC = [&](const Bytes& body) {
        return wav({chunks::wavFormat(),
                    {"data", audio},
                    {"id3 ", id3::tag({.frames = {{"TSRC", body}}})}});
    };
    const std::string accented =
        "\xC3\xA9"
        "AB";  // read back decomposed: e + U+0301
    const Bytes decomposed = withTSRC({1, 0xFF, 0xFE, 'e', 0, 0x01, 0x03, 'A', 0, 'B', 0});
    const auto put = [](Bytes b) { return [b](const fs::path& tmp) { writeFile(tmp, b); }; };
    const auto append = [&](const fs::path&) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
        EXPECT_EQ(::write(fd, "rec", 3), 3);
        ::close(fd);
    };
    struct Case {
        std::string what;
        Code code;
        std::function<void(const fs::path& tmp)> tamper;
        std::string_view error;  // empty: the write goes through
        const Bytes& after;      // the file afterwards
        bool noLease = false;    // as on a filesystem without leases
    };
    const Case cases[] = {
        {"one audio byte flipped", kCode, put(wavWithCode(kCode, flipped)), msg::verifyAudio,
         original},
        {"last audio byte dropped", kCode,
         put(wavWithCode(kCode, Bytes(audio.begin(), audio.end() - 1))), msg::verifyAudio,
         original},
        {"another code read back", kCode, put(wavWithCode("FIABC2600002", audio)), msg::verifyISRC,
         original},
        {"the code read back in lower case", kCode, put(wavWithCode("fiabc2600001", audio)),
         msg::verifyISRC, original},
        {"a removal that did not happen", std::nullopt, put(original), msg::verifyISRC, original},
        {"another letter read back", accented,
         put(withTSRC({1, 0xFF, 0xFE, 'e', 0, 0x00, 0x03, 'A', 0, 'B', 0})), msg::verifyISRC,
         original},
        {"the same text read back decomposed", accented, put(decomposed), "", decomposed},
        // Whatever another program does to the original meanwhile wins.
        {"original opened and appended to", kCode, append, msg::openElsewhere, appended},
        {"original appended to, no lease", kCode, append, msg::changedDuringWrite, appended, true},
        {"original replaced by another file", kCode,
         [&](auto&) {
             writeFile(dir / "other.wav", edited);
             fs::rename(dir / "other.wav", file);
         },
         msg::changedDuringWrite, edited},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(file, original);
        // An older time stamp, so that any change the hook makes shows in it.
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
        write::testing::setAfterWriteHook(c.tamper);
        Seam seam([&](const Seam::Call& call) {
            return c.noLease && call.op == sys::Op::lease ? EINVAL : 0;
        });
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, c.code, true); }), c.error);
        EXPECT_TRUE(readFile(file) == c.after);
        EXPECT_EQ(dir.list(),
                  (c.error.empty() ? Names{"Song (original).wav", "Song.wav"} : Names{"Song.wav"}));
        fs::remove(dir / "Song (original).wav");
    }
}

// A job expecting another code than its file holds (as ISRC::code gives it) leaves the file as
// it was, alone or among others, and its refusal carries the code found.
TEST(DriverTest, BatchJobsWriteOnlyOverTheCodeTheCallerExpects) {
    TempDir dir;
    for (const char* name : {"a.wav", "c.wav"}) writeFile(dir / name, wav(audioBytes(64)));
    writeFile(dir / "b.wav", wavWithCode("fi-abc-26-00002", audioBytes(64)));
    const std::tuple<std::vector<std::pair<std::string, Code>>, std::string> cases[] = {
        {{{"b.wav", std::nullopt}}, "FIABC2600002 "},
        {{{"a.wav", {}}, {"b.wav", "FIABC2600009"}, {"c.wav", kCode}}, "+ FIABC2600002 - "},
        {{{"b.wav", "FIABC2600002"}, {"c.wav", {}}, {"a.wav", {}}}, "+ + " + kCode + " "},
    };
    for (const auto& [files, expected] : cases) {
        std::vector<write::BatchJob> jobs;
        std::vector<Bytes> before;
        for (const auto& [name, code] : files) jobs.push_back({dir / name, kCode, false, code});
        for (const auto& job : jobs) before.push_back(readFile(job.path));
        std::string results;
        write::writeBatch(jobs, false, [&](std::size_t i, std::exception_ptr e) {
            try {
                if (e) std::rethrow_exception(e);
                results += "+ ";
            } catch (const write::CodeChanged& c) {
                results += c.found().value_or("-") + " ";
                EXPECT_EQ(readFile(jobs[i].path), before[i]);
            }
        });
        EXPECT_EQ(results, expected);
    }
}

TEST(FingerprintTest, CoversTheAudioBytesOnly) {
    TempDir dir;
    const Bytes audio = audioBytes(3 * (1 << 20) + 77);  // several pieces
    const Bytes frames = id3::fakeAudio(5000, 2);
    const Bytes tag = id3::tag({.frames = {id3::textFrame("TIT2", "Title")}, .padding = 300});
    const std::tuple<std::string, Bytes, formats::AudioFormat, std::string> cases[] = {
        {"tagged.wav", wavWithCode(kCode, audio), formats::AudioFormat::wav, sha256Hex(audio)},
        {"nodata.wav", wav({chunks::wavFormat()}), formats::AudioFormat::wav, sha256Hex({})},
        {"tag.mp3", join({tag, frames}), formats::AudioFormat::mp3, sha256Hex(frames)},
        {"cut.mp3", Bytes(tag.begin(), tag.begin() + 200), formats::AudioFormat::mp3,
         std::string(msg::id3Truncated)},  // a tag past the end
    };
    for (const auto& [name, content, format, expected] : cases) {
        writeFile(dir / name, content);
        std::string digest;
        const std::string error = errorOf([&] { digest = read::fingerprint(dir / name, format); });
        EXPECT_EQ(error.empty() ? digest : error, expected) << name;
    }
}

TEST(BackupTest, NumberedCopiesOfTheOldContentNeverOverwriteAnything) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes v0 = wav(audioBytes(300));
    writeFile(file, v0);
    write::writeISRC(file, "FIABC2600001", true);
    const Bytes v1 = readFile(file);
    write::writeISRC(file, "FIABC2600002", false);        // backup off: no copy
    fs::create_directory(dir / "Song (original 2).wav");  // taken names are skipped
    fs::create_symlink(dir / "elsewhere", dir / "Song (original 3).wav");
    write::writeISRC(file, "FIABC2600003", true);
    EXPECT_EQ(readFile(dir / "Song (original).wav"), v0);
    EXPECT_EQ(read::readISRC(dir / "Song (original 4).wav"), "FIABC2600002");
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
    EXPECT_EQ(dir.list().size(), 5u);
    writeFile(dir / "a.b.wav", bytesOf("x"));
    EXPECT_EQ(write::makeBackup(dir / "a.b.wav"), dir / "a.b (original).wav");
}

TEST(ReplaceTest, ModeOwnerAttributesAndLinksSurvive) {
    const auto owner =
        ::geteuid() == 0 ? std::pair(1234u, 5678u) : std::pair(::getuid(), ::getgid());
    // Set-id bits too: a change of owner clears them, so the mode must come after it.
    for (mode_t mode : {0600, 0755, 0444, 06755}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, wav(audioBytes(100)));
        ASSERT_EQ(::chown(file.c_str(), owner.first, owner.second) | ::chmod(file.c_str(), mode),
                  0);
        const bool xattrs = ::setxattr(file.c_str(), "user.pelorix", "kept", 4, 0) == 0;
        write::writeISRC(file, kCode, true);
        for (const fs::path& p : {file, dir / "Song (original).wav"}) {
            const struct stat st = lstatOf(p);
            EXPECT_EQ(st.st_mode & 07777, mode) << p;
            EXPECT_EQ(std::pair(st.st_uid, st.st_gid), owner) << p;
            char buf[16] = {};
            (void)::getxattr(p.c_str(), "user.pelorix", buf, sizeof buf);
            EXPECT_EQ(std::string(buf), xattrs ? "kept" : "") << p;
        }
    }
    // A chain of symbolic links stays; the file they point at is written, beside itself.
    TempDir dir;
    fs::create_directory(dir / "music");
    writeFile(dir / "music" / "Song.wav", wav(audioBytes(100)));
    fs::create_symlink("music/Song.wav", dir / "link.wav");
    fs::create_symlink("link.wav", dir / "again.wav");
    write::writeISRC(dir / "again.wav", kCode, true);
    EXPECT_EQ(fs::read_symlink(dir / "link.wav"), "music/Song.wav");
    EXPECT_EQ(read::readISRC(dir / "music" / "Song.wav"), kCode);
    EXPECT_EQ(dir.list(), (Names{"again.wav", "link.wav", "music"}));
    EXPECT_EQ(fs::directory_iterator(dir / "music")->path().filename().string().substr(0, 4),
              "Song");
}
