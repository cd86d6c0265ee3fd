// SPDX-License-Identifier: MIT
// The real binary killed, interrupted, or racing another write or a recorder: never a truncated
// file, a lost append, a leftover that disturbs the next write, or an `OK` that is not true.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "cli/cli.h"
#include "core/formats/format.h"
#include "core/io/clone.h"
#include "e2e_support.h"
#include "support/flac_builder.h"
#include "support/mp4_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::e2e;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Large enough that the copy takes many writes, small enough for a quick sanitizer run.
constexpr std::size_t kAudioBytes = std::size_t(12) << 20;

std::vector<std::string> args(const Code& code, const fs::path& file) {
    if (code) return {"--write", *code, file.string()};
    return {"--remove", file.string()};
}

std::optional<struct stat> statOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return std::nullopt;
    return st;
}

bool sameFile(const std::optional<struct stat>& a, const std::optional<struct stat>& b) {
    if (!a || !b) return !a && !b;
    return a->st_ino == b->st_ino && a->st_size == b->st_size &&
           a->st_ctim.tv_sec == b->st_ctim.tv_sec && a->st_ctim.tv_nsec == b->st_ctim.tv_nsec;
}

// True once the child has ended; it stays unreaped, for status() to collect.
bool ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Starts a write; returns once its temporary file holds `tmpBytes` (or is gone) or it ended.
pid_t startAndWait(const std::vector<std::string>& a, const fs::path& tmp, std::uint64_t tmpBytes) {
    const auto stale = statOf(tmp);  // a leftover is not this run's
    const pid_t pid = start(a);
    for (bool ours = false; !ended(pid); ::usleep(50)) {
        const auto now = statOf(tmp);
        ours |= now && !sameFile(now, stale);
        if (ours && (!now || std::uint64_t(now->st_size) >= tmpBytes)) break;
    }
    return pid;
}

// An inotify descriptor watching `folder` for `events`.
int watchFolder(const fs::path& folder, std::uint32_t events) {
    const int watch = ::inotify_init1(IN_CLOEXEC);
    EXPECT_GE(::inotify_add_watch(watch, folder.c_str(), events), 0);
    return watch;
}

// Waits (up to 2 s) until a watched event names a temporary file.
void waitForTemporary(int watch) {
    alignas(inotify_event) char events[4096];
    for (bool seen = false; !seen;) {
        pollfd ready{watch, POLLIN, 0};
        if (::poll(&ready, 1, 2000) <= 0) return;
        const ssize_t n = ::read(watch, events, sizeof events);
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(events + at);
            seen |= e->len > 0 && std::string(e->name).find(".pelorix-tmp") != std::string::npos;
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
}

}  // namespace

// A batch of every format in two folders, killed just before one of its calls, each in turn:
// every file is its old or its new whole self, every file it said OK for (in order) is new.
// Again on an XFS image (root only): the audio shared, the batch over two filesystems.
TEST(CrashSafety, ABatchKilledBeforeAnyOfItsCallsLeavesEachFileOldOrNew) {
    const std::pair<const char*, Bytes> samples[] = {
        {"a.wav", chunks::wav(1 << 19)},
        {"b.aif", chunks::aiff(1 << 16)},
        {"c.mp3",
         join({id3::tag({.frames = {id3::textFrame("TIT2", "Take")}}), id3::fakeAudio(100000)})},
        {"d.flac", flac::file({{}, {flac::streamInfo(), flac::padding(64)}, chunks::audio(99999)})},
        {"e.m4a", mp4::movie({.moovFirst = false, .chunks = 48, .chunkSize = 32 << 10}).file}};
    // Groups of two (as where few descriptors may be open): one is written while another flushes.
    struct rlimit open {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &open), 0);
    const rlimit few{48, open.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    for (const bool onXfs : {false, true}) {
        SCOPED_TRACE(onXfs ? "xfs" : "tmpfs");
        std::optional<LoopFilesystem> xfs;
        if (onXfs && !xfs.emplace("xfs").mounted()) continue;
        TempDir dir(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path());
        const fs::path folders[] = {onXfs ? xfs->path() : dir / "sub", dir.path()},
                       out = dir / "out";
        fs::create_directories(folders[0]);
        std::vector<std::string> files;
        for (std::size_t i = 0; i < std::size(samples); ++i) {
            files.push_back(folders[i % 2] / samples[i].first);
            writeFile(files.back(), samples[i].second);
        }
        // One code on files of five recordings: the ledger's rule is let through.
        const auto batch = [&](const Code& code, std::ostream& said) {
            std::vector<std::string> a = args(code, files[0]);
            a.insert(a.begin(), "pelorix");  // element 0: the program's name
            a.insert(a.begin() + 1, "--reuse-code");
            a.insert(a.end(), files.begin() + 1, files.end());
            return cli::run(a, said, said);
        };
        const auto contents = [&] {
            std::vector<Bytes> all;
            for (const auto& file : files) all.push_back(readFile(file));
            return all;
        };
        std::ostringstream quiet;
        EXPECT_EQ(batch(kCode, quiet), 0);
        EXPECT_EQ(batch(std::nullopt, quiet), 0);
        const std::vector<Bytes> without = contents();
        const fs::path keep = folders[0] / "keep";  // shares the WAV's blocks
        EXPECT_EQ(runShell("cp --reflink=auto " + files[0] + " " + keep.string()).status, 0);
        std::vector<sys::Op> plan;
        for (const auto& c : callsOf([&] { EXPECT_EQ(batch(kCode, quiet), 0); }))
            plan.push_back(c.op);
        const std::vector<Bytes> with = contents();
        const sys::Fd a(::open(files[0].c_str(), O_RDONLY)), b(::open(keep.c_str(), O_RDONLY));
        EXPECT_EQ(clone::sameExtents(a.get(), 1 << 20, b.get(), 1 << 20, 1 << 20), onXfs);
        fs::remove(keep);
        // One before the replaces and one after them, per filesystem and group.
        EXPECT_EQ(std::count(plan.begin(), plan.end(), sys::Op::syncfs), onXfs ? 10 : 6);
        // Just before and after each flush, before each replace, each removal of a replaced
        // original and each folder's flush; before every eighth call besides.
        const auto commits = [&](std::size_t k) {
            using enum sys::Op;
            return k == plan.size() || k % 8 == 0 || plan[k - 1] == syncfs ||
                   std::set{syncfs, rename, fsync, unlink}.contains(plan[k]);
        };
        std::vector<Bytes> now = with;
        int mixed = 0;
        for (std::size_t k = 0; k <= plan.size(); ++k) {
            if (!commits(k)) continue;
            SCOPED_TRACE("killed before call " + std::to_string(k));
            for (std::size_t i = 0; i < files.size(); ++i)
                if (now[i] != without[i]) writeFile(files[i], without[i]);
            const pid_t pid = ::fork();
            if (pid == 0) {
                Seam seam([&](const Seam::Call& c) {
                    if (c.index == k) ::raise(SIGKILL);
                    return 0;
                });
                std::ofstream said(out);  // each line is flushed as it is printed
                ::_exit(batch(kCode, said).value_or(9));
            }
            EXPECT_EQ(status(pid), k < plan.size() ? 128 + SIGKILL : 0);
            now = contents();
            auto lines = linesOf(textOf(out));
            if (!lines.empty() && lines.back().starts_with("Wrote ")) lines.pop_back();  // summary
            std::size_t changed = 0;
            for (std::size_t i = 0; i < files.size(); ++i) {
                ASSERT_TRUE(now[i] == without[i] || now[i] == with[i]) << files[i];
                changed += now[i] == with[i];
                EXPECT_TRUE(i >= lines.size() ||
                            (lines[i] == "OK " + files[i] && now[i] == with[i]))
                    << files[i];
            }
            EXPECT_LE(lines.size(), files.size());
            mixed += changed > 0 && changed < files.size();
        }
        // Some kills came between the replaces of one batch.
        EXPECT_GE(mixed, 3);
        EXPECT_EQ(batch(std::nullopt, quiet), 0);
        EXPECT_TRUE(contents() == without);
        std::size_t left = 0;  // the temporary files the kills left went with the last batch
        for (const auto& folder : folders)
            for (const auto& e : fs::directory_iterator(folder)) left += e.is_regular_file();
        EXPECT_EQ(left, files.size() + 1);  // and the output
    }
    ::setrlimit(RLIMIT_NOFILE, &open);
}

TEST(Interrupted, TheTemporaryFileGoesAndTheSignalEndsTheRun) {
    TempDir dir;
    const fs::path file = dir / "Song.wav", tmp = dir / ".Song.wav.pelorix-tmp";
    const Bytes original = chunks::wav(std::uint32_t(kAudioBytes));
    writeFile(file, original);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const auto pid = startAndWait(args(kCode, file), tmp, std::uint64_t(1) << 20);
        ASSERT_FALSE(ended(pid)) << "the write ended before the signal";
        ::kill(pid, signal);
        EXPECT_EQ(status(pid), 128 + signal);
        EXPECT_TRUE(readFile(file) == original);
        EXPECT_EQ(dir.list(), Names{"Song.wav"});
    }
    // The signal the instant the temporary file appears: the handler knows it already.
    for (int round = 0; round < 20; ++round) {
        const int watch = watchFolder(dir.path(), IN_CREATE);
        const pid_t pid = start(args(kCode, file));
        waitForTemporary(watch);
        ::kill(pid, SIGTERM);
        ::close(watch);
        EXPECT_EQ(status(pid), 128 + SIGTERM);
        EXPECT_EQ(dir.list(), Names{"Song.wav"}) << "round " << round;
    }
}

namespace {
// A run's word: true for OK (status 0), false for ERROR (1); anything else fails the test.
bool said(pid_t pid, const fs::path& output, const fs::path& file) {
    const int st = status(pid).value_or(-1);
    const std::string text = textOf(output);
    fs::remove(output);
    const bool ok = text == "OK " + file.string() + "\n";
    EXPECT_TRUE(ok ? st == 0 : st == 1 && text.starts_with("ERROR " + file.string() + ": "))
        << st << " " << text;
    return ok;
}
}  // namespace

// A recorder appends numbered records in bursts while writes run: every record ends up in the
// file, in order, and the code is what the last write that said OK left.
TEST(Concurrent, ARecorderAppendingWhileWritesRun) {
    TempDir dir;
    const fs::path file = dir / "Take.mp3";
    writeFile(file, join({id3::tag({.frames = {id3::textFrame("TIT2", "Take")}}),
                          id3::fakeAudio(std::size_t(1) << 20)}));
    constexpr int kRecords = 300;
    const auto record = [](int n) {
        char r[17];
        std::snprintf(r, sizeof r, "REC%012d\n", n);
        return std::string(r);
    };
    const pid_t recorder = ::fork();
    if (recorder == 0) {
        int fd = -1;
        for (int n = 0; n < kRecords; ++n) {
            if (fd < 0) fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
            const std::string r = record(n);
            if (::write(fd, r.data(), r.size()) != ssize_t(r.size())) ::_exit(1);
            ::usleep(n % 5 == 4 ? 60000 : 2000);
            if (n % 20 == 19) {
                ::close(fd);
                fd = -1;
                ::usleep(10000);
            }
        }
        ::_exit(0);
    }
    Code stored;
    int writes = 0, ok = 0;
    while (!ended(recorder)) {
        const Code code = writes++ % 2 ? Code() : Code(kCode);
        if (said(start(args(code, file), (dir / "out").string()), dir / "out", file)) {
            stored = code;
            ++ok;
        }
    }
    EXPECT_EQ(status(recorder), 0);
    std::string records;
    for (int n = 0; n < kRecords; ++n) records += record(n);
    const Bytes now = readFile(file);
    ASSERT_GE(now.size(), records.size());
    EXPECT_TRUE(std::string(now.end() - std::ssize(records), now.end()) == records)
        << "records lost or out of order";
    EXPECT_EQ(read::readISRC(file), stored);
    EXPECT_EQ(dir.list(), Names{"Take.mp3"});
    std::cout << writes << " writes, " << ok << " said OK\n";
}

// Another program saves its version over the file, or links it, the moment the write's new file
// is complete: its version is never lost, a file's names never split. A chain of symbolic links
// to the folder widens the window between the write's last look and its swap.
TEST(Concurrent, AnotherProgramSavingOrLinkingAtTheLastMoment) {
    TempDir dir;
    const fs::path real = dir / "real";
    fs::create_directory(real);
    fs::path folder = real;
    for (int i = 0; i < 30; ++i) {
        fs::create_directory_symlink(folder, dir / ("l" + std::to_string(i)));
        folder = dir / ("l" + std::to_string(i));
    }
    const fs::path file = folder / "Song.wav", atReal = real / "Song.wav";
    const Bytes mine = wav(audioBytes(1 << 16, 1)), theirs = wav(audioBytes(1 << 16, 2));
    writeFile(atReal, theirs);
    const std::string theirAudio = read::fingerprint(atReal, formats::AudioFormat::wav);
    int rounds = 0, lost = 0, split = 0, refused = 0;
    const auto until = Clock::now() + std::chrono::seconds(2);
    for (bool link = false; rounds < 40 || Clock::now() < until; link = !link, ++rounds) {
        fs::remove(real / "linked.wav");
        writeFile(atReal, mine);
        if (!link) writeFile(real / "theirs.tmp", theirs);
        const int watch = watchFolder(real, IN_CLOSE_WRITE);
        const pid_t pid = start(args(kCode, file), (dir / "out").string());
        // As soon as the write's temporary file is closed after its last byte.
        waitForTemporary(watch);
        // Then a little later each round, up to 2 ms: over the write's last steps.
        for (const auto go = Clock::now() + std::chrono::microseconds(rounds / 2 % 20 * 100);
             Clock::now() < go;) {
        }
        if (link) {
            ::link(atReal.c_str(), (real / "linked.wav").c_str());
        } else {
            ::rename((real / "theirs.tmp").c_str(), atReal.c_str());
        }
        ::close(watch);
        refused += status(pid) != 0;
        if (link) {
            split += lstatOf(atReal).st_ino != lstatOf(real / "linked.wav").st_ino;
        } else {
            lost += read::fingerprint(atReal, formats::AudioFormat::wav) != theirAudio;
        }
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(split, 0);
    std::cout << rounds << " rounds, " << refused << " refused\n";
}
