// SPDX-License-Identifier: MIT
// How files reach the window from outside: command-line arguments, desktop open requests, a
// second launch through the local channel, and requests that come before the window.

#include <QtNetwork>
#include <QtWidgets>

#include "ui_support.h"

using namespace pelorix::test;
using namespace pelorix::ui;

namespace {

TEST(Instance, ArgumentsBecomeAbsoluteUrlsAndTheChannelIsPerDisplayAndSession) {
    const QList<QUrl> urls = instance::urlsFromArguments(
        {"song.wav", "--verbose", "../up/b.flac", "file:///abs/d.m4a", "https://e.com/e.wav", ""},
        "/work/here");
    EXPECT_EQ(urls, QList<QUrl>({QUrl::fromLocalFile("/work/here/song.wav"),
                                 QUrl::fromLocalFile("/work/up/b.flac"),
                                 QUrl::fromLocalFile("/abs/d.m4a")}));
    const QString names[] = {instance::serverName(":0", "2"), instance::serverName(":1", "2"),
                             instance::serverName(":0", "3"), instance::serverName(":0", "2")};
    EXPECT_EQ(QSet<QString>(std::begin(names), std::end(names)).size(), 3);
}

TEST_F(ListTest, RequestsWaitForTheModelAndASecondLaunchHandsItsFilesOver) {
    FileOpenHandler handler;
    QApplication::instance()->installEventFilter(&handler);
    QFileOpenEvent open(urlOf(makeWav(dir / "b.wav")));  // a desktop open request, kept
    QApplication::sendEvent(QApplication::instance(), &open);
    QApplication::processEvents();
    FileOpenHandler::setModel(&model);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.items().size() == 1 && !model.adding(); }));

    const QString name = QString::fromStdString((dir / "channel.sock").string());
    EXPECT_FALSE(instance::forward(name, {}, 200));     // nobody listens: run the window
    writeFile(dir / "channel.sock", bytesOf("stale"));  // left by a crashed run
    int raised = 0;
    std::unique_ptr<QLocalServer> server(instance::listen(name, &handler, [&] { ++raised; }, {}));
    ASSERT_NE(server, nullptr);
    const QList<QUrl> urls = {urlOf(makeWav(dir / "c d.wav")), urlOf(makeWav(dir / "\u00e9.wav"))};
    // The client blocks, so it runs beside the event loop that serves it.
    QTimer::singleShot(0, [&] { instance::forward(name, urls); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.items().size() == 3 && !model.adding(); }));
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(model.notice(), QString("2 files added."));  // a hand-over is shown
    FileOpenHandler::setModel(nullptr);
}

// The shipped binary: the command line never maps Qt, the window comes up from its module.
TEST(Launch, CommandLineWithoutQtWindowFromItsModule) {
    TempDir dir;
    const QString wav = urlOf(makeWav(dir / "a.wav", "FIABC2600001")).toLocalFile();
    const QString home = QString::fromStdString(dir.path().string());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) env.insert(name, home);
    QProcess cli;
    QProcessEnvironment traced = env;
    traced.insert("LD_DEBUG", "libs");  // the loader names every library it maps
    cli.setProcessEnvironment(traced);
    cli.start(PELORIX_BINARY, {"--read", wav});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_TRUE(cli.readAllStandardOutput().contains("FI-ABC-26-00001"));
    const QByteArray loaded = cli.readAllStandardError();
    EXPECT_TRUE(loaded.contains("libc.so") && !loaded.contains("libQt6")) << loaded.toStdString();

    QProcess window;
    env.insert("QT_QPA_PLATFORM", "offscreen");
    window.setProcessEnvironment(env);
    window.start(PELORIX_BINARY, {wav});
    ASSERT_TRUE(window.waitForStarted(30000));
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", home.toUtf8());
    const QString channel = instance::serverName();  // as the window names it
    qputenv("XDG_RUNTIME_DIR", runtime);
    EXPECT_TRUE(QTest::qWaitFor(  // a running window answers on its channel
        [&] { return window.state() != QProcess::Running || instance::forward(channel, {}, 200); },
        60000));
    EXPECT_EQ(window.state(), QProcess::Running) << window.readAllStandardError().toStdString();
    window.kill();
    window.waitForFinished(10000);
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QApplication>(argc, argv);
}
