// SPDX-License-Identifier: MIT
// The main window and its sequence dialog offscreen over a real Model and real WAV files.

#include <QtWidgets>

#include "core/ledger/ledger.h"
#include "core/lists/code_list.h"
#include "core/read/read.h"
#include "ui/file_table.h"
#include "ui/import_dialog.h"
#include "ui/ledger_view.h"
#include "ui/main_window.h"
#include "ui/sequence_dialog.h"
#include "ui_support.h"

using namespace pelorix::test;
using namespace pelorix::ui;
using T = FileTableModel;
using pelorix::read::readISRC;

namespace {

class WindowTest : public ListTest {
  protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(
            model,
            PlatformServices{[this](QWidget*, const QString&) { return chosen; },
                             [this](const QList<QUrl>& urls) { revealed << urls; },
                             [this](QWidget*, const QString&, const QString& name, const QString&) {
                                 return savedAs = dirName() + "/" + name;
                             },
                             [this](QWidget*, const QString&) { return ledgerChosen; }},
            QStringList{});
        window->show();
        // Shortcuts reach only the active window; a real X server without a window manager
        // does not activate it on its own.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QVariant cell(int row, int column, int role = Qt::DisplayRole) const {
        return window->tableModel()->index(row, column).data(role);
    }
    SequenceDialog* openSequence() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the last one
        window->showSequenceDialog();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window->sequenceDialog()));
        return window->sequenceDialog();
    }
    static void retype(QLineEdit* field, const QString& text) {
        field->selectAll();  // the first key replaces the text
        QTest::keyClicks(field, text);
    }
    // Clicks a message box's button by its text. Every question has Cancel as its default, and
    // no line of its details is broken.
    static void answer(QMessageBox* box, const QString& button) {
        ASSERT_TRUE(box);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Cancel));
        auto* details = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        box->adjustSize();
        QTextDocument doc;
        doc.setHtml(details->text());
        for (const QString& line : doc.toPlainText().split('\n'))
            EXPECT_LE(details->fontMetrics().horizontalAdvance(line), details->width())
                << line.toStdString();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == button) return b->click();
        FAIL() << button.toStdString();
    }
    void drop(const QMimeData& mime) {
        QDragEnterEvent enter({50, 50}, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDropEvent drop({50, 50}, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &enter);
        QApplication::sendEvent(window.get(), &drop);
    }
    QString dirName() const { return QString::fromStdString(dir.path().string()); }
    // The lines with a code of the list last saved.
    std::size_t savedRows() const {
        const Bytes saved = readFile(savedAs.toStdString());
        return pelorix::lists::parseCodeList(
                   {reinterpret_cast<const char*>(saved.data()), saved.size()})
            .rows.size();
    }
    QList<QUrl> chosen;
    QString savedAs;
    QString ledgerChosen;
    QList<QList<QUrl>> revealed;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, ControlsFollowTheListTheSelectionAndBusy) {
    const auto expect = [&](bool remove, bool write, const QString& summary, const QString& title) {
        EXPECT_EQ(window->clearButton()->isEnabled(), !model.items().isEmpty() && !model.busy());
        EXPECT_EQ(window->removeButton()->isEnabled(), remove);
        EXPECT_EQ(window->writeButton()->isEnabled(), write);
        EXPECT_EQ(window->summaryLabel()->text() + " / " + window->writeButton()->text(),
                  summary + " / " + title);
        EXPECT_EQ(window->body()->currentIndex(), model.items().isEmpty() ? 0 : 1);
    };
    expect(false, false, "No files", "Write ISRC");
    addFiles(3);
    chosen = {urlOf(makeWav(dir / "b.wav")), urlOf(makeWav(dir / "a.wav"))};
    window->addButton()->click();
    waitAdded();
    for (int i = 0; i < 3; ++i) model.setPending(id(i), QString("FI-ABC-26-0000%1").arg(i + 1));
    window->table()->selectRow(4);  // the selection is bound both ways
    EXPECT_EQ(model.selection(), QSet<QUuid>{id(4)});
    expect(true, true, "5 files", "Write ISRC (3)");
    model.setSelection({id(1)});
    EXPECT_TRUE(window->table()->selectionModel()->isRowSelected(1, {}));
    QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
    expect(false, false, "5 files", "Writing\u2026");
    EXPECT_TRUE(window->progressBar()->isVisible() && window->stopButton()->isVisible());
    EXPECT_EQ(window->progressBar()->text(), "Checking 3 files with the code ledger\u2026");
    waitBatch();
    EXPECT_FALSE(window->progressBar()->isVisible());
    EXPECT_EQ(window->noticeLabel()->text(), "Wrote 3 ISRC codes.");
    window->action("exportReport")->trigger();  // every row, written or not, confirmed
    EXPECT_EQ(window->noticeLabel()->text(), "Saved the report of 5 files to " + savedAs + ".");
    EXPECT_EQ(savedRows(), 3u);
    window->backupBox()->click();
    EXPECT_TRUE(model.backup());
    // Closing with unwritten codes asks first.
    model.setPending(id(3), "FI-ABC-26-00004");
    EXPECT_FALSE(window->close());
    answer(window->closeDialog(), "Cancel");
    window->close();
    answer(window->closeDialog(), "Write");
    waitBatch();
    QApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(model.items()[3].current, QString("FIABC2600004"));
    window->show();
    window->clearButton()->click();
    expect(false, false, "No files", "Write ISRC");
    EXPECT_TRUE(window->close());  // nothing to lose
}

TEST_F(WindowTest, CellsShowEveryStateAndReplacingAsksFirst) {
    addFiles(5, {{1, "FIABC2600001"}, {2, "FIABC2600002"}});
    writeFile(dir / "6.flac", chunks::wav(16));
    add({urlOf(dir / "6.flac")});
    const char* pendings[] = {"FI-ABC-26-00009", "fi-abc-26-00002", "FI-ABC", "FIABC2600007"};
    for (int r = 0; r < 4; ++r) model.setPending(id(r), pendings[r]);
    QSignalSpy changed(window->tableModel(), &QAbstractItemModel::dataChanged);
    model.setPending(id(4), "fi-abc-26-00007");  // makes row 3 a duplicate too: it is redrawn
    EXPECT_TRUE(std::any_of(changed.begin(), changed.end(), [](const QList<QVariant>& args) {
        return args[0].toModelIndex().row() <= 3 && args[1].toModelIndex().row() >= 3;
    }));
    // Each signal colour keeps its hue and reads at 4.5:1 at least on the rows of either look.
    for (bool dark : {true, false}) {
        QPalette pal;
        pal.setColor(QPalette::Window, dark ? Qt::black : Qt::white);
        pal.setColor(QPalette::WindowText, dark ? Qt::white : Qt::black);
        pal.setColor(QPalette::Base, dark ? QColor(0x1E1E1E) : Qt::white);
        pal.setColor(QPalette::AlternateBase, dark ? QColor(0x2D2D2D) : QColor(0xF5F5F5));
        QApplication::setPalette(pal);  // the open window recolours itself
        QApplication::processEvents();
        const QColor orange = look::orange(dark), red = look::red(dark);
        const QString texts[] = {"Replaces FI-ABC-26-00001", "Up to date",
                                 "Not a valid ISRC",         "Used twice in this list",
                                 "Used twice in this list",  "No ISRC"};
        const QColor colours[] = {orange, look::secondary(pal), red, red, red, colours[1]};
        for (int r = 0; r < 6; ++r) {
            EXPECT_EQ(cell(r, T::statusColumn).toString(), texts[r]);
            const auto shown = cell(r, T::statusColumn, Qt::ForegroundRole).value<QColor>();
            EXPECT_EQ(shown, look::readable(colours[r], pal)) << r;
            EXPECT_NEAR(shown.hsvHue(), colours[r].hsvHue(), 12) << r;
            for (auto role : {QPalette::Base, QPalette::AlternateBase})
                EXPECT_GE(look::contrast(shown, pal.color(role)), 4.5) << r << dark;
        }
        EXPECT_EQ(cell(5, T::formatColumn, Qt::ForegroundRole), look::readable(orange, pal));
    }
    EXPECT_EQ(cell(5, T::formatColumn), "WAV (not FLAC)");

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
    EXPECT_EQ(cell(0, T::statusColumn), "Written, was FI-ABC-26-00001");
}

TEST_F(WindowTest, KeysEditTheCurrentRowPasteAndSort) {
    for (auto name : {"CD1/01.wav", "CD2/01.wav"}) makeWav(dir / name);
    writeFile(
        dir / "Bonus.wav",
        chunks::wav(32, {{"id3 ", id3::tag({.frames = {id3::textFrame("TIT2", "Encore")}})}}));
    add({urlOf(dir.path())});
    const QString top = QString::fromStdString(dir.path().filename().string());
    EXPECT_EQ(cell(0, T::folderColumn).toString() + cell(1, T::folderColumn).toString() +
                  cell(2, T::folderColumn).toString(),
              top + "CD1CD2");
    FileTable* view = window->table();
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
    type("x");                                                     // in the next row's field
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);  // puts the field back
    EXPECT_EQ(pendings(), QStringList({"", "BO-NUS-26-00001", ""}));
    // A click on the current field, then a code that starts like another row's: the keys stay
    // in this row, also once the click's own editing would have begun.
    click(2);
    type("bx");
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    type("yz");
    view->selectRow(1);
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(pendings(), QStringList({"", "", "bxyz"}));
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pendings(), QStringList({"", "BO-NUS-26-00001", "bxyz"}));
    // Paste fills the column from the selected row down; copy gives tab-separated rows.
    view->selectRow(0);
    window->pasteText("1\tFI-ABC-26-00005\tx\nfiabc2600006\n");
    EXPECT_EQ(pendings(), QStringList({"FI-ABC-26-00005", "fiabc2600006", "bxyz"}));
    model.setSelection({id(0)});
    EXPECT_EQ(window->copyText(),
              "File\tFolder\tFormat\tCurrent ISRC\tNew ISRC\tStatus\n"
              "Bonus.wav\t" +
                  top + "\tWAV\t\tFI-ABC-26-00005\tReady\n");
    window->action("titleColumn")->trigger();  // what the file says, on request; copied as shown
    EXPECT_TRUE(window->copyText().startsWith("File\tFolder\tTitle\tFormat") &&
                window->copyText().contains("\tEncore\t"));
    window->action("titleColumn")->trigger();
    view->sortByColumn(T::newColumn, Qt::AscendingOrder);  // a header click sorts the list
    EXPECT_EQ(pendings(), QStringList({"bxyz", "FI-ABC-26-00005", "fiabc2600006"}));
}

// A paste says what it did; a header never shifts the codes; a count that differs from the
// selection is asked about; rows copied here give their new code, else their current one.
TEST_F(WindowTest, PastesSayWhatWentWhere) {
    addFiles(5, {{4, "GBXYZ2500004"}, {5, "GBXYZ2500005"}});
    const QString three = "ISRC\nFIABC2600001\nFIABC2600002\nFIABC2600003\n";
    const struct {
        const char* selected;  // the rows
        QString text;
        QString answer;  // to the question, when one is asked
        QString pendings, notice, undo;
    } cases[] = {
        {"0", three, "", "123--", "Pasted 3 codes into rows 1\u20133; 1 line was a header.",
         "&Undo Paste of 3 Codes"},
        {"3", three, "", "---12",
         "Pasted 2 codes into rows 4\u20135; 1 line was a header; 1 line left over.",
         "&Undo Paste of 2 Codes"},
        {"023", three, "", "1-23-", "Pasted 3 codes into rows 1, 3\u20134; 1 line was a header.",
         "&Undo Paste of 3 Codes"},
        {"14", three, "Paste Into Selected Rows", "-1--2",
         "Pasted 2 codes into rows 2, 5; 1 line was a header; 1 line left over.",
         "&Undo Paste of 2 Codes"},
        {"012", "FIABC2600009\n", "Cancel", "-----", "", "&Undo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notice.toStdString());
        QSet<QUuid> ids;
        for (const char* row = c.selected; *row; ++row) ids << id(*row - '0');
        model.setSelection(ids);
        model.setNotice(std::nullopt);
        window->pasteText(c.text);
        if (!c.answer.isEmpty()) answer(window->pasteDialog(), c.answer);
        EXPECT_EQ(lastDigits(), c.pendings);
        EXPECT_EQ(model.notice().value_or(""), c.notice);
        EXPECT_EQ(window->action("undo")->text(), c.undo);
        if (model.canUndo()) model.undo();
    }
    // Rows 4 and 5 copied (one with a new code, one with its current code only) onto 1 and 2.
    model.setPending(id(3), "FI-ABC-26-00007");
    model.setSelection({id(3), id(4)});
    const QString copied = window->copyText();
    model.setSelection({id(0), id(1)});
    window->pasteText(copied);
    EXPECT_EQ(pendings().mid(0, 2), QStringList({"FI-ABC-26-00007", "GB-XYZ-25-00005"}));
}

// The rows that need attention can be shown alone and visited with F8; after a batch the first
// failure is in view. The parts a screen reader names have names, and Quit its usual keys.
TEST_F(WindowTest, ProblemsCanBeFoundAndEveryPartIsNamed) {
    addFiles(60, {{2, "GBXYZ2500002"}});
    model.assignSequence("FI", "ABC", "26", 1);
    model.setPending(id(0), "FI-ABC");
    writeFile(dir / "57.wav", bytesOf("junk"));  // found unreadable when written
    window->action("problems")->trigger();
    const auto shown = [&] {
        QList<int> rows;
        for (int r = 0; r < 60; ++r)
            if (!window->table()->isRowHidden(r)) rows << r;
        return rows;
    };
    EXPECT_EQ(shown(), QList<int>({0, 1}));  // not valid; replaces
    EXPECT_EQ(window->summaryLabel()->text(), "2 of 60 files shown");
    window->action("problems")->trigger();
    EXPECT_EQ(shown().size(), 60);
    for (int expected : {0, 1, 0}) {  // from the top, round
        QTest::keyClick(window.get(), Qt::Key_F8);
        EXPECT_EQ(model.selection(), QSet<QUuid>{id(expected)});
    }
    model.setPending(id(0), "");
    window->write();
    answer(window->replaceDialog(), "Write Only the Others");
    waitBatch();
    const QString name = "57.wav";
    const int failed = int(std::find_if(model.items().begin(), model.items().end(),
                                        [&](const auto& i) { return i.fileName() == name; }) -
                           model.items().begin());
    EXPECT_EQ(model.items()[failed].status.kind, Model::Status::Kind::failed);
    QApplication::processEvents();
    const QRect rect =
        window->table()->visualRect(window->tableModel()->index(failed, T::statusColumn));
    EXPECT_TRUE(window->table()->viewport()->rect().intersects(rect));

    for (QWidget* part :
         {static_cast<QWidget*>(window->table()), static_cast<QWidget*>(window->progressBar())})
        EXPECT_FALSE(part->accessibleName().isEmpty());
    const auto labels = window->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                            [](QLabel* l) { return l->accessibleName() == "PELORIX logo"; }));
    EXPECT_TRUE(window->action("quit")->shortcuts().contains(QKeySequence("Ctrl+Q")));
    window->table()->edit(window->tableModel()->index(3, T::newColumn));
    QLineEdit* field = window->table()->codeDelegate()->openEditor();
    ASSERT_TRUE(field);
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(field);
    EXPECT_EQ(spoken->text(QAccessible::Name), "New ISRC of " + model.items()[3].fileName());
    EXPECT_NE(spoken->text(QAccessible::Description), field->placeholderText());
}

TEST_F(WindowTest, ContextMenuRemovalAndDrops) {
    addFiles(4, {{2, "GBXYZ2500002"}});
    model.setSelection({id(3), id(0)});
    window->contextMenu({id(3), id(0)})->actions()[2]->trigger();
    EXPECT_EQ(revealed, QList<QList<QUrl>>({{model.items()[0].url, model.items()[3].url}}));
    window->contextMenu({id(0), id(2)})->actions()[1]->trigger();
    EXPECT_EQ(window->noticeLabel()->text(), "None of the selected files has an ISRC.");
    // A removal cannot be undone: the question names the files and their codes, the row the
    // code it lost.
    model.setPending(id(0), "FI-ABC-26-00001");
    window->contextMenu({id(0), id(1)})->actions()[1]->trigger();
    EXPECT_EQ(window->removalDialog()->text(), "Remove the ISRC from 1 file?");
    EXPECT_TRUE(window->removalDialog()->informativeText().contains("2.wav: GB-XYZ-25-00002"));
    answer(window->removalDialog(), "Remove ISRC");
    waitBatch();
    EXPECT_EQ(cell(1, T::statusColumn), "Removed GB-XYZ-25-00002");
    EXPECT_FALSE(window->action("undo")->isEnabled());
    window->contextMenu({id(0), id(3)})->actions()[0]->trigger();
    EXPECT_EQ(names(), QStringList({"2.wav", "3.wav"}));

    // A drop takes local files only; a large folder arrives in groups, read outside the call.
    for (int i = 0; i < 200; ++i) makeWav(dir / "many" / (std::to_string(i) + ".wav"));
    QMimeData files;
    files.setUrls({QUrl("https://example.com/x.wav"), urlOf(dir / "many")});
    drop(files);
    QSignalSpy inserted(window->tableModel(), &QAbstractItemModel::rowsInserted);
    QApplication::processEvents();
    EXPECT_TRUE(model.adding());
    waitAdded();
    EXPECT_EQ(window->summaryLabel()->text(), "202 files");
    EXPECT_LT(inserted.count(), 200);
    EXPECT_EQ(names()[2] + names().last(), "0.wav199.wav");
}

TEST_F(WindowTest, ADroppedListIsPreviewedOnceTheFilesDroppedWithItAreReadAndUndoable) {
    addFiles(2);
    writeFile(dir / "codes.csv", bytesOf("1.wav;FIABC2600001\n3;FIABC2600003\nx;FIABC2600009\n"));
    QMimeData mime;
    mime.setUrls({urlOf(dir / "codes.csv"), urlOf(makeWav(dir / "3.wav"))});
    drop(mime);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->importDialog(); }, 60000));
    EXPECT_EQ(window->importDialog()->summaryLabel()->text(),
              "2 rows take a New ISRC from codes.csv. 1 line of the list gives no code. 1 row "
              "gets no code. Nothing is written to the files until you write them.");
    EXPECT_EQ(pendings(), QStringList({"", "", ""}));
    window->importDialog()->applyButton()->click();
    EXPECT_EQ(pendings(), QStringList({"FI-ABC-26-00001", "", "FI-ABC-26-00003"}));
    window->action("undo")->trigger();
    EXPECT_EQ(pendings(), QStringList({"", "", ""}));
}

// The label's own sheet: its header says how lines find files (here a title, or a track and
// disc); the preview lets the user choose, and the choice is kept for the next sheet.
TEST_F(WindowTest, TheLabelsSheetFindsItsFilesByTitleOrTrackAsChosen) {
    for (auto name : {"CD1/01 Opening.wav", "CD1/02 Tundra.wav", "CD2/01 Second Dawn.wav"})
        makeWav(dir / name);
    add({urlOf(dir.path())});
    writeFile(dir / "sheet.csv",
              bytesOf("Track;Title;Old code;ISRC\n1-01;Opening;GBXYZ2500001;FIABC2600001\n"
                      "1-02;Tundra;GBXYZ2500002;FIABC2600002\n"
                      "2-01;Second Dawn;GBXYZ2500003;FIABC2600003\n"));
    const QString sheet = dirName() + "/sheet.csv";
    for (const char* way : {"Title", "Track"}) {
        window->importList(sheet);
        ImportDialog* preview = window->importDialog();
        ASSERT_TRUE(preview && preview->matchBox());
        if (!preview->matchBox()->currentText().startsWith(way)) {
            const int index = preview->matchBox()->findText(way, Qt::MatchStartsWith);
            preview->matchBox()->setCurrentIndex(index);
            const QPointer<ImportDialog> old = preview;
            emit preview->matchBox()->activated(index);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !old && window->importDialog(); }));
            preview = window->importDialog();
        }
        EXPECT_TRUE(preview->matchBox()->currentText().startsWith(way));
        EXPECT_EQ(preview->linesTable()->item(2, 3)->text(), "CD2/01 Second Dawn.wav");
        preview->applyButton()->click();
        EXPECT_EQ(pendings(),
                  QStringList({"FI-ABC-26-00001", "FI-ABC-26-00002", "FI-ABC-26-00003"}));
        model.undo();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    window->importList(sheet);  // the last choice is kept
    EXPECT_TRUE(window->importDialog()->matchBox()->currentText().startsWith("Track"));
    // The codes come from the column named so, unless the user picks the other one; that
    // choice is kept too.
    QComboBox* codes = window->importDialog()->codeColumnBox();
    ASSERT_TRUE(codes);
    EXPECT_EQ(codes->currentText(), "ISRC");
    const QPointer<ImportDialog> old = window->importDialog();
    emit codes->activated(codes->findText("Old code"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !old && window->importDialog(); }));
    EXPECT_EQ(window->importDialog()->codeColumnBox()->currentText(), "Old code");
    EXPECT_TRUE(window->importDialog()->matchBox()->currentText().startsWith("Track"));
    window->importDialog()->applyButton()->click();
    EXPECT_EQ(pendings(), QStringList({"GB-XYZ-25-00001", "GB-XYZ-25-00002", "GB-XYZ-25-00003"}));
}

// The Code Ledger: a large ledger is read a page at a time; a search finds a code by its title,
// its history shows every entry, and the export is a list the import reads. Nothing changes.
TEST_F(WindowTest, TheCodeLedgerFindsACodeShowsItsHistoryAndExportsWithoutChangingIt) {
    namespace ledger = pelorix::ledger;
    const fs::path file = ledgerDir / "ledger.sqlite3";
    window->action("ledger")->trigger();
    EXPECT_TRUE(window->ledgerView()->summaryLabel()->text().startsWith("No code has been"));
    EXPECT_FALSE(window->ledgerView()->exportButton()->isEnabled());
    EXPECT_FALSE(fs::exists(file)) << "a look made a ledger";
    window->ledgerView()->close();
    {
        ledger::Ledger l(file);
        std::vector<ledger::Entry> entries;
        for (int i = 1; i <= 450; ++i)
            entries.push_back(
                entry(ledger::Action::write, pelorix::ISRC::fromParts("GB", "XYZ", "25", i)->code(),
                      "/cat/" + std::to_string(i) + ".wav", {}, "Track " + std::to_string(i)));
        entries.push_back(
            entry(ledger::Action::found, "FIABC2600001", "/CD1/01 Opening.wav", {}, "Opening"));
        entries.push_back(entry(ledger::Action::write, "FIABC2600002", "/CD1/01 Opening.wav",
                                "FIABC2600001", "Opening"));
        entries.push_back(
            entry(ledger::Action::removal, {}, "/shop/01 Opening.mp3", "FIABC2600001", "Opening"));
        l.record(entries);
    }
    const Bytes before = readFile(file);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    window->action("ledger")->trigger();
    LedgerView* view = window->ledgerView();
    ASSERT_TRUE(view && view->exportButton()->isEnabled());
    for (QWidget* w :
         {static_cast<QWidget*>(view->searchField()), static_cast<QWidget*>(view->codesTable()),
          static_cast<QWidget*>(view->historyTable())})
        EXPECT_FALSE(w->accessibleName().isEmpty());
    EXPECT_TRUE(view->summaryLabel()->text().startsWith("452 codes in "))
        << view->summaryLabel()->text().toStdString();
    EXPECT_EQ(view->codesModel()->rowCount(), int(LedgerCodesModel::kPage));  // the rest later
    view->codesTable()->scrollToBottom();
    QTest::qWait(50);
    EXPECT_GT(view->codesModel()->rowCount(), int(LedgerCodesModel::kPage));
    QTest::keyClicks(view->searchField(), "opening");
    QTest::keyClick(view->searchField(), Qt::Key_Return);  // searches; the view stays open
    ASSERT_TRUE(view->isVisible());
    ASSERT_EQ(view->codesModel()->rowCount(), 2);
    view->codesTable()->selectRow(0);
    QStringList history;
    for (int r = 0; r < view->historyTable()->rowCount(); ++r)
        history << view->historyTable()->item(r, 1)->text() + " " +
                       view->historyTable()->item(r, 2)->text() + " " +
                       view->historyTable()->item(r, 3)->text();
    EXPECT_EQ(history,
              QStringList({"Found /CD1/01 Opening.wav ",
                           "Replaced by FI-ABC-26-00002 /CD1/01 Opening.wav FI-ABC-26-00001",
                           "Removed /shop/01 Opening.mp3 FI-ABC-26-00001"}));
    view->exportButton()->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return view->summaryLabel()->text().startsWith("Exported 452 codes"); }));
    EXPECT_EQ(savedRows(), 452u);  // one line per code and file
    view->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(readFile(file), before);
}

// The code ledger can be a file shared with others, chosen and remembered; a file that cannot
// be opened as one is not taken.
TEST_F(WindowTest, TheLedgerFileIsChosenRememberedAndTakenOnlyWhenItOpens) {
    const QString own = Model::ledgerPath(), shared = dirName() + "/shared/book.sqlite3";
    EXPECT_FALSE(window->action("ownLedger")->isEnabled());
    for (const auto& [chosen, notice] :
         {std::pair(shared, "Codes are now checked against the code ledger " + shared + "."),
          {shared + "/x", "The code ledger " + shared + "/x cannot be used: "}}) {
        ledgerChosen = chosen;
        window->action("ledgerFile")->trigger();
        EXPECT_EQ(Model::ledgerPath(), shared);
        EXPECT_TRUE(model.notice()->startsWith(notice)) << model.notice()->toStdString();
    }
    EXPECT_TRUE(fs::exists(dir / "shared/book.sqlite3"));
    window->action("ownLedger")->trigger();
    EXPECT_EQ(Model::ledgerPath(), own);
    EXPECT_FALSE(window->action("ownLedger")->isEnabled());
    // A code the rule refuses is given only when the user says so, and is recorded then.
    addFiles(2);
    for (int pass = 0; pass < 2; ++pass) {
        model.setPending(id(0), "FI-ABC-26-00001");
        window->write();
        waitBatch();
        if (pass == 0) model.remove({id(0)});  // 1.wav leaves the list, its code stays given
    }
    auto* box = window->findChild<QMessageBox*>();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), "The code ledger refused the code of 1 file.");
    EXPECT_EQ(readISRC(dir / "2.wav"), std::nullopt);
    answer(box, "Give It Anyway");
    waitBatch();
    EXPECT_EQ(readISRC(dir / "2.wav"), "FIABC2600001");
    EXPECT_EQ(pelorix::ledger::Ledger(ledgerDir / "ledger.sqlite3").codes()[0].files.size(), 2u);
}

TEST_F(WindowTest, SequenceFieldsAreCheckedRememberedAndProposeTheNextFreeNumber) {
    addFiles(4, {{2, "FIABC2600007"}});
    given("FIABC2600009");
    SequenceDialog* dialog = openSequence();
    EXPECT_EQ(dialog->countryField()->text() + dialog->registrantField()->text(),
              "");  // a new user
    // Each wrong field says so beside it; Assign waits for a code.
    QLineEdit* fields[] = {dialog->countryField(), dialog->registrantField(), dialog->yearField(),
                           dialog->startField()};
    const std::tuple<int, const char*, bool> edits[] = {{1, "a-c", true}, {0, "F1", true},
                                                        {0, "fi", false}, {2, "2026", true},
                                                        {3, "x7", true},  {1, "abc", false}};
    for (auto [field, text, wrong] : edits) {
        retype(fields[field], text);
        EXPECT_EQ(dialog->fieldError(field)->isVisible(), wrong) << text;
    }
    EXPECT_FALSE(dialog->assignButton()->isEnabled());  // the input cannot form a code
    retype(dialog->yearField(), "26");  // the number after FI-ABC-26-00009 of the ledger
    EXPECT_EQ(dialog->startField()->text(), "10");
    EXPECT_TRUE(dialog->assignButton()->isEnabled());
    EXPECT_EQ(dialog->previewLabel()->text(), "FI-ABC-26-00010  \u2192  FI-ABC-26-00012");
    QTest::keyClick(dialog->yearField(), Qt::Key_Return);
    EXPECT_EQ(pendings(),
              QStringList({"FI-ABC-26-00010", "", "FI-ABC-26-00011", "FI-ABC-26-00012"}));
    // The next opening starts from the edits and the selection; a refusal stays open in red.
    model.setSelection({id(1), id(3)});
    dialog = openSequence();
    EXPECT_TRUE(dialog->selectedOption()->isChecked());
    EXPECT_EQ(dialog->registrantField()->text(), "abc");
    EXPECT_EQ(dialog->startField()->text(), "13");
    dialog->skipCodedBox()->click();
    retype(dialog->startField(), "99999");
    dialog->assign();
    EXPECT_EQ(dialog->errorLabel()->text(), "The sequence would go past 99999.");
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QApplication>(argc, argv);
}
