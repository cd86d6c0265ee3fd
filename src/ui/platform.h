// SPDX-License-Identifier: MIT
#pragma once
// Platform code of the window: the two desktop services it calls besides the Model (the file
// dialog for files and folders, and showing files in the file manager over freedesktop D-Bus),
// held as functions so that a test can stand in for the desktop; and the open requests macOS
// sends as QEvent::FileOpen (Finder, the Dock). All of it builds on every platform.

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

class QEvent;
class QWidget;

namespace pelorix::ui {

struct PlatformServices {
    // Lets the user pick files and folders together; returns them in the dialog's order, or
    // nothing when cancelled. An empty message shows none.
    std::function<QList<QUrl>(QWidget* parent, const QString& message)> chooseFiles;
    // Opens the file manager with these files selected.
    std::function<void(const QList<QUrl>& files)> revealFiles;
    // Asks where to save a file: the path, or empty when cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& name,
                          const QString& filter)>
        chooseSaveFile;
    // Asks for the code ledger file to use, which may not exist yet: the path, or empty when
    // cancelled.
    std::function<QString(QWidget* parent, const QString& current)> chooseLedgerFile;

    static PlatformServices system();
};

// The desktop implementations, usable on their own.
// The file dialog opens in the folder files were last added from and shows audio files first.
QList<QUrl> runFileDialog(QWidget* parent, const QString& message);
void revealInFileManager(const QList<QUrl>& files);
// The folders to open when no file manager can select files: each parent folder once, in order.
QList<QUrl> parentFolders(const QList<QUrl>& files);

// The local file a QEvent::FileOpen asks to open (macOS: a file dropped on the Dock icon or
// opened from Finder), or an empty URL when it names none. Other platforms never send one.
QUrl fileOpenRequest(const QEvent* event);

}  // namespace pelorix::ui
