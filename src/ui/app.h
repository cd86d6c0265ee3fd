// SPDX-License-Identifier: MIT
#pragma once
// The window application: one Model, one main window, and the ways files reach it from outside
// — the command line, a second launch that hands its files to the running window, and the
// desktop's open requests.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QLocalServer;

namespace pelorix::ui {

class Model;

// Runs the window until it is closed; returns the exit code.
int runApp(int argc, char** argv);

// Loads the catalogue of the window's texts for the user's language, English when there is
// none (English holds the singular and plural forms of the counted texts).
void installTranslations();

// Receives requests to open files and hands them to the registered Model from the event loop.
// Requests that come before a Model is registered are kept and delivered when it is.
class FileOpenHandler : public QObject {
    Q_OBJECT
  public:
    explicit FileOpenHandler(QObject* parent = nullptr);
    ~FileOpenHandler() override;

    static Model* model();
    // Registers the Model (or none); kept requests are then delivered, each as its own add.
    static void setModel(Model* model);

    // With `announce`, the add says how many files it added (a hand-over from another launch).
    void openFiles(const QList<QUrl>& urls, bool announce = false);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void deliverKept();

    static QPointer<Model> model_;
    static FileOpenHandler* current_;
    QList<QPair<QList<QUrl>, bool>> kept_;
};

// The local channel between a running window and later launches.
namespace instance {
// A name private to this user on this display and login session: a launch elsewhere (another
// display, another login of the same user) gets a window of its own.
QString serverName();
// The same for the given display and session, as read from DISPLAY or WAYLAND_DISPLAY and
// XDG_SESSION_ID.
QString serverName(const QString& display, const QString& session);
// File arguments of the command line as absolute file URLs (options are left out).
QList<QUrl> urlsFromArguments(const QStringList& arguments, const QString& workingDirectory);
// Hands the files to a window that already runs; false when none answers.
bool forward(const QString& server, const QList<QUrl>& urls, int timeoutMs = 1000);
// Starts listening; every connection's files go to `handler` and `raise` is called. Returns
// the server, or null when no channel could be opened (the window then runs alone).
QLocalServer* listen(const QString& server, FileOpenHandler* handler, std::function<void()> raise,
                     QObject* parent);
}  // namespace instance

}  // namespace pelorix::ui
