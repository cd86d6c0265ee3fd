// SPDX-License-Identifier: MIT
#pragma once
// Shared by the tests that drive the writer and the real binary over real files: tiny WAV files
// built from bytes, running `pelorix`, and a tap on the system-call seam.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "core/io/sys.h"
#include "core/read/read.h"
#include "core/tag_error.h"
#include "core/write/write.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/id3_builder.h"

extern char** environ;

namespace pelorix::test::e2e {

inline const std::string kCode = "FIABC2600001";
using Code = std::optional<std::string>;
using Names = std::vector<std::string>;

// Deterministic bytes of every value, so a changed byte is never a coincidence.
inline Bytes audioBytes(std::size_t n, std::uint32_t seed = 1) {
    return chunks::audio(n, seed);
}
// "RIFF" size "WAVE" and the chunks in the order given, odd sizes padded.
inline Bytes wav(const std::vector<chunks::ChunkLayout>& list) {
    return chunks::file({.chunks = list});
}
inline Bytes wav(const Bytes& audio) {
    return wav({chunks::wavFormat(), {"data", audio}});
}
// A WAV whose "id3 " chunk stores `code` as its TSRC text.
inline Bytes wavWithCode(const std::string& code, const Bytes& audio) {
    return wav({chunks::wavFormat(),
                {"data", audio},
                {"id3 ", id3::tag({.frames = {id3::textFrame("TSRC", code)}})}});
}

inline struct stat lstatOf(const std::filesystem::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st;
}

// What f throws, as its what() text; "" when it returns.
inline std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

inline std::string platformText(int err) {
    return std::generic_category().message(err);
}

// Jobs that give kCode to the files at `paths`, each written with `bytes` first.
inline std::vector<write::BatchJob> jobsFor(const std::vector<std::filesystem::path>& paths,
                                            const Bytes& bytes) {
    std::vector<write::BatchJob> jobs;
    for (const auto& p : paths) writeFile(p, bytes), jobs.push_back({p, kCode});
    return jobs;
}

// What a batch reports, file by file and in order: each error's message, "" for none.
inline std::vector<std::string> batchErrors(const std::vector<write::BatchJob>& jobs) {
    std::vector<std::string> errors;
    write::writeBatch(jobs, false, [&](std::size_t i, std::exception_ptr e) {
        EXPECT_EQ(i, errors.size());
        errors.push_back(e ? errorOf([&] { std::rethrow_exception(e); }) : "");
    });
    return errors;
}

// Sees every call through the system-call seam while it lives, in order, and fails the ones
// `fail` picks by returning an errno value (0 lets a call through). Calls from several threads
// (a batch finds its recordings on every core) are taken one at a time.
class Seam {
  public:
    struct Call {
        sys::Op op;
        std::string path;   // for the calls that name a file
        std::size_t index;  // among all calls
        int nth;            // among the calls of its kind
    };
    using Fail = std::function<int(const Call&)>;

    explicit Seam(Fail fail = nullptr) {
        sys::setFaultHook([this, fail = std::move(fail)](sys::Op op, const std::string& path) {
            const std::lock_guard<std::mutex> one(lock_);
            calls.push_back({op, path, calls.size(), count[op]++});
            return fail ? fail(calls.back()) : 0;
        });
    }
    ~Seam() { sys::setFaultHook(nullptr); }
    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

    std::vector<Call> calls;
    std::map<sys::Op, int> count;

  private:
    std::mutex lock_;
};

// The calls an undisturbed run of `f` makes, in order.
inline std::vector<Seam::Call> callsOf(const std::function<void()>& f) {
    Seam seam;
    f();
    return seam.calls;
}

// What `f` throws (as errorOf) when its call number `index` fails with `err`.
inline std::string errorIfCallFails(std::size_t index, int err, const std::function<void()>& f) {
    Seam seam([&](const Seam::Call& c) { return c.index == index ? err : 0; });
    return errorOf(f);
}

inline std::string describe(const Seam::Call& c) {
    return "call " + std::to_string(c.index) + " (op " + std::to_string(int(c.op)) + " " + c.path +
           ")";
}

// Single-quoted for /bin/sh, whatever the text holds.
inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string textOf(const std::filesystem::path& p) {
    const Bytes b = readFile(p);
    return std::string(b.begin(), b.end());
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// A ledger of its own for one run, writable by anyone (a run may drop its privileges).
inline std::string freshLedger() {
    static TempDir ledgers;
    static int made = 0;
    ::chmod(ledgers.path().c_str(), 0711);
    const std::filesystem::path dir = ledgers / std::to_string(made++);
    std::filesystem::create_directory(dir);
    ::chmod(dir.c_str(), 0777);
    return (dir / "ledger.sqlite3").string();
}

// Runs pelorix in `cwd` without any display, with stdout and stderr kept apart; `as` runs it
// through another command (one that drops privileges) or sets variables (NAME=value). Each run
// has a fresh ledger unless `as` sets PELORIX_LEDGER.
inline Outcome runPelorix(const std::filesystem::path& cwd, const std::vector<std::string>& args,
                          const std::string& as = "") {
    static TempDir capture;
    const std::string ledger = as.find("PELORIX_LEDGER=") == std::string::npos
                                   ? "PELORIX_LEDGER=" + quoted(freshLedger()) + " "
                                   : "";
    std::string command = "(cd " + quoted(cwd.string()) +
                          " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + ledger +
                          as + " " + quoted(PELORIX_BINARY);
    for (const auto& a : args) command += " " + quoted(a);
    command += " >" + quoted((capture / "out").string()) + " 2>" +
               quoted((capture / "err").string()) + ")";
    const int status = runShell(command).status;
    return {status, textOf(capture / "out"), textOf(capture / "err")};
}

// `pelorix ARGS...` started without waiting, its output to `output`, with a fresh ledger.
inline pid_t start(std::vector<std::string> args, const std::string& output = "/dev/null") {
    args.insert(args.begin(), PELORIX_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string ledger = "PELORIX_LEDGER=" + freshLedger();
    std::vector<char*> env = {ledger.data()};
    for (char** e = environ; *e; ++e) env.push_back(*e);
    env.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&files);
    return rc == 0 ? pid : -1;
}

// The exit status, or 128 + the signal that ended it; none while it still runs (`wait` false).
inline std::optional<int> status(pid_t pid, bool wait = true) {
    int st = 0;
    if (::waitpid(pid, &st, wait ? 0 : WNOHANG) != pid) return std::nullopt;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

inline std::vector<std::string> linesOf(const std::string& s) {
    std::vector<std::string> lines;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace pelorix::test::e2e
