// The real binary, killed with SIGKILL at many moments while it adds a code to or removes it from
// a multi-megabyte file: before it starts, while the temporary file grows, once it is complete,
// just after the replace, and at moments spread over the whole run. After every kill the file at
// the path is the complete old file or the complete new one, never a mix, and the temporary file
// a kill leaves behind does not disturb the writes that follow.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/audio_format.h"
#include "core/audio_tagger.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/flac_builder.h"
#include "support/id3_builder.h"
#include "support/mp4_builder.h"

extern char** environ;

using namespace pelorix;
using namespace pelorix::test;
namespace fs = std::filesystem;

namespace {

const std::string kCode = "FIABC2600001";
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
             Bytes b = id3::tag({3, 0, {id3::textFrame("TIT2", "Song")}});
             const Bytes audio = id3::fakeAudio(kAudioBytes);
             b.insert(b.end(), audio.begin(), audio.end());
             return b;
         }},
        {"FLAC", "Song.flac",
         [] {
             return flac::file({{},
                                {flac::streamInfo(), flac::comments("v", {"TITLE=Song"})},
                                chunks::audio(kAudioBytes, 9)});
         }},
        // With the movie first, the resized `moov` moves every chunk of media behind it.
        {"M4A moov first", "Song.m4a",
         [] { return mp4::movie({true, false, false, false, {}, 192, 64 << 10}).file; }},
        {"M4A moov last", "Song.m4a",
         [] { return mp4::movie({false, false, false, false, {}, 192, 64 << 10}).file; }},
    };
}

// The whole file in one read: the files here are megabytes, compared many times.
Bytes contentsOf(const fs::path& p) {
    Bytes b(fs::file_size(p));
    FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot read " + p.string());
    const std::size_t n = std::fread(b.data(), 1, b.size(), f);
    std::fclose(f);
    b.resize(n);
    return b;
}

struct Child {
    pid_t pid = -1;
};

// `pelorix --write CODE FILE`, or `pelorix --remove FILE` without a code.
Child startWrite(const std::optional<std::string>& code, const fs::path& file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {PELORIX_BINARY};
    if (code) {
        args.insert(args.end(), {"--write", *code});
    } else {
        args.push_back("--remove");
    }
    args.push_back(file.string());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Child c;
    const int rc = posix_spawn(&c.pid, PELORIX_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) c.pid = -1;
    return c;
}

// The exit status, or 128 + the signal that ended it.
int finish(const Child& c) {
    int status = 0;
    while (::waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool exited(const Child& c, int& status) {
    int st = 0;
    if (::waitpid(c.pid, &st, WNOHANG) != c.pid) return false;
    status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return true;
}

void pause(std::chrono::microseconds d) {
    timespec ts{0, long(std::chrono::nanoseconds(d).count())};
    ::nanosleep(&ts, nullptr);
}

std::optional<struct stat> statOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return std::nullopt;
    return st;
}

bool sameFile(const std::optional<struct stat>& a, const struct stat& b) {
    return a && a->st_ino == b.st_ino && a->st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a->st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// When to kill: as soon as this run's own temporary file holds `tmpBytes` bytes (or has already
// been moved into place), or after `delay`. Neither: at once.
struct KillPoint {
    std::string label;
    std::optional<std::uint64_t> tmpBytes;
    std::optional<std::chrono::microseconds> delay;
};

struct Outcome {
    bool killed = false;
    int status = 0;
};

Outcome writeAndKill(const std::optional<std::string>& code, const fs::path& file, const fs::path& tmp,
                     const KillPoint& point) {
    const auto stale = statOf(tmp);  // a leftover of an earlier kill is not this run's file
    const Child child = startWrite(code, file);
    if (child.pid < 0) return {false, -1};
    const auto start = std::chrono::steady_clock::now();
    bool sawOurs = false;
    Outcome out;
    for (;;) {
        if (!point.tmpBytes && !point.delay) break;
        if (exited(child, out.status)) return out;
        if (point.delay && std::chrono::steady_clock::now() - start >= *point.delay) break;
        if (point.tmpBytes) {
            const auto now = statOf(tmp);
            const bool ours = now && !(stale && sameFile(now, *stale));
            sawOurs |= ours;
            if (ours && std::uint64_t(now->st_size) >= *point.tmpBytes) break;
            if (sawOurs && !now) break;  // already renamed over the file
        }
        pause(std::chrono::microseconds(50));
    }
    ::kill(child.pid, SIGKILL);
    out.status = finish(child);
    out.killed = out.status == 128 + SIGKILL;
    return out;
}

class CrashSafety : public ::testing::TestWithParam<Sample> {};

}  // namespace

TEST_P(CrashSafety, AKilledWriteLeavesTheOldOrTheNewFileWhole) {
    const Sample& sample = GetParam();
    TempDir dir;
    const fs::path file = dir / sample.fileName;
    const fs::path tmp = dir / ("." + std::string(sample.fileName) + ".pelorix-tmp");

    // The two complete files a write may leave: the file without a code and with one, each made
    // by an uninterrupted run. They differ in layout, not only in the code's characters (the tag,
    // comment block or movie grows, and what follows moves), so a write that went to the file
    // in place and was cut short would match neither. Removing the code must give the first
    // back, so after any kill there are exactly two acceptable contents.
    writeFile(file, sample.make());
    const AudioFormat format = AudioFormat::detect(file);
    const std::string audio = AudioTagger::fingerprint(file, format);
    auto run = [&](const std::optional<std::string>& code) {
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(finish(startWrite(code, file)), 0);
        return std::chrono::steady_clock::now() - begin;
    };
    // A first write may add structure that stays when the code goes (an empty item list).
    run(kCode);
    run(std::nullopt);
    const Bytes without = contentsOf(file);
    const auto duration = run(kCode);
    const Bytes with = contentsOf(file);
    run(std::nullopt);
    ASSERT_EQ(contentsOf(file), without) << "removing the code did not give the same file back";
    ASSERT_NE(without.size(), with.size());
    ASSERT_FALSE(fs::exists(tmp));

    const std::uint64_t size = with.size();
    std::vector<KillPoint> points = {{"before it starts", std::nullopt, std::nullopt},
                                     {"as the temporary file appears", 0, std::nullopt}};
    for (int eighth = 1; eighth <= 7; eighth += 2) {
        points.push_back({"temporary file " + std::to_string(eighth) + "/8 written",
                          size * std::uint64_t(eighth) / 8, std::nullopt});
    }
    points.push_back({"temporary file complete", size, std::nullopt});
    // A size never reached: the kill comes once the temporary file has been moved into place.
    points.push_back({"just after the replace", size + 1, std::nullopt});
    const auto total = std::chrono::duration_cast<std::chrono::microseconds>(duration);
    for (int tenth = 1; tenth <= 12; tenth += 1) {
        points.push_back({"after " + std::to_string(tenth) + "/10 of a write's time", std::nullopt,
                          total * tenth / 10});
    }

    Bytes current = without;
    int kills = 0, staleLeft = 0, replaced = 0;
    for (const KillPoint& point : points) {
        SCOPED_TRACE(point.label);
        const bool adding = current == without;
        const Bytes& old = current;
        const Bytes& next = adding ? with : without;
        const Outcome outcome =
            writeAndKill(adding ? std::optional(kCode) : std::nullopt, file, tmp, point);
        ASSERT_NE(outcome.status, -1) << "pelorix could not be started";
        if (!outcome.killed) {
            EXPECT_EQ(outcome.status, 0);
        }
        kills += outcome.killed;

        const Bytes now = contentsOf(file);
        const bool isOld = now == old, isNew = now == next;
        ASSERT_TRUE(isOld || isNew) << "a mix of old and new: " << now.size() << " bytes";
        // What readers see agrees: the code of the file it is, and the same audio.
        const bool hasCode = isNew == adding;
        EXPECT_EQ(AudioTagger::readISRC(file), hasCode ? std::optional(kCode) : std::nullopt);
        EXPECT_EQ(AudioTagger::fingerprint(file, format), audio);
        replaced += isNew;
        staleLeft += fs::exists(tmp);
        current = now;
    }
    // The kills really came at different moments: some left the old file with a half-written
    // temporary file beside it, and the next write went on undisturbed; some came after the
    // replace. (The timed ones may land anywhere, so only the others are counted on.)
    std::printf("%s: %zu moments, %d kills; the old file stayed %zu times (%d with a stale temporary "
                "file beside it), the new one took its place %d times\n",
                sample.name, points.size(), kills, points.size() - std::size_t(replaced), staleLeft,
                replaced);
    EXPECT_GE(kills, 7);
    EXPECT_GE(staleLeft, 4);
    EXPECT_GE(replaced, 1);

    const bool adding = current == without;
    ASSERT_EQ(finish(startWrite(adding ? std::optional(kCode) : std::nullopt, file)), 0);
    EXPECT_EQ(contentsOf(file), adding ? with : without);
    EXPECT_FALSE(fs::exists(tmp));
    EXPECT_EQ(dir.list(), std::vector<std::string>{sample.fileName});
}

INSTANTIATE_TEST_SUITE_P(Formats, CrashSafety, ::testing::ValuesIn(samples()),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c) {
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             }
                             return name;
                         });
