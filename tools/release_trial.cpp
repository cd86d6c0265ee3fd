// SPDX-License-Identifier: MIT
// A release coded from the label's sheet in the window, as its user does it, step by step and
// timed: the release's folders and the sheet are dropped on the window together (one drag), the
// preview opens once the files are read and grouped; the way the lines find their files is
// chosen there when it is not already MATCH; Apply; Write. Prints every step with its seconds,
// the preview's summary and the status line at the end; exits 1 when the preview does not give
// a code to every file or a row is left unwritten. bench/trial.sh runs it.
// Usage: pelorix_release_trial [--match title|track|name|path] FILE|FOLDER...

#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QUrl>

#include <cstdio>
#include <functional>

#include "support/files.h"
#include "ui/import_dialog.h"
#include "ui/main_window.h"
#include "ui/model.h"

using pelorix::ui::ImportDialog;

namespace {

QElapsedTimer clock_;
int steps = 0;

void step(const char* what) {
    std::printf("step %d: %s\n", ++steps, what);
    std::fflush(stdout);
    clock_.restart();
}

void took(const char* what) {
    std::printf("    %s after %.2f s\n", what, double(clock_.elapsed()) / 1000.0);
    std::fflush(stdout);
}

// Runs the event loop until `done` says so; false after ten minutes.
bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 600'000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString match = QStringLiteral("title");
    QList<QUrl> dropped;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--match") && i + 1 < args.size()) {
            match = args[++i];
        } else {
            dropped << QUrl::fromLocalFile(QFileInfo(args[i]).absoluteFilePath());
        }
    }
    const QHash<QString, pelorix::lists::MatchBy> ways{
        {QStringLiteral("path"), pelorix::lists::MatchBy::path},
        {QStringLiteral("name"), pelorix::lists::MatchBy::name},
        {QStringLiteral("title"), pelorix::lists::MatchBy::title},
        {QStringLiteral("track"), pelorix::lists::MatchBy::track}};
    if (dropped.isEmpty() || !ways.contains(match)) {
        std::fprintf(stderr, "usage: pelorix_release_trial [--match WAY] FILE|FOLDER...\n");
        return 2;
    }
    pelorix::test::TempDir settings;  // the window's settings stay out of the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    pelorix::ui::Model model;
    pelorix::ui::MainWindow window(model);
    window.resize(1200, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;

    clock_.start();
    QElapsedTimer total;
    total.start();
    step("drop the folders and the sheet on the window");
    QMimeData mime;
    mime.setUrls(dropped);
    QDragEnterEvent enter({50, 50}, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QDropEvent drop({50, 50}, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(&window, &enter);
    QApplication::sendEvent(&window, &drop);
    if (!waitFor([&] { return window.importDialog() && window.importDialog()->isVisible(); })) {
        std::fprintf(stderr, "no preview: %s\n", qPrintable(window.noticeLabel()->text()));
        return 1;
    }
    took(qPrintable(
        QStringLiteral("%1 files listed and grouped, preview open").arg(model.items().size())));
    ImportDialog* preview = window.importDialog();
    if (preview->plan().by != ways.value(match)) {
        if (!preview->matchBox()) {
            std::fprintf(stderr, "the preview offers no way to find files by %s\n",
                         qPrintable(match));
            return 1;
        }
        step(qPrintable(
            QStringLiteral("choose \"%1\" in the preview's match box")
                .arg(preview->matchBox()
                         ->itemText(preview->matchBox()->findData(int(ways.value(match))))
                         .toLower())));
        const int index = preview->matchBox()->findData(int(ways.value(match)));
        preview->matchBox()->setCurrentIndex(index);
        emit preview->matchBox()->activated(index);
        if (!waitFor([&] {
                return window.importDialog() && window.importDialog() != preview &&
                       window.importDialog()->isVisible();
            })) {
            return 1;
        }
        preview = window.importDialog();
        took("preview open again");
    }
    std::printf("    preview: %s\n",
                qPrintable(preview->summaryLabel()->text().replace(QLatin1Char('\n'), ' ')));
    const auto coded = preview->plan().codes.size();
    for (const pelorix::ui::ImportLine& line : preview->plan().lines) {
        if (!line.message.isEmpty()) {
            std::printf("    line %d: %s\n", line.line, qPrintable(line.message));
        }
    }
    step("Apply");
    preview->applyButton()->click();
    took(qPrintable(QStringLiteral("%1 rows have a new code").arg(coded)));
    step("Write");
    window.writeButton()->click();
    if (window.replaceDialog() && window.replaceDialog()->isVisible()) {
        std::fprintf(stderr, "the write asks to replace codes\n");
        return 1;
    }
    if (!waitFor([&] { return !model.busy(); })) return 1;
    took("written");
    std::printf("status line: %s\n", qPrintable(window.noticeLabel()->text()));
    std::printf("%d steps, %.2f s in all (the user's own time not counted)\n", steps,
                double(total.elapsed()) / 1000.0);
    const bool all = coded == model.items().size() && model.readyCount() == 0;
    if (!all)
        std::fprintf(stderr, "%lld of %lld rows coded\n", qlonglong(coded),
                     qlonglong(model.items().size()));
    return all ? 0 : 1;
}
