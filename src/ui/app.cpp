// SPDX-License-Identifier: MIT
#include "ui/app.h"

#include "ui/brand.h"
#include "ui/main_window.h"
#include "ui/model.h"
#include "ui/platform.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>

#include <unistd.h>

namespace pelorix::ui {

QPointer<Model> FileOpenHandler::model_;
FileOpenHandler* FileOpenHandler::current_ = nullptr;

FileOpenHandler::FileOpenHandler(QObject* parent) : QObject(parent) {
    current_ = this;
}

FileOpenHandler::~FileOpenHandler() {
    if (current_ == this) current_ = nullptr;
}

Model* FileOpenHandler::model() {
    return model_.data();
}

void FileOpenHandler::setModel(Model* model) {
    model_ = model;
    if (model && current_) current_->deliverKept();
}

void FileOpenHandler::openFiles(const QList<QUrl>& urls, bool announce) {
    if (urls.isEmpty()) return;
    kept_ << qMakePair(urls, announce);
    // Handed on from the event loop, after the caller has returned.
    QMetaObject::invokeMethod(this, &FileOpenHandler::deliverKept, Qt::QueuedConnection);
}

void FileOpenHandler::deliverKept() {
    Model* model = model_.data();
    if (!model) return;  // kept until a model is registered
    const auto requests = std::exchange(kept_, {});
    for (const auto& [urls, announce] : requests) model->add(urls, announce);
}

bool FileOpenHandler::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FileOpen) {  // platform code: see ui/platform.h
        if (const QUrl url = fileOpenRequest(event); !url.isEmpty()) openFiles({url});
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
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
    return serverName(display, qEnvironmentVariable("XDG_SESSION_ID"));
}

QString serverName(const QString& display, const QString& session) {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Display names hold characters a file name should not ("/", ":"); a short digest of them
    // keeps the name plain.
    const QByteArray where =
        QCryptographicHash::hash((display + QLatin1Char('\n') + session).toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(12);
    const QString name =
        QStringLiteral("pelorix-%1-%2.sock").arg(::getuid()).arg(QString::fromLatin1(where));
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

QLocalServer* listen(const QString& server, FileOpenHandler* handler, std::function<void()> raise,
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
    QObject::connect(local, &QLocalServer::newConnection, local, [local, handler, raise] {
        while (QLocalSocket* socket = local->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, handler, raise] {
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
                handler->openFiles(urls, true);
                if (raise) raise();
                socket->disconnectFromServer();
            });
        }
    });
    return local;
}

}  // namespace instance

void installTranslations() {
    static QTranslator* translator = nullptr;
    if (translator) return;
    translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(), QStringLiteral("pelorix"), QStringLiteral("_"),
                         QStringLiteral(":/i18n")) ||
        translator->load(QStringLiteral(":/i18n/pelorix_en.qm"))) {
        QCoreApplication::installTranslator(translator);
    }
}

int runApp(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("PELORIX"));
    QCoreApplication::setApplicationName(QStringLiteral("PELORIX"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.pelorix.Pelorix"));
    ensureResources();
    installTranslations();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pelorix.png")));

    const QList<QUrl> urls =
        instance::urlsFromArguments(QApplication::arguments().mid(1), QDir::currentPath());
    const QString server = instance::serverName();
    // One window per user: a later launch hands its files over and leaves.
    if (instance::forward(server, urls)) return 0;

    FileOpenHandler handler;
    app.installEventFilter(&handler);
    Model model;
    MainWindow window(model);
    instance::listen(
        server, &handler,
        [&window] {
            window.showNormal();
            window.raise();
            window.activateWindow();
        },
        &app);
    handler.openFiles(urls);
    window.show();
    FileOpenHandler::setModel(&model);
    const int code = QApplication::exec();
    FileOpenHandler::setModel(nullptr);
    return code;
}

}  // namespace pelorix::ui
