// SPDX-License-Identifier: MIT
// Extent sharing on real filesystems: loop-mounted XFS and btrfs images made here (root only),
// and the folder the tests run in, which usually cannot share extents at all.
#include "core/io/clone.h"

#include <algorithm>
#include <random>

#include "e2e_support.h"

namespace pelorix::test {
namespace {
using namespace e2e;

struct Fd {
    explicit Fd(const std::filesystem::path& p) : fd(::open(p.c_str(), O_RDWR | O_CREAT, 0600)) {}
    ~Fd() { ::close(fd); }
    int fd;
};

TEST(Clone, AlignedPartKeepsWholeBlocksOrTheSourceEnd) {
    using clone::Range;
    const struct {
        std::uint64_t in, out, length;
        std::optional<Range> part;
    } cases[] = {
        {100, 100, 10000, Range{4096, 4096}},    // inside the file: whole blocks only
        {100, 100, 19900, Range{4096, 12288}},   // up to the last whole block
        {100, 4196, 19900, Range{4096, 12288}},  // congruent offsets
        {100, 101, 19900, std::nullopt},         // offsets that never line up
        {100, 100, 3000, std::nullopt},          // less than a block
        {0, 8192, 4096, Range{0, 4096}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clone::alignedPart(c.in, c.out, c.length, 4096), c.part) << c.in;
}

TEST(Clone, SharedExtentsProveEqualityAndOnlyThen) {
    Bytes data(3 * 1024 * 1024 + 1234);
    std::mt19937 random(7);
    for (auto& b : data) b = std::uint8_t(random());
    for (const std::string type : {"xfs", "btrfs", "plain"}) {
        SCOPED_TRACE(type);
        std::optional<LoopFilesystem> fs;
        TempDir plain;
        std::filesystem::path at = plain.path();
        if (type != "plain") {
            if (::geteuid() != 0 || runShell("command -v mkfs." + type).status != 0) continue;
            fs.emplace(type);
            ASSERT_TRUE(fs->mounted());
            at = fs->path();
        }
        writeFile(at / "a", data);
        Fd a(at / "a"), b(at / "b");
        const std::uint64_t block = clone::blockSize(a.fd);
        // The layout of a rewrite: a new head of another length, then the audio at a congruent
        // offset. The head is written, the whole blocks shared.
        const std::uint64_t shift = 3 * block;
        const auto part = clone::alignedPart(100, 100 + shift, data.size() - 100, block);
        ASSERT_TRUE(part);
        ASSERT_EQ(::pwrite(b.fd, data.data(), part->offset, off_t(shift)), off_t(part->offset));
        const bool cloned =
            clone::cloneRange(a.fd, part->offset, b.fd, part->offset + shift, part->length);
        if (type == "plain") {
            // Most test folders cannot share; the point is a clean "no", never an exception.
            if (!cloned) {
                EXPECT_FALSE(clone::sameExtents(a.fd, 0, b.fd, shift, data.size()));
            }
            continue;
        }
        ASSERT_TRUE(cloned);
        const std::uint64_t end = part->offset + part->length;  // the partial last block
        ASSERT_EQ(::pwrite(b.fd, data.data() + end, data.size() - end, off_t(end + shift)),
                  off_t(data.size() - end));
        const Bytes copy = readFile(at / "b");
        ASSERT_EQ(copy.size(), data.size() + shift);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), copy.begin() + long(shift)));
        EXPECT_TRUE(
            clone::sameExtents(a.fd, part->offset, b.fd, part->offset + shift, part->length));
        // The written head is not shared, and neither is a shared block once written to.
        EXPECT_FALSE(clone::sameExtents(a.fd, 0, b.fd, shift, part->offset));
        ASSERT_EQ(::pwrite(b.fd, "x", 1, off_t(shift + part->offset + block)), 1);
        EXPECT_FALSE(
            clone::sameExtents(a.fd, part->offset, b.fd, part->offset + shift, part->length));
        EXPECT_TRUE(clone::sameExtents(a.fd, part->offset + 2 * block, b.fd,
                                       part->offset + 2 * block + shift, block));
    }
}

// A write on a filesystem that shares extents: the audio's whole blocks are shared with the
// original (a reflink copy of it still shares them afterwards), and a shared block changed
// behind the write's back is caught by the byte comparison the extent proof falls back to.
TEST(Clone, WritesShareTheAudioAndStillCatchAChangedBlock) {
    if (::geteuid() != 0) GTEST_SKIP() << "loop mounts need root";
    // A 4 MiB WAV without a tag: the new tag goes after the audio, which keeps its place.
    const Bytes audio = audioBytes(std::size_t(4) << 20, 3);
    const Bytes original = wav({chunks::wavFormat(), {"data", audio}});
    for (const std::string type : {"xfs", "btrfs"}) {
        SCOPED_TRACE(type);
        if (runShell("command -v mkfs." + type).status != 0) continue;
        LoopFilesystem fs(type);
        ASSERT_TRUE(fs.mounted());
        int reads[2] = {};  // by the write, without and with a block changed behind its back
        for (const bool tamper : {false, true}) {
            const auto file = fs.path() / "Song.wav", keep = fs.path() / "keep.wav";
            writeFile(file, original);
            ASSERT_EQ(runShell("cp --reflink=always " + file.string() + " " + keep.string()).status,
                      0);
            write::testing::setAfterWriteHook([&](const std::filesystem::path& tmp) {
                if (!tamper) return;
                Fd t(tmp);
                ASSERT_EQ(::pwrite(t.fd, "!", 1, 3 << 20), 1);  // well inside the shared blocks
            });
            Seam seam;  // a byte comparison of the shared audio reads it
            const std::string error = errorOf([&] { write::writeISRC(file, kCode, false); });
            write::testing::setAfterWriteHook(nullptr);
            reads[tamper] = seam.count[sys::Op::read];
            if (tamper) {
                EXPECT_EQ(error, msg::verifyAudio);
                EXPECT_EQ(readFile(file), original);
            } else {
                ASSERT_EQ(error, "");
                EXPECT_EQ(read::readISRC(file), kCode);
                const Bytes written = readFile(file);
                // Past the RIFF size, the audio where it was; the tag after it.
                ASSERT_TRUE(std::equal(original.begin() + 8, original.end(), written.begin() + 8));
                Fd a(file), k(keep);
                EXPECT_TRUE(clone::sameExtents(a.fd, 1 << 20, k.fd, 1 << 20, 2 << 20));
            }
            std::filesystem::remove(keep);
        }
        // The shared audio was passed over unread; only the changed block's range was read.
        EXPECT_GT(reads[1], reads[0] + 1);
    }
}

// Every call of a sharing write can fail: the original as it was, nothing beside it.
TEST(Clone, EveryCallOfASharingWriteCanFailSafely) {
    if (::geteuid() != 0 || runShell("command -v mkfs.xfs").status != 0)
        GTEST_SKIP() << "needs root and mkfs.xfs";
    LoopFilesystem fs("xfs");
    ASSERT_TRUE(fs.mounted());
    const auto file = fs.path() / "Song.wav";
    const Bytes original = wav(audioBytes(std::size_t(3) << 20, 5));
    writeFile(file, original);
    const auto plan = callsOf([&] { write::writeISRC(file, kCode, false); });
    // The calls before the sharing are those of any write, which the tests on a plain folder
    // fail one by one already; from the sharing on, each is failed here.
    const auto shared = std::find_if(plan.begin(), plan.end(),
                                     [](const auto& c) { return c.op == sys::Op::cloneRange; });
    ASSERT_NE(shared, plan.end());
    // A sharing refused as where the filesystem cannot share is no failure: the write copies.
    std::vector<std::pair<Seam::Call, int>> steps;
    for (const auto& step : std::vector(shared, plan.end())) {
        steps.emplace_back(step, EIO);
        if (step.op == sys::Op::cloneRange) steps.emplace_back(step, EOPNOTSUPP);
    }
    for (const auto& [step, err] : steps) {
        SCOPED_TRACE(describe(step) + " errno " + std::to_string(err));
        writeFile(file, original);
        const std::string error =
            errorIfCallFails(step.index, err, [&] { write::writeISRC(file, kCode, false); });
        EXPECT_TRUE(err == EIO || error.empty()) << error;
        if (error.empty() || readFile(file) != original) {
            // Done, or done with a failed flush of the folder afterwards, which is reported.
            EXPECT_TRUE(error.empty() || step.op == sys::Op::open || step.op == sys::Op::fsync ||
                        step.op == sys::Op::syncfs);
            EXPECT_EQ(read::readISRC(file), kCode);
            const Bytes written = readFile(file);
            EXPECT_TRUE(std::equal(original.begin() + 8, original.end(), written.begin() + 8));
        }
        for (const auto& entry : std::filesystem::directory_iterator(fs.path())) {
            // What may stay behind is the old file under the hidden name, when its removal
            // failed after the replace.
            EXPECT_TRUE(entry.path() == file || (error.empty() && readFile(entry) == original))
                << entry.path();
            if (entry.path() != file) std::filesystem::remove(entry);
        }
    }
}

}  // namespace
}  // namespace pelorix::test
