// The ways files reach the window from outside: command-line arguments, a second launch
// through the local channel, desktop open requests, and requests that come before the window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileOpenEvent>
#include <QLocalServer>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <string>

#include "support/chunk_builder.h"
#include "support/files.h"
#include "ui/app.h"
#include "ui/model.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QUrl& u, std::ostream* os) { *os << u.toString().toStdString(); }
QT_END_NAMESPACE

namespace fs = std::filesystem;
using pelorix::test::TempDir;
using namespace pelorix::ui;

namespace {

QUrl urlOf(const fs::path& p) { return QUrl::fromLocalFile(QString::fromStdString(p.string())); }

fs::path makeWav(const fs::path& p) {
    pelorix::test::writeFile(p, pelorix::test::chunks::wav(8));
    return p;
}

QStringList names(const Model& model) {
    QStringList out;
    for (const auto& item : model.items()) out << item.fileName();
    return out;
}

class AppTest : public ::testing::Test {
protected:
    void TearDown() override { AppDelegate::setModel(nullptr); }
    void waitRows(int n) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.items().size() == n && !model.adding(); },
                                    60000))
            << model.items().size();
    }
    TempDir dir;
    Model model;
};

TEST(Arguments, FileArgumentsBecomeAbsoluteUrls) {
    const QList<QUrl> urls = instance::urlsFromArguments(
        {"song.wav", "--verbose", "-x", "../up/b.flac", "/abs/c.mp3", "file:///abs/d.m4a",
         "https://example.com/e.wav", "", "sub/./f.aiff"},
        "/work/here");
    EXPECT_EQ(urls, QList<QUrl>({QUrl::fromLocalFile("/work/here/song.wav"),
                                 QUrl::fromLocalFile("/work/up/b.flac"),
                                 QUrl::fromLocalFile("/abs/c.mp3"),
                                 QUrl::fromLocalFile("/abs/d.m4a"),
                                 QUrl::fromLocalFile("/work/here/sub/f.aiff")}));
    EXPECT_TRUE(instance::urlsFromArguments({}, "/x").isEmpty());
}

TEST_F(AppTest, RequestsBeforeTheModelAreKeptThenDeliveredEachOnItsOwn) {
    AppDelegate delegate;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    const fs::path z = makeWav(dir / "a" / "z.wav");
    const fs::path y = makeWav(dir / "b" / "y.wav");
    const fs::path x = makeWav(dir / "b" / "x.wav");
    delegate.openFiles({urlOf(z)});
    delegate.openFiles({urlOf(y), urlOf(x)});
    QApplication::processEvents();
    EXPECT_EQ(delegate.keptRequests(), 2);
    EXPECT_TRUE(model.items().isEmpty());

    AppDelegate::setModel(&model);
    EXPECT_EQ(AppDelegate::model(), &model);
    EXPECT_EQ(delegate.keptRequests(), 0);
    waitRows(3);
    // One add per request: x and y are sorted within theirs, z has its own.
    const QStringList got = names(model);
    EXPECT_LT(got.indexOf("x.wav"), got.indexOf("y.wav"));
}

TEST_F(AppTest, OpenRequestsReachTheModelFromTheEventLoop) {
    AppDelegate delegate;
    AppDelegate::setModel(&model);
    const fs::path song = makeWav(dir / "song.wav");
    delegate.openFiles({urlOf(song)});
    // Not inside the call: from the event loop.
    EXPECT_TRUE(model.items().isEmpty());
    EXPECT_FALSE(model.adding());
    waitRows(1);

    // A desktop open request for a file.
    const fs::path other = makeWav(dir / "other.wav");
    QApplication::instance()->installEventFilter(&delegate);
    QFileOpenEvent open(urlOf(other));
    QApplication::sendEvent(QApplication::instance(), &open);
    waitRows(2);
    EXPECT_EQ(model.items()[1].fileName(), "other.wav");
}

TEST_F(AppTest, ASecondLaunchHandsItsFilesToTheRunningWindow) {
    const QString name = QString::fromStdString((dir / "channel.sock").string());
    AppDelegate delegate;
    AppDelegate::setModel(&model);
    int raised = 0;
    // Nobody listens yet: the launch must run the window itself.
    EXPECT_FALSE(instance::forward(name, {}, 200));

    // A stale socket file from a crashed run does not stop the channel.
    pelorix::test::writeFile(dir / "channel.sock", pelorix::test::bytesOf("stale"));
    QLocalServer* server = instance::listen(name, &delegate, [&] { ++raised; }, nullptr);
    ASSERT_NE(server, nullptr);

    const fs::path a = makeWav(dir / "a b.wav");
    const fs::path c = makeWav(dir / "c\u00e9.wav");
    bool delivered = false;
    // The client blocks, so it runs beside the event loop that serves it.
    QTimer::singleShot(0, [&] { delivered = instance::forward(name, {urlOf(a), urlOf(c)}); });
    waitRows(2);
    EXPECT_TRUE(delivered);
    EXPECT_EQ(names(model), QStringList({"a b.wav", "c\u00e9.wav"}));
    EXPECT_EQ(raised, 1);

    // A launch without files only brings the window forward.
    QTimer::singleShot(0, [&] { delivered = instance::forward(name, {}); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return raised == 2; }, 10000));
    EXPECT_EQ(model.items().size(), 2);
    delete server;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TempDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
