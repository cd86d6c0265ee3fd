// SPDX-License-Identifier: MIT
// The window's batch against the command line's on the same files: FILES WAVs of about MIB MiB
// each (every one its own take: its own samples and length) in two disc folders are given a
// sequence of codes by `pelorix --sequence`, by a shown main window (add the folder, assign the
// sequence, write) and by the engine's batch commit called alone, as the command line calls it
// (what the window's batch takes beyond it is the window's own). Each run works on fresh copies
// made durable first; the three are interleaved and take turns at going first. Before each
// timed part the files' pages are all in the page cache (default) or all dropped from it
// (--cold), for all alike. Prints wall and CPU time (user + system, of every thread) of each
// run and the medians.
// Usage: pelorix_write_bench [--cold] [FILES [MIB [ROUNDS]]]   (default 400 5 3; offscreen)

#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/write/write.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "ui/main_window.h"
#include "ui/model.h"

extern char** environ;

namespace fs = std::filesystem;
namespace chunks = pelorix::test::chunks;

namespace {

// Fresh copies of the sources in FOLDER/CD1 and FOLDER/CD2, on the disk before the clock runs.
void makeRelease(const fs::path& folder, const std::vector<fs::path>& sources) {
    fs::remove_all(folder);
    const std::size_t files = sources.size();
    for (std::size_t i = 0; i < files; ++i) {
        const auto disc = folder / (i < files / 2 ? "CD1" : "CD2");
        fs::create_directories(disc);
        fs::copy_file(sources[i], disc / ("track " + std::to_string(i) + ".wav"));
    }
    ::sync();
}

// Every file under FOLDER read into the page cache, or (cold) its pages dropped from it; then
// a pause, so that the disk has finished what the last run and the copies left it to do.
void settle(const fs::path& folder, bool cold) {
    std::vector<char> buffer(std::size_t(1) << 20);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        if (cold) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        } else {
            while (::read(fd, buffer.data(), buffer.size()) > 0) {
            }
        }
        ::close(fd);
    }
    ::sync();
    ::sleep(2);
}

// User + system time in milliseconds.
long long cpuMs(const rusage& u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000LL +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

long long selfCpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return cpuMs(u);
}

struct Run {
    long long wall = 0;
    long long cpu = 0;
};

// The command line's run: its exit status, wall and CPU time.
int runCommandLine(const std::vector<std::string>& words, Run& run) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) return -1;
    run.wall = clock.elapsed();
    run.cpu = cpuMs(usage);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long long median(std::vector<long long> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    bool cold = false;
    std::vector<int> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--cold") {
            cold = true;
        } else {
            numbers.push_back(std::stoi(argv[i]));
        }
    }
    const int files = numbers.size() > 0 ? numbers[0] : 400;
    const int mib = numbers.size() > 1 ? numbers[1] : 5;
    const int rounds = numbers.size() > 2 ? numbers[2] : 3;
    pelorix::test::TempDir settings;  // the window's settings stay out of the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    pelorix::test::TempDir dir;
    // Every file its own take (its own samples), about MIB MiB give or take a tenth, and of its
    // own length: 10 s, 11.5 s, 13 s ... (the sample rate makes it so), so that the command
    // line's grouping, like a release's, is decided by the headers, as the window's is before
    // its batch.
    std::vector<fs::path> sources;
    const std::uint32_t frames = std::uint32_t(mib) << 18;
    for (int i = 0; i < files; ++i) {
        const std::uint32_t length = frames / 100 * std::uint32_t(90 + (i * 37) % 21);
        const auto rate = std::uint32_t(double(length) / (10.0 + 1.5 * i));
        chunks::ChunkLayout format = chunks::wavFormat();
        for (int b = 0; b < 4; ++b) {
            format.data[std::size_t(4 + b)] = std::uint8_t(rate >> (8 * b));
            format.data[std::size_t(8 + b)] = std::uint8_t((rate * 4) >> (8 * b));
        }
        sources.push_back(dir / ("source " + std::to_string(i) + ".wav"));
        pelorix::test::writeFile(
            sources.back(),
            chunks::file({.chunks = {format,
                                     {"data", chunks::audio(std::size_t(length) * 4,
                                                            std::uint32_t(i + 1))}}}));
    }
    const auto folder = dir / "release";
    const QString root = QString::fromStdString(folder.string());

    // The same codes for every run: FI-ABC-26-00001 on, in the order the folders are walked.
    std::vector<fs::path> release;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        release.push_back(folder / (i < sources.size() / 2 ? "CD1" : "CD2") /
                          ("track " + std::to_string(i) + ".wav"));
    }
    std::vector<long long> cliWall, cliCpu, batchWall, batchCpu, totalWall, engineWall, engineCpu;
    for (int round = 0; round < rounds; ++round) {
        // A ledger of its own for each run: every run gives the same codes to other takes.
        const auto ledger = dir / ("ledger " + std::to_string(round));
        const auto commandLine = [&] {
            makeRelease(folder, sources);
            settle(folder, cold);
            ::setenv("PELORIX_LEDGER", (ledger.string() + " cli").c_str(), 1);
            Run run;
            if (runCommandLine({PELORIX_BINARY, "--sequence", "FI-ABC-26-00001", folder.string()},
                               run) != 0) {
                std::fprintf(stderr, "the command line failed\n");
                std::exit(1);
            }
            cliWall.push_back(run.wall);
            cliCpu.push_back(run.cpu);
        };
        const auto window = [&] {
            makeRelease(folder, sources);
            ::setenv("PELORIX_LEDGER", (ledger.string() + " window").c_str(), 1);
            pelorix::ui::Model model;
            pelorix::ui::MainWindow shown(model);
            shown.show();
            if (!QTest::qWaitForWindowExposed(&shown)) std::exit(1);
            QElapsedTimer clock;
            clock.start();
            model.add({QUrl::fromLocalFile(root)});
            while (model.adding()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (model.assignSequence("FI", "ABC", "26", 1)) std::exit(1);
            const long long added = clock.elapsed();
            settle(folder, cold);  // not timed
            const long long cpu = selfCpuMs();
            clock.restart();
            model.writeAll();
            while (model.busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            batchWall.push_back(clock.elapsed());
            batchCpu.push_back(selfCpuMs() - cpu);
            totalWall.push_back(added + batchWall.back());
            if (model.readyCount() != 0) {
                std::fprintf(stderr, "the window left rows unwritten\n");
                std::exit(1);
            }
        };
        // The engine's batch commit alone, called here as the command line calls it: what the
        // window's batch adds to it is the window's own.
        const auto engine = [&] {
            makeRelease(folder, sources);
            std::vector<pelorix::write::BatchJob> jobs;
            for (std::size_t i = 0; i < release.size(); ++i) {
                const std::string number = std::to_string(100000 + i + 1);
                jobs.push_back({release[i], "FIABC26" + number.substr(1)});
            }
            settle(folder, cold);
            const long long cpu = selfCpuMs();
            QElapsedTimer clock;
            clock.start();
            bool failed = false;
            pelorix::write::writeBatch(jobs, false,
                                       [&](std::size_t, const std::exception_ptr& error,
                                           pelorix::write::Outcome) { failed |= bool(error); });
            engineWall.push_back(clock.elapsed());
            engineCpu.push_back(selfCpuMs() - cpu);
            if (failed) {
                std::fprintf(stderr, "the engine's batch failed\n");
                std::exit(1);
            }
        };
        const std::vector<std::pair<const char*, std::function<void()>>> runs{
            {"command line", commandLine}, {"window", window}, {"engine", engine}};
        for (std::size_t i = 0; i < runs.size(); ++i) {
            runs[(std::size_t(round) + i) % runs.size()].second();
        }
        std::printf(
            "round %d (%s first): command line %lld ms (CPU %lld ms), window batch %lld ms "
            "(CPU %lld ms), window with add and grouping %lld ms, engine alone %lld ms "
            "(CPU %lld ms)\n",
            round + 1, runs[std::size_t(round) % runs.size()].first, cliWall.back(), cliCpu.back(),
            batchWall.back(), batchCpu.back(), totalWall.back(), engineWall.back(),
            engineCpu.back());
        std::fflush(stdout);
    }
    std::printf(
        "%d files of about %d MiB, %s cache, median of %d: command line %lld ms (CPU %lld ms), "
        "window batch %lld ms (CPU %lld ms), with add and grouping %lld ms, engine alone "
        "%lld ms (CPU %lld ms)\n"
        "window batch / command line: wall %.2f, CPU %.2f; window batch / engine alone: "
        "wall %.2f, CPU %.2f\n",
        files, mib, cold ? "cold" : "warm", rounds, median(cliWall), median(cliCpu),
        median(batchWall), median(batchCpu), median(totalWall), median(engineWall),
        median(engineCpu), double(median(batchWall)) / double(median(cliWall)),
        double(median(batchCpu)) / double(median(cliCpu)),
        double(median(batchWall)) / double(median(engineWall)),
        double(median(batchCpu)) / double(median(engineCpu)));
    return 0;
}
