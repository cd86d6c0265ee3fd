// SPDX-License-Identifier: MIT
// Writes on real, tiny filesystems (tmpfs in a private mount namespace) that fill up, run out of
// inodes or are read-only: the original byte-identical, nothing beside it, all space given back.
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cstring>

#include "core/formats/format.h"
#include "e2e_support.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMiB = 1 << 20;

// Mounts made from here on are this process's own. As root a new mount namespace is enough;
// otherwise a user namespace that maps us to root inside it. The reason when neither works.
std::optional<std::string> privateMounts() {
    static const std::optional<std::string> reason = []() -> std::optional<std::string> {
        const auto put = [](const char* path, const std::string& text) {
            return bool(std::ofstream(path) << text << std::flush);
        };
        const std::string uid = std::to_string(::geteuid()), gid = std::to_string(::getegid());
        if (::unshare(CLONE_NEWNS) != 0) {
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return std::strerror(errno);
            if (!put("/proc/self/setgroups", "deny") ||
                !put("/proc/self/uid_map", "0 " + uid + " 1") ||
                !put("/proc/self/gid_map", "0 " + gid + " 1")) {
                return "cannot map the user namespace";
            }
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::strerror(errno);
        return std::nullopt;
    }();
    return reason;
}

std::uint64_t freeBytes(const fs::path& at) {
    struct statvfs st {};
    ::statvfs(at.c_str(), &st);
    return std::uint64_t(st.f_bavail) * st.f_frsize;
}

// One try at changing the file, and the message it must fail with (empty: it must succeed).
enum How { kWrite, kWriteWithBackup, kRemove };
struct Case {
    const char* name;
    int fsMiB, fileMiB, staleMiB;  // staleMiB: a crash's leftover; 0: none
    std::string options;           // more tmpfs mount options
    bool readOnly;
    std::vector<std::pair<How, std::string>> attempts;
};

std::vector<Case> cases() {
    const std::string full = platformText(ENOSPC), noFile = msg::cannotWrite(full),
                      ro = msg::cannotWrite(platformText(EROFS));
    return {
        // Room for the file and half of its new copy.
        {"HalfWay", 75, 50, 0, "", false, {{kWriteWithBackup, full}, {kWrite, full}}},
        // Room for the file and its new copy, not for a third copy; without a backup it fits.
        {"TheBackupDoesNotFit", 50, 20, 0, "", false, {{kWriteWithBackup, full}, {kWrite, ""}}},
        // The root folder and the file take the only two inodes.
        {"NoInodeForTheTemporaryFile", 4, 1, 0, ",nr_inodes=2", false, {{kWrite, noFile}}},
        // Not writable for anyone, root included; reading still works.
        {"ReadOnlyFilesystem", 4, 1, 0, "", true, {{kWriteWithBackup, ro}, {kRemove, ro}}},
        // The space the leftover holds is what the write needs; it goes first.
        {"AStaleTemporaryFileFillsTheDisk", 30, 12, 15, "", false, {{kWrite, ""}}},
    };
}

class DiskFull : public ::testing::TestWithParam<Case> {};

// A tmpfs of `mib` MiB over a private folder, for as long as it lives; the reason when none
// can be had.
struct Tmpfs {
    explicit Tmpfs(int mib, const std::string& more = "") {
        if (auto why = privateMounts()) {
            skip = "no private mounts: " + *why;
            return;
        }
        const std::string options = "size=" + std::to_string(mib * kMiB) + ",mode=0755" + more;
        if (::mount("tmpfs", dir.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) !=
            0) {
            skip = std::string("tmpfs cannot be mounted: ") + std::strerror(errno);
        }
    }
    ~Tmpfs() {
        if (skip.empty()) ::umount2(dir.path().c_str(), MNT_DETACH);
    }
    TempDir dir;
    std::string skip;
};

}  // namespace

TEST_P(DiskFull, TheOriginalStaysWholeAndNothingIsLeftBehind) {
    const Case& c = GetParam();
    const Tmpfs mounted(c.fsMiB, c.options);
    if (!mounted.skip.empty()) GTEST_SKIP() << mounted.skip;
    const TempDir& dir = mounted.dir;

    const fs::path file = dir / "Song.wav";
    const Bytes original = chunks::wav(std::uint32_t(c.fileMiB * kMiB / 4));
    writeFile(file, original);
    const std::string audio = read::fingerprint(file, formats::AudioFormat::wav);
    if (c.staleMiB) {
        writeFile(dir / ".Song.wav.pelorix-tmp", chunks::audio(c.staleMiB * kMiB));
        ASSERT_LT(freeBytes(dir.path()), original.size());
    }
    if (c.readOnly) {
        ASSERT_EQ(::mount(nullptr, dir.path().c_str(), nullptr,
                          MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr),
                  0);
    }
    const std::uint64_t free = freeBytes(dir.path());
    for (const auto& [how, error] : c.attempts) {
        SCOPED_TRACE(how);
        const auto code = how == kRemove ? std::nullopt : std::optional(kCode);
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, code, how == kWriteWithBackup); }), error);
        EXPECT_EQ(dir.list(), Names{"Song.wav"});
        EXPECT_EQ(read::fingerprint(file, formats::AudioFormat::wav), audio);
        EXPECT_EQ(read::readISRC(file), error.empty() ? code : std::nullopt);
        if (!error.empty()) {
            EXPECT_EQ(freeBytes(dir.path()), free);
            EXPECT_TRUE(readFile(file) == original);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Filesystems, DiskFull, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Room for one new copy at a time: a batch goes on in smaller groups, so every file that fits one
// by one is written. A sparse file's holes stay holes.
TEST(DiskFull, WhatFitsOneByOneIsWrittenAndHolesStayHoles) {
    const Tmpfs mounted(45);
    if (!mounted.skip.empty()) GTEST_SKIP() << mounted.skip;
    const TempDir& dir = mounted.dir;
    const auto jobs =
        jobsFor({dir / "A.wav", dir / "B.wav", dir / "C.wav"}, chunks::wav(10 * kMiB / 4));
    EXPECT_EQ(batchErrors(jobs), (std::vector<std::string>(3, "")));
    for (const auto& job : jobs) EXPECT_EQ(read::readISRC(job.path), kCode);
    for (const auto& job : jobs) fs::remove(job.path);

    // 200 MiB of audio, of which the first and the last MiB hold data.
    const fs::path sparse = dir / "Sparse.wav";
    const Bytes head = chunks::wav(std::uint32_t(kMiB / 4));
    Bytes header = head;
    const std::uint32_t audioBytes = 200 * kMiB;
    std::memcpy(&header[40], &audioBytes, 4);  // the data chunk's size (little-endian host)
    const std::uint32_t riff = audioBytes + 36;
    std::memcpy(&header[4], &riff, 4);
    writeFile(sparse, header);
    {
        std::ofstream tail(sparse, std::ios::binary | std::ios::in | std::ios::out);
        tail.seekp(std::streamoff(44 + audioBytes - kMiB));
        tail.write(reinterpret_cast<const char*>(head.data() + 44), std::streamsize(kMiB));
    }
    const std::string audio = read::fingerprint(sparse, formats::AudioFormat::wav);
    EXPECT_EQ(errorOf([&] { write::writeISRC(sparse, kCode, false); }), "");
    EXPECT_EQ(read::fingerprint(sparse, formats::AudioFormat::wav), audio);
    EXPECT_LT(std::uint64_t(lstatOf(sparse).st_blocks) * 512, 8 * kMiB);
    EXPECT_EQ(dir.list(), Names{"Sparse.wav"});
}
