// Writes on real, tiny filesystems (tmpfs mounts in a private mount namespace): the disk fills up
// half-way through the temporary copy of a 50 MiB file, during the backup, or has no inode left
// for the temporary file; the folder is on a read-only filesystem; a stale temporary file from a
// crash is what fills the disk. The seam-level failures of each call are covered by the fault
// injection tests; these show the kernel's own refusals end the same way: the original
// byte-identical, nothing left beside it, every byte of space given back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "core/audio_format.h"
#include "core/audio_tagger.h"
#include "core/tag_error.h"
#include "support/chunk_builder.h"
#include "support/files.h"

using namespace pelorix;
using namespace pelorix::test;
namespace fs = std::filesystem;

namespace {

const std::string kCode = "FIABC2600001";
constexpr std::uint64_t kMiB = 1 << 20;

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream f(path);
    f << text;
    return bool(f.flush());
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
                return std::string("cannot make a private mount namespace: ") + std::strerror(errno);
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

// A tmpfs of the given size (and inode count) on an empty folder, unmounted when it goes.
class TinyFilesystem {
public:
    TinyFilesystem(const fs::path& at, std::uint64_t bytes, std::optional<int> inodes = {})
        : at_(at) {
        std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        if (inodes) options += ",nr_inodes=" + std::to_string(*inodes);
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
        error_ = errno;
    }
    ~TinyFilesystem() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    TinyFilesystem(const TinyFilesystem&) = delete;
    TinyFilesystem& operator=(const TinyFilesystem&) = delete;

    bool mounted() const { return mounted_; }
    std::string error() const { return std::strerror(error_); }
    bool makeReadOnly() {
        return ::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                       nullptr) == 0;
    }
    std::uint64_t freeBytes() const {
        struct statvfs st {};
        ::statvfs(at_.c_str(), &st);
        return std::uint64_t(st.f_bavail) * st.f_frsize;
    }

private:
    fs::path at_;
    bool mounted_ = false;
    int error_ = 0;
};

// The whole file in one read: the files here are tens of megabytes.
Bytes contentsOf(const fs::path& p) {
    Bytes b(fs::file_size(p));
    FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot read " + p.string());
    b.resize(std::fread(b.data(), 1, b.size(), f));
    std::fclose(f);
    return b;
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

std::string platform(int err) { return std::generic_category().message(err); }

// A PCM WAV of about `bytes` bytes.
Bytes wavOf(std::uint64_t bytes) { return chunks::wav(std::uint32_t(bytes / 4)); }

class DiskFull : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = privateMounts()) GTEST_SKIP() << *why;
    }

    TempDir dir;
};

// A tiny filesystem on the test's folder, or the test skipped when mounting is refused.
#define MOUNT_OR_SKIP(var, ...)                                                         \
    auto var = std::make_unique<TinyFilesystem>(dir.path(), __VA_ARGS__);               \
    if (!var->mounted()) GTEST_SKIP() << "tmpfs cannot be mounted: " << var->error()

}  // namespace

TEST_F(DiskFull, HalfWayThroughA50MiBFile) {
    // Room for the file and half of its new copy.
    MOUNT_OR_SKIP(tiny, 75 * kMiB);
    const fs::path file = dir / "Song.wav";
    const Bytes original = wavOf(50 * kMiB);
    writeFile(file, original);
    const std::uint64_t free = tiny->freeBytes();
    ASSERT_LT(free, original.size());
    ASSERT_GT(free, original.size() / 4);

    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, true); }), platform(ENOSPC));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    EXPECT_EQ(tiny->freeBytes(), free);
    EXPECT_TRUE(contentsOf(file) == original);

    // The same through the command line: one error line, exit status 1, nothing changed.
    const RunResult run = runShell("'" + std::string(PELORIX_BINARY) + "' --write " + kCode + " '" +
                                   file.string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "ERROR " + file.string() + ": " + platform(ENOSPC) + "\n");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    EXPECT_EQ(tiny->freeBytes(), free);
    EXPECT_TRUE(contentsOf(file) == original);
    EXPECT_EQ(AudioTagger::readISRC(file), std::nullopt);
}

TEST_F(DiskFull, TheBackupDoesNotFit) {
    // Room for the file and its new copy, not for a third copy.
    MOUNT_OR_SKIP(tiny, 50 * kMiB);
    const fs::path file = dir / "Song.wav";
    const Bytes original = wavOf(20 * kMiB);
    writeFile(file, original);
    const std::uint64_t free = tiny->freeBytes();

    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, true); }), platform(ENOSPC));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    EXPECT_EQ(tiny->freeBytes(), free);
    EXPECT_TRUE(contentsOf(file) == original);

    // Without a backup the same write fits.
    AudioTagger::writeISRC(file, kCode, false);
    EXPECT_EQ(AudioTagger::readISRC(file), kCode);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
}

TEST_F(DiskFull, NoInodeLeftForTheTemporaryFile) {
    // The root folder and the file take the only two inodes.
    MOUNT_OR_SKIP(tiny, 4 * kMiB, 2);
    const fs::path file = dir / "Song.wav";
    const Bytes original = wavOf(kMiB);
    writeFile(file, original);

    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, false); }),
              msg::cannotWrite(platform(ENOSPC)));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    EXPECT_TRUE(contentsOf(file) == original);
}

TEST_F(DiskFull, AFolderOnAReadOnlyFilesystem) {
    // Not writable for anyone, root included.
    MOUNT_OR_SKIP(tiny, 4 * kMiB);
    const fs::path file = dir / "Song.wav";
    const Bytes original = wavOf(kMiB);
    writeFile(file, original);
    ASSERT_TRUE(tiny->makeReadOnly()) << std::strerror(errno);

    const std::string refused = msg::cannotWrite(platform(EROFS));
    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, true); }), refused);
    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, std::nullopt, false); }), refused);
    const RunResult run = runShell("'" + std::string(PELORIX_BINARY) + "' --write " + kCode + " '" +
                                   file.string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "ERROR " + file.string() + ": " + refused + "\n");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    EXPECT_TRUE(contentsOf(file) == original);
    // Reading needs no writable folder.
    EXPECT_EQ(AudioTagger::readISRC(file), std::nullopt);
}

TEST_F(DiskFull, AStaleTemporaryFileFillingTheDiskIsCleared) {
    // A crash left a large half-written temporary file; the space it holds is what the next
    // write needs, and it gets it because the leftover goes first.
    MOUNT_OR_SKIP(tiny, 30 * kMiB);
    const fs::path file = dir / "Song.wav";
    const Bytes original = wavOf(12 * kMiB);
    writeFile(file, original);
    const std::string audio = AudioTagger::fingerprint(file, AudioFormat::wav);
    writeFile(dir / ".Song.wav.pelorix-tmp", chunks::audio(15 * kMiB));
    ASSERT_LT(tiny->freeBytes(), original.size());

    AudioTagger::writeISRC(file, kCode, false);
    EXPECT_EQ(AudioTagger::readISRC(file), kCode);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    EXPECT_EQ(AudioTagger::fingerprint(file, AudioFormat::wav), audio);
}
