// SPDX-License-Identifier: MIT
// The work list model driven headless with real WAV files.

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <sqlite3.h>

#include "core/formats/carriers.h"
#include "core/ledger/ledger.h"
#include "core/lists/code_list.h"
#include "core/read/read.h"
#include "core/write/write.h"
#include "ui/code_lists.h"
#include "ui_support.h"

using namespace pelorix::test;
using pelorix::lists::parseCodeList;
using pelorix::read::readISRC;
using pelorix::test::runShell;
using pelorix::write::writeISRC;
using namespace pelorix::ui;
using Readiness = Model::Readiness;
using Status = Model::Status;
using ModelTest = ListTest;

namespace {

const Bytes kJunk = bytesOf("junk");  // too short for any container, whatever the extension

TEST_F(ModelTest, AddingOrdersByFolderThenNameAndLeavesOutHiddenFilesAndBackups) {
    for (auto name :
         {"CD2/01.wav", "CD1/10.wav", "CD1/9.wav", "CD1/B.wav", "CD1/a.WAV", "CD1/9 (original).wav",
          "CD1/9 (original 2).wav", ".git/c.wav", "CD1/.take1.wav", "x.txt"})
        makeWav(dir / "music" / name);
    add({urlOf(dir / "music")});
    EXPECT_EQ(names(), QStringList({"9.wav", "10.wav", "a.WAV", "B.wav", "01.wav"}));
    // Given by name, a hidden file and a backup copy are taken; other forms of a listed path
    // are the same file.
    add({urlOf(dir / "music/CD1/.take1.wav"), urlOf(dir / "music/CD1/9 (original).wav"),
         urlOf(dir / "music/CD1/./9.wav")});
    EXPECT_TRUE(model.items().size() == 7 && !model.notice());
    add({urlOf(dir / "music/x.txt"), urlOf(dir / "music/gone.wav")});
    EXPECT_EQ(model.notice(), "No supported audio files found (WAV, AIFF, MP3, FLAC, M4A).");
    model.setSelection({id(0), id(1)});  // removing rows takes their selection; clearing all
    model.remove({id(1), QUuid::createUuid()});
    EXPECT_EQ(model.selection(), QSet<QUuid>{id(0)});
    model.clear();
    EXPECT_TRUE(model.items().isEmpty() && model.selection().isEmpty() && !model.notice());
}

TEST_F(ModelTest, RowsShowWhatTheFileHoldsAndAreReadAgain) {
    makeWav(dir / "plain.wav");
    writeFile(dir / "named.flac", chunks::wav(16));  // WAV content under a FLAC name
    writeFile(dir / "damaged.wav", chunks::wav(16, {{"id3 ", id3::tag({.version = 9})}}));
    writeFile(dir / "junk.wav", kJunk);
    add({urlOf(dir.path())});
    ASSERT_EQ(names(), QStringList({"damaged.wav", "named.flac", "plain.wav"}));
    EXPECT_EQ(model.notice(), "Skipped 1 file that is not readable audio: junk.wav");
    EXPECT_EQ(Model::readiness(model.items()[0], {}), Readiness::unreadable);
    EXPECT_EQ(model.items()[1].format + model.items()[1].named, "WAVFLAC");

    // Another program writes a code: adding the file again, or reloading, shows it, and the
    // row's status is worked out again from it.
    writeISRC(dir / "plain.wav", "FIABC2600001", false);
    add({urlOf(dir / "./plain.wav")});
    EXPECT_EQ(model.items()[2].current, QString("FIABC2600001"));
    model.setPending(id(2), "FI-ABC-26-00003");
    model.writeAll(true);
    waitBatch();
    writeISRC(dir / "plain.wav", "FIABC2600002", false);
    model.reload();
    waitAdded();
    EXPECT_EQ(model.items()[2].current, QString("FIABC2600002"));
    EXPECT_EQ(model.items()[2].status, Status::idle());
    EXPECT_EQ(Model::readiness(model.items()[2], {}), Readiness::replaces);
    EXPECT_EQ(model.items().size(), 3);
}

// A code written after the row showed another is found by the write itself, wherever the file
// sits in the batch: nothing is replaced there, the rest is written, the report keeps the order.
TEST_F(ModelTest, AFileChangedSinceItWasShownIsNotWritten) {
    addFiles(8);
    model.assignSequence("FI", "ABC", "26", 1);
    writeISRC(dir / "6.wav", "GBXYZ2500001", false);  // amid rows 5 to 8, written together
    model.writeAll();
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Wrote 7, failed 1. See the Status column."));
    EXPECT_EQ(readISRC(dir / "6.wav"), "GBXYZ2500001");
    EXPECT_EQ(model.items()[5].status,
              Status::failed("Not written: the file carries GB-XYZ-25-00001 now."));
    EXPECT_EQ(reported(), "1W2W3W4W5W6N7W8W");
}

// A file whose places hold different codes is marked; writing puts one code in all of them.
TEST_F(ModelTest, ConflictingCarriersAreShownUntilWritten) {
    const auto tag = id3::tag({.frames = {id3::textFrame("TSRC", "GBXYZ2500001"),
                                          id3::textFrame("TXXX", {"ISRC\0GBXYZ2500002", 17})}});
    writeFile(dir / "two.wav", chunks::wav(16, {{"id3 ", tag}}));
    add({urlOf(dir / "two.wav")});
    EXPECT_TRUE(model.items()[0].conflict.contains("ID3 TXXX:ISRC: GBXYZ2500002"))
        << model.items()[0].conflict.toStdString();
    model.setPending(id(0), "FI-ABC-26-00001");
    model.setAddAxml(true);  // the setting adds the Broadcast WAV carrier too
    model.writeAll(true);    // the replacement, as confirmed
    waitBatch();
    model.setAddAxml(false);
    EXPECT_TRUE(model.items()[0].conflict.isEmpty());
    const auto carriers = pelorix::read::carriers(dir / "two.wav");
    EXPECT_EQ(pelorix::formats::verdictOf(carriers), pelorix::formats::Verdict::same);
    EXPECT_TRUE(std::any_of(carriers.begin(), carriers.end(),
                            [](const auto& c) { return c.place == "axml"; }));
}

TEST_F(ModelTest, ReadinessRules) {
    const std::tuple<const char*, std::optional<QString>, Readiness, QString> cases[] = {
        {" \t\u00a0\u3000", {}, Readiness::empty, ""},  // space separators and tabs only
        {"\n", {}, Readiness::invalid, ""},             // a line break is not blank
        {"fi-abc-26-00001", "FIABC2600002", Readiness::replaces, ""},
        {" fi-abc-26-00001 ", "FIABC2600001", Readiness::upToDate, ""},
        {"GBXYZ2500001", "GBXYZ2500001", Readiness::duplicate, ""},
        {"fi-abc-26-00001", {}, Readiness::unreadable, "damaged"},
    };
    for (const auto& [pending, current, expected, error] : cases) {
        Model::Item item;
        item.current = current;
        item.pending = pending;
        item.readError = error;
        EXPECT_EQ(Model::readiness(item, {"GBXYZ2500001"}), expected);
    }
    // One recording in several formats shares its code; any other repeat is a duplicate, the
    // same name in another disc's folder too.
    for (auto name : {"01 Intro.wav", "01 Intro.flac", "01 Intro.mp3.wav", "CD2/01 Intro.wav"})
        makeWav(dir / name);
    add({urlOf(dir.path())});
    ASSERT_EQ(names(),
              QStringList({"01 Intro.flac", "01 Intro.mp3.wav", "01 Intro.wav", "01 Intro.wav"}));
    for (int row : {0, 2}) model.setPending(id(row), "FI-ABC-26-00001");
    EXPECT_TRUE(model.duplicateCodes().isEmpty());
    for (int row : {1, 3}) {
        model.setPending(id(row), "FIABC2600001");
        EXPECT_EQ(model.duplicateCodes(), QSet<QString>{"FIABC2600001"});
        model.setPending(id(row), "");
    }
}

// The engine's recording rule: a master and the FLAC made from it share a code wherever the FLAC
// sits (the same samples); the same name on another disc is another recording.
TEST_F(ModelTest, CopiesOfOneRecordingShareItsCodeInAnyFolder) {
    if (runShell("command -v flac").status != 0) GTEST_SKIP() << "needs flac";
    const auto master = makeWav(dir / "CD1/01 Intro.wav", "GBXYZ2500009");
    makeWav(dir / "CD2/01 Intro.wav");
    fs::create_directories(dir / "shop");
    const std::string shop = (dir / "shop/01 Intro.flac").string();
    ASSERT_EQ(runShell("flac -s '" + master.string() + "' -o '" + shop + "'").status, 0);
    add({urlOf(dir.path())});
    ASSERT_EQ(model.items().size(), 3);  // CD1, CD2, shop
    EXPECT_GE(model.items()[0].recording, 0);
    EXPECT_EQ(model.items()[2].recording, model.items()[0].recording);
    for (int row : {0, 2}) model.setPending(id(row), "FI-ABC-26-00001");
    EXPECT_TRUE(model.duplicateCodes().isEmpty());
    model.setPending(id(1), "FI-ABC-26-00001");
    EXPECT_EQ(model.duplicateCodes(), QSet<QString>{"FIABC2600001"});
    // A list line reaches every copy; a later line with another code for them gives none.
    const ImportPlan plan =
        planImport(model.items(),
                   "file,isrc\nCD1/01 Intro.wav,FIABC2600001\nshop/01 Intro.flac,FIABC2600002\n",
                   QString::fromStdString(dir.path().string()));
    ASSERT_EQ(plan.lines.size(), 2);
    EXPECT_EQ(plan.lines[0].rows, QList<QUuid>({id(0), id(2)}));
    EXPECT_EQ(plan.lines[1].result, ImportLine::Result::conflict);
    // A sequence gives a recording one number; a recording whose master keeps its code gets
    // that code and uses up no number.
    EXPECT_EQ(model.assignSequence("FI", "ABC", "26", 1), std::nullopt);
    EXPECT_EQ(pendings(), QStringList({"FI-ABC-26-00001", "FI-ABC-26-00002", "FI-ABC-26-00001"}));
    EXPECT_EQ(model.assignSequence("FI", "ABC", "26", 1, {.skipCoded = true}), std::nullopt);
    EXPECT_EQ(pendings(), QStringList({"FI-ABC-26-00001", "FI-ABC-26-00002", "GB-XYZ-25-00009"}));
}

TEST_F(ModelTest, EditsAndUndo) {
    addFiles(3);
    // Typing in a field is one step; a sequence, a removal and clearing are one step each.
    model.beginTyping(id(1));
    for (const char* text : {"f", "fi", "fiabc2600009"}) model.setPending(id(1), text);
    model.commitFormat(id(1));
    model.assignSequence("FI", "ABC", "26", 1);
    model.remove({id(0)});
    model.clear();
    const QStringList after = {"FI-ABC-26-00001", "FI-ABC-26-00002", "FI-ABC-26-00003"};
    const QStringList steps[] = {
        {"FI-ABC-26-00002", "FI-ABC-26-00003"}, after, {"", "FI-ABC-26-00009", ""}, {"", "", ""}};
    const char* names[] = {"Clear", "Removal of 1 Row from the List", "Sequence of 3 Codes",
                           "Typing"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(model.undoName(), names[i]);
        model.undo();
        EXPECT_EQ(pendings(), steps[i]);
    }
    model.redo();
    model.redo();
    EXPECT_EQ(pendings(), after);
    EXPECT_EQ(model.redoName(), "Removal of 1 Row from the List");
    // A write puts the codes in the files: no undo reaches back across it.
    model.writeAll();
    waitBatch();
    EXPECT_FALSE(model.canUndo() || model.canRedo());
}

TEST_F(ModelTest, BatchesAskBeforeReplacingCanStopAndKeepBackups) {
    addFiles(4, {{2, "GBXYZ2500011"}, {3, "GBXYZ2500012"}});
    for (int i = 0; i < 4; ++i) model.setPending(id(i), QString("fi-abc-26-0000%1").arg(i + 1));
    EXPECT_EQ(model.readyCount() * 10 + model.replaceCount(), 22);
    writeFile(dir / "4.wav", kJunk);  // unreadable now, after it was listed
    model.writeAll();                 // the ready rows only
    model.writeAll(true);             // refused while busy, like a removal
    model.removeISRC({id(1)});
    model.setBackup(true);  // too late for the running batch
    model.remove({id(0)});  // its file is still written
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Wrote 1, failed 1. See the Status column."));
    EXPECT_EQ(readISRC(dir / "1.wav"), "FIABC2600001");
    EXPECT_EQ(readISRC(dir / "2.wav"), "GBXYZ2500011");
    EXPECT_TRUE(Model().backup());

    // The replacements too, stopped after the first file: the unreadable last file failed
    // before the stop was heard, the one held back between them is reported as left out.
    model.writeAll(true);
    model.stop();
    waitBatch();
    EXPECT_EQ(model.notice(),
              QString("Stopped after 2 of 3 files. Wrote 1, failed 1. See the Status column."));
    EXPECT_EQ(model.items()[0].status, Status::done("Written, was GB-XYZ-25-00011"));
    // Every batch's files, the ones the stop left out too, the latest word on each.
    EXPECT_EQ(reported(), "1W4F2W3N");
    EXPECT_EQ(model.report()[2].message, "Replaced GB-XYZ-25-00011");
    EXPECT_EQ(model.items()[0].current.value_or("") + model.items()[0].pending,
              "FIABC2600002FI-ABC-26-00002");
    EXPECT_EQ(dir.list(),
              (std::vector<std::string>{"1.wav", "2 (original).wav", "2.wav", "3.wav", "4.wav"}));
    writeFile(dir / "3.wav", kJunk);
    model.removeISRC({id(0), id(1), id(2)});
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Removed 1, failed 1."));
    EXPECT_EQ(readISRC(dir / "2.wav"), std::nullopt);
    EXPECT_EQ(model.items()[0].status, Status::done("Removed FI-ABC-26-00002"));
    EXPECT_EQ(reported(), "1W4F2R3F");
    // The delivery record adds the rows no batch touched; imported again as it is, every file
    // that carries a code gets it back, and a file left without one gives no line.
    add({urlOf(makeWav(dir / "5.wav", "GBXYZ2500015"))});
    const auto report =
        parseCodeList(exportReport(model.report(), model.items(), [](const Model::Item&) {
                          return "x";
                      }).toStdString());
    ASSERT_EQ(report.rows.size() * 10 + report.problems.size(), 32u);
    for (const auto& [row, file, code] : {std::tuple(0, "1.wav", "FI-ABC-26-00001"),
                                          {1, "3.wav", "GB-XYZ-25-00012"},
                                          {2, "5.wav", "GB-XYZ-25-00015"}})
        EXPECT_EQ(report.rows[row].target + report.rows[row].code, (dir / file).string() + code);
}

// A code given to another recording and a second code for one recording are refused, that row
// alone; what is done is recorded; without its ledger the window writes nothing.
TEST_F(ModelTest, TheLedgerRefusesOneRowAndRecordsWhatTheOthersDid) {
    addFiles(3, {{2, "GBXYZ2500002"}});
    const auto write = [&](std::initializer_list<std::pair<int, const char*>> codes) {
        for (const auto& [row, code] : codes) model.setPending(id(row), code);
        model.writeAll(true);
        waitBatch();
    };
    write({{0, "FI-ABC-26-00001"}});
    model.remove({id(0)});  // 1.wav leaves the list, its code stays given
    write({{0, "FI-ABC-26-00002"}, {1, "FI-ABC-26-00001"}});
    EXPECT_EQ(model.notice(),
              QString("Wrote 1 ISRC code. The code ledger refused 1 file: see the Status column."));
    EXPECT_TRUE(
        model.items()[1].status.text.startsWith("Not written: FI-ABC-26-00001 was given to"));
    EXPECT_TRUE(model.items()[1].status.text.endsWith(
        "/1.wav on " + QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate) +
        ", which may be a different recording."));
    EXPECT_EQ(model.report()[1].result, "Refused");  // 3.wav, before the write
    write({{0, "FI-ABC-26-00003"}});                 // 2.wav has FI-ABC-26-00002 for life
    EXPECT_TRUE(model.items()[0].status.text.startsWith(
        "Not written: This recording already has FI-ABC-26-00002, given to"));
    EXPECT_EQ(readISRC(dir / "2.wav").value_or("") + "|" + readISRC(dir / "3.wav").value_or(""),
              "FIABC2600002|");
    model.removeISRC({id(0)});
    waitBatch();
    std::string book;
    for (const auto& e : pelorix::ledger::Ledger(ledgerDir / "ledger.sqlite3").entries())
        book += std::to_string(int(e.action)) + e.code.value_or("-") +
                e.file.identity.path.filename().string() + e.file.carried.value_or("-") +
                (e.pending ? "?" : "") + " ";
    EXPECT_EQ(book, "0FIABC26000011.wav- 0FIABC26000022.wavGBXYZ2500002 1-2.wavFIABC2600002 ");
    // The chosen ledger before PELORIX_LEDGER; one that cannot be opened refuses every write.
    Model::setLedgerChoice(QString::fromStdString((dir / "2.wav" / "book.sqlite3").string()));
    write({{0, "FI-ABC-26-00004"}});
    EXPECT_TRUE(model.notice()->startsWith("Nothing was written: the code ledger " +
                                           Model::ledgerChoice() + " cannot be used: "));
    EXPECT_EQ(readISRC(dir / "2.wav"), std::nullopt);
    Model::setLedgerChoice({});
}

TEST_F(ModelTest, ALedgerHeldByAnotherProgramDoesNotHoldTheWindow) {
    // Stopped after the first file: when the second row is let go, another program takes the
    // ledger until the window's next turn. The window turns while the results wait to be
    // recorded; they are recorded after, the second file's code given back.
    addFiles(2);
    sqlite3* other = nullptr;
    QStringList seen;
    QObject::connect(&model, &Model::itemChanged, [&](int row) {
        if (!model.busy() || model.items()[row].status.kind != Model::Status::Kind::idle) return;
        ASSERT_EQ(sqlite3_open((ledgerDir / "ledger.sqlite3").c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        QTimer::singleShot(0, &model, [&] {
            seen << (model.recording() ? "turned while recording" : "turned after it");
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        });
    });
    model.assignSequence("FI", "ABC", "26", 1);
    model.writeAll(true);
    model.stop();
    waitBatch();
    sqlite3_close(other);
    seen << model.notice().value_or("");
    for (const auto& e : pelorix::ledger::Ledger(ledgerDir / "ledger.sqlite3").entries())
        seen << QString::fromStdString(e.code.value_or("-") + (e.pending ? "?" : ""));
    EXPECT_EQ(seen,
              QStringList({"turned while recording",
                           "Stopped after 1 of 2 files. Wrote 1 ISRC code.", "FIABC2600001"}));
}

TEST_F(ModelTest, ImportsMatchByPathNameStemOrOrderAndApplyAsOneStep) {
    for (auto name : {"A/One.wav", "A/Two.wav", "B/Four.wav", "B/Three.wav", "B/Two.wav"})
        makeWav(dir / name);
    add({urlOf(dir.path())});
    model.setPending(id(2), "typed");
    // Each row's lastDigits() and each line's result: matched, invalid, no row, ambiguous,
    // conflict, problem.
    const struct {
        std::string list, codes, lines;
    } cases[] = {
        {"file,isrc\nA/One.wav,FIABC2600001\n" + (dir / "B/Two.wav").string() +
             ",FI-ABC-26-00005\nB/One,FIABC2600007",
         "1-d-5", "2m 3m 4n"},
        {"Name;ISRC\r\n\"One.wav\";ISRC FIABC2600001\r\nTwo.wav;FIABC2600002\r\n"
         "Nine;FIABC2600009\r\nThree;FIABC260000X\r\n",
         "1-d--", "2m 3a 4n 5i"},
        {"Three.mp3\tFIABC2600003\nFour\tFIABC2600003\nOne.wav\tFIABC2600001\nOne\tFIABC2600002",
         "1-d3-", "1m 2c 3m 4c"},
        {"\xEF\xBB\xBFISRC\nFIABC2600001\n\nFIABC260000X\nFIABC2600003\nFIABC2600004\n"
         "FIABC2600005\nFIABC2600006\n",
         "1-345", "2m 4i 5m 6m 7m 8n"},
        {"Codes\r\nFIABC2600001\r\n", "1-d--", "2m"},
        {"One.wav,FIABC2600001,x\n\"unclosed,x\n", "--d--", "1p 2p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        const ImportPlan plan = planImport(model.items(), QByteArray::fromStdString(c.list),
                                           QString::fromStdString(dir.path().string()));
        QStringList lines;
        for (const auto& l : plan.lines) lines << QString::number(l.line) + "minacp"[int(l.result)];
        EXPECT_EQ(lines.join(' ').toStdString(), c.lines);
        model.setPendings(plan.codes);
        const std::string codes = lastDigits().toStdString();
        EXPECT_EQ(codes, c.codes);
        EXPECT_EQ(
            plan.rowsWithoutCode.size(),
            std::count_if(codes.begin(), codes.end(), [](char x) { return !std::isdigit(x); }));
        if (!plan.codes.isEmpty()) model.undo();  // one step; an empty plan records none
        EXPECT_EQ(pendings().join(','), ",,typed,,");
    }
}

// A header is skipped, and a table with column names gives the new code (or, with none, the
// current one) by name, whatever comes first.
TEST(PasteTest, CodesComeFromTheNamedColumnAfterAnyHeader) {
    const struct {
        QString text;
        QStringList codes;
        int header;
    } cases[] = {
        {"ISRC\r\nFIABC2600001\r\nFIABC2600002\r\n\r\n", {"FIABC2600001", "FIABC2600002"}, 1},
        {"FIABC260000X\n\nfiabc2600002", {"FIABC260000X", "", "fiabc2600002"}, 0},
        {"File\tFormat\tCurrent ISRC\tNew ISRC\tStatus\n"
         "1.wav\tWAV\tGB-XYZ-25-00001\tFI-ABC-26-00001\tReplaces GB-XYZ-25-00001\n"
         "2.wav\tWAV\tGB-XYZ-25-00002\t\tHas ISRC\n",
         {"FI-ABC-26-00001", "GB-XYZ-25-00002"},
         1},
        {"Track\tTitle\tCode\n1-01\tIntro 2\tFIABC2600001\n", {"FIABC2600001"}, 1},
        {"Track\tTitle\n1-01\tFIABC2600001\tx\n", {"FIABC2600001"}, 1},
    };
    for (const auto& c : cases) {
        const PastedCodes pasted = readPastedCodes(c.text);
        EXPECT_EQ(pasted.codes, c.codes) << c.text.toStdString();
        EXPECT_EQ(pasted.headerLines, c.header) << c.text.toStdString();
    }
}

TEST_F(ModelTest, ExportedListsQuoteWhatNeedsItAndImportAgain) {
    for (auto name : {"a, \"b\".wav", "semi;colon.wav", "tab\there.wav"}) makeWav(dir / name);
    add({urlOf(dir.path())});
    model.setPendings({{id(0), "FI-ABC-26-00001"}, {id(1), "fiabc2600002"}, {id(2), "x"}});
    const QStringList before = pendings();
    const QByteArray csv = exportList(
        model.items(), [](const Model::Item& item) { return "Ready, \"now\"\n" + item.format; });
    const auto parsed = parseCodeList(csv.toStdString());
    ASSERT_TRUE(parsed.problems.empty());
    QStringList rows;
    for (const auto& row : parsed.rows)
        rows << QString::fromStdString(
            fs::path(row.target).lexically_relative(dir.path()).string() + "=" + row.code);
    EXPECT_EQ(rows, QStringList({"a, \"b\".wav=FI-ABC-26-00001", "semi;colon.wav=fiabc2600002",
                                 "tab\there.wav=x"}));
    model.setPendings({{id(0), ""}, {id(1), ""}, {id(2), ""}});
    model.setPendings(planImport(model.items(), csv, {}).codes);
    EXPECT_EQ(pendings(), QStringList({"FI-ABC-26-00001", "FI-ABC-26-00002", ""}));
}

TEST_F(ModelTest, SequenceFollowsTheListAndSkipsCodedFiles) {
    for (auto name : {"CD2/01.wav", "CD1/02.wav", "CD1/01.wav", "CD2/02.wav"})
        makeWav(dir / name, name == std::string("CD1/02.wav") ? "GBXYZ2500001" : "");
    add({urlOf(dir.path())});
    EXPECT_EQ(model.assignSequence("fi", "abc", "26", 1, {.onlySelected = true}),
              "There are no files to assign.");
    EXPECT_TRUE(model.assignSequence("fi", "ab", "26", 1)->startsWith("That is not a valid"));
    EXPECT_EQ(model.assignSequence("fi", "abc", "26", 99997), "The sequence would go past 99999.");
    EXPECT_EQ(pendings(), QStringList({"", "", "", ""}));
    // Only the joined text must form a code; a run may end at 99999.
    EXPECT_EQ(model.assignSequence("f", "iabc", "26", 99996, {.skipCoded = true}), std::nullopt);
    EXPECT_EQ(pendings(),
              QStringList({"FI-ABC-26-99996", "", "FI-ABC-26-99997", "FI-ABC-26-99998"}));
    model.sort(Model::SortKey::location, Qt::DescendingOrder);
    given("GBX1Z2500001");  // a number once given is never given again
    EXPECT_EQ(model.assignSequence("gb", "x1z", "25", 0), std::nullopt);
    EXPECT_EQ(pendings(), QStringList({"GB-X1Z-25-00000", "GB-X1Z-25-00002", "GB-X1Z-25-00003",
                                       "GB-X1Z-25-00004"}));
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QCoreApplication>(argc, argv);
}
