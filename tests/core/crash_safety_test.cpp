// SPDX-License-Identifier: MIT
// The real binary, killed with SIGKILL at many moments while it adds a code to or removes it from
// a multi-megabyte file: before it starts, while the temporary file grows, once it is complete,
// the moment the file at the path changes, and at moments spread over the whole run. After every
// kill the file at the path is the complete old file or the complete new one, never a mix, and
// the temporary file a kill leaves behind does not disturb the writes that follow.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "support/chunk_builder.h"
#include "support/flac_builder.h"
#include "support/id3_builder.h"
#include "support/mp4_builder.h"

extern char** environ;

using namespace pelorix;
using namespace pelorix::test;
using e2e::contentsOf;
using e2e::kCode;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Large enough that the copy takes many writes, small enough for a quick sanitizer run.
constexpr std::size_t kAudioBytes = std::size_t(12) << 20;

struct Sample {
    const char* name;
    const char* fileName;
    std::function<Bytes()> make;
};

std::vector<Sample> samples() {
    return {
        {"WAV", "Song.wav", [] { return chunks::wav(std::uint32_t(kAudioBytes / 4)); }},
        {"AIFF", "Song.aiff", [] { return chunks::aiff(std::uint32_t(kAudioBytes / 4)); }},
        {"MP3", "Song.mp3",
         [] {
             return join(
                 {id3::tag({3, 0, {id3::textFrame("TIT2", "Song")}}), id3::fakeAudio(kAudioBytes)});
         }},
        {"FLAC", "Song.flac",
         [] {
             return flac::file({{},
                                {flac::streamInfo(), flac::comments("v", {"TITLE=Song"})},
                                chunks::audio(kAudioBytes, 9)});
         }},
        // With the movie first, the resized `moov` moves every chunk of media behind it.
        {"M4AMoovFirst", "Song.m4a",
         [] {
             return mp4::movie({true, false, false, false, {}, 192, 64 << 10}).file;
         }},
        {"M4AMoovLast", "Song.m4a",
         [] {
             return mp4::movie({false, false, false, false, {}, 192, 64 << 10}).file;
         }},
    };
}

// `pelorix --write CODE FILE`, or `pelorix --remove FILE` without a code, printing to nowhere.
pid_t start(const std::optional<std::string>& code, const fs::path& file) {
    std::vector<std::string> args = {PELORIX_BINARY, code ? "--write" : "--remove"};
    if (code) args.push_back(*code);
    args.push_back(file.string());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    return rc == 0 ? pid : -1;
}

// The exit status, or 128 + the signal that ended it; none while it still runs (`wait` false).
std::optional<int> status(pid_t pid, bool wait = true) {
    int st = 0;
    if (::waitpid(pid, &st, wait ? 0 : WNOHANG) != pid) return std::nullopt;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
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

// When to kill: at once; as soon as this run's own temporary file holds `tmpBytes` bytes (or is
// gone again); as soon as the file at the path is no longer the one it was; or after `delay`.
struct KillPoint {
    std::string label;
    std::optional<std::uint64_t> tmpBytes;
    bool fileChanged = false;
    std::optional<Clock::duration> delay;
};

// The exit status of a run killed at the given point (128 + SIGKILL when the kill came first).
int writeAndKill(const std::optional<std::string>& code, const fs::path& file, const fs::path& tmp,
                 const KillPoint& point) {
    const auto stale = statOf(tmp);  // a leftover of an earlier kill is not this run's file
    const auto before = statOf(file);
    const auto begin = Clock::now();
    const pid_t pid = start(code, file);
    if (pid < 0) return -1;
    bool sawOurs = false;
    while (point.tmpBytes || point.fileChanged || point.delay) {
        if (auto done = status(pid, false)) return *done;
        if (point.delay && Clock::now() - begin >= *point.delay) break;
        if (point.fileChanged && !sameFile(statOf(file), before)) break;
        if (point.tmpBytes) {
            const auto now = statOf(tmp);
            const bool ours = now && !sameFile(now, stale);
            sawOurs |= ours;
            if (ours && std::uint64_t(now->st_size) >= *point.tmpBytes) break;
            if (sawOurs && !now) break;
        }
        const timespec pause{0, 50'000};
        ::nanosleep(&pause, nullptr);
    }
    ::kill(pid, SIGKILL);
    return status(pid).value_or(-1);
}

class CrashSafety : public ::testing::TestWithParam<Sample> {};

}  // namespace

TEST_P(CrashSafety, AKilledWriteLeavesTheOldOrTheNewFileWhole) {
    const Sample& sample = GetParam();
    TempDir dir;
    const fs::path file = dir / sample.fileName;
    const fs::path tmp = dir / ("." + std::string(sample.fileName) + ".pelorix-tmp");
    auto run = [&](const std::optional<std::string>& code) {
        EXPECT_EQ(status(start(code, file)), 0);
    };

    // The two complete files a write may leave: the file without a code and with one, each made
    // by an uninterrupted run. They differ in layout, not only in the code's characters (the tag,
    // comment block or movie grows, and what follows moves), so a write that went to the file
    // in place and was cut short would match neither. A first write may add structure that
    // stays when the code goes (an empty item list); after it, removing the code gives the same
    // file back, so after any kill there are exactly two acceptable contents.
    writeFile(file, sample.make());
    run(kCode);
    run(std::nullopt);
    const Bytes without = contentsOf(file);
    const auto begin = Clock::now();
    run(kCode);
    const auto duration = Clock::now() - begin;
    const Bytes with = contentsOf(file);
    run(std::nullopt);
    ASSERT_EQ(contentsOf(file), without) << "removing the code did not give the same file back";
    ASSERT_NE(without.size(), with.size());

    const std::uint64_t size = with.size();
    std::vector<KillPoint> points = {{"before it starts", {}, false, {}},
                                     {"as the temporary file appears", 0, false, {}}};
    for (std::uint64_t n = 1; n <= 7; n += 2) {
        points.push_back(
            {"temporary file " + std::to_string(n) + "/8 written", size * n / 8, false, {}});
    }
    points.push_back({"temporary file complete", size, false, {}});
    // The replace; a writer that goes over the file in place is caught half-way through.
    points.push_back({"as the file at the path changes", {}, true, {}});
    for (int n = 1; n <= 11; n += 2) {
        points.push_back(
            {"after " + std::to_string(n) + "/10 of a write's time", {}, false, duration * n / 10});
    }

    Bytes current = without;
    int kills = 0, staleLeft = 0, replaced = 0;
    for (const KillPoint& point : points) {
        SCOPED_TRACE(point.label);
        const bool adding = current == without;
        const Bytes& next = adding ? with : without;
        const int status =
            writeAndKill(adding ? std::optional(kCode) : std::nullopt, file, tmp, point);
        ASSERT_NE(status, -1) << "pelorix could not be started";
        EXPECT_TRUE(status == 0 || status == 128 + SIGKILL) << status;
        kills += status == 128 + SIGKILL;

        Bytes now = contentsOf(file);
        ASSERT_TRUE(now == current || now == next)
            << "a mix of old and new: " << now.size() << " bytes";
        replaced += now == next;
        staleLeft += fs::exists(tmp);
        current = std::move(now);
    }
    // The kills really came at different moments: some left the old file with a half-written
    // temporary file beside it, and the next write went on undisturbed; some came after the
    // replace. (The timed ones may land anywhere, so only the others are counted on.)
    EXPECT_GE(kills, 7);
    EXPECT_GE(staleLeft, 4);
    EXPECT_GE(replaced, 1);

    const bool adding = current == without;
    run(adding ? std::optional(kCode) : std::nullopt);
    EXPECT_EQ(contentsOf(file), adding ? with : without);
    EXPECT_EQ(dir.list(), std::vector<std::string>{sample.fileName});
}

INSTANTIATE_TEST_SUITE_P(Formats, CrashSafety, ::testing::ValuesIn(samples()),
                         [](const auto& info) { return std::string(info.param.name); });
