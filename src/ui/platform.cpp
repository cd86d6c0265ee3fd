// SPDX-License-Identifier: MIT
#include "ui/platform.h"
#include "ui/adapters.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QSettings>

#include "core/formats/format.h"

namespace pelorix::ui {

namespace {

const char* const kLastFolderKey = "lastAddFolder";

// "Audio files (*.wav *.wave …)" from the one list of supported extensions.
QString audioFilter() {
    QStringList patterns;
    for (const auto& format : formats::formats()) {
        for (std::string_view ext : format.extensions)
            patterns << QStringLiteral("*.") + QString::fromUtf8(ext.data(), qsizetype(ext.size()));
    }
    return QCoreApplication::translate("FileDialog", "Audio files (%1)")
        .arg(patterns.join(QLatin1Char(' ')));
}

// Qt's own file dialog, so that files and folders can be chosen in one selection: "Open" takes
// whatever is selected, folders included; double-click still enters a folder.
class FilesAndFoldersDialog : public QFileDialog {
  public:
    FilesAndFoldersDialog(QWidget* parent, const QString& message) : QFileDialog(parent) {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
        setLabelText(QFileDialog::Accept, QCoreApplication::translate("FileDialog", "Open"));
        const QString last = settings().value(kLastFolderKey).toString();
        setDirectory(!last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath());
        setNameFilters({audioFilter(), QCoreApplication::translate("FileDialog", "All files (*)")});
        if (!message.isEmpty()) {
            setWindowTitle(message);
            if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
                auto* label = new QLabel(message, this);
                label->setWordWrap(true);
                grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
            }
        }
    }

    void accept() override {
        if (auto* list = findChild<QListView*>(QStringLiteral("listView"))) {
            if (list->selectionModel() && list->selectionModel()->hasSelection()) {
                chosen_ = selectedUrls();
                QDialog::accept();
                return;
            }
        }
        QFileDialog::accept();
        if (result() == QDialog::Accepted) chosen_ = selectedUrls();
    }

    QList<QUrl> chosen() const { return chosen_; }

  private:
    QList<QUrl> chosen_;
};

}  // namespace

QList<QUrl> runFileDialog(QWidget* parent, const QString& message) {
    FilesAndFoldersDialog dialog(parent, message);
    if (dialog.exec() != QDialog::Accepted) return {};
    settings().setValue(kLastFolderKey, dialog.directory().absolutePath());
    return dialog.chosen();
}

QList<QUrl> parentFolders(const QList<QUrl>& files) {
    QList<QUrl> folders;
    for (const QUrl& file : files) {
        const QUrl folder = QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath());
        if (!folders.contains(folder)) folders << folder;
    }
    return folders;
}

void revealInFileManager(const QList<QUrl>& files) {
    if (files.isEmpty()) return;
    auto openFolders = [files] {
        for (const QUrl& folder : parentFolders(files)) QDesktopServices::openUrl(folder);
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolders();
        return;
    }
    QStringList uris;
    for (const QUrl& f : files) uris << f.toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asynchronous, so that a slow or absent file manager never stalls the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolders](QDBusPendingCallWatcher* w) {
                         if (w->isError()) openFolders();
                         w->deleteLater();
                     });
}

PlatformServices PlatformServices::system() {
    return {&runFileDialog, &revealInFileManager,
            [](QWidget* parent, const QString& title, const QString& name, const QString& filter) {
                return QFileDialog::getSaveFileName(parent, title, name, filter);
            },
            [](QWidget* parent, const QString& current) {
                return QFileDialog::getSaveFileName(
                    parent, QCoreApplication::translate("FileDialog", "Code Ledger File"), current,
                    QCoreApplication::translate("FileDialog",
                                                "Code ledgers (*.sqlite3);;All files (*)"),
                    nullptr, QFileDialog::DontConfirmOverwrite);
            }};
}

QUrl fileOpenRequest(const QEvent* event) {
    if (event->type() != QEvent::FileOpen) return {};
    const auto* open = static_cast<const QFileOpenEvent*>(event);
    const QUrl url = open->url().isValid() ? open->url() : QUrl::fromLocalFile(open->file());
    return url.isLocalFile() ? url : QUrl();
}

}  // namespace pelorix::ui
