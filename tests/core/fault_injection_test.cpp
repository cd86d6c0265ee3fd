// SPDX-License-Identifier: MIT
// A failure of any single system call during a write leaves the original byte-identical and no
// temporary file or backup behind; once the replace has happened, the new content is whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "core/tag_error.h"
#include "core/write/audio_tagger.h"
#include "driver_fixtures.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::driver;
namespace fs = std::filesystem;
using sys::Op;

namespace {
bool isTemp(const std::string& path) {
    return path.ends_with(".pelorix-tmp");
}
}  // namespace

TEST(FaultInjectionTest, EveryCallOfAWriteCanFailSafely) {
    // More than one 1 MiB piece, so the copies and the comparison loop.
    const Bytes original = wavWithCode("GBXYZ9900001", audioBytes((1 << 20) + 5));
    std::vector<Seam::Call> plan;
    {
        TempDir dir;
        writeFile(dir / "Song.wav", original);
        Seam record;
        AudioTagger::writeISRC(dir / "Song.wav", kCode, true);
        plan = record.calls;
    }
    // The run goes through every step worth breaking, and flushes the new file after its last
    // write, before the replace.
    std::set<Op> seen;
    for (const auto& c : plan) seen.insert(c.op);
    for (Op op : {Op::read, Op::write, Op::fsync, Op::close, Op::rename, Op::fchmod, Op::copyRange,
                  Op::unlink, Op::stat, Op::access, Op::lock, Op::lease, Op::getxattr}) {
        EXPECT_TRUE(seen.count(op)) << "op " << int(op) << " never called";
    }
    const auto at = [&](auto from, Op op) {
        return std::find_if(from, plan.end(), [&](const auto& c) { return c.op == op; });
    };
    const auto tmpOpen = std::find_if(
        plan.begin(), plan.end(), [](const auto& c) { return c.op == Op::open && isTemp(c.path); });
    ASSERT_NE(tmpOpen, plan.end());
    EXPECT_LT(at(at(tmpOpen, Op::copyRange), Op::fsync), at(tmpOpen, Op::rename));

    for (const auto& step : plan) {
        SCOPED_TRACE("call " + std::to_string(step.index) + " (op " + std::to_string(int(step.op)) +
                     " " + step.path + ")");
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, original);
        std::string error;
        {
            Seam seam([&](const Seam::Call& c) { return c.index == step.index ? EIO : 0; });
            error = errorOf([&] { AudioTagger::writeISRC(file, kCode, true); });
        }
        if (error.empty()) {
            // Only the removal of a file no longer needed and the closing of a flushed folder
            // may fail unnoticed; what stays behind is the old file under the hidden name.
            EXPECT_TRUE(step.op == Op::unlink || step.op == Op::close);
            EXPECT_EQ(AudioTagger::readISRC(file), kCode);
            for (const auto& name : dir.list()) {
                EXPECT_TRUE(!isTemp(name) || readFile(dir / name) == original);
            }
        } else if (readFile(file) == original) {
            EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"}) << error;
        } else {
            // The folder flush after the replace failed: reported, but the new file is whole.
            EXPECT_TRUE(step.op == Op::open || step.op == Op::fsync);
            EXPECT_EQ(AudioTagger::readISRC(file), kCode);
            EXPECT_EQ(readFile(dir / "Song (original).wav"), original);
            EXPECT_EQ(dir.list().size(), 2u);
        }
    }
}

// The first call of a kind fails: on the temporary file only, after the backup was opened
// only (its own copy, not the audio copy), or any.
TEST(FaultInjectionTest, EachNamedStepReportsThePlatformError) {
    enum Only { any, temp, backup };
    const std::tuple<Op, Only, int, std::string> cases[] = {
        {Op::open, temp, EACCES, msg::cannotWrite(platformText(EACCES))},
        {Op::write, any, ENOSPC, platformText(ENOSPC)},
        {Op::copyRange, any, ENOSPC, platformText(ENOSPC)},
        {Op::startWriteback, any, EIO, platformText(EIO)},
        {Op::fsync, any, EIO, platformText(EIO)},
        {Op::close, any, EIO, platformText(EIO)},
        {Op::copyRange, backup, ENOSPC, platformText(ENOSPC)},
        {Op::rename, any, EXDEV, platformText(EXDEV)},
    };
    // Large enough for the kernel copy, or for an early writeback.
    const Bytes small = wav(audioBytes(70000)), large = wav(audioBytes(9 << 20));
    for (const auto& [op, only, err, expected] : cases) {
        SCOPED_TRACE(expected);
        const Bytes& original = op == Op::startWriteback ? large : small;
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, original);
        bool inBackup = false, failed = false;
        std::string error;
        {
            Seam seam([&](const Seam::Call& call) {
                inBackup |= call.op == Op::open && call.path.ends_with("Song (original).wav");
                if (failed || call.op != op || (only == temp && !isTemp(call.path)) ||
                    (only == backup && !inBackup)) {
                    return 0;
                }
                failed = true;
                return err;
            });
            error = errorOf([&] { AudioTagger::writeISRC(file, kCode, true); });
        }
        EXPECT_TRUE(failed);
        EXPECT_EQ(error, expected);
        EXPECT_TRUE(readFile(file) == original);
        EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});  // no temporary, no backup
    }
}
