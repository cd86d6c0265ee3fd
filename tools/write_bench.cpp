// SPDX-License-Identifier: MIT
// The window's batch against the command line's on the same files: FILES WAVs of MIB MiB each
// in two disc folders are given a sequence of codes, once by `pelorix --sequence` and once by a
// shown main window (add the folder, assign the sequence, write), each round on fresh copies
// made durable first, the two interleaved. Prints each run and the medians.
// Usage: pelorix_write_bench [FILES [MIB [ROUNDS]]]   (default 400 5 3; offscreen)

#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/chunk_builder.h"
#include "support/files.h"
#include "ui/main_window.h"
#include "ui/model.h"

namespace fs = std::filesystem;

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

qint64 median(std::vector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::stoi(argv[1]) : 400;
    const int mib = argc > 2 ? std::stoi(argv[2]) : 5;
    const int rounds = argc > 3 ? std::stoi(argv[3]) : 3;
    pelorix::test::TempDir settings;  // the window's settings stay out of the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    pelorix::test::TempDir dir;
    // One take copied: the window groups the copies into one recording by their samples after
    // adding them, which the total includes and the batch does not.
    const std::vector<fs::path> sources(std::size_t(files), dir / "source.wav");
    pelorix::test::writeFile(sources.front(), pelorix::test::chunks::wav(std::uint32_t(mib) << 18));
    const auto folder = dir / "release";
    const QString root = QString::fromStdString(folder.string());

    std::vector<qint64> cli, window, windowWrite;
    // Each run writes through a code ledger of its own, new each round (never the user's).
    const auto ledger = [&](const char* side, int round) {
        qputenv("PELORIX_LEDGER",
                QFile::encodeName(QString::fromStdString(
                    (dir / (side + std::to_string(round) + ".sqlite3")).string())));
    };
    for (int round = 0; round < rounds; ++round) {
        ledger("cli", round);
        makeRelease(folder, sources);
        QElapsedTimer clock;
        clock.start();
        QProcess cliRun;
        cliRun.setStandardOutputFile(QProcess::nullDevice());
        cliRun.start(QStringLiteral(PELORIX_BINARY),
                     {QStringLiteral("--sequence"), QStringLiteral("FI-ABC-26-00001"), root});
        cliRun.waitForFinished(-1);
        const int code = cliRun.exitCode();
        cli.push_back(clock.elapsed());
        if (code != 0) return 1;

        ledger("window", round);
        makeRelease(folder, sources);
        pelorix::ui::Model model;
        pelorix::ui::MainWindow shown(model);
        shown.show();
        if (!QTest::qWaitForWindowExposed(&shown)) return 1;
        clock.restart();
        model.add({QUrl::fromLocalFile(root)});
        while (model.adding()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (model.assignSequence("FI", "ABC", "26", 1)) return 1;
        const qint64 before = clock.elapsed();
        model.writeAll();
        while (model.busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        window.push_back(clock.elapsed());
        windowWrite.push_back(window.back() - before);
        if (model.readyCount() != 0) return 1;
        std::printf("round %d: command line %lld ms, window %lld ms (of which the batch %lld ms)\n",
                    round + 1, cli.back(), window.back(), windowWrite.back());
    }
    std::printf(
        "%d files of %d MiB, median of %d: command line %lld ms, window %lld ms "
        "(batch %lld ms), window/command line %.2f\n",
        files, mib, rounds, median(cli), median(window), median(windowWrite),
        double(median(window)) / double(median(cli)));
    return 0;
}
