// SPDX-License-Identifier: MIT
// The main window offscreen over a real Model and real WAV files.

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>

#include "ui/drop_zone.h"
#include "ui/file_table.h"
#include "ui/main_window.h"
#include "ui_support.h"

using namespace pelorix::test;
using namespace pelorix::ui;
using T = FileTableModel;

namespace {

class WindowTest : public ListTest {
  protected:
    void SetUp() override {
        const PlatformServices services = {[](QWidget*, const QString&) { return chosen(); },
                                           [this](const QList<QUrl>& urls) { revealed << urls; }};
        window = std::make_unique<MainWindow>(model, services, QStringList{});
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    static QList<QUrl>& chosen() {
        static QList<QUrl> urls;
        return urls;
    }
    QString cell(int row, int column, int role = Qt::DisplayRole) const {
        return window->tableModel()->index(row, column).data(role).toString();
    }
    QColor colour(int row, int column) const {
        return window->tableModel()->index(row, column).data(Qt::ForegroundRole).value<QColor>();
    }
    // Clicks a message box's button by its text.
    static void answer(QMessageBox* box, const QString& button) {
        ASSERT_TRUE(box);
        for (QAbstractButton* b : box->buttons())
            if (b->text() == button) return b->click();
        FAIL() << button.toStdString();
    }
    QList<QList<QUrl>> revealed;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, ControlsFollowTheListTheSelectionAndBusy) {
    const auto expect = [&](bool sequence, bool remove, bool write, const QString& summary,
                            const QString& title) {
        EXPECT_EQ(window->sequenceButton()->isEnabled(), sequence);
        EXPECT_EQ(window->removeButton()->isEnabled(), remove);
        EXPECT_EQ(window->clearButton()->isEnabled(), sequence && !model.busy());
        EXPECT_EQ(window->writeButton()->isEnabled(), write);
        EXPECT_EQ(window->summaryLabel()->text(), summary);
        EXPECT_EQ(window->writeButton()->text(), title);
        EXPECT_EQ(window->body()->currentWidget() == window->dropZone(), summary == "No files");
    };
    expect(false, false, false, "No files", "Write ISRC");
    addFiles(3);
    chosen() = {urlOf(makeWav(dir / "b.wav")), urlOf(makeWav(dir / "a.wav"))};
    window->addButton()->click();
    waitAdded();
    for (int i = 0; i < 3; ++i) model.setPending(id(i), QString("FI-ABC-26-0000%1").arg(i + 1));
    window->table()->selectRow(4);  // the selection is bound both ways
    EXPECT_EQ(model.selection(), QSet<QUuid>{id(4)});
    expect(true, true, true, "5 files", "Write ISRC (3)");

    QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(model.busy());
    expect(true, false, false, "5 files", "Writing\u2026");
    EXPECT_TRUE(window->progressBar()->isVisible() && window->stopButton()->isVisible());
    EXPECT_TRUE(window->progressBar()->text().startsWith("Writing 1 of 3"));
    waitBatch();
    EXPECT_FALSE(window->progressBar()->isVisible());
    EXPECT_EQ(window->noticeLabel()->text(), "Wrote 3 ISRC codes.");
    window->backupBox()->click();
    EXPECT_TRUE(model.backup());
    window->clearButton()->click();
    expect(false, false, false, "No files", "Write ISRC");
}

TEST_F(WindowTest, CellsShowEveryStateInItsColour) {
    addFiles(5, {{1, "FIABC2600001"}, {2, "FIABC2600002"}});
    writeFile(dir / "6.flac", chunks::wav(16));
    add({urlOf(dir / "6.flac")});
    const char* pendings[] = {"FI-ABC-26-00009", "fi-abc-26-00002", "FI-ABC", "FIABC2600007",
                              "fi-abc-26-00007"};
    for (int r = 0; r < 5; ++r) model.setPending(id(r), pendings[r]);
    for (bool dark : {true, false}) {
        QPalette pal;
        pal.setColor(QPalette::Window, dark ? Qt::black : Qt::white);
        pal.setColor(QPalette::WindowText, dark ? Qt::white : Qt::black);
        QApplication::setPalette(pal);  // the open window recolours itself
        QApplication::processEvents();
        const QColor orange = look::orange(dark), red = look::red(dark);
        const struct {
            QString text;
            QColor colour;
        } rows[] = {{"Replaces FI-ABC-26-00001", orange},
                    {"Up to date", look::secondary(pal)},
                    {"Not a valid ISRC", red},
                    {"Used twice in this list", red},
                    {"Used twice in this list", red},
                    {"No ISRC", look::secondary(pal)}};
        for (int r = 0; r < 6; ++r) {
            EXPECT_EQ(cell(r, T::statusColumn), rows[r].text) << r;
            EXPECT_EQ(colour(r, T::statusColumn), rows[r].colour) << r << dark;
            EXPECT_EQ(colour(r, T::newColumn),
                      r == 1 || r == 5 ? look::primary(pal) : rows[r].colour);
        }
        EXPECT_EQ(colour(5, T::formatColumn), orange);
        EXPECT_EQ(window->palette().color(QPalette::Highlight), Brand::accent().resolve(dark));
    }
    EXPECT_EQ(cell(5, T::formatColumn), "WAV (not FLAC)");
    EXPECT_EQ(cell(0, T::currentColumn), "FI-ABC-26-00001");
    EXPECT_EQ(cell(2, T::currentColumn), "\u2014");

    // Replacing asks first, naming the files; "Write Only the Others" leaves their codes alone.
    model.setPending(id(2), "FI-ABC-26-00003");
    window->writeButton()->click();
    ASSERT_TRUE(window->replaceDialog());
    EXPECT_EQ(window->replaceDialog()->text(), "Replace the ISRC of 1 file?");
    EXPECT_TRUE(window->replaceDialog()->informativeText().contains(
        "1.wav: FI-ABC-26-00001 \u2192 FI-ABC-26-00009"));
    answer(window->replaceDialog(), "Write Only the Others");
    waitBatch();
    EXPECT_EQ(cell(2, T::statusColumn), "Written");
    EXPECT_EQ(model.items()[0].current, QString("FIABC2600001"));
    window->writeButton()->click();
    answer(window->replaceDialog(), "Replace");
    waitBatch();
    EXPECT_EQ(model.items()[0].current, QString("FIABC2600009"));
}

TEST_F(WindowTest, KeysEditTheCurrentRow) {
    for (auto name : {"CD1/01.wav", "CD2/01.wav", "Bonus.wav"}) makeWav(dir / name);
    add({urlOf(dir.path())});
    EXPECT_EQ(cell(0, T::fileColumn), "Bonus.wav");
    EXPECT_EQ(cell(1, T::fileColumn), "CD1/01.wav");  // the same name shows its folder
    FileTable* view = window->table();
    view->setFocus();
    const auto type = [](const char* keys) {  // as a user does: into whatever has the focus
        for (const char* k = keys; *k; ++k) QTest::keyClick(QApplication::focusWidget(), *k);
    };
    const auto click = [&](int row) {
        const QRect field = view->visualRect(window->tableModel()->index(row, T::newColumn));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, field.center());
    };
    view->selectRow(1);
    click(1);
    type("bonus2600001");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);  // tidies, moves down
    QApplication::processEvents();
    EXPECT_EQ(model.items()[1].pending, "BO-NUS-26-00001");
    EXPECT_EQ(view->currentIndex().row(), 2);
    type("x");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);  // puts the field back
    QApplication::processEvents();
    EXPECT_EQ(model.items()[2].pending, "");
    // A click on the current field, then a code that starts like another row's: the keys stay
    // in this row, also once the click's own editing would have begun.
    click(2);
    type("bx");
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    type("yz");
    EXPECT_EQ(model.items()[2].pending, "bxyz");
    EXPECT_EQ(model.items()[1].pending, "BO-NUS-26-00001");
    view->selectRow(1);
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(model.items()[1].pending, "");
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(model.items()[1].pending, "BO-NUS-26-00001");

    // Paste fills the column from the current row down; copy gives tab-separated rows.
    view->selectRow(0);
    window->pasteText("1\tFI-ABC-26-00005\tx\nfiabc2600006\n");
    EXPECT_EQ(pendings(), QStringList({"FI-ABC-26-00005", "fiabc2600006", "bxyz"}));
    model.setSelection({id(0)});
    EXPECT_EQ(window->copyText(), "Bonus.wav\tWAV\t\tFI-ABC-26-00005\tReady\n");
    // A header click sorts the list; the sequence follows it.
    view->sortByColumn(T::newColumn, Qt::AscendingOrder);
    EXPECT_EQ(names(), QStringList({"01.wav", "Bonus.wav", "01.wav"}));
}

TEST_F(WindowTest, ClosingWithUnwrittenCodesAsks) {
    addFiles(2);
    EXPECT_TRUE(window->close());  // nothing to lose
    window->show();
    model.setPending(id(0), "FI-ABC-26-00001");
    EXPECT_FALSE(window->close());
    answer(window->closeDialog(), "Cancel");
    EXPECT_TRUE(window->isVisible());
    window->close();
    answer(window->closeDialog(), "Write");
    waitBatch();
    QApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(model.items()[0].current, QString("FIABC2600001"));
}

TEST_F(WindowTest, ContextMenuRemovalAndDrops) {
    addFiles(4);
    model.setSelection({id(3), id(0)});
    EXPECT_EQ(window->table()->contextIds(0), QSet<QUuid>({id(0), id(3)}));
    EXPECT_EQ(window->table()->contextIds(1), QSet<QUuid>({id(1)}));
    window->contextMenu({id(3), id(0)})->actions()[2]->trigger();
    EXPECT_EQ(revealed, QList<QList<QUrl>>({{model.items()[0].url, model.items()[3].url}}));
    window->contextMenu({id(1), id(2)})->actions()[1]->trigger();
    EXPECT_EQ(window->removalDialog()->text(), "Remove the ISRC from 2 selected files?");
    answer(window->removalDialog(), "Remove ISRC");
    EXPECT_EQ(model.notice(), QString("None of the selected files has an ISRC."));
    window->contextMenu({id(0), id(3)})->actions()[0]->trigger();
    EXPECT_EQ(names(), QStringList({"2.wav", "3.wav"}));

    QMimeData files;
    files.setUrls({QUrl("https://example.com/x.wav"), urlOf(makeWav(dir / "a.wav"))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, {});
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    QApplication::processEvents();
    waitAdded();
    EXPECT_EQ(names(), QStringList({"2.wav", "3.wav", "a.wav"}));
}

TEST_F(WindowTest, LargeFolderFillsInGroupsWhileTheWindowStaysLive) {
    for (int i = 0; i < 200; ++i) makeWav(dir / "many" / (std::to_string(i) + ".wav"));
    model.add({urlOf(dir / "many")});
    EXPECT_EQ(model.items().size(), 0);  // nothing is read inside the call
    QSignalSpy inserted(window->tableModel(), &QAbstractItemModel::rowsInserted);
    waitAdded();
    EXPECT_EQ(window->summaryLabel()->text(), "200 files");
    EXPECT_LT(inserted.count(), 200);
    EXPECT_EQ(names().first(), "0.wav");
    EXPECT_EQ(names().last(), "199.wav");
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QApplication>(argc, argv);
}
