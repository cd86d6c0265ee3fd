// SPDX-License-Identifier: MIT
// How files reach the window from outside: command-line arguments, desktop open requests, a
// second launch through the local channel, and requests that come before the window.

#include <QApplication>
#include <QFileOpenEvent>
#include <QLocalServer>
#include <QProcess>
#include <QTimer>

#include <unistd.h>

#include "ui/app.h"
#include "ui_support.h"

using namespace pelorix::test;
using namespace pelorix::ui;

namespace {

TEST(Arguments, FileArgumentsBecomeAbsoluteLocalUrls) {
    const QList<QUrl> urls = instance::urlsFromArguments(
        {"song.wav", "--verbose", "-x", "../up/b.flac", "file:///abs/d.m4a",
         "https://example.com/e.wav", "", "sub/./f.aiff"},
        "/work/here");
    EXPECT_EQ(urls, QList<QUrl>({QUrl::fromLocalFile("/work/here/song.wav"),
                                 QUrl::fromLocalFile("/work/up/b.flac"),
                                 QUrl::fromLocalFile("/abs/d.m4a"),
                                 QUrl::fromLocalFile("/work/here/sub/f.aiff")}));
}

TEST(Channel, KeyedOnTheUserTheDisplayAndTheSession) {
    const QString names[] = {instance::serverName(":0", "2"), instance::serverName(":1", "2"),
                             instance::serverName(":0", "3"),
                             instance::serverName("wayland-0", "2")};
    EXPECT_EQ(QSet<QString>(std::begin(names), std::end(names)).size(), 4);
    EXPECT_EQ(names[0], instance::serverName(":0", "2"));
    EXPECT_TRUE(names[0].contains(QString::number(::getuid())));
}

class AppTest : public ListTest {
  protected:
    void TearDown() override { FileOpenHandler::setModel(nullptr); }
    void waitRows(int n) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.items().size() == n && !model.adding(); }));
    }
    FileOpenHandler delegate;
};

TEST_F(AppTest, RequestsAreKeptUntilTheModelComesAndReachItFromTheEventLoop) {
    delegate.openFiles({urlOf(dir / "gone.wav")});
    delegate.openFiles({urlOf(makeWav(dir / "a.wav"))});
    QApplication::processEvents();
    EXPECT_EQ(delegate.keptRequests(), 2);
    FileOpenHandler::setModel(&model);
    waitRows(1);
    EXPECT_TRUE(model.notice());  // the missing file's request was an add of its own

    // A desktop open request, handed on after the event has been dealt with.
    QApplication::instance()->installEventFilter(&delegate);
    QFileOpenEvent open(urlOf(makeWav(dir / "other.wav")));
    QApplication::sendEvent(QApplication::instance(), &open);
    EXPECT_FALSE(model.adding());
    waitRows(2);
}

TEST_F(AppTest, ASecondLaunchHandsItsFilesToTheRunningWindow) {
    const QString name = QString::fromStdString((dir / "channel.sock").string());
    FileOpenHandler::setModel(&model);
    EXPECT_FALSE(instance::forward(name, {}, 200));  // nobody listens: run the window

    writeFile(dir / "channel.sock", bytesOf("stale"));  // left by a crashed run
    int raised = 0;
    std::unique_ptr<QLocalServer> server(instance::listen(name, &delegate, [&] { ++raised; }, {}));
    ASSERT_NE(server, nullptr);
    const QList<QUrl> urls = {urlOf(makeWav(dir / "a b.wav")), urlOf(makeWav(dir / "c\u00e9.wav"))};
    bool delivered = false;
    // The client blocks, so it runs beside the event loop that serves it.
    QTimer::singleShot(0, [&] { delivered = instance::forward(name, urls); });
    waitRows(2);
    EXPECT_TRUE(delivered);
    EXPECT_EQ(names(), QStringList({"a b.wav", "c\u00e9.wav"}));
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(model.notice(), QString("2 files added."));  // a hand-over is shown

    QTimer::singleShot(0, [&] { instance::forward(name, {}); });  // only brings the window up
    ASSERT_TRUE(QTest::qWaitFor([&] { return raised == 2; }));
    EXPECT_EQ(model.items().size(), 2);
}

// The shipped binary: the command line never maps Qt, the window comes up from its module.
TEST(Launch, CommandLineWithoutQtWindowFromItsModule) {
    TempDir dir;
    const QString wav = urlOf(makeWav(dir / "a.wav", "FIABC2600001")).toLocalFile();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(dir.path().string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir / "config").string()));

    QProcess cli;
    QProcessEnvironment traced = env;
    traced.insert("LD_DEBUG", "libs");  // the loader names every library it maps
    cli.setProcessEnvironment(traced);
    cli.start(PELORIX_BINARY, {"--read", wav});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0);
    const QByteArray out = cli.readAllStandardOutput();
    EXPECT_TRUE(out.contains("FI-ABC-26-00001")) << out.toStdString();
    const QByteArray loaded = cli.readAllStandardError();
    EXPECT_TRUE(loaded.contains("libc.so")) << "no loader trace to judge by";
    EXPECT_FALSE(loaded.contains("libQt6")) << loaded.toStdString();

    QProcess window;
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path().string()));
    window.setProcessEnvironment(env);
    window.start(PELORIX_BINARY, {wav});
    ASSERT_TRUE(window.waitForStarted(30000));
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir.path().string()));
    const QString channel = instance::serverName();  // the window's environment but for this
    qputenv("XDG_RUNTIME_DIR", runtime);
    // A running window answers on its channel.
    EXPECT_TRUE(QTest::qWaitFor(
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
