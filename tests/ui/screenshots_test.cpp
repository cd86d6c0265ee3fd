// Renders the window offscreen in the states a reader of the README wants to see: empty, a list
// with every status, and the sequence sheet, each in a light and a dark palette. It checks what
// the pictures must show (pixels of the brand colours where they belong); with
// PELORIX_SCREENSHOTS set to a folder, it also writes the PNG files there.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QPainter>
#include <QPainterPath>
#include <QSettings>
#include <QStyleFactory>
#include <QTest>

#include <memory>
#include <string>

#include "core/audio_tagger.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/flac_builder.h"
#include "ui/file_table.h"
#include "ui/file_table_model.h"
#include "ui/main_window.h"
#include "ui/model.h"
#include "ui/sequence_sheet.h"
#include "ui/widgets.h"

namespace fs = std::filesystem;
using pelorix::test::TempDir;
using namespace pelorix::ui;
using Status = Model::Status;

namespace {

QPalette palette(bool dark) {
    if (!dark) return QStyleFactory::create("Fusion")->standardPalette();
    QPalette p;
    const QColor window(0x2A, 0x2B, 0x30), base(0x1F, 0x20, 0x24), text(0xEC, 0xED, 0xEF);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x27, 0x2C));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3A, 0x3B, 0x41));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8A, 0x8C, 0x94));
    p.setColor(QPalette::Light, QColor(0x4A, 0x4B, 0x52));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x41, 0x47));
    p.setColor(QPalette::Mid, QColor(0x30, 0x31, 0x36));
    p.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1C));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x6C, 0x6E, 0x76));
    return p;
}

QUrl urlOf(const fs::path& p) { return QUrl::fromLocalFile(QString::fromStdString(p.string())); }

bool hasColour(const QImage& image, QRgb rgb, const QRect& area, int tolerance = 6) {
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(rgb)) <= tolerance &&
                std::abs(qGreen(p) - qGreen(rgb)) <= tolerance &&
                std::abs(qBlue(p) - qBlue(rgb)) <= tolerance)
                return true;
        }
    }
    return false;
}

class Screens : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        dark = GetParam();
        QApplication::setPalette(palette(dark));
        QSettings s(QStringLiteral("PELORIX"), QStringLiteral("PELORIX"));
        s.setValue("seqCountry", "FI");
        s.setValue("seqRegistrant", "ABC");
        s.setValue("seqYear", "26");
        s.setValue("seqStart", 1);
        window = std::make_unique<MainWindow>(model);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void save(const QImage& image, const QString& name) {
        const QString folder = qEnvironmentVariable("PELORIX_SCREENSHOTS");
        if (folder.isEmpty()) return;
        QDir().mkpath(folder);
        const QString file = QDir(folder).filePath(name + (dark ? "-dark.png" : "-light.png"));
        ASSERT_TRUE(image.save(file)) << file.toStdString();
    }

    QImage grab(QWidget* w) {
        QApplication::processEvents();
        return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // Ten files of three formats whose rows show every status the table knows.
    void fillList() {
        using namespace pelorix::test;
        const fs::path folder = dir / "Aurora Sessions";
        fs::create_directories(folder);
        const std::vector<std::string> names = {
            "01 Revontulet.wav",      "02 Kaamos (Radio Edit).aiff", "03 Polar Night.flac",
            "04 Midnight Sun.wav",    "05 Tundra.wav",               "06 Ice Road.aiff",
            "07 Northern Lights.wav", "08 Snowfall.flac",            "09 Aurora (Live at the Old Harbour Warehouse).wav",
            "10 Long Dawn.wav"};
        QList<QUrl> urls;
        for (const auto& name : names) {
            const fs::path p = folder / name;
            if (name.ends_with(".aiff")) {
                writeFile(p, chunks::aiff(64));
            } else if (name.ends_with(".flac")) {
                writeFile(p, flac::file({{}, {flac::streamInfo(), flac::padding(64)},
                                         chunks::audio(256)}));
            } else {
                writeFile(p, chunks::wav(64));
            }
            urls << urlOf(p);
        }
        pelorix::AudioTagger::writeISRC(folder / names[0], "FIABC2600001", false);
        pelorix::AudioTagger::writeISRC(folder / names[3], "FIABC2600004", false);
        pelorix::AudioTagger::writeISRC(folder / names[7], "FIABC2500017", false);
        model.add(urls);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model.adding(); }, 60000));
        ASSERT_EQ(model.items().size(), 10);
        auto id = [&](int row) { return model.items()[row].id; };
        model.setPending(id(0), "FI-ABC-26-00001");                        // up to date
        model.setStatus(id(1), Status::done("Written"));                   // written
        model.setPending(id(2), "FI-ABC-26-00003");                        // ready
        model.setStatus(id(2), Status::writing());                         // writing now
        model.setPending(id(4), "FI-ABC-26-00005");                        // ready
        model.setPending(id(5), "FI-ABC-26-0006");                         // invalid
        model.setPending(id(6), "FI-ABC-26-00009");                        // duplicate
        model.setPending(id(9), "fi-abc-26-00009");                        // duplicate
        model.setStatus(id(8),
                        Status::failed("The file could not be replaced: Permission denied. "
                                       "The original is unchanged."));
        model.setSelection({id(2), id(4)});
    }

    bool dark = false;
    TempDir dir;
    Model model;
    std::unique_ptr<MainWindow> window;
};

TEST_P(Screens, EmptyWindow) {
    const QImage image = grab(window.get());
    EXPECT_EQ(window->centralWidget()->size(), QSize(980, 600));
    save(image, "empty");
    // The drop zone's symbol and button are in the accent of this appearance.
    const QRgb accent = Brand::accent().resolve(dark).rgb();
    const QRect zone(window->body()->mapTo(window.get(), QPoint()), window->body()->size());
    EXPECT_TRUE(hasColour(image, accent, zone));
    // The title's tail letters are in the accent too, its head in the brand text colour.
    const QRect title(window->brandTitle()->mapTo(window.get(), QPoint()),
                      window->brandTitle()->size());
    EXPECT_TRUE(hasColour(image, accent, title, 24));
    EXPECT_TRUE(hasColour(image, Brand::text().resolve(dark).rgb(), title, 24));
}

TEST_P(Screens, ListWithEveryStatus) {
    fillList();
    const QImage image = grab(window.get());
    save(image, "list");
    EXPECT_EQ(window->body()->currentWidget(), window->table());
    // Red and green status symbols and the accent "Ready" appear in the status column.
    FileTable* table = window->table();
    const int x = table->columnViewportPosition(FileTableModel::statusColumn);
    const QRect status(table->viewport()->mapTo(window.get(), QPoint(x, 0)),
                       QSize(table->columnWidth(FileTableModel::statusColumn),
                             table->viewport()->height()));
    EXPECT_TRUE(hasColour(image, look::red(dark).rgb(), status, 40));
    EXPECT_TRUE(hasColour(image, look::green(dark).rgb(), status, 40));
}

TEST_P(Screens, SequenceSheet) {
    fillList();
    model.setSelection({});
    window->showSequenceSheet();
    SequenceSheet* sheet = window->sequenceSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_EQ(sheet->previewLabel()->text(), "FI-ABC-26-00001  \u2192  FI-ABC-26-00010");
    const QImage sheetImage = grab(sheet);
    EXPECT_EQ(sheetImage.width(), 480);

    // As the desktop shows a sheet: over the dimmed window, hanging from its top edge.
    QImage composed = grab(window.get());
    {
        QPainter p(&composed);
        p.fillRect(composed.rect(), QColor(0, 0, 0, dark ? 110 : 70));
        const QPoint at((composed.width() - sheetImage.width()) / 2,
                        window->centralWidget()->mapTo(window.get(), QPoint()).y());
        for (int i = 6; i > 0; --i)  // soft shadow
            p.fillRect(QRect(at, sheetImage.size()).adjusted(-i, 0, i, i), QColor(0, 0, 0, 10));
        p.drawImage(at, sheetImage);
    }
    save(composed, "sequence");
    EXPECT_TRUE(hasColour(sheetImage, Brand::accent().resolve(dark).rgb(), sheetImage.rect()));
    sheet->reject();
}

INSTANTIATE_TEST_SUITE_P(Appearance, Screens, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "dark" : "light"; });

}  // namespace

int main(int argc, char** argv) {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication app(argc, argv);
    TempDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
