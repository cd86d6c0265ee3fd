// SPDX-License-Identifier: MIT
#include "ui/app.h"

#include "ui/brand.h"
#include "ui/main_window.h"
#include "ui/model.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace pelorix::ui {

QPointer<Model> AppDelegate::model_;
AppDelegate* AppDelegate::current_ = nullptr;

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {
    current_ = this;
}

AppDelegate::~AppDelegate() {
    if (current_ == this) current_ = nullptr;
}

Model* AppDelegate::model() {
    return model_.data();
}

void AppDelegate::setModel(Model* model) {
    model_ = model;
    if (model && current_) current_->deliverKept();
}

void AppDelegate::openFiles(const QList<QUrl>& urls) {
    if (urls.isEmpty()) return;
    kept_ << urls;
    // Handed on from the event loop, after the caller has returned.
    QMetaObject::invokeMethod(this, &AppDelegate::deliverKept, Qt::QueuedConnection);
}

void AppDelegate::deliverKept() {
    Model* model = model_.data();
    if (!model) return;  // kept until a model is registered
    const QList<QList<QUrl>> requests = std::exchange(kept_, {});
    for (const QList<QUrl>& urls : requests) model->add(urls);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FileOpen) {
        const auto* open = static_cast<QFileOpenEvent*>(event);
        const QUrl url = open->url().isValid() ? open->url() : QUrl::fromLocalFile(open->file());
        if (url.isLocalFile()) openFiles({url});
        return true;
    }
    return QObject::eventFilter(watched, event);
}

namespace instance {

namespace {
// A request is a list of file URLs; anything larger than this is not from us.
constexpr qint64 kMaxRequest = 16 * 1024 * 1024;
}  // namespace

QString serverName() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString name = QStringLiteral("pelorix-%1.sock").arg(::getuid());
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return QDir(runtime).filePath(name);
    return name;
}

QList<QUrl> urlsFromArguments(const QStringList& arguments, const QString& workingDirectory) {
    QList<QUrl> urls;
    const QDir base(workingDirectory);
    for (const QString& arg : arguments) {
        if (arg.isEmpty() || arg.startsWith(QLatin1Char('-'))) continue;
        if (arg.startsWith(QLatin1String("file:")) || arg.contains(QLatin1String("://"))) {
            // Only local files can be tagged; other URLs are left out.
            const QUrl url(arg);
            if (url.isLocalFile()) urls << url;
            continue;
        }
        // Made absolute here: a running window has its own working folder.
        urls << QUrl::fromLocalFile(QDir::cleanPath(base.absoluteFilePath(arg)));
    }
    return urls;
}

bool forward(const QString& server, const QList<QUrl>& urls, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(server);
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray message;
    for (const QUrl& url : urls) message += url.toEncoded() + '\n';
    message += '\n';  // end of request
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return true;
}

QLocalServer* listen(const QString& server, AppDelegate* delegate, std::function<void()> raise,
                     QObject* parent) {
    auto* local = new QLocalServer(parent);
    local->setSocketOptions(QLocalServer::UserAccessOption);
    if (!local->listen(server)) {
        // Nobody answered before we got here, so a socket file left by a crash is stale.
        QLocalServer::removeServer(server);
        if (!local->listen(server)) {
            delete local;
            return nullptr;
        }
    }
    QObject::connect(local, &QLocalServer::newConnection, local, [local, delegate, raise] {
        while (QLocalSocket* socket = local->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, delegate, raise] {
                if (socket->bytesAvailable() > kMaxRequest) {
                    socket->abort();
                    return;
                }
                const QByteArray data = socket->peek(socket->bytesAvailable());
                if (!data.endsWith("\n\n") && data != "\n") return;  // wait for the whole request
                socket->readAll();
                QList<QUrl> urls;
                for (const QByteArray& line : data.split('\n')) {
                    if (line.isEmpty()) continue;
                    const QUrl url = QUrl::fromEncoded(line);
                    if (url.isLocalFile()) urls << url;
                }
                delegate->openFiles(urls);
                if (raise) raise();
                socket->disconnectFromServer();
            });
        }
    });
    return local;
}

}  // namespace instance

int runApp(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("PELORIX"));
    QCoreApplication::setApplicationName(QStringLiteral("PELORIX"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.pelorix.Pelorix"));
    ensureResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pelorix.png")));

    const QList<QUrl> urls =
        instance::urlsFromArguments(QApplication::arguments().mid(1), QDir::currentPath());
    const QString server = instance::serverName();
    // One window per user: a later launch hands its files over and leaves.
    if (instance::forward(server, urls)) return 0;

    AppDelegate delegate;
    app.installEventFilter(&delegate);
    Model model;
    MainWindow window(model);
    instance::listen(
        server, &delegate,
        [&window] {
            window.showNormal();
            window.raise();
            window.activateWindow();
        },
        &app);
    delegate.openFiles(urls);
    window.show();
    AppDelegate::setModel(&model);
    const int code = QApplication::exec();
    AppDelegate::setModel(nullptr);
    return code;
}

}  // namespace pelorix::ui
