// The main window driven offscreen over a real Model and real WAV files: enabling rules, texts,
// the table adapter and its cells, code entry, the context menu, the removal confirmation,
// drops, the brand colours and the mark.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QListView>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>

#include "core/audio_tagger.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "ui/brand.h"
#include "ui/drop_zone.h"
#include "ui/file_table.h"
#include "ui/file_table_model.h"
#include "ui/main_window.h"
#include "ui/model.h"
#include "ui/platform.h"
#include "ui/widgets.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QColor& c, std::ostream* os) { *os << c.name(QColor::HexArgb).toStdString(); }
QT_END_NAMESPACE

namespace fs = std::filesystem;
using pelorix::test::TempDir;
using namespace pelorix::ui;
using Kind = Model::Status::Kind;
using Status = Model::Status;

namespace {

QUrl urlOf(const fs::path& p) { return QUrl::fromLocalFile(QString::fromStdString(p.string())); }

// A small playable WAV, carrying the code when one is given (written by the real driver).
fs::path makeWav(const fs::path& p, const std::optional<std::string>& code = std::nullopt) {
    fs::create_directories(p.parent_path());
    pelorix::test::writeFile(p, pelorix::test::chunks::wav(16));
    if (code) pelorix::AudioTagger::writeISRC(p, *code, false);
    return p;
}

QPalette lightPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0xEC, 0xEC, 0xEC));
    p.setColor(QPalette::WindowText, QColor(0x1A, 0x1A, 0x1A));
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, QColor(0x1A, 0x1A, 0x1A));
    p.setColor(QPalette::Button, QColor(0xF4, 0xF4, 0xF4));
    p.setColor(QPalette::ButtonText, QColor(0x1A, 0x1A, 0x1A));
    return p;
}

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x26, 0x27, 0x2B));
    p.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    p.setColor(QPalette::Base, QColor(0x1E, 0x1F, 0x22));
    p.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    p.setColor(QPalette::Button, QColor(0x33, 0x34, 0x38));
    p.setColor(QPalette::ButtonText, QColor(0xEE, 0xEE, 0xEE));
    return p;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setPalette(lightPalette());
        window = std::make_unique<MainWindow>(model, services(),
                                              QStringList{QStringLiteral(":/PELORIX-mark.png")});
    }
    void TearDown() override { window.reset(); }

    PlatformServices services() {
        return {[this](QWidget*, const QString& message) {
                    panelMessages << message;
                    return panelAnswer;
                },
                [this](const QList<QUrl>& urls) { revealed << urls; }};
    }

    void waitAdded() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model.adding(); }, 120000));
    }
    void waitBatch() { ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 120000)); }

    // Files named 1.wav, 2.wav, … (n of them), the given ones carrying a code.
    void addFiles(int n, const std::map<int, std::string>& codes = {}) {
        QList<QUrl> urls;
        for (int i = 1; i <= n; ++i) {
            const auto c = codes.find(i);
            urls << urlOf(makeWav(dir / "files" / (std::to_string(i) + ".wav"),
                                  c == codes.end() ? std::nullopt : std::optional(c->second)));
        }
        model.add(urls);
        waitAdded();
        ASSERT_EQ(model.items().size(), n);
    }

    QUuid id(int row) const { return model.items()[row].id; }
    FileTableModel& table() const { return *window->tableModel(); }
    QModelIndex cell(int row, int column) const { return table().index(row, column); }

    void showAndActivate() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    TempDir dir;
    Model model;
    QList<QString> panelMessages;
    QList<QUrl> panelAnswer;
    QList<QList<QUrl>> revealed;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, EmptyListShowsTheDropZoneAndDisablesListCommands) {
    EXPECT_EQ(window->windowTitle(), "PELORIX");
    EXPECT_EQ(window->body()->currentWidget(), window->dropZone());
    EXPECT_TRUE(window->addButton()->isEnabled());
    EXPECT_FALSE(window->sequenceButton()->isEnabled());
    EXPECT_FALSE(window->removeButton()->isEnabled());
    EXPECT_FALSE(window->clearButton()->isEnabled());
    EXPECT_EQ(window->writeButton()->text(), "Write ISRC");
    EXPECT_FALSE(window->writeButton()->isEnabled());
    EXPECT_EQ(window->summaryLabel()->text(), "No files");
    EXPECT_GE(window->centralWidget()->minimumWidth(), 820);
    EXPECT_GE(window->centralWidget()->minimumHeight(), 480);
}

TEST_F(WindowTest, SummaryAndWriteButtonTitles) {
    const std::vector<std::pair<int, QString>> summaries = {
        {0, "No files"}, {1, "1 file"}, {2, "2 files"}, {120, "120 files"}};
    for (const auto& [n, text] : summaries) EXPECT_EQ(MainWindow::summaryText(n), text) << n;

    struct Title {
        bool busy;
        int ready;
        QString text;
    };
    for (const Title& t : {Title{false, 0, "Write ISRC"}, Title{false, 1, "Write ISRC (1)"},
                           Title{false, 3, "Write ISRC (3)"}, Title{true, 0, "Writing\u2026"},
                           Title{true, 3, "Writing\u2026"}})
        EXPECT_EQ(MainWindow::writeButtonTitle(t.busy, t.ready), t.text) << t.busy << t.ready;

    addFiles(1);
    EXPECT_EQ(window->summaryLabel()->text(), "1 file");
    EXPECT_EQ(window->body()->currentWidget(), window->table());
    EXPECT_TRUE(window->sequenceButton()->isEnabled());
    EXPECT_TRUE(window->clearButton()->isEnabled());
    EXPECT_FALSE(window->removeButton()->isEnabled());
    addFiles(2);
    EXPECT_EQ(window->summaryLabel()->text(), "2 files");

    window->clearButton()->click();
    EXPECT_EQ(window->summaryLabel()->text(), "No files");
    EXPECT_EQ(window->body()->currentWidget(), window->dropZone());
}

TEST_F(WindowTest, WriteButtonShortcutAndBusyState) {
    addFiles(4);
    for (int i = 0; i < 3; ++i) model.setPending(id(i), QString("FI-ABC-26-0000%1").arg(i + 1));
    EXPECT_EQ(window->writeButton()->text(), "Write ISRC (3)");
    EXPECT_TRUE(window->writeButton()->isEnabled());
    EXPECT_EQ(window->writeShortcut()->key(), QKeySequence(Qt::CTRL | Qt::Key_Return));

    showAndActivate();
    window->table()->selectRow(3);
    EXPECT_TRUE(window->removeButton()->isEnabled());

    QSignalSpy busy(&model, &Model::busyChanged);
    QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(model.busy()) << "Ctrl+Return did not start the write";
    EXPECT_EQ(window->writeButton()->text(), "Writing\u2026");
    EXPECT_FALSE(window->writeButton()->isEnabled());
    EXPECT_FALSE(window->removeButton()->isEnabled());
    EXPECT_FALSE(window->clearButton()->isEnabled());
    EXPECT_TRUE(window->addButton()->isEnabled());
    EXPECT_TRUE(window->sequenceButton()->isEnabled());
    EXPECT_TRUE(window->backupBox()->isEnabled());
    EXPECT_FALSE(table().flags(cell(3, FileTableModel::newColumn)) & Qt::ItemIsEditable);

    waitBatch();
    EXPECT_EQ(window->noticeLabel()->text(), "Wrote 3 ISRC codes.");
    EXPECT_TRUE(window->noticeLabel()->isVisibleTo(window.get()));
    EXPECT_EQ(window->writeButton()->text(), "Write ISRC");
    EXPECT_TRUE(table().flags(cell(3, FileTableModel::newColumn)) & Qt::ItemIsEditable);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cell(i, FileTableModel::statusColumn).data().toString(), "Written");
        EXPECT_EQ(cell(i, FileTableModel::currentColumn).data().toString(),
                  QString("FI-ABC-26-0000%1").arg(i + 1));
    }
    // Nothing is ready any more: the shortcut does nothing.
    QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(model.busy());
}

TEST_F(WindowTest, StatusCellsForEveryStatusAndReadiness) {
    addFiles(10, {{1, "FIABC2600001"}, {4, "FIABC2600004"}});
    const QString longMessage =
        "The file could not be written because the folder that holds it is read-only; the "
        "original is unchanged and no temporary file was left behind.";
    model.setPending(id(2), "FI-ABC-26-00003");
    model.setPending(id(3), "fi-abc-26-00004");
    model.setPending(id(4), "FI-ABC");
    model.setPending(id(5), "FIABC2600009");
    model.setPending(id(6), "fi-abc-26-00009");
    model.setStatus(id(7), Status::done("Written"));
    model.setStatus(id(8), Status::failed(longMessage));
    model.setStatus(id(9), Status::writing());

    struct Row {
        QString text;
        QString symbol;
        enum Colour { none, secondary, accent, red, green } colour;
    };
    const std::vector<Row> rows = {
        {"Has ISRC", "", Row::secondary},
        {"No ISRC", "", Row::secondary},
        {"Ready", "circle.dotted", Row::accent},
        {"Up to date", "checkmark.circle", Row::secondary},
        {"Not a valid ISRC", "exclamationmark.circle", Row::red},
        {"Used twice in this list", "exclamationmark.circle", Row::red},
        {"Used twice in this list", "exclamationmark.circle", Row::red},
        {"Written", "checkmark.circle.fill", Row::green},
        {longMessage, "exclamationmark.triangle.fill", Row::red},
        {"Writing\u2026", "", Row::none},
    };
    for (bool dark : {false, true}) {
        const QPalette palette = dark ? darkPalette() : lightPalette();
        table().setPalette(palette);
        for (int r = 0; r < int(rows.size()); ++r) {
            const QModelIndex status = cell(r, FileTableModel::statusColumn);
            SCOPED_TRACE(testing::Message() << "row " << r << (dark ? " dark" : " light"));
            EXPECT_EQ(status.data().toString(), rows[r].text);
            EXPECT_EQ(status.data(FileTableModel::SymbolRole).toString(), rows[r].symbol);
            const QVariant colour = status.data(Qt::ForegroundRole);
            switch (rows[r].colour) {
                case Row::none:
                    EXPECT_FALSE(colour.isValid());
                    break;
                case Row::secondary:
                    EXPECT_EQ(colour.value<QColor>(), look::secondary(palette));
                    break;
                case Row::accent:
                    EXPECT_EQ(colour.value<QColor>(),
                              QColor::fromRgb(dark ? 0x5ECAD7 : 0x068E9A));
                    break;
                case Row::red:
                    EXPECT_EQ(colour.value<QColor>(), look::red(dark));
                    break;
                case Row::green:
                    EXPECT_EQ(colour.value<QColor>(), look::green(dark));
                    break;
            }
            // The code field is red exactly for invalid and duplicate codes.
            const bool redField = r == 4 || r == 5 || r == 6;
            EXPECT_EQ(cell(r, FileTableModel::newColumn).data(Qt::ForegroundRole).value<QColor>(),
                      redField ? look::red(dark) : look::primary(palette));
        }
        // The secondary colour is not the primary one, or the checks above prove little.
        EXPECT_NE(look::secondary(palette), look::primary(palette));
    }
    // Only a failure has a tooltip with its whole text.
    EXPECT_EQ(cell(8, FileTableModel::statusColumn).data(Qt::ToolTipRole).toString(), longMessage);
    EXPECT_FALSE(cell(7, FileTableModel::statusColumn).data(Qt::ToolTipRole).isValid());

    // "Current ISRC": the formatted code in the primary colour, or a dash in the secondary.
    table().setPalette(lightPalette());
    EXPECT_EQ(cell(0, FileTableModel::currentColumn).data().toString(), "FI-ABC-26-00001");
    EXPECT_EQ(cell(0, FileTableModel::currentColumn).data(Qt::ForegroundRole).value<QColor>(),
              look::primary(lightPalette()));
    EXPECT_EQ(cell(1, FileTableModel::currentColumn).data().toString(), "\u2014");
    EXPECT_EQ(cell(1, FileTableModel::currentColumn).data(Qt::ForegroundRole).value<QColor>(),
              look::secondary(lightPalette()));
    EXPECT_EQ(cell(0, FileTableModel::fileColumn).data().toString(), "1.wav");
    EXPECT_EQ(cell(0, FileTableModel::fileColumn).data(Qt::ToolTipRole).toString(),
              QString::fromStdString((dir / "files" / "1.wav").string()));
    EXPECT_EQ(cell(0, FileTableModel::formatColumn).data().toString(), "WAV");

    // A failed row grows to two lines; the others keep one.
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_GT(window->table()->rowHeight(8), window->table()->rowHeight(7));
    model.setPending(id(8), "");
    EXPECT_EQ(window->table()->rowHeight(8), window->table()->rowHeight(7));
}

TEST_F(WindowTest, DuplicatesFollowEditsOfOtherRows) {
    addFiles(3);
    model.setPending(id(0), "FIABC2600001");
    model.setPending(id(1), "FIABC2600002");
    EXPECT_EQ(cell(0, FileTableModel::statusColumn).data().toString(), "Ready");
    QSignalSpy changed(&table(), &QAbstractItemModel::dataChanged);
    // Editing row 2 turns row 0 into a duplicate too: its cell must be told.
    model.setPending(id(2), "fi-abc-26-00001");
    EXPECT_EQ(cell(0, FileTableModel::statusColumn).data().toString(), "Used twice in this list");
    bool row0Told = false;
    for (const auto& args : changed) {
        const auto tl = args[0].value<QModelIndex>(), br = args[1].value<QModelIndex>();
        if (tl.row() <= 0 && br.row() >= 0 && br.column() >= FileTableModel::statusColumn)
            row0Told = true;
    }
    EXPECT_TRUE(row0Told);
    EXPECT_EQ(window->writeButton()->text(), "Write ISRC (1)");
}

TEST_F(WindowTest, TypingKeepsTheRawTextAndReturnTidiesIt) {
    addFiles(3);
    showAndActivate();
    FileTable* view = window->table();

    view->edit(cell(0, FileTableModel::newColumn));
    QLineEdit* editor = view->codeDelegate()->openEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->placeholderText(), "CC-XXX-YY-NNNNN");
    QTest::keyClicks(editor, "fia");
    EXPECT_EQ(model.items()[0].pending, "fia");
    EXPECT_EQ(cell(0, FileTableModel::statusColumn).data().toString(), "Not a valid ISRC");
    QTest::keyClicks(editor, "bc2600001");
    EXPECT_EQ(model.items()[0].pending, "fiabc2600001");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(model.items()[0].pending, "FI-ABC-26-00001");
    QApplication::processEvents();

    // Leaving the field by clicking into another row keeps the text as typed, and the click
    // opens that row's field.
    view->edit(cell(1, FileTableModel::newColumn));
    editor = view->codeDelegate()->openEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "fiabc2600002");
    const QRect target = view->visualRect(cell(2, FileTableModel::newColumn));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, target.center());
    QApplication::processEvents();
    EXPECT_EQ(model.items()[1].pending, "fiabc2600002");

    // An invalid text stays as typed on Return too.
    editor = view->codeDelegate()->openEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, "FI-ABC-26");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(model.items()[2].pending, "FI-ABC-26");
}

TEST_F(WindowTest, BusyClosesAnOpenCodeField) {
    addFiles(2);
    model.setPending(id(0), "FI-ABC-26-00001");
    showAndActivate();
    window->table()->edit(cell(1, FileTableModel::newColumn));
    QPointer<QLineEdit> editor = window->table()->codeDelegate()->openEditor();
    ASSERT_TRUE(editor);
    window->writeButton()->click();
    ASSERT_TRUE(model.busy());
    QApplication::processEvents();
    EXPECT_TRUE(!editor || !editor->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(editor);
    EXPECT_EQ(window->table()->codeDelegate()->openEditor(), nullptr);
    // No new field opens while busy.
    window->table()->edit(cell(1, FileTableModel::newColumn));
    EXPECT_EQ(window->table()->codeDelegate()->openEditor(), nullptr);
    waitBatch();
}

TEST_F(WindowTest, SelectionIsBoundBothWays) {
    addFiles(4);
    FileTable* view = window->table();
    view->selectionModel()->select(cell(1, 0), QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
    view->selectionModel()->select(cell(3, 0), QItemSelectionModel::Select |
                                                   QItemSelectionModel::Rows);
    EXPECT_EQ(model.selection(), QSet<QUuid>({id(1), id(3)}));
    EXPECT_TRUE(window->removeButton()->isEnabled());

    model.setSelection({id(0), id(2)});
    QSet<int> rows;
    for (const QModelIndex& i : view->selectionModel()->selectedRows()) rows.insert(i.row());
    EXPECT_EQ(rows, QSet<int>({0, 2}));

    // Removing a selected row keeps the two sides in step.
    model.remove({id(0)});
    rows.clear();
    for (const QModelIndex& i : view->selectionModel()->selectedRows()) rows.insert(i.row());
    EXPECT_EQ(rows, QSet<int>({1}));
    EXPECT_EQ(model.selection(), QSet<QUuid>({model.items()[1].id}));

    model.setSelection({});
    EXPECT_FALSE(view->selectionModel()->hasSelection());
    EXPECT_FALSE(window->removeButton()->isEnabled());
}

TEST_F(WindowTest, ContextMenuIdsAndActions) {
    addFiles(4, {{2, "FIABC2600002"}});
    FileTable* view = window->table();
    model.setSelection({id(3), id(0)});
    EXPECT_EQ(view->contextIds(0), QSet<QUuid>({id(0), id(3)}));  // inside the selection
    EXPECT_EQ(view->contextIds(1), QSet<QUuid>({id(1)}));          // outside it
    EXPECT_EQ(view->contextIds(-1), QSet<QUuid>());                // below the rows

    QMenu* menu = window->contextMenu({id(3), id(0)});
    QStringList titles;
    for (QAction* a : menu->actions()) titles << a->text();
    EXPECT_EQ(titles, QStringList({"Remove from list", "Remove ISRC from file\u2026",
                                   "Show in File Manager"}));

    // Show in the file manager: one call, in list order whatever the selection order.
    menu->actions()[2]->trigger();
    ASSERT_EQ(revealed.size(), 1);
    EXPECT_EQ(revealed[0], QList<QUrl>({model.items()[0].url, model.items()[3].url}));

    // Remove ISRC from a row outside the selection: it becomes the selection, then asks.
    window->contextMenu({id(1)})->actions()[1]->trigger();
    EXPECT_EQ(model.selection(), QSet<QUuid>({id(1)}));
    ASSERT_TRUE(window->removalDialog());
    EXPECT_TRUE(window->confirmRemove());
    window->removalDialog()->reject();
    QApplication::processEvents();
    EXPECT_FALSE(window->confirmRemove());
    EXPECT_EQ(model.selection(), QSet<QUuid>({id(1)}));
    EXPECT_FALSE(model.busy());
    EXPECT_EQ(model.notice(), std::nullopt);

    // Remove from list takes exactly the menu's rows.
    const QUuid kept = id(1), kept2 = id(2);
    window->contextMenu({id(0), id(3)})->actions()[0]->trigger();
    ASSERT_EQ(model.items().size(), 2);
    EXPECT_EQ(model.items()[0].id, kept);
    EXPECT_EQ(model.items()[1].id, kept2);

    // With no rows, the menu still offers its items and they change nothing.
    window->contextMenu({})->actions()[2]->trigger();
    EXPECT_EQ(revealed.size(), 1);
}

TEST_F(WindowTest, RemovalConfirmationTextsAndOutcome) {
    addFiles(2, {{2, "FIABC2600002"}});
    model.setSelection({id(0)});
    window->removeButton()->click();
    QMessageBox* box = window->removalDialog();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), "Remove the ISRC from the selected files?");
    EXPECT_EQ(box->informativeText(), "The audio is not touched. Other tags stay as they are.");
    QPushButton* remove = nullptr;
    for (QAbstractButton* b : box->buttons()) {
        if (b->text() == "Remove ISRC") remove = qobject_cast<QPushButton*>(b);
    }
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(box->buttonRole(remove), QMessageBox::DestructiveRole);
    remove->click();
    QApplication::processEvents();
    EXPECT_EQ(model.notice(), QString("None of the selected files has an ISRC."));

    // With a coded file selected, the code goes from the file.
    const fs::path coded = dir / "files" / "2.wav";
    model.setSelection({id(1)});
    window->removeButton()->click();
    box = window->removalDialog();
    ASSERT_TRUE(box);
    for (QAbstractButton* b : box->buttons()) {
        if (b->text() == "Remove ISRC") b->click();
    }
    waitBatch();
    EXPECT_EQ(pelorix::AudioTagger::readISRC(coded), std::nullopt);
    EXPECT_EQ(cell(1, FileTableModel::statusColumn).data().toString(), "Removed");
}

TEST_F(WindowTest, OpenPanelAndMenuCommand) {
    const fs::path a = makeWav(dir / "in" / "a.wav");
    const fs::path b = makeWav(dir / "in" / "b.wav");
    panelAnswer = {};
    window->addButton()->click();
    ASSERT_EQ(panelMessages.size(), 1);
    EXPECT_EQ(panelMessages[0], "Choose audio files (WAV, AIFF, MP3, FLAC, M4A) or folders");
    QApplication::processEvents();
    EXPECT_TRUE(model.items().isEmpty());
    EXPECT_EQ(model.notice(), std::nullopt);  // a cancelled panel does nothing at all

    panelAnswer = {urlOf(b), urlOf(a)};
    window->dropZone()->addButton()->click();
    waitAdded();
    ASSERT_EQ(model.items().size(), 2);
    EXPECT_EQ(panelMessages.size(), 2);

    EXPECT_EQ(window->addFilesAction()->text(), "Add Files\u2026");
    EXPECT_EQ(window->addFilesAction()->shortcut(), QKeySequence(QKeySequence::Open));
    panelAnswer = {urlOf(makeWav(dir / "in" / "c.wav"))};
    window->addFilesAction()->trigger();
    waitAdded();
    EXPECT_EQ(panelMessages.last(), "");  // the menu command sets no message
    EXPECT_EQ(model.items().size(), 3);
}

TEST_F(WindowTest, DropsTakeFileUrlsOnlyEachInItsOwnAdd) {
    // What a drag carries.
    QMimeData text;
    text.setText("/tmp/a.wav");
    EXPECT_TRUE(droppedUrls(&text).isEmpty());
    QMimeData mixed;
    mixed.setUrls({QUrl("https://example.com/a.wav"), QUrl::fromLocalFile("/x/b.wav")});
    EXPECT_EQ(droppedUrls(&mixed), QList<QUrl>({QUrl::fromLocalFile("/x/b.wav")}));

    // Plain text is refused and does not light the frame.
    QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &refused);
    EXPECT_FALSE(refused.isAccepted());
    EXPECT_FALSE(window->targeted());

    // A folder holding no audio and a file: as one add the file would silence the "nothing
    // found" notice; as separate adds the folder's own call sets it.
    fs::create_directories(dir / "empty");
    pelorix::test::writeFile(dir / "empty" / "notes.txt", pelorix::test::bytesOf("hello"));
    const fs::path song = makeWav(dir / "drop" / "song.wav");
    const fs::path other = makeWav(dir / "drop" / "other.wav");
    QMimeData files;
    files.setUrls({urlOf(dir / "empty"), urlOf(song), urlOf(other)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(window->targeted());
    QDragLeaveEvent leave;
    QApplication::sendEvent(window.get(), &leave);
    EXPECT_FALSE(window->targeted());

    QApplication::sendEvent(window.get(), &enter);
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_FALSE(window->targeted());
    QApplication::processEvents();
    waitAdded();
    EXPECT_EQ(model.items().size(), 2);
    EXPECT_EQ(model.notice(), QString("No supported audio files found (WAV, AIFF, MP3, FLAC, M4A)."));
}

TEST_F(WindowTest, BackupCheckboxFollowsTheModelBothWays) {
    const bool before = model.backup();
    window->backupBox()->click();
    EXPECT_EQ(model.backup(), !before);
    model.setBackup(before);
    EXPECT_EQ(window->backupBox()->isChecked(), before);
    EXPECT_EQ(window->backupBox()->text(), "Keep a backup copy of each file");
}

TEST_F(WindowTest, AdapterPassesTheItemModelChecks) {
    QAbstractItemModelTester tester(&table(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    addFiles(5);
    model.setPending(id(1), "FIABC2600001");
    model.setPending(id(3), "FIABC2600001");
    model.setSelection({id(1), id(2)});
    model.remove({id(0), id(2), id(4)});
    EXPECT_EQ(table().rowCount(), 2);
    EXPECT_EQ(table().columnCount(), 5);
    EXPECT_EQ(cell(0, FileTableModel::statusColumn).data().toString(), "Used twice in this list");
    EXPECT_TRUE(table().setData(cell(1, FileTableModel::newColumn), "FIABC2600003"));
    EXPECT_FALSE(table().setData(cell(1, FileTableModel::fileColumn), "x.wav"));
    EXPECT_EQ(cell(0, FileTableModel::statusColumn).data().toString(), "Ready");
    QStringList headers;
    for (int c = 0; c < 5; ++c) headers << table().headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, QStringList({"File", "Format", "Current ISRC", "New ISRC", "Status"}));
    model.clear();
    EXPECT_EQ(table().rowCount(), 0);
}

TEST_F(WindowTest, ColumnsKeepTheirMinimumWidths) {
    addFiles(1);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QHeaderView* header = window->table()->horizontalHeader();
    for (int c = 0; c < FileTableModel::columnCount_; ++c) {
        header->resizeSection(c, 10);
        EXPECT_GE(header->sectionSize(c), FileTable::kMinimumWidths[c]) << c;
    }
}

TEST_F(WindowTest, BrandColoursFollowThePalette) {
    struct Case {
        const Brand::Color& colour;
        QRgb dark, light;
    };
    for (const Case& c : {Case{Brand::accent(), 0x5ECAD7, 0x068E9A},
                          Case{Brand::text(), 0xF3F4F6, 0x1C1D22},
                          Case{Brand::tagline(), 0x9A9FAB, 0x555965}}) {
        EXPECT_EQ(c.colour.resolve(true), QColor::fromRgb(c.dark));
        EXPECT_EQ(c.colour.resolve(false), QColor::fromRgb(c.light));
        EXPECT_EQ(c.colour.resolve(darkPalette()), QColor::fromRgb(c.dark));
        EXPECT_EQ(c.colour.resolve(lightPalette()), QColor::fromRgb(c.light));
        EXPECT_EQ(c.colour.resolve(true).alpha(), 255);
    }
    EXPECT_EQ(Brand::color(0x102030, 0xA0B0C0).resolve(true), QColor(0x10, 0x20, 0x30));

    // The open window recolours itself when the palette changes.
    addFiles(1);
    model.setPending(id(0), "FIABC2600001");
    EXPECT_EQ(window->brandTitle()->headColor(), QColor::fromRgb(0x1C1D22));
    EXPECT_EQ(window->brandTitle()->tailColor(), QColor::fromRgb(0x068E9A));
    QApplication::setPalette(darkPalette());
    QApplication::processEvents();
    EXPECT_EQ(window->brandTitle()->headColor(), QColor::fromRgb(0xF3F4F6));
    EXPECT_EQ(window->brandTitle()->tailColor(), QColor::fromRgb(0x5ECAD7));
    EXPECT_EQ(window->taglineLabel()->palette().color(QPalette::WindowText),
              QColor::fromRgb(0x9A9FAB));
    EXPECT_EQ(window->palette().color(QPalette::Highlight), QColor::fromRgb(0x5ECAD7));
    EXPECT_EQ(cell(0, FileTableModel::statusColumn).data(Qt::ForegroundRole).value<QColor>(),
              QColor::fromRgb(0x5ECAD7));
    QApplication::setPalette(lightPalette());
    QApplication::processEvents();
    EXPECT_EQ(window->brandTitle()->tailColor(), QColor::fromRgb(0x068E9A));
    EXPECT_EQ(window->taglineLabel()->palette().color(QPalette::WindowText),
              QColor::fromRgb(0x555965));
}

TEST_F(WindowTest, BrandMarkLookupAndAbsence) {
    const QString missing = QString::fromStdString((dir / "none" / "PELORIX-mark.png").string());
    const fs::path junk = dir / "junk" / "PELORIX-mark.png";
    fs::create_directories(junk.parent_path());
    pelorix::test::writeFile(junk, pelorix::test::bytesOf("not an image"));
    const QString junkPath = QString::fromStdString(junk.string());
    const QString bundled = QStringLiteral(":/PELORIX-mark.png");

    auto mark = Brand::brandMark({missing, bundled});
    ASSERT_TRUE(mark);
    EXPECT_LE(mark->width(), 34);
    EXPECT_LE(mark->height(), 31);
    auto sharp = Brand::brandMark({bundled}, 2.0);
    ASSERT_TRUE(sharp);
    EXPECT_EQ(sharp->devicePixelRatio(), 2.0);
    EXPECT_EQ(sharp->width(), 2 * mark->width());
    // The first place that has the file decides, even when it cannot be read.
    EXPECT_FALSE(Brand::brandMark({junkPath, bundled}));
    EXPECT_FALSE(Brand::brandMark({missing}));
    EXPECT_TRUE(Brand::markLocations().contains(bundled));

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_TRUE(window->markLabel()->isVisible());
    const int titleWithMark = window->brandTitle()->mapTo(window.get(), QPoint()).x();

    MainWindow bare(model, services(), {missing});
    bare.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bare));
    EXPECT_FALSE(bare.markLabel()->isVisible());
    // Without the mark the header starts with the title block.
    const int titleBare = bare.brandTitle()->mapTo(&bare, QPoint()).x();
    EXPECT_LT(titleBare, titleWithMark);
    EXPECT_EQ(titleBare, 16);
    EXPECT_EQ(bare.addButton()->geometry(), window->addButton()->geometry());
}

TEST_F(WindowTest, LargeFolderFillsWhileTheWindowStaysLive) {
    fs::create_directories(dir / "many");
    for (int i = 0; i < 2000; ++i)
        pelorix::test::writeFile(dir / "many" / (std::to_string(i) + ".wav"),
                                 pelorix::test::chunks::wav(2));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    model.add({urlOf(dir / "many")});
    // Nothing is probed inside the call: the rows come later, from the event loop.
    EXPECT_EQ(table().rowCount(), 0);
    int ticksWhileFilling = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int rows = table().rowCount();
        if (rows > 0 && rows < 2000) ++ticksWhileFilling;
    });
    tick.start(0);
    waitAdded();
    tick.stop();
    EXPECT_EQ(table().rowCount(), 2000);
    EXPECT_GT(ticksWhileFilling, 0);
    EXPECT_EQ(window->summaryLabel()->text(), "2000 files");
}

// Drives the real open dialog: one selection may hold files and folders together.
TEST(OpenPanel, TakesFilesAndFoldersInOneSelection) {
    TempDir dir;
    fs::create_directories(dir / "album");
    makeWav(dir / "single.wav");
    pelorix::test::writeFile(dir / "notes.txt", pelorix::test::bytesOf("x"));
    const QString folder = QString::fromStdString(dir.path().string());
    const QString message = "Choose audio files (WAV, AIFF, MP3, FLAC, M4A) or folders";

    bool sawMessage = false;
    auto choose = [&](QStringList names, bool confirm) {
        QTimer::singleShot(0, [&, names, confirm] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            for (QLabel* label : dialog->findChildren<QLabel*>())
                if (label->text() == message) sawMessage = true;
            dialog->setDirectory(folder);
            auto* list = dialog->findChild<QListView*>("listView");
            ASSERT_NE(list, nullptr);
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return list->model()->rowCount(list->rootIndex()) == 3; }, 20000));
            for (int r = 0; r < 3; ++r) {
                const QModelIndex index = list->model()->index(r, 0, list->rootIndex());
                if (names.contains(index.data().toString()))
                    list->selectionModel()->select(index, QItemSelectionModel::Select |
                                                              QItemSelectionModel::Rows);
            }
            auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
            ASSERT_NE(buttons, nullptr);
            QPushButton* open = buttons->button(QDialogButtonBox::Open);
            ASSERT_NE(open, nullptr);
            if (confirm) {
                EXPECT_TRUE(open->isEnabled());
                open->click();
            } else {
                buttons->button(QDialogButtonBox::Cancel)->click();
            }
        });
    };

    choose({"album", "single.wav"}, true);
    QList<QUrl> urls = runOpenPanel(nullptr, message);
    std::sort(urls.begin(), urls.end());
    EXPECT_EQ(urls, QList<QUrl>({urlOf(dir / "album"), urlOf(dir / "single.wav")}));
    EXPECT_TRUE(sawMessage);

    choose({"album"}, true);  // a folder alone is taken, not entered
    EXPECT_EQ(runOpenPanel(nullptr, message), QList<QUrl>({urlOf(dir / "album")}));

    choose({"single.wav"}, false);
    EXPECT_TRUE(runOpenPanel(nullptr, message).isEmpty());
}

TEST(RevealFallback, EachFolderOnceInOrder) {
    const QList<QUrl> files = {QUrl::fromLocalFile("/m/b/2.wav"), QUrl::fromLocalFile("/m/a/1.wav"),
                               QUrl::fromLocalFile("/m/b/3.wav")};
    EXPECT_EQ(parentFolders(files),
              QList<QUrl>({QUrl::fromLocalFile("/m/b"), QUrl::fromLocalFile("/m/a")}));
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
