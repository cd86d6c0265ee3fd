// SPDX-License-Identifier: MIT
// The work list model driven headless with real WAV files.

#include <QCoreApplication>

#include "core/write/audio_tagger.h"
#include "ui_support.h"

using namespace pelorix::test;
using Readiness = Model::Readiness;
using Status = Model::Status;
using ModelTest = ListTest;

namespace {

const QString kNothingFound = "No supported audio files found (WAV, AIFF, MP3, FLAC, M4A).";
const Bytes kJunk = bytesOf("junk");  // too short for any container, whatever the extension

std::optional<std::string> stored(const fs::path& p) {
    return pelorix::AudioTagger::readISRC(p);
}

TEST_F(ModelTest, AddingOrdersByFolderThenNameAndLeavesOutHiddenFilesAndBackups) {
    for (auto name :
         {"CD2/01.wav", "CD1/10.wav", "CD1/9.wav", "CD1/B.wav", "CD1/a.WAV", "CD1/9 (original).wav",
          "CD1/9 (original 2).wav", ".git/c.wav", "CD1/.take1.wav", "x.txt"})
        makeWav(dir / "music" / name);
    add({urlOf(dir / "music")});
    EXPECT_EQ(names(), QStringList({"9.wav", "10.wav", "a.WAV", "B.wav", "01.wav"}));
    EXPECT_FALSE(model.notice());
    // Given by name, a hidden file and a backup copy are taken.
    add({urlOf(dir / "music/CD1/.take1.wav"), urlOf(dir / "music/CD1/9 (original).wav")});
    EXPECT_EQ(model.items().size(), 7);

    // A foreign file, a missing one and an empty list add nothing.
    for (const char* path : {"x.txt", "gone.wav"}) {
        model.clear();
        add({urlOf(dir / "music" / path)});
        EXPECT_EQ(model.notice(), kNothingFound);
    }
    QSignalSpy noticed(&model, &Model::noticeChanged);
    model.add({});
    EXPECT_FALSE(model.adding() || noticed.count());

    // Remove takes the rows and their selection; clear takes everything, the notice too.
    addFiles(3);
    model.setSelection({id(0), id(1)});
    model.remove({id(1), QUuid::createUuid()});
    EXPECT_EQ(names(), QStringList({"1.wav", "3.wav"}));
    EXPECT_EQ(model.selection(), QSet<QUuid>{id(0)});
    model.clear();
    EXPECT_TRUE(model.items().isEmpty() && model.selection().isEmpty() && !model.notice());
}

TEST_F(ModelTest, RowsShowWhatTheFileHoldsAndAreReadAgain) {
    makeWav(dir / "plain.wav");
    writeFile(dir / "named.flac", chunks::wav(16));  // WAV content under a FLAC name
    // A readable container whose tag cannot be read.
    writeFile(dir / "damaged.wav", chunks::wav(16, {{"id3 ", id3::tag({.version = 9})}}));
    add({urlOf(dir / "damaged.wav"), urlOf(dir / "named.flac"), urlOf(dir / "plain.wav")});
    ASSERT_EQ(names(), QStringList({"damaged.wav", "named.flac", "plain.wav"}));
    EXPECT_FALSE(model.items()[0].readError.isEmpty());
    EXPECT_EQ(Model::readiness(model.items()[0], {}), Readiness::unreadable);
    EXPECT_EQ(model.items()[1].format, "WAV");
    EXPECT_EQ(model.items()[1].named, "FLAC");
    EXPECT_EQ(model.items()[2].named, "");

    // Another program writes a code: adding the file again, or reloading, shows it.
    pelorix::AudioTagger::writeISRC(dir / "plain.wav", "FIABC2600001", false);
    add({urlOf(dir / "plain.wav")});
    EXPECT_EQ(model.items()[2].current, QString("FIABC2600001"));
    EXPECT_FALSE(model.notice());
    pelorix::AudioTagger::writeISRC(dir / "plain.wav", "FIABC2600002", false);
    model.reload();
    waitAdded();
    EXPECT_EQ(model.items()[2].current, QString("FIABC2600002"));
    EXPECT_EQ(model.items().size(), 3);

    // A code written meanwhile is found right before writing: nothing is replaced.
    model.setPending(id(1), "FI-ABC-26-00009");
    pelorix::AudioTagger::writeISRC(dir / "named.flac", "GBXYZ2500001", false);
    model.writeAll();
    waitBatch();
    EXPECT_EQ(stored(dir / "named.flac"), "GBXYZ2500001");
    EXPECT_EQ(model.items()[1].current, QString("GBXYZ2500001"));
    EXPECT_EQ(model.items()[1].status,
              Status::failed("Not written: the file carries GB-XYZ-25-00001 now."));
}

TEST_F(ModelTest, SkippedFilesNotice) {
    const struct {
        std::vector<std::string> junk;  // unreadable files given beside a good one
        QString expected;
    } cases[] = {
        {{"x.wav"}, "Skipped 1 file that is not readable audio: x.wav"},
        {{"e.m4a", "a.wav", "d.flac", "c.mp3", "b.wav"},
         "Skipped 5 files that are not readable audio: a.wav, b.wav, c.mp3\u2026"},
    };
    for (const auto& c : cases) {
        TempDir folder;
        QList<QUrl> urls{urlOf(makeWav(folder / "good.wav"))};
        for (const auto& name : c.junk) {
            writeFile(folder / name, kJunk);
            urls << urlOf(folder / name);
        }
        model.clear();
        add(urls);
        EXPECT_EQ(names(), QStringList{"good.wav"});
        add({urlOf(makeWav(folder / "more.wav"))});  // nothing skipped: the notice stays
        EXPECT_EQ(model.notice(), c.expected);
    }
}

TEST_F(ModelTest, ReadinessRules) {
    const struct {
        const char* pending;
        std::optional<QString> current;
        Readiness expected;
        QString readError = {};
    } cases[] = {
        {" \t\u00a0\u3000", {}, Readiness::empty},  // space separators and tabs only
        {"\n", {}, Readiness::invalid},             // a line break is not blank
        {"---", {}, Readiness::invalid},
        {"fi-abc-26-00001", {}, Readiness::ready},
        {"fi-abc-26-00001", "FIABC2600002", Readiness::replaces},
        {" fi-abc-26-00001 ", "FIABC2600001", Readiness::upToDate},
        {"GBXYZ2500001", "GBXYZ2500001", Readiness::duplicate},
        {"fi-abc-26-00001", {}, Readiness::unreadable, "damaged"},
    };
    for (const auto& c : cases) {
        const Model::Item item{{},          {}, "WAV", c.current, c.pending, Status::idle(),
                               c.readError, {}};
        EXPECT_EQ(Model::readiness(item, {"GBXYZ2500001"}), c.expected) << c.pending;
    }

    // One recording in several formats shares its code; any other repeat is a duplicate.
    for (auto name : {"01 Intro.wav", "flac/01 Intro.flac", "01 Intro.mp3.wav", "02 Song.wav"})
        makeWav(dir / name);
    add({urlOf(dir.path())});
    ASSERT_EQ(names(),
              QStringList({"01 Intro.mp3.wav", "01 Intro.wav", "02 Song.wav", "01 Intro.flac"}));
    for (int row : {1, 3}) model.setPending(id(row), "FI-ABC-26-00001");
    EXPECT_TRUE(model.duplicateCodes().isEmpty());
    EXPECT_EQ(model.readyCount(), 2);
    for (int row : {0, 2}) {
        model.setPending(id(row), "FIABC2600001");
        EXPECT_EQ(model.duplicateCodes(), QSet<QString>{"FIABC2600001"});
        model.setPending(id(row), "");
    }
}

TEST_F(ModelTest, CommitEditsAndUndo) {
    addFiles(3);
    // A commit tidies valid codes only and leaves the status; an edit returns it to idle.
    const QString commits[][2] = {{" fi abc 26 00001", "FI-ABC-26-00001"},
                                  {"FI-ABC-26", "FI-ABC-26"}};
    for (const auto& [typed, committed] : commits) {
        model.setPending(id(0), typed);
        model.setStatus(id(0), Status::failed("x"));
        model.commitFormat(id(0));
        EXPECT_EQ(model.items()[0].pending, committed);
        EXPECT_EQ(model.items()[0].status, Status::failed("x"));
    }
    model.setPending(id(0), "FI-ABC-26");
    EXPECT_EQ(model.items()[0].status, Status::idle());

    // Typing in a field is one step; a sequence, a removal and clearing are one step each.
    model.setPending(id(0), "");
    model.beginTyping(id(1));
    for (const char* text : {"f", "fi", "fiabc2600009"}) model.setPending(id(1), text);
    model.commitFormat(id(1));
    model.assignSequence("FI", "ABC", "26", 1);
    model.remove({id(0)});
    model.clear();
    const QStringList after = {"FI-ABC-26-00001", "FI-ABC-26-00002", "FI-ABC-26-00003"};
    const QStringList steps[] = {
        {"FI-ABC-26-00002", "FI-ABC-26-00003"}, after, {"", "FI-ABC-26-00009", ""}, {"", "", ""}};
    for (const QStringList& expected : steps) {
        model.undo();
        EXPECT_EQ(pendings(), expected);
    }
    model.redo();
    model.redo();
    EXPECT_EQ(pendings(), after);
}

TEST_F(ModelTest, WriteBatchAsksBeforeReplacingAndCanStop) {
    addFiles(4, {{2, "GBXYZ2500011"}, {3, "GBXYZ2500012"}});
    model.writeAll();  // nothing ready
    EXPECT_FALSE(model.busy() || model.notice());
    for (int i = 0; i < 4; ++i) model.setPending(id(i), QString("fi-abc-26-0000%1").arg(i + 1));
    EXPECT_EQ(model.readyCount(), 2);
    EXPECT_EQ(model.replaceCount(), 2);
    writeFile(dir / "4.wav", kJunk);  // unreadable now, after it was listed
    model.writeAll();                 // the ready rows only
    model.removeISRC({id(1)});        // refused while busy, like a second write
    model.remove({id(0)});            // its file is still written and counted
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Wrote 1, failed 1. See the Status column."));
    EXPECT_EQ(stored(dir / "1.wav"), "FIABC2600001");
    EXPECT_EQ(stored(dir / "2.wav"), "GBXYZ2500011");
    EXPECT_EQ(model.items()[2].status.kind, Status::Kind::failed);
    EXPECT_EQ(model.items()[2].pending, "fi-abc-26-00004");

    model.writeAll(true);  // the replacements, stopped after the first file
    model.stop();
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Stopped after 1 of 3 files. Wrote 1 ISRC code."));
    EXPECT_EQ(model.items()[0].status, Status::done("Written"));
    EXPECT_EQ(model.items()[0].current, QString("FIABC2600002"));
    EXPECT_EQ(model.items()[0].pending, "FI-ABC-26-00002");
    EXPECT_EQ(stored(dir / "3.wav"), "GBXYZ2500012");
}

TEST_F(ModelTest, BackupIsPersistedAndReadOncePerBatch) {
    addFiles(2);
    model.assignSequence("FI", "ABC", "26", 1);
    model.writeAll();
    model.setBackup(true);  // too late for the running batch, also for its second file
    waitBatch();
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"1.wav", "2.wav"}));
    EXPECT_TRUE(Model().backup());
    model.setPending(id(0), "FI-ABC-26-00003");
    model.writeAll(true);
    waitBatch();
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"1 (original).wav", "1.wav", "2.wav"}));
}

TEST_F(ModelTest, RemovalBatches) {
    addFiles(4, {{1, "FIABC2600001"}, {3, "FIABC2600003"}, {4, "FIABC2600004"}});
    model.removeISRC({id(1)});
    EXPECT_EQ(model.notice(), QString("None of the selected files has an ISRC."));
    writeFile(dir / "4.wav", kJunk);
    model.removeISRC({id(3), id(2), id(0), id(1)});
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Removed 2, failed 1."));
    EXPECT_EQ(model.items()[2].current, std::nullopt);
    EXPECT_EQ(model.items()[2].status, Status::done("Removed"));
    EXPECT_EQ(stored(dir / "1.wav"), std::nullopt);
    EXPECT_EQ(model.items()[3].current, QString("FIABC2600004"));
}

TEST_F(ModelTest, SequenceFollowsTheListAndSkipsCodedFiles) {
    for (auto name : {"CD2/01.wav", "CD1/02.wav", "CD1/01.wav", "CD2/02.wav"})
        makeWav(dir / name, std::string(name) == "CD1/02.wav"
                                ? std::optional<std::string>("GBXYZ2500001")
                                : std::nullopt);
    add({urlOf(dir.path())});
    const QString badStart =
        "That is not a valid ISRC start. Use 2 letters, 3 letters or digits, "
        "2 digits and a number from 0 to 99999.";
    EXPECT_EQ(model.assignSequence("fi", "abc", "26", 1, {.onlySelected = true}),
              "There are no files to assign.");
    for (const auto& [registrant, year, start] :
         {std::tuple("abc", "2026", 1), {"ab", "26", 1}, {"abc", "26", 100000}})
        EXPECT_EQ(model.assignSequence("fi", registrant, year, start), badStart);
    EXPECT_EQ(model.assignSequence("fi", "abc", "26", 99997), "The sequence would go past 99999.");
    EXPECT_EQ(pendings(), QStringList({"", "", "", ""}));

    // Only the joined text must form a code; a run may end at 99999.
    EXPECT_EQ(model.assignSequence("f", "iabc", "26", 99996, {.skipCoded = true}), std::nullopt);
    EXPECT_EQ(pendings(),
              QStringList({"FI-ABC-26-99996", "", "FI-ABC-26-99997", "FI-ABC-26-99998"}));
    model.sort(Model::SortKey::location, Qt::DescendingOrder);
    EXPECT_EQ(model.assignSequence("gb", "x1z", "25", 0), std::nullopt);
    EXPECT_EQ(pendings(), QStringList({"GB-X1Z-25-00000", "GB-X1Z-25-00001", "GB-X1Z-25-00002",
                                       "GB-X1Z-25-00003"}));
    EXPECT_EQ(names(), QStringList({"02.wav", "01.wav", "02.wav", "01.wav"}));
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QCoreApplication>(argc, argv);
}
