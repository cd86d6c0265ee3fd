// SPDX-License-Identifier: MIT
// A failure of any single system call during a write leaves the original byte-identical and no
// temporary file or backup behind; once the replace has happened, the new content is whole. And
// the copy path's fallback when the kernel copy gives up at any point, or the input ends early.

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <set>

#include "core/io/binary_io.h"
#include "e2e_support.h"
#include "support/mp4_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;
using sys::Op;

namespace {
// What is tested is the calls, not the disk: on tmpfs where there is one, a flush costs nothing.
const bool kOnTmpfs = fs::is_directory("/dev/shm") && ::setenv("TMPDIR", "/dev/shm", 1) == 0;

bool isTemp(const std::string& path) {
    return path.ends_with(".pelorix-tmp");
}
}  // namespace

TEST(FaultInjectionTest, EveryCallOfAWriteCanFailSafely) {
    // More than one 1 MiB piece, so the copies and the comparison loop.
    const Bytes original = wavWithCode("GBXYZ9900001", audioBytes((1 << 20) + 5));
    TempDir first;
    writeFile(first / "Song.wav", original);
    const auto plan = callsOf([&] { write::writeISRC(first / "Song.wav", kCode, true); });
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
        SCOPED_TRACE(describe(step));
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, original);
        const std::string error =
            errorIfCallFails(step.index, EIO, [&] { write::writeISRC(file, kCode, true); });
        // Reported with the platform's text, or as the refusal a failed check must end in.
        EXPECT_TRUE(error.empty() || error.ends_with(platformText(EIO)) ||
                    error == msg::changedDuringWrite || error == msg::openElsewhere)
            << error;
        if (error.empty()) {
            // Only the removal of a file no longer needed and the closing of a flushed folder
            // may fail unnoticed (what stays behind is the old file under the hidden name), a
            // question for holes, instead of which every byte is copied, and a look at flags
            // where none are to be kept.
            EXPECT_TRUE(step.op == Op::unlink || step.op == Op::close || step.op == Op::seek ||
                        step.op == Op::flags);
            EXPECT_EQ(read::readISRC(file), kCode);
            for (const auto& name : dir.list())
                EXPECT_TRUE(!isTemp(name) || readFile(dir / name) == original);
        } else if (readFile(file) == original) {
            EXPECT_EQ(dir.list(), Names{"Song.wav"}) << error;
        } else {
            // The folder flush after the replace failed: reported, but the new file is whole.
            EXPECT_TRUE(step.op == Op::open || step.op == Op::fsync || step.op == Op::syncfs);
            EXPECT_EQ(read::readISRC(file), kCode);
            EXPECT_EQ(readFile(dir / "Song (original).wav"), original);
            EXPECT_EQ(dir.list().size(), 2u);
        }
    }
}

// A batch of two, whichever call fails: each file old or new, reported once, in order; the new
// files reach storage by one flush of the filesystem and one of the folder before any replace.
TEST(FaultInjectionTest, EveryCallOfABatchCanFailSafely) {
    const Bytes original = wav(audioBytes(70000));
    const std::vector<std::string> names = {"A.wav", "B.wav"};
    // Whichever call fails (none when `fail` is past the end), the calls made.
    const auto run = [&](std::size_t fail) {
        TempDir dir;
        const auto jobs = jobsFor({dir / names[0], dir / names[1]}, original);
        std::optional<Op> failed;
        Seam seam([&](const Seam::Call& c) {
            if (c.index != fail) return 0;
            failed = c.op;
            return EIO;
        });
        const auto errors = batchErrors(jobs);
        sys::setFaultHook(nullptr);
        EXPECT_EQ(errors.size(), 2u);
        for (std::size_t i = 0; i < errors.size(); ++i) {
            const bool isNew = read::readISRC(dir / names[i]) == kCode;
            EXPECT_TRUE(isNew || readFile(dir / names[i]) == original) << i;
            EXPECT_TRUE(errors[i].empty() ? isNew
                                          : !isNew || failed == Op::fsync || failed == Op::syncfs)
                << errors[i];
        }
        for (const auto& name : dir.list())
            EXPECT_TRUE(!isTemp(name) || readFile(dir / name) == original) << name;
        return seam.calls;
    };
    std::vector<Op> ops;
    for (const auto& c : run(SIZE_MAX)) ops.push_back(c.op);
    EXPECT_EQ(std::count(ops.begin(), ops.end(), Op::fsync), 1);
    EXPECT_LT(std::find(ops.begin(), ops.end(), Op::syncfs),
              std::find(ops.begin(), ops.end(), Op::rename));
    for (std::size_t k = 0; k < ops.size(); ++k) {
        SCOPED_TRACE("call " + std::to_string(k) + " (op " + std::to_string(int(ops[k])) + ")");
        run(k);
    }
}

// A batch over two filesystems whose commit fails at one step fails only the files that step
// holds; no file is reported done before its filesystem confirmed it stored it.
TEST(FaultInjectionTest, AFailedCommitStepFailsOnlyTheFilesItHolds) {
    const TempDir here, there(fs::current_path());
    if (lstatOf(here.path()).st_dev == lstatOf(there.path()).st_dev) GTEST_SKIP();
    const Bytes original = wav(audioBytes(70000));
    // Which call of a kind fails (on a path with that end); per file '+' done, 'o' failed and
    // as it was, '!' failed but new.
    const std::tuple<Op, int, std::string, std::string> cases[] = {
        {Op::syncfs, 0, "", "o+o+"},
        {Op::syncfs, 1, "", "+o+o"},
        {Op::rename, 0, "B.wav", "++o+"},
        {Op::rename, 0, "C.wav", "+o++"},
        {Op::fsync, 0, "", "!+!+"},
        {Op::fsync, 1, "", "+!+!"},
        // The folder flushed, but its filesystem does not confirm it stored the replaces (a
        // shut-down XFS answers the folder's flush with success).
        {Op::syncfs, 2, "", "!+!+"},
        {Op::syncfs, 3, "", "+!+!"},
    };
    for (const auto& [op, nth, name, expected] : cases) {
        SCOPED_TRACE("op " + std::to_string(int(op)) + " " + name + " " + std::to_string(nth));
        const auto jobs =
            jobsFor({here / "A.wav", there / "C.wav", here / "B.wav", there / "D.wav"}, original);
        std::vector<std::exception_ptr> errors;
        {
            int seen = 0;
            Seam seam([&](const Seam::Call& c) {
                return c.op == op && c.path.ends_with(name) && seen++ == nth ? EIO : 0;
            });
            write::writeBatch(jobs, false, [&](std::size_t i, std::exception_ptr e) {
                EXPECT_EQ(i, errors.size());
                errors.push_back(e);
            });
        }
        std::string outcome;
        for (std::size_t i = 0; i < errors.size(); ++i) {
            const bool isNew = read::readISRC(jobs[i].path) == kCode;
            outcome += isNew                                             ? (errors[i] ? '!' : '+')
                       : errors[i] && readFile(jobs[i].path) == original ? 'o'
                                                                         : '?';
        }
        EXPECT_EQ(outcome, expected);
        EXPECT_EQ(here.list(), (Names{"A.wav", "B.wav"}));
        EXPECT_EQ(there.list(), (Names{"C.wav", "D.wav"}));
    }
}

// Steps the runs above never reach: early writeback, a replace across filesystems (no copy).
TEST(FaultInjectionTest, EachNamedStepReportsThePlatformError) {
    const std::pair<Op, int> cases[] = {{Op::startWriteback, EIO}, {Op::rename, EXDEV}};
    const Bytes original = wav(audioBytes(9 << 20));  // large enough for an early writeback
    for (const auto& [op, err] : cases) {
        SCOPED_TRACE(platformText(err));
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, original);
        Seam seam([&](const Seam::Call& c) { return c.op == op && c.nth == 0 ? err : 0; });
        EXPECT_EQ(errorOf([&] { write::writeISRC(file, kCode, true); }), platformText(err));
        EXPECT_TRUE(readFile(file) == original);
        EXPECT_EQ(dir.list(), Names{"Song.wav"});  // no temporary, no backup
    }
}

TEST(CopyPathsTest, EveryPathPutsEachByteWhereThePositionSays) {
    // Two kernel pieces and a bit, from an odd offset, behind bytes still in the gather buffer.
    TempDir dir;
    const Bytes data = audioBytes((9 << 20) + 4099, 3);
    const std::uint64_t from = 7, count = data.size() - from - 1001;
    writeFile(dir / "in", data);
    const Bytes expected =
        join({bytesOf("head!"), slice(data, from, count), bytesOf("tail"), slice(data, 3, 10)});
    // The kernel copy refused from the first call or from the second one on, or failing outright.
    const std::pair<int, int> cases[] = {{0, 0},          {EXDEV, 0}, {ENOSYS, 0}, {EINVAL, 0},
                                         {EOPNOTSUPP, 0}, {EXDEV, 1}, {ENOSPC, 1}};
    for (const auto& [err, failFrom] : cases) {
        SCOPED_TRACE(std::to_string(err) + " from call " + std::to_string(failFrom));
        fs::remove(dir / "out");
        const FileIn in(dir / "in");
        Seam seam([&](const Seam::Call& c) {
            return c.op == Op::copyRange && c.nth >= failFrom ? err : 0;
        });
        const std::string error = errorOf([&] {
            FileOut out(dir / "out");
            out.write(bytesOf("head!"));
            in.copy(from, count, out);
            EXPECT_EQ(out.position(), 5 + count);
            out.write(bytesOf("tail"));
            in.copy(3, 10, out);
            out.close();
        });
        EXPECT_EQ(error, err == ENOSPC ? platformText(ENOSPC) : "");
        EXPECT_TRUE(err == ENOSPC || readFile(dir / "out") == expected);
    }
}

TEST(CopyPathsTest, AnInputThatEndsEarlyFailsAfterWritingWhatThereIs) {
    TempDir dir;
    const Bytes data = audioBytes(300000);
    writeFile(dir / "in", data);
    FileOut out(dir / "out");
    const FileIn in(dir / "in");
    // Past the end of the file as it was opened, through the gather buffer and in the kernel;
    // then past the end of what is left of it: the kernel copies nothing more, read(2) confirms.
    EXPECT_EQ(errorOf([&] { in.copy(data.size() - 2, 4, out); }), msg::fileEnded);
    EXPECT_EQ(errorOf([&] { in.copy(data.size() - 100, 200000, out); }), msg::fileEnded);
    ASSERT_EQ(::truncate((dir / "in").c_str(), 100000), 0);
    EXPECT_EQ(errorOf([&] { in.copy(0, data.size(), out); }), msg::fileEnded);
    out.close();
    EXPECT_TRUE(readFile(dir / "out") ==
                join({slice(data, data.size() - 2, 2), slice(data, data.size() - 100, 100),
                      slice(data, 0, 100000)}));
}

// XFS shuts down on an I/O error, and then answers a folder's flush with success: a write,
// alone or in a batch, whose filesystem shuts down after its replaces prints no OK, as the
// filesystem's own flush says.
TEST(FaultInjectionTest, AFilesystemThatShutsDownAfterTheReplacesConfirmsNone) {
    for (const std::size_t files : {1, 2}) {
        SCOPED_TRACE(files);
        LoopFilesystem xfs("xfs");
        if (!xfs.mounted() || runShell("command -v xfs_io >/dev/null").status != 0) {
            GTEST_SKIP() << "needs root, mkfs.xfs and xfs_io";
        }
        std::vector<write::BatchJob> jobs;
        for (const char* name : {"A.wav", "B.wav"}) {
            if (jobs.size() == files) break;
            writeFile(xfs.path() / name, wav(audioBytes(70000)));
            jobs.push_back({xfs.path() / name, kCode});
        }
        bool replaced = false, down = false;
        std::vector<bool> ok;
        {
            Seam seam([&](const Seam::Call& c) {
                replaced |= c.op == Op::rename;
                if (replaced && !down && c.op == Op::fsync) {
                    down =
                        runShell("xfs_io -x -c shutdown " + quoted(xfs.path().string())).status ==
                        0;
                }
                return 0;
            });
            write::writeBatch(jobs, false,
                              [&](std::size_t, std::exception_ptr e) { ok.push_back(!e); });
        }
        ASSERT_TRUE(down);
        EXPECT_EQ(ok, std::vector<bool>(files, false));
    }
}
