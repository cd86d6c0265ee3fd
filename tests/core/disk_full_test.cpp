// SPDX-License-Identifier: MIT
// Writes on real, tiny filesystems (tmpfs in a private mount namespace): the disk fills up
// half-way through the temporary copy or during the backup, there is no inode left for the
// temporary file, the folder is on a read-only filesystem, a stale temporary file is what fills
// the disk. The kernel's own refusals end as the injected ones do: the original byte-identical,
// nothing left beside it, every byte of space given back.
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cstring>

#include "core/formats/detect.h"
#include "e2e_support.h"

using namespace pelorix;
using namespace pelorix::test;
using e2e::kCode;
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
    std::uint64_t fsBytes, fileBytes, staleBytes;  // staleBytes: a crash's leftover; 0: none
    std::string options;                           // more tmpfs mount options
    bool readOnly;
    std::vector<std::pair<How, std::string>> attempts;
};

std::vector<Case> cases() {
    const std::string full = std::generic_category().message(ENOSPC);
    const std::string readOnly = msg::cannotWrite(std::generic_category().message(EROFS));
    using Tries = std::vector<std::pair<How, std::string>>;
    const auto mib = [](const char* name, int fs, int file, int stale, const char* options, bool ro,
                        Tries tries) {
        return Case{name, fs * kMiB, file * kMiB, stale * kMiB, options, ro, std::move(tries)};
    };
    return {
        // Room for the file and half of its new copy.
        mib("HalfWay", 75, 50, 0, "", false, Tries{{kWriteWithBackup, full}, {kWrite, full}}),
        // Room for the file and its new copy, not for a third copy; without a backup it fits.
        mib("TheBackupDoesNotFit", 50, 20, 0, "", false,
            Tries{{kWriteWithBackup, full}, {kWrite, ""}}),
        // The root folder and the file take the only two inodes.
        mib("NoInodeForTheTemporaryFile", 4, 1, 0, ",nr_inodes=2", false,
            Tries{{kWrite, msg::cannotWrite(full)}}),
        // Not writable for anyone, root included; reading still works.
        mib("ReadOnlyFilesystem", 4, 1, 0, "", true,
            Tries{{kWriteWithBackup, readOnly}, {kRemove, readOnly}}),
        // The space the leftover holds is what the write needs; it goes first.
        mib("AStaleTemporaryFileFillsTheDisk", 30, 12, 15, "", false, Tries{{kWrite, ""}}),
    };
}

class DiskFull : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(DiskFull, TheOriginalStaysWholeAndNothingIsLeftBehind) {
    if (auto why = privateMounts()) GTEST_SKIP() << "no private mounts: " << *why;
    const Case& c = GetParam();
    TempDir dir;
    const std::string options = "size=" + std::to_string(c.fsBytes) + ",mode=0755" + c.options;
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
    const std::string audio = AudioTagger::fingerprint(file, AudioFormat::wav);
    if (c.staleBytes) {
        writeFile(dir / ".Song.wav.pelorix-tmp", chunks::audio(c.staleBytes));
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
        std::string what;
        try {
            AudioTagger::writeISRC(file, code, how == kWriteWithBackup);
        } catch (const std::exception& e) {
            what = e.what();
        }
        EXPECT_EQ(what, error);
        EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
        EXPECT_EQ(AudioTagger::fingerprint(file, AudioFormat::wav), audio);
        EXPECT_EQ(AudioTagger::readISRC(file), error.empty() ? code : std::nullopt);
        if (!error.empty()) {
            EXPECT_EQ(freeBytes(dir.path()), free);
            EXPECT_TRUE(e2e::contentsOf(file) == original);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Filesystems, DiskFull, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });
