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

// Receives requests to open files and hands them to the registered Model from the event loop.
// Requests that come before a Model is registered are kept and delivered when it is.
class AppDelegate : public QObject {
    Q_OBJECT
  public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    static Model* model();
    // Registers the Model (or none); kept requests are then delivered, each as its own add.
    static void setModel(Model* model);

    void openFiles(const QList<QUrl>& urls);
    int keptRequests() const { return int(kept_.size()); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void deliverKept();

    static QPointer<Model> model_;
    static AppDelegate* current_;
    QList<QList<QUrl>> kept_;
};

// The local channel between a running window and later launches.
namespace instance {
// A name private to this user.
QString serverName();
// File arguments of the command line as absolute file URLs (options are left out).
QList<QUrl> urlsFromArguments(const QStringList& arguments, const QString& workingDirectory);
// Hands the files to a window that already runs; false when none answers.
bool forward(const QString& server, const QList<QUrl>& urls, int timeoutMs = 1000);
// Starts listening; every connection's files go to `delegate` and `raise` is called. Returns
// the server, or null when no channel could be opened (the window then runs alone).
QLocalServer* listen(const QString& server, AppDelegate* delegate, std::function<void()> raise,
                     QObject* parent);
}  // namespace instance

}  // namespace pelorix::ui
