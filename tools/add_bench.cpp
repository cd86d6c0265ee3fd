// SPDX-License-Identifier: MIT
// How long the window takes to list a large folder: N small WAV files are made in a scratch
// folder, the folder is added to a shown main window, and the time until the last row is in the
// table (painted) is printed with the number of insert groups. bench/window_add.sh runs it.
// Usage: pelorix_add_bench [FILES]   (default 2000; run with QT_QPA_PLATFORM=offscreen)

#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>

#include <cstdio>
#include <string>

#include "support/chunk_builder.h"
#include "support/files.h"
#include "ui/app.h"
#include "ui/file_table_model.h"
#include "ui/main_window.h"
#include "ui/model.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::stoi(argv[1]) : 2000;
    pelorix::test::TempDir settings;  // the window's settings stay out of the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    pelorix::test::TempDir dir;
    for (int i = 0; i < files; ++i) {
        const auto folder = dir / ("disc" + std::to_string(i / 100));
        std::filesystem::create_directories(folder);
        pelorix::test::writeFile(folder / ("track " + std::to_string(i) + ".wav"),
                                 pelorix::test::chunks::wav(64));
    }
    pelorix::ui::Model model;
    pelorix::ui::MainWindow window(model);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    int groups = 0;
    QObject::connect(window.tableModel(), &QAbstractItemModel::rowsInserted, [&] { ++groups; });
    qint64 firstRow = -1;
    QElapsedTimer clock;
    clock.start();
    model.add({QUrl::fromLocalFile(QString::fromStdString(dir.path().string()))});
    while (model.adding()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (firstRow < 0 && !model.items().isEmpty()) firstRow = clock.elapsed();
    }
    window.repaint();  // the last rows on screen
    const qint64 all = clock.elapsed();
    std::printf("%d files: first rows after %lld ms, all listed after %lld ms, %d insert groups\n",
                int(model.items().size()), firstRow, all, groups);
    return model.items().size() == files ? 0 : 1;
}
