// SPDX-License-Identifier: MIT
// The tagging driver end to end: refusals, the checks before the replace, the caller's rights,
// fingerprints, backups, and what must survive a replace.
#include <sys/file.h>
#include <sys/xattr.h>

#include <algorithm>
#include <chrono>
#include <tuple>

#include "core/formats/id3v2.h"
#include "core/io/sha256.h"
#include "core/write/pending_file.h"
#include "e2e_support.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;

// A stream known only by its name: the temporary file is read as the original's format.
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
    enum Beside { nothing, hardLink, writer, writeLock };
    const std::tuple<std::string, Bytes, Beside, std::string> cases[] = {
        {"notes.txt", bytesOf("just some words, not audio"), nothing,
         msg::unsupportedType(formats::labels(", ", " and "))},
        {"short.wav", bytesOf("RIFF1234"), nothing, std::string(msg::tooShortForAudio)},
        {"v2.mp3", v22, nothing, formats::id3v2::msg::id3Version(2)},
        {"linked.wav", plain, hardLink, std::string(msg::hardLinks)},
        {"recording.wav", plain, writer, std::string(msg::openElsewhere)},  // open for writing
        {"busy.wav", plain, writeLock, std::string(msg::writeInProgress)},  // another write's lock
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

// On NFS a lock needs a descriptor open for writing (and there are no leases).
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
        writeFile(file, wav(audioBytes(100)));
        writeFile(dir / "victim.txt", bytesOf("precious"));
        if (!during) fs::create_symlink(dir / "victim.txt", tmp);
        Seam seam([&](const Seam::Call& call) {
            if (during && call.op == sys::Op::open && call.path == tmp.filename())
                fs::create_symlink(dir / "victim.txt", tmp);
            return 0;
        });
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, kCode, false); }),
                  during ? msg::cannotWrite(platformText(EEXIST)) : "");
        EXPECT_EQ(readFile(dir / "victim.txt"), bytesOf("precious"));
        EXPECT_EQ(read::readISRC(file), during ? Code() : Code(kCode));
        EXPECT_EQ(fs::is_symlink(tmp), during);
    }
}

// Changed audio, a code that does not read back, an original another program opened, replaced
// or linked meanwhile (even just before the swap): refused, nothing left beside the file.
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
    const std::string accented = std::string("\xC3\xA9") + "AB";  // decomposed: e + U+0301
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
        // What another program does just before the file is swapped into place, after every
        // check: then the swapped-out file is looked at.
        std::function<void()> atSwap = nullptr;
        Names beside = {};  // what it left beside the file
    };
    const auto saveOver = [&] {
        writeFile(dir / "other.wav", edited);
        fs::rename(dir / "other.wav", file);
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
        {"original replaced by another file", kCode, [&](auto&) { saveOver(); },
         msg::changedDuringWrite, edited},
        {"original saved over just before the swap", kCode, nullptr, msg::replacedMeanwhile, edited,
         false, saveOver},
        {"the same, no lease", kCode, nullptr, msg::replacedMeanwhile, edited, true, saveOver},
        {"original linked just before the swap", kCode, nullptr, msg::linkedMeanwhile, original,
         false, [&] { fs::create_hard_link(file, dir / "linked.wav"); }, Names{"linked.wav"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(file, original);
        // An older time stamp, so that any change the hook makes shows in it.
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
        write::testing::setAfterWriteHook(c.tamper);
        bool swapping = false;
        Seam seam([&](const Seam::Call& call) {
            if (c.atSwap && call.op == sys::Op::rename && call.path == "Song.wav" && !swapping) {
                swapping = true;
                c.atSwap();
            }
            return c.noLease && call.op == sys::Op::lease ? EINVAL : 0;
        });
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, c.code, true); }), c.error);
        EXPECT_TRUE(readFile(file) == c.after);
        Names left = c.beside;
        if (c.error.empty()) left.push_back("Song (original).wav");
        left.push_back("Song.wav");
        std::sort(left.begin(), left.end());
        EXPECT_EQ(dir.list(), left);
        for (const auto& name : left) fs::remove(dir / name);
    }
}

// A job expecting another code than its file holds leaves it as it was; the refusal names it.
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
         std::string(formats::id3v2::msg::id3Truncated)},  // a tag past the end
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

// Any valid name can be written; what sits at the temporary name and is not our leftover stays
// (the write takes an unforeseeable name); an append-only folder is refused before anything.
TEST(DriverTest, TheTemporaryNameIsNeverInTheWay) {
    const std::string longName = std::string(251, 'x') + ".wav";  // 255 bytes
    const std::string y = std::string(240, 'y'), z = std::string(239, 'z');
    const std::string tmp = ".Song.wav.pelorix-tmp", left = "echo left >";  // a crash's leftover
    const struct {
        std::string what, name;
        std::string before;  // shell commands in the folder; failing: cannot be set up here
        std::string error;
        std::string after;  // beside the file, if anything
    } cases[] = {
        {"a name of 255 bytes", longName, "", "", ""},
        {"a name of 255 bytes, after a crash", longName, left + write::tempNameFor(longName), "",
         ""},
        {"a folder at the temporary name", "Song.wav", "mkdir " + tmp, "", tmp},
        {"and a leftover of a spare name", "Song.wav",
         left + tmp + "-0123456789abcdef && mkdir " + tmp, "", tmp},
        {"another user's file there, in a shared folder", "Song.wav",
         "chmod 1777 . && printf theirs >" + tmp + " && chown 65534:65534 " + tmp, "", tmp},
        {"an append-only folder", "Song.wav", "chattr +a .", std::string(msg::folderKeepsNames),
         ""},
        // The backup's name takes 11 bytes more, a second one's 13: refused before any file.
        {"a backup beside a name of 244 bytes", y + ".wav", "", "", y + " (original).wav"},
        {"a second backup beside a name of 243 bytes", z + ".wav",
         left + "'" + z + " (original).wav'", std::string(msg::backupNameTooLong),
         z + " (original).wav"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path file = dir / c.name;
        writeFile(file, wav(audioBytes(100)));
        if (runShell("cd " + quoted(dir.path().string()) + "; " + c.before).status != 0) {
            std::cout << "skipped here: " << c.what << "\n";  // needs root, or chattr
            continue;
        }
        const bool backup = c.what.find("backup") != std::string::npos;
        EXPECT_EQ(errorOf([&] { (void)write::rehearseWrite(file, kCode, false, backup); }),
                  c.error);
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, kCode, backup); }), c.error);
        EXPECT_EQ(read::readISRC(file), c.error.empty() ? Code(kCode) : Code());
        Names expected = {c.name};
        if (!c.after.empty()) expected.push_back(c.after);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(dir.list(), expected);
        if (c.what.starts_with("another user")) {
            EXPECT_EQ(readFile(dir / tmp), bytesOf("theirs"));
        }
        (void)runShell("chattr -a " + quoted(dir.path().string()) + " 2>/dev/null");
    }
}

// A replacement lets in no one the original kept out and keeps what its owner set: the access
// ACL (none included, whatever the folder's default ACL says), the inode flags, every extended
// attribute, or the write is refused with the one it could not keep.
TEST(DriverTest, TheReplacementKeepsWhoMayReadItAndWhatItsOwnerSet) {
    if (runShell("command -v setfacl >/dev/null && command -v chattr >/dev/null").status != 0)
        GTEST_SKIP() << "setfacl and chattr are needed (packages acl, e2fsprogs)";
    struct Case {
        std::string what, setup;  // shell commands run in the file's folder
        std::string error;
        bool refuseSecurity = false;  // this run may not set security.* attributes
    };
    const Case cases[] = {
        {"no ACL, in a folder whose default ACL lets a user in",
         "chmod 640 Song.wav && setfacl -d -m u:nobody:rw .", ""},
        {"an ACL", "setfacl -m u:nobody:r Song.wav", ""},
        {"flags d A s u S, and no flags the folder would give",
         "chattr +dAsuS Song.wav && chattr +A .", ""},
        {"no flags where the folder gives some", "chattr +dA .", ""},
        {"a security attribute this run may not set", "setfattr -n security.pelorix -v x Song.wav",
         msg::attributeNotKept("security.pelorix"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, wav(audioBytes(100)));
        const std::string in = "cd " + quoted(dir.path().string()) + " && ";
        if (runShell(in + c.setup + " 2>/dev/null").status != 0) {
            std::cout << "skipped here: " << c.what << "\n";
            continue;
        }
        // The access ACL, the inode flags and the mode.
        const auto look = [&] {
            return runShell(in + "getfacl -c Song.wav; lsattr -l Song.wav; stat -c %f Song.wav")
                .output;
        };
        const std::string before = look();
        Seam seam([&](const Seam::Call& call) {
            return c.refuseSecurity && call.op == sys::Op::setxattr &&
                           call.path.starts_with("security.")
                       ? EPERM
                       : 0;
        });
        EXPECT_EQ(errorOf([&] { write::rehearseWrite(file, kCode, false); }), c.error);
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, kCode, false); }), c.error);
        EXPECT_EQ(read::readISRC(file), c.error.empty() ? Code(kCode) : Code());
        EXPECT_EQ(look(), before);
        EXPECT_EQ(dir.list(), Names{"Song.wav"});
        (void)runShell("chattr -dAsuS " + quoted(file.string()) + " 2>/dev/null");
    }
}

// A removal finding no code, a write of the text every carrier holds: nothing changes, and says so.
TEST(DriverTest, AWriteThatChangesNothingLeavesTheFileAlone) {
    using write::Outcome;
    const Bytes plain = wav(audioBytes(100)), coded = wavWithCode(kCode, audioBytes(100)),
                hyphens = wavWithCode("FI-ABC-26-00001", audioBytes(100));
    const std::tuple<const Bytes&, Code, Outcome> cases[] = {
        {plain, std::nullopt, Outcome::unchanged}, {coded, kCode, Outcome::unchanged},
        {plain, kCode, Outcome::written},          {coded, std::nullopt, Outcome::written},
        {coded, "FIABC2600002", Outcome::written}, {hyphens, kCode, Outcome::written},
    };
    TempDir dir;
    std::vector<write::BatchJob> jobs;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& [content, code, outcome] = cases[i];
        SCOPED_TRACE(i);
        const fs::path file = dir / ("one" + std::to_string(i) + ".wav");
        writeFile(file, content);
        const struct stat before = lstatOf(file);
        EXPECT_EQ(write::writeISRC(file, code, true), outcome);
        const struct stat after = lstatOf(file);
        const bool same = before.st_ino == after.st_ino &&
                          before.st_ctim.tv_nsec == after.st_ctim.tv_nsec &&
                          readFile(file) == content;
        EXPECT_EQ(same, outcome == Outcome::unchanged);
        EXPECT_EQ(fs::exists(dir / ("one" + std::to_string(i) + " (original).wav")), !same);
        jobs.push_back({dir / ("many" + std::to_string(i) + ".wav"), code});
        writeFile(jobs.back().path, content);
    }
    std::size_t reported = 0;
    write::writeBatch(jobs, false, [&](std::size_t i, std::exception_ptr e, Outcome o) {
        EXPECT_EQ(i, reported++);
        EXPECT_FALSE(e);
        EXPECT_EQ(o, std::get<2>(cases[i])) << i;
    });
    EXPECT_EQ(reported, std::size(cases));
}

// The folder renamed during the write: every file refused, the renamed folder as it was.
TEST(DriverTest, AFolderRenamedDuringTheWrite) {
    for (const std::size_t files : {1, 3}) {
        SCOPED_TRACE(files);
        TempDir dir;
        const fs::path folder = dir / "Album", moved = dir / "Album (moved)";
        fs::create_directory(folder);
        const Bytes original = wav(audioBytes(1000));
        const auto jobs = jobsFor(
            files == 1 ? std::vector{folder / "T0.wav"}
                       : std::vector{folder / "T0.wav", folder / "T1.wav", folder / "T2.wav"},
            original);
        bool renamed = false;
        Seam seam([&](const Seam::Call& c) {
            // Once every new file is written: the flush before the replaces.
            if (!renamed && (c.op == sys::Op::syncfs || (files == 1 && c.op == sys::Op::fsync))) {
                renamed = true;
                fs::rename(folder, moved);
            }
            return 0;
        });
        EXPECT_EQ(batchErrors(jobs),
                  std::vector<std::string>(files, std::string(msg::folderMoved)));
        Names names;
        for (const auto& job : jobs) {
            names.push_back(job.path.filename());
            EXPECT_EQ(readFile(moved / job.path.filename()), original);
        }
        Names there;
        for (const auto& e : fs::directory_iterator(moved)) there.push_back(e.path().filename());
        std::sort(there.begin(), there.end());
        EXPECT_EQ(there, names);
    }
}
