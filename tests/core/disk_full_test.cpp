// SPDX-License-Identifier: MIT
// Writes on real, tiny filesystems (tmpfs mounts in a private mount namespace): the disk fills up
// half-way through the temporary copy, during the backup, or has no inode left for the temporary
// file; the folder is on a read-only filesystem; a stale temporary file from a crash is what
// fills the disk. The seam-level failures of each call are covered by the fault injection tests;
// these show the kernel's own refusals end the same way: the original byte-identical, nothing
// left beside it, every byte of space given back.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "core/formats/detect.h"
#include "core/tag_error.h"
#include "core/write/audio_tagger.h"
#include "e2e_support.h"
#include "support/chunk_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using e2e::kCode;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMiB = 1 << 20;

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream f(path);
    return bool(f << text << std::flush);
}

// Mounts made from here on are this process's own and vanish with it. As root a new mount
// namespace is enough; otherwise a user namespace that maps us to root inside it (where the
// kernel permits them). The reason when neither is possible.
std::optional<std::string> privateMounts() {
    static const std::optional<std::string> reason = []() -> std::optional<std::string> {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWNS) != 0) {
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
                return std::string("no private mount namespace: ") + std::strerror(errno);
            }
            if (!writeText("/proc/self/setgroups", "deny") ||
                !writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
                return std::string("cannot map the user namespace");
            }
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return std::string("cannot make the mounts private: ") + std::strerror(errno);
        }
        return std::nullopt;
    }();
    return reason;
}

std::uint64_t freeBytes(const fs::path& at) {
    struct statvfs st {};
    ::statvfs(at.c_str(), &st);
    return std::uint64_t(st.f_bavail) * st.f_frsize;
}

std::string platform(int err) {
    return std::generic_category().message(err);
}

// One try at changing the file, and the message it must fail with (empty: it must succeed).
enum How { kWrite, kWriteWithBackup, kRemove, kCommandLine };
const char* const kHow[] = {"write", "write with backup", "remove", "pelorix --write"};
struct Attempt {
    How how;
    std::string error;
};

struct Case {
    const char* name;
    std::uint64_t fsBytes;
    std::optional<int> inodes;
    std::uint64_t fileBytes;
    std::uint64_t staleBytes;  // a crash's leftover temporary file of this size; 0: none
    bool readOnly;
    std::vector<Attempt> attempts;
};

std::vector<Case> cases() {
    const std::string full = platform(ENOSPC);
    const std::string noInode = msg::cannotWrite(platform(ENOSPC));
    const std::string readOnly = msg::cannotWrite(platform(EROFS));
    return {
        // Room for the file and half of its new copy.
        {"HalfWay",
         75 * kMiB,
         {},
         50 * kMiB,
         0,
         false,
         {{kWriteWithBackup, full}, {kCommandLine, full}}},
        // Room for the file and its new copy, not for a third copy; without a backup it fits.
        {"TheBackupDoesNotFit",
         50 * kMiB,
         {},
         20 * kMiB,
         0,
         false,
         {{kWriteWithBackup, full}, {kWrite, ""}}},
        // The root folder and the file take the only two inodes.
        {"NoInodeForTheTemporaryFile", 4 * kMiB, 2, kMiB, 0, false, {{kWrite, noInode}}},
        // Not writable for anyone, root included; reading still works (checked after each try).
        {"ReadOnlyFilesystem",
         4 * kMiB,
         {},
         kMiB,
         0,
         true,
         {{kWriteWithBackup, readOnly}, {kRemove, readOnly}, {kCommandLine, readOnly}}},
        // The space the leftover holds is what the write needs; it gets it because the leftover
        // goes first.
        {"AStaleTemporaryFileFillsTheDisk",
         30 * kMiB,
         {},
         12 * kMiB,
         15 * kMiB,
         false,
         {{kWrite, ""}}},
    };
}

class DiskFull : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(DiskFull, TheOriginalStaysWholeAndNothingIsLeftBehind) {
    if (auto why = privateMounts()) GTEST_SKIP() << *why;
    const Case& c = GetParam();
    TempDir dir;
    std::string options = "size=" + std::to_string(c.fsBytes) + ",mode=0755";
    if (c.inodes) options += ",nr_inodes=" + std::to_string(*c.inodes);
    if (::mount("tmpfs", dir.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        GTEST_SKIP() << "tmpfs cannot be mounted: " << std::strerror(errno);
    }
    struct Unmount {
        const fs::path& at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{dir.path()};

    const fs::path file = dir / "Song.wav";
    const Bytes original = chunks::wav(std::uint32_t(c.fileBytes / 4));
    writeFile(file, original);
    // The sound to compare with, for the writes that are to succeed (hashing takes a while).
    const bool succeeds = std::any_of(c.attempts.begin(), c.attempts.end(),
                                      [](const Attempt& a) { return a.error.empty(); });
    const std::string audio = succeeds ? AudioTagger::fingerprint(file, AudioFormat::wav) : "";
    if (c.staleBytes) {
        writeFile(dir / ".Song.wav.pelorix-tmp", chunks::audio(c.staleBytes));
        ASSERT_LT(freeBytes(dir.path()), original.size());
    }
    if (c.readOnly) {
        ASSERT_EQ(::mount(nullptr, dir.path().c_str(), nullptr,
                          MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr),
                  0)
            << std::strerror(errno);
    }
    const std::uint64_t free = freeBytes(dir.path());

    for (const Attempt& a : c.attempts) {
        SCOPED_TRACE(kHow[a.how]);
        const auto code = a.how == kRemove ? std::nullopt : std::optional(kCode);
        if (a.how == kCommandLine) {
            const RunResult run = e2e::pelorix({"--write", kCode, file.string()});
            EXPECT_EQ(run.status, a.error.empty() ? 0 : 1);
            EXPECT_EQ(run.output, (a.error.empty() ? "OK " + file.string()
                                                   : "ERROR " + file.string() + ": " + a.error) +
                                      "\n");
        } else {
            std::string error;
            try {
                AudioTagger::writeISRC(file, code, a.how == kWriteWithBackup);
            } catch (const std::exception& e) {
                error = e.what();
            }
            EXPECT_EQ(error, a.error);
        }
        EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
        if (a.error.empty()) {
            EXPECT_EQ(AudioTagger::readISRC(file), code);
            EXPECT_EQ(AudioTagger::fingerprint(file, AudioFormat::wav), audio);
        } else {
            EXPECT_EQ(freeBytes(dir.path()), free);
            EXPECT_TRUE(e2e::contentsOf(file) == original);
            EXPECT_EQ(AudioTagger::readISRC(file), std::nullopt);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Filesystems, DiskFull, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });
