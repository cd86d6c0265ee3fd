// SPDX-License-Identifier: MIT
// The main window offscreen over a real Model and real WAV files: enabling rules, texts, the
// table and its cells, code entry, the context menu, drops and the brand look.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTimer>

#include "ui/drop_zone.h"
#include "ui/file_table.h"
#include "ui/main_window.h"
#include "ui/widgets.h"
#include "ui_support.h"

using namespace pelorix::test;
using namespace pelorix::ui;
using Status = Model::Status;
using T = FileTableModel;

namespace {

const QString kMessage = "Choose audio files (WAV, AIFF, MP3, FLAC, M4A) or folders";

QPalette palette(bool dark) {
    QPalette p;
    for (auto role : {QPalette::Window, QPalette::Button, QPalette::Base})
        p.setColor(role, dark ? QColor(0x26, 0x27, 0x2B) : QColor(0xEC, 0xEC, 0xEC));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(role, dark ? QColor(0xEE, 0xEE, 0xEE) : QColor(0x1A, 0x1A, 0x1A));
    return p;
}

class WindowTest : public ListTest {
  protected:
    void SetUp() override {
        QApplication::setPalette(palette(false));
        window = std::make_unique<MainWindow>(model, services(), QStringList{kMark});
    }
    PlatformServices services() {
        return {[this](QWidget*, const QString& message) {
                    panelMessages << message;
                    return panelAnswer;
                },
                [this](const QList<QUrl>& urls) { revealed << urls; }};
    }
    static void show(QWidget* w) {
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    }
    T& table() const { return *window->tableModel(); }
    QVariant cell(int row, int column, int role = Qt::DisplayRole) const {
        return table().index(row, column).data(role);
    }
    QColor colour(int row, int column) const {
        return cell(row, column, Qt::ForegroundRole).value<QColor>();
    }
    QLineEdit* editCode(int row) const {
        window->table()->edit(table().index(row, T::newColumn));
        return window->table()->codeDelegate()->openEditor();
    }
    bool send(QEvent* event) {
        QApplication::sendEvent(window.get(), event);
        return event->isAccepted();
    }

    const QString kMark = ":/PELORIX-mark.png";
    QStringList panelMessages;
    QList<QUrl> panelAnswer;
    QList<QList<QUrl>> revealed;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, ControlsFollowTheListTheSelectionAndBusy) {
    QAbstractItemModelTester tester(&table(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto expect = [&](bool sequence, bool remove, bool clear, bool write,
                            const QString& summary, const QString& title) {
        EXPECT_TRUE(window->addButton()->isEnabled() && window->backupBox()->isEnabled());
        EXPECT_EQ(window->sequenceButton()->isEnabled(), sequence);
        EXPECT_EQ(window->removeButton()->isEnabled(), remove);
        EXPECT_EQ(window->clearButton()->isEnabled(), clear);
        EXPECT_EQ(window->writeButton()->isEnabled(), write);
        EXPECT_EQ(window->summaryLabel()->text(), summary);
        EXPECT_EQ(window->writeButton()->text(), title);
        EXPECT_EQ(window->body()->currentWidget() == window->dropZone(), summary == "No files");
    };
    show(window.get());
    EXPECT_EQ(window->windowTitle(), "PELORIX");
    EXPECT_EQ(window->centralWidget()->size(), QSize(980, 600));
    EXPECT_EQ(window->centralWidget()->minimumSize(), QSize(820, 480));
    expect(false, false, false, false, "No files", "Write ISRC");
    EXPECT_EQ(MainWindow::summaryText(1), "1 file");

    addFiles(5);
    for (int i = 0; i < 3; ++i) model.setPending(id(i), QString("FI-ABC-26-0000%1").arg(i + 1));
    expect(true, false, true, true, "5 files", "Write ISRC (3)");
    // The selection is bound both ways, also while rows go.
    window->table()->selectRow(4);
    EXPECT_EQ(model.selection(), QSet<QUuid>{id(4)});
    model.setSelection({id(2), id(4)});
    model.remove({id(2)});
    EXPECT_EQ(window->table()->selectionModel()->selectedRows(),
              QModelIndexList{table().index(3, 0)});
    EXPECT_EQ(model.selection(), QSet<QUuid>{id(3)});
    expect(true, true, true, true, "4 files", "Write ISRC (2)");

    // Ctrl+Return writes; busy closes the open code field and keeps new ones from opening.
    QPointer<QLineEdit> editor = editCode(3);
    ASSERT_TRUE(editor);
    EXPECT_EQ(window->writeShortcut()->key(), QKeySequence(Qt::CTRL | Qt::Key_Return));
    QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(model.busy());
    expect(true, false, false, false, "4 files", "Writing\u2026");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(editor);
    EXPECT_EQ(editCode(3), nullptr);

    waitBatch();
    EXPECT_EQ(window->noticeLabel()->text(), "Wrote 2 ISRC codes.");
    expect(true, true, true, false, "4 files", "Write ISRC");
    EXPECT_NE(editCode(3), nullptr);
    QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);  // nothing ready
    EXPECT_FALSE(model.busy());

    window->backupBox()->click();  // bound both ways
    EXPECT_TRUE(model.backup());
    model.setBackup(false);
    EXPECT_FALSE(window->backupBox()->isChecked());
    window->clearButton()->click();
    expect(false, false, false, false, "No files", "Write ISRC");
}

TEST_F(WindowTest, CellsForEveryStatusAndReadiness) {
    addFiles(10, {{1, "FIABC2600001"}, {4, "FIABC2600004"}});
    const QString longMessage =
        "The file could not be written because the folder that holds it is read-only; the "
        "original is unchanged and no temporary file was left behind.";
    const char* pendings[] = {
        "", "", "FI-ABC-26-00003", "fi-abc-26-00004", "FI-ABC", "FIABC2600009", "fi-abc-26-00009"};
    for (int r = 0; r < 7; ++r) model.setPending(id(r), pendings[r]);
    model.setStatus(id(7), Status::done("Written"));
    model.setStatus(id(8), Status::failed(longMessage));
    model.setStatus(id(9), Status::writing());
    for (bool dark : {true, false}) {
        const QPalette pal = palette(dark);
        table().setPalette(pal);
        const QColor secondary = look::secondary(pal), red = look::red(dark);
        const struct {
            QString text, symbol;
            QColor colour;
        } rows[] = {
            {"Has ISRC", "", secondary},
            {"No ISRC", "", secondary},
            {"Ready", "circle.dotted", QColor::fromRgb(dark ? 0x5ECAD7 : 0x068E9A)},
            {"Up to date", "checkmark.circle", secondary},
            {"Not a valid ISRC", "exclamationmark.circle", red},
            {"Used twice in this list", "exclamationmark.circle", red},
            {"Used twice in this list", "exclamationmark.circle", red},
            {"Written", "checkmark.circle.fill", look::green(dark)},
            {longMessage, "exclamationmark.triangle.fill", red},
            {"Writing\u2026", "", QColor()},
        };
        for (int r = 0; r < 10; ++r) {
            EXPECT_EQ(cell(r, T::statusColumn).toString(), rows[r].text) << r;
            EXPECT_EQ(cell(r, T::statusColumn, T::SymbolRole).toString(), rows[r].symbol) << r;
            EXPECT_EQ(colour(r, T::statusColumn), rows[r].colour) << r << dark;
            // The code field is red exactly for invalid and duplicate codes.
            EXPECT_EQ(colour(r, T::newColumn), r >= 4 && r <= 6 ? red : look::primary(pal)) << r;
        }
        EXPECT_NE(secondary, look::primary(pal));
        EXPECT_EQ(colour(0, T::currentColumn), look::primary(pal));
        EXPECT_EQ(colour(1, T::currentColumn), secondary);
    }
    EXPECT_EQ(cell(8, T::statusColumn, Qt::ToolTipRole).toString(), longMessage);
    EXPECT_FALSE(cell(7, T::statusColumn, Qt::ToolTipRole).isValid());
    const QStringList row0 = {
        cell(0, T::fileColumn).toString(), cell(0, T::formatColumn).toString(),
        cell(0, T::currentColumn).toString(), cell(0, T::fileColumn, Qt::ToolTipRole).toString()};
    EXPECT_EQ(row0, QStringList({"1.wav", "WAV", "FI-ABC-26-00001",
                                 QString::fromStdString((dir / "1.wav").string())}));
    EXPECT_EQ(cell(1, T::currentColumn).toString(), "\u2014");
    QStringList headers;
    for (int c = 0; c < T::columnCount_; ++c)
        headers << table().headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, QStringList({"File", "Format", "Current ISRC", "New ISRC", "Status"}));

    // Painted too: the filled symbols of "Written" and of the failure show their colours.
    FileTable* view = window->table();
    show(window.get());
    const QImage image = view->viewport()->grab().toImage();
    const QRect cells = view->visualRect(table().index(7, T::statusColumn)) |
                        view->visualRect(table().index(8, T::statusColumn));
    QSet<QRgb> painted;
    for (int y = cells.top(); y <= cells.bottom(); ++y)
        for (int x = cells.left(); x <= cells.right(); ++x) painted << image.pixel(x, y);
    EXPECT_TRUE(painted.contains(look::green(false).rgb()));
    EXPECT_TRUE(painted.contains(look::red(false).rgb()));
    // A failure takes a second line; the row shrinks back once it is edited.
    EXPECT_GT(view->rowHeight(8), view->rowHeight(7));
    model.setPending(id(8), "");
    EXPECT_EQ(view->rowHeight(8), view->rowHeight(7));
}

TEST_F(WindowTest, AnEditElsewhereRefreshesDuplicateRows) {
    addFiles(3);
    model.setPending(id(0), "FIABC2600001");
    model.setPending(id(1), "FIABC2600002");
    EXPECT_EQ(cell(0, T::statusColumn).toString(), "Ready");
    QSignalSpy changed(&table(), &QAbstractItemModel::dataChanged);
    model.setPending(id(2), "fi-abc-26-00001");
    EXPECT_EQ(cell(0, T::statusColumn).toString(), "Used twice in this list");
    EXPECT_EQ(window->writeButton()->text(), "Write ISRC (1)");
    EXPECT_TRUE(std::any_of(changed.begin(), changed.end(), [](const QList<QVariant>& args) {
        return args[0].value<QModelIndex>().row() == 0 &&
               args[1].value<QModelIndex>().column() == T::statusColumn;
    }));
}

TEST_F(WindowTest, TypingKeepsTheRawTextAndReturnTidiesIt) {
    addFiles(3);
    show(window.get());
    QLineEdit* editor = editCode(0);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->placeholderText(), "CC-XXX-YY-NNNNN");
    QTest::keyClicks(editor, "fia");
    EXPECT_EQ(model.items()[0].pending, "fia");
    EXPECT_EQ(cell(0, T::statusColumn).toString(), "Not a valid ISRC");
    QTest::keyClicks(editor, "bc2600001");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(model.items()[0].pending, "FI-ABC-26-00001");
    QApplication::processEvents();

    // Leaving the field by clicking another row keeps the text as typed.
    editor = editCode(1);
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "fiabc2600002");
    const QRect other = window->table()->visualRect(table().index(2, T::newColumn));
    QTest::mouseClick(window->table()->viewport(), Qt::LeftButton, {}, other.center());
    QApplication::processEvents();
    EXPECT_EQ(model.items()[1].pending, "fiabc2600002");
}

TEST_F(WindowTest, ContextMenuAndRemovalConfirmation) {
    addFiles(4);
    FileTable* view = window->table();
    model.setSelection({id(3), id(0)});
    EXPECT_EQ(view->contextIds(0), QSet<QUuid>({id(0), id(3)}));  // inside the selection
    EXPECT_EQ(view->contextIds(1), QSet<QUuid>({id(1)}));         // outside it
    EXPECT_EQ(view->contextIds(-1), QSet<QUuid>());               // below the rows
    QStringList titles;
    for (QAction* a : window->contextMenu({})->actions()) titles << a->text();
    EXPECT_EQ(titles, QStringList({"Remove from list", "Remove ISRC from file\u2026",
                                   "Show in File Manager"}));

    // Show in the file manager: one call, in list order whatever the order of the set; without
    // a file manager that selects files, each parent folder opens once, in order.
    window->contextMenu({id(3), id(0)})->actions()[2]->trigger();
    EXPECT_EQ(revealed, QList<QList<QUrl>>({{model.items()[0].url, model.items()[3].url}}));
    EXPECT_EQ(parentFolders({QUrl::fromLocalFile("/m/b/2.wav"), QUrl::fromLocalFile("/m/a/1.wav"),
                             QUrl::fromLocalFile("/m/b/3.wav")}),
              QList<QUrl>({QUrl::fromLocalFile("/m/b"), QUrl::fromLocalFile("/m/a")}));

    // Remove ISRC: the menu's rows become the selection, then the confirmation asks.
    window->contextMenu({id(1)})->actions()[1]->trigger();
    EXPECT_EQ(model.selection(), QSet<QUuid>({id(1)}));
    QMessageBox* box = window->removalDialog();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), "Remove the ISRC from the selected files?");
    EXPECT_EQ(box->informativeText(), "The audio is not touched. Other tags stay as they are.");
    for (QAbstractButton* b : box->buttons()) {
        if (b->text() != "Remove ISRC") continue;
        EXPECT_EQ(box->buttonRole(b), QMessageBox::DestructiveRole);
        b->click();
    }
    EXPECT_EQ(model.notice(), QString("None of the selected files has an ISRC."));
    window->contextMenu({id(0), id(3)})->actions()[0]->trigger();
    EXPECT_EQ(names(), QStringList({"2.wav", "3.wav"}));
}

TEST_F(WindowTest, AddButtonsAndMenuCommandUseThePanel) {
    window->addButton()->click();  // cancelled: nothing at all happens
    EXPECT_FALSE(model.adding());
    EXPECT_FALSE(model.notice());
    panelAnswer = {urlOf(makeWav(dir / "b.wav")), urlOf(makeWav(dir / "a.wav"))};
    window->dropZone()->addButton()->click();
    waitAdded();
    EXPECT_EQ(names(), QStringList({"a.wav", "b.wav"}));

    EXPECT_EQ(window->addFilesAction()->text(), "Add Files\u2026");
    EXPECT_EQ(window->addFilesAction()->shortcut(), QKeySequence(QKeySequence::Open));
    panelAnswer = {urlOf(makeWav(dir / "c.wav"))};
    window->addFilesAction()->trigger();
    waitAdded();
    EXPECT_EQ(panelMessages, QStringList({kMessage, kMessage, ""}));
    EXPECT_EQ(model.items().size(), 3);
}

TEST_F(WindowTest, DropsTakeLocalUrlsEachInItsOwnAdd) {
    QMimeData text, web, files;
    text.setText("/tmp/a.wav");
    web.setUrls({QUrl("https://example.com/a.wav")});
    for (QMimeData* mime : {&text, &web}) {
        QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, mime, Qt::LeftButton, {});
        EXPECT_FALSE(send(&refused));
    }
    EXPECT_FALSE(window->targeted());

    // As one add the files would hide the empty folder's notice; as separate adds it shows.
    makeWav(dir / "empty" / "notes.txt");
    files.setUrls({urlOf(dir / "empty"), QUrl("https://example.com/x.wav"),
                   urlOf(makeWav(dir / "a.wav")), urlOf(makeWav(dir / "b.wav"))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(send(&enter));
    EXPECT_TRUE(window->targeted());
    QDragLeaveEvent leave;
    send(&leave);
    EXPECT_FALSE(window->targeted());
    send(&enter);
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(send(&drop));
    EXPECT_FALSE(window->targeted());
    QApplication::processEvents();
    waitAdded();
    EXPECT_EQ(model.items().size(), 2);
    EXPECT_TRUE(model.notice());  // from the folder's own add
}

TEST_F(WindowTest, BrandColoursFollowThePalette) {
    addFiles(1);
    model.setPending(id(0), "FIABC2600001");
    for (bool dark : {true, false}) {
        QApplication::setPalette(palette(dark));  // the open window recolours itself
        QApplication::processEvents();
        const QColor accent = QColor::fromRgb(dark ? 0x5ECAD7 : 0x068E9A);
        EXPECT_EQ(window->brandTitle()->headColor(), QColor::fromRgb(dark ? 0xF3F4F6 : 0x1C1D22));
        EXPECT_EQ(window->brandTitle()->tailColor(), accent);
        EXPECT_EQ(window->taglineLabel()->palette().color(QPalette::WindowText),
                  QColor::fromRgb(dark ? 0x9A9FAB : 0x555965));
        EXPECT_EQ(window->palette().color(QPalette::Highlight), accent);
        EXPECT_EQ(colour(0, T::statusColumn), accent);
    }
}

TEST_F(WindowTest, TheHeaderWorksWithoutTheMark) {
    writeFile(dir / "junk.png", bytesOf("not an image"));
    // The first place that has the file decides, even when it cannot be read.
    MainWindow bare(model, services(),
                    {QString::fromStdString((dir / "junk.png").string()), kMark});
    show(&bare);
    show(window.get());
    EXPECT_FALSE(bare.markLabel()->isVisible());
    EXPECT_TRUE(window->markLabel()->isVisible());
    EXPECT_LT(bare.brandTitle()->x(), window->brandTitle()->x());
}

TEST_F(WindowTest, LargeFolderFillsWhileTheWindowStaysLive) {
    for (int i = 0; i < 2000; ++i) makeWav(dir / "many" / (std::to_string(i) + ".wav"));
    show(window.get());
    model.add({urlOf(dir / "many")});
    EXPECT_EQ(table().rowCount(), 0);  // nothing is probed inside the call
    int ticksWhileFilling = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (table().rowCount() > 0 && table().rowCount() < 2000) ++ticksWhileFilling;
    });
    tick.start(0);
    waitAdded();
    EXPECT_EQ(window->summaryLabel()->text(), "2000 files");
    EXPECT_GT(ticksWhileFilling, 0);
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QApplication>(argc, argv);
}
