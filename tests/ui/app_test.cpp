// How files reach the window from outside: command-line arguments, desktop open requests, a
// second launch through the local channel, and requests that come before the window.

#include <QApplication>
#include <QFileOpenEvent>
#include <QLocalServer>
#include <QTimer>

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

class AppTest : public ListTest {
  protected:
    void TearDown() override { AppDelegate::setModel(nullptr); }
    void waitRows(int n) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.items().size() == n && !model.adding(); }));
    }
    AppDelegate delegate;
};

TEST_F(AppTest, RequestsAreKeptUntilTheModelComesAndReachItFromTheEventLoop) {
    delegate.openFiles({urlOf(dir / "gone.wav")});
    delegate.openFiles({urlOf(makeWav(dir / "a.wav"))});
    QApplication::processEvents();
    EXPECT_EQ(delegate.keptRequests(), 2);
    AppDelegate::setModel(&model);
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
    AppDelegate::setModel(&model);
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

    QTimer::singleShot(0, [&] { instance::forward(name, {}); });  // only brings the window up
    ASSERT_TRUE(QTest::qWaitFor([&] { return raised == 2; }));
    EXPECT_EQ(model.items().size(), 2);
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QApplication>(argc, argv);
}
