// SPDX-License-Identifier: MIT
#include "core/recordings/listen.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>

#include "core/formats/format.h"
#include "core/io/binary_io.h"
#include "core/io/sys.h"
#include "core/recordings/chromaprint.h"
#include "core/recordings/pcm.h"
#include "core/tag_error.h"

extern char** environ;

namespace pelorix::recordings {
namespace {

constexpr std::size_t kItemsPerSecond = 8;  // 11025 Hz, 4096-sample frames, a third apart
constexpr std::size_t kWindow = 5 * kItemsPerSecond;
constexpr std::size_t kShortest = 10 * kItemsPerSecond;
// Encoders delay the audio by a few milliseconds; a shift of up to two seconds is searched.
constexpr int kMaxOffset = 2 * int(kItemsPerSecond);

std::vector<std::uint32_t> parseRaw(const std::string& out) {
    std::vector<std::uint32_t> items;
    const std::size_t at = out.find("FINGERPRINT=");
    if (at == std::string::npos) return items;
    const char* p = out.data() + at + 12;
    const char* end = out.data() + out.size();
    while (p < end && *p != '\n') {
        std::int64_t v = 0;  // fpcalc prints signed or unsigned, depending on its version
        const auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc()) return {};
        items.push_back(std::uint32_t(v));
        p = next;
        if (p < end && *p == ',') ++p;
    }
    return items;
}

}  // namespace

namespace {

std::optional<std::filesystem::path> findTool(const char* named, const char* path) {
    // PELORIX_FPCALC names the tool, or (empty) says there is none.
    if (named) {
        if (*named == 0 || ::access(named, X_OK) != 0) return std::nullopt;
        return std::filesystem::path(named);
    }
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        const auto candidate = std::filesystem::path(dir.empty() ? "." : dir) / "fpcalc";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::filesystem::path> fingerprinter() {
    // A batch asks for every pair it compares: the answer is kept for a moment, and for as long
    // as the environment that found it.
    const char* named = std::getenv("PELORIX_FPCALC");
    const char* path = std::getenv("PATH");
    std::string key = named ? std::string("=") + named : std::string("-");
    key += '\n';
    key += path ? path : "";
    static std::mutex lock;
    static std::string lastKey;
    static std::optional<std::filesystem::path> last;
    static std::chrono::steady_clock::time_point when;
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard hold(lock);
    if (key != lastKey || now - when > std::chrono::seconds(2)) {
        last = findTool(named, path);
        lastKey = std::move(key);
        when = now;
    }
    return last;
}

namespace {

// Runs fpcalc on the file, stopping it (and whatever it started) after `limit`.
Heard runTool(const std::filesystem::path& tool, const std::filesystem::path& file,
              std::chrono::milliseconds limit) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
    sys::Fd readEnd(fds[0]), writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // A process group of its own, so that a stop reaches a script's children too.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    // An absolute path, so a name starting with '-' is never taken for an option.
    const std::string target = std::filesystem::absolute(file).string();
    const std::string length = std::to_string(kListenSeconds);
    std::string args[] = {tool.string(), "-raw", "-length", length, target};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(),
                    args[3].data(), args[4].data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, tool.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.close();
    if (spawned != 0) throw std::system_error(spawned, std::generic_category());

    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string out;
    char buffer[1 << 16];
    bool late = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            late = true;
            break;
        }
        pollfd p{readEnd.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::min<long long>(left.count(), 1 << 30)));
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;  // the clock decides
        if (ready < 0) break;
        const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, std::size_t(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    if (late) ::kill(-pid, SIGKILL);
    readEnd.close();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string name = tool.filename().string();
    if (late) {
        return {{},
                name + " took longer than " + std::to_string((limit.count() + 999) / 1000) +
                    " s and was stopped"};
    }
    // fpcalc reports a damaged frame near the end with a non-zero status after printing a
    // usable fingerprint: what it printed counts.
    Heard heard{parseRaw(out), {}};
    if (heard.items.empty()) {
        heard.problem = WIFSIGNALED(status)
                            ? name + " ended on signal " + std::to_string(WTERMSIG(status))
                            : name + " could not decode it";
    }
    return heard;
}

}  // namespace

Heard hear(const std::filesystem::path& file, std::chrono::milliseconds limit) {
    try {
        // The samples of a WAV or AIFF are read here, without a decoder; a FLAC decoded here.
        const FileIn in(file);
        const formats::AudioFormat format = formats::AudioFormat::detect(in);
        if (format == formats::AudioFormat::wav || format == formats::AudioFormat::aiff) {
            const auto layout = pcmLayout(in, format == formats::AudioFormat::wav);
            if (layout) {
                if (auto items = fingerprintSamples(in, *layout, kListenSeconds)) {
                    return {std::move(*items), {}};
                }
            }
        } else if (format == formats::AudioFormat::flac) {
            if (auto items = fingerprintFlac(in, kListenSeconds)) return {std::move(*items), {}};
        }
    } catch (const TagError&) {
        // Chunks that do not walk: the decoder may still make sense of the file.
    }
    const auto tool = fingerprinter();
    if (!tool) return {{}, "fpcalc (package libchromaprint-tools) is not installed"};
    return runTool(*tool, file, limit);
}

std::vector<std::uint32_t> fingerprint(const std::filesystem::path& file) {
    return hear(file).items;
}

std::optional<Similarity> similarity(const std::vector<std::uint32_t>& a,
                                     const std::vector<std::uint32_t>& b) {
    if (a.size() < kShortest || b.size() < kShortest) return std::nullopt;
    std::optional<Similarity> best;
    std::vector<std::uint8_t> errors;
    for (int offset = -kMaxOffset; offset <= kMaxOffset; ++offset) {
        const std::ptrdiff_t from = std::max(0, -offset);
        const std::ptrdiff_t to =
            std::min<std::ptrdiff_t>(std::ptrdiff_t(a.size()), std::ptrdiff_t(b.size()) - offset);
        if (to - from < std::ptrdiff_t(kShortest)) continue;
        std::size_t bits = 0;
        errors.resize(std::size_t(to - from));
        for (std::ptrdiff_t i = from; i < to; ++i) {
            const auto e =
                std::uint8_t(std::popcount(a[std::size_t(i)] ^ b[std::size_t(i + offset)]));
            errors[std::size_t(i - from)] = e;
            bits += e;
        }
        const double rate = double(bits) / (32.0 * double(to - from));
        if (best && rate >= best->errorRate) continue;
        Similarity s{rate, 0, offset, std::size_t(to - from)};
        std::size_t window = 0;
        for (std::size_t i = 0; i < errors.size(); ++i) {
            window += errors[i];
            if (i >= kWindow) window -= errors[i - kWindow];
            if (i + 1 >= kWindow)
                s.worstWindow = std::max(s.worstWindow, double(window) / (32.0 * kWindow));
        }
        best = s;
    }
    return best;
}

}  // namespace pelorix::recordings
