// SPDX-License-Identifier: MIT
// The work list model driven headless with real WAV files.

#include <QCoreApplication>
#include <QSignalSpy>

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

TEST_F(ModelTest, AddingFilesAndFolders) {
    for (auto name : {"10.wav", "B.wav", "sub/9.wav", "a.WAV", ".take1.wav", ".git/c.wav", "x.txt"})
        makeWav(dir / "music" / name);
    add({urlOf(dir / "music")});
    EXPECT_EQ(names(), QStringList({"9.wav", "10.wav", "a.WAV", "B.wav"}));
    EXPECT_FALSE(model.notice());
    add({urlOf(dir / "music" / ".take1.wav")});  // given by name, a hidden file is taken
    EXPECT_EQ(names().last(), ".take1.wav");

    // Known files through other forms of their paths, a folder without new audio, a foreign
    // file and a missing one: each add says that nothing was found.
    const QString music = QString::fromStdString((dir / "music").string());
    for (const QString& path : {music + "/./10.wav", music + "/sub/../B.wav", music + "/sub/",
                                music + "/x.txt", music + "/gone.wav"}) {
        QSignalSpy noticed(&model, &Model::noticeChanged);
        add({QUrl::fromLocalFile(path)});
        EXPECT_EQ(noticed.count(), 1) << path.toStdString();
    }
    EXPECT_EQ(model.notice(), kNothingFound);
    EXPECT_EQ(model.items().size(), 5);
    QSignalSpy noticed(&model, &Model::noticeChanged);
    model.add({});
    EXPECT_FALSE(model.adding());
    EXPECT_EQ(noticed.count(), 0);

    // Remove takes the rows and their selection; clear takes everything, the notice too.
    model.setSelection({id(0), id(1)});
    model.remove({id(1), id(2), QUuid::createUuid()});
    EXPECT_EQ(names(), QStringList({"9.wav", "B.wav", ".take1.wav"}));
    EXPECT_EQ(model.selection(), QSet<QUuid>{id(0)});
    model.clear();
    EXPECT_TRUE(model.items().isEmpty() && model.selection().isEmpty());
    EXPECT_FALSE(model.notice());

    // The same file added twice in quick succession is listed once.
    model.add({urlOf(dir / "music" / "B.wav")});
    add({urlOf(dir / "music" / "B.wav")});
    EXPECT_EQ(names(), QStringList({"B.wav"}));
    EXPECT_EQ(model.notice(), kNothingFound);
}

TEST_F(ModelTest, SkippedFilesNotice) {
    const struct {
        std::vector<std::string> junk;  // unreadable files given beside a good one
        QString expected;
    } cases[] = {
        {{"x.wav"}, "Skipped 1 file(s) that are not readable audio: x.wav"},
        {{"c.wav", "a.mp3", "b.flac"},
         "Skipped 3 file(s) that are not readable audio: a.mp3, b.flac, c.wav"},
        {{"e.m4a", "a.wav", "d.flac", "c.mp3", "b.wav"},
         "Skipped 5 file(s) that are not readable audio: a.wav, b.wav, c.mp3\u2026"},
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
    } cases[] = {
        {" \t\u00a0\u3000", {}, Readiness::empty},  // space separators and tabs only
        {"\n", {}, Readiness::invalid},             // a line break is not blank
        {"---", {}, Readiness::invalid},
        {"fi-abc-26-00001", "FIABC2600002", Readiness::ready},
        {" fi-abc-26-00001 ", "FIABC2600001", Readiness::upToDate},
        {"gb-xyz-25-00001", {}, Readiness::duplicate},
        {"GBXYZ2500001", "GBXYZ2500001", Readiness::duplicate},
    };
    for (const auto& c : cases) {
        const Model::Item item{{}, {}, "WAV", c.current, c.pending, Status::idle()};
        EXPECT_EQ(Model::readiness(item, {"GBXYZ2500001"}), c.expected) << c.pending;
    }
}

TEST_F(ModelTest, StoredCodesEditsDuplicatesAndReadyCount) {
    addFiles(6, {{5, "not a code"}, {6, "gb-xyz-25-00011"}});
    EXPECT_FALSE(model.items()[4].current);
    EXPECT_EQ(model.items()[5].current, QString("GBXYZ2500011"));
    const char* pendings[] = {"FIABC2600001",    "fi-abc-26-00001", "",
                              "gb-xyz-25-00010", "GBXYZ2500011",    "gb-xyz-25-00011"};
    for (int i = 0; i < 6; ++i) model.setPending(id(i), pendings[i]);
    EXPECT_EQ(model.duplicateCodes(), QSet<QString>({"FIABC2600001", "GBXYZ2500011"}));
    EXPECT_EQ(model.readyCount(), 1);
    // Only pending codes are compared: the last row then carries its own code.
    model.setPending(id(4), "FI-ABC-26-00001");
    EXPECT_EQ(model.duplicateCodes(), QSet<QString>{"FIABC2600001"});
    EXPECT_EQ(model.readyCount(), 1);

    // A commit tidies valid codes only and leaves the status.
    const QString commits[][2] = {{"fiabc2600001", "FI-ABC-26-00001"},
                                  {" fi abc 26 00001", "FI-ABC-26-00001"},
                                  {"FI-ABC-26", "FI-ABC-26"}};
    for (const auto& [typed, committed] : commits) {
        model.setPending(id(0), typed);
        model.setStatus(id(0), Status::failed("x"));
        model.commitFormat(id(0));
        EXPECT_EQ(model.items()[0].pending, committed);
        EXPECT_EQ(model.items()[0].status, Status::failed("x"));
    }
    // Any edit, even to the same text, returns a finished row to idle; a writing row stays.
    for (const Status& s : {Status::done("Written"), Status::failed("x"), Status::writing()}) {
        model.setStatus(id(1), s);
        model.setPending(id(1), model.items()[1].pending);
        EXPECT_EQ(model.items()[1].status, s.isFinished() ? Status::idle() : s);
    }
    const auto before = model.items();
    model.setPending(QUuid::createUuid(), "FIABC2600001");
    model.commitFormat(QUuid::createUuid());
    EXPECT_EQ(model.items(), before);
}

TEST_F(ModelTest, WriteBatch) {
    addFiles(4, {{2, "GBXYZ2500011"}});
    model.writeAll();  // nothing ready
    EXPECT_FALSE(model.busy());
    EXPECT_FALSE(model.notice());

    for (int i = 0; i < 4; ++i) model.setPending(id(i), QString("fi-abc-26-0000%1").arg(i + 1));
    writeFile(dir / "2.wav", kJunk);  // unreadable now, after it was listed
    QString failure;                  // the driver's own message for this file
    try {
        pelorix::AudioTagger::writeISRC(dir / "2.wav", "FIABC2600002", false);
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    QSignalSpy busy(&model, &Model::busyChanged);
    model.writeAll();
    EXPECT_EQ(model.items()[0].status, Status::writing());
    model.removeISRC({id(1)});  // refused while busy, like a second write
    model.writeAll();
    EXPECT_EQ(model.items()[1].status, Status::idle());
    model.remove({id(3)});  // its file is still written and counted
    waitBatch();
    EXPECT_EQ(busy.count(), 2);
    EXPECT_EQ(model.notice(), QString("Wrote 3, failed 1. See the Status column."));
    EXPECT_EQ(stored(dir / "4.wav"), "FIABC2600004");

    const auto& ok = model.items()[0];
    EXPECT_EQ(ok.current, QString("FIABC2600001"));
    EXPECT_EQ(ok.pending, "FI-ABC-26-00001");
    EXPECT_EQ(ok.status, Status::done("Written"));
    EXPECT_EQ(stored(dir / "1.wav"), "FIABC2600001");
    const auto& bad = model.items()[1];
    ASSERT_FALSE(failure.isEmpty());
    EXPECT_EQ(bad.status, Status::failed(failure));
    EXPECT_EQ(bad.pending, "fi-abc-26-00002");
    EXPECT_EQ(bad.current, QString("GBXYZ2500011"));
}

TEST_F(ModelTest, BackupIsPersistedAndReadOncePerBatch) {
    EXPECT_FALSE(model.backup());
    addFiles(2);
    model.assignSequence("FI", "ABC", "26", 1, false);
    model.writeAll();
    model.setBackup(true);  // too late for the running batch, also for its second file
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Wrote 2 ISRC codes."));
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"1.wav", "2.wav"}));
    EXPECT_TRUE(Model().backup());

    model.setPending(id(0), "FI-ABC-26-00003");
    model.writeAll();
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Wrote 1 ISRC code."));
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"1 (original).wav", "1.wav", "2.wav"}));
    model.setBackup(false);
    EXPECT_FALSE(Model().backup());
}

TEST_F(ModelTest, RemovalBatches) {
    addFiles(4, {{1, "FIABC2600001"}, {3, "FIABC2600003"}, {4, "FIABC2600004"}});
    model.removeISRC({id(1)});
    EXPECT_EQ(model.notice(), QString("None of the selected files has an ISRC."));
    EXPECT_FALSE(model.busy());

    std::vector<int> order;
    QObject::connect(&model, &Model::itemChanged, [&](int row) {
        if (model.items()[row].status == Status::writing()) order.push_back(row);
    });
    model.setPending(id(2), "FI-ABC-26-00009");
    writeFile(dir / "4.wav", kJunk);
    model.removeISRC({id(3), id(2), id(0), id(1)});
    waitBatch();
    EXPECT_EQ(order, (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(model.notice(), QString("Removed 2, failed 1."));
    EXPECT_EQ(model.items()[2].current, std::nullopt);
    EXPECT_EQ(model.items()[2].pending, "");
    EXPECT_EQ(model.items()[2].status, Status::done("Removed"));
    EXPECT_EQ(stored(dir / "1.wav"), std::nullopt);
    EXPECT_EQ(model.items()[3].current, QString("FIABC2600004"));

    makeWav(dir / "4.wav", "FIABC2600004");  // readable again
    model.removeISRC({id(3)});
    waitBatch();
    EXPECT_EQ(model.notice(), QString("Removed the ISRC from 1 file."));
}

TEST_F(ModelTest, SequenceAssignment) {
    addFiles(5);
    const QString badStart =
        "That is not a valid ISRC start. Use 2 letters, 3 letters or digits, "
        "2 digits and a number from 0 to 99999.";
    const QString past = "The sequence would go past 99999.";
    const auto before = model.items();
    EXPECT_EQ(model.assignSequence("fi", "abc", "26", 1, true), "There are no files to assign.");
    for (const auto& [registrant, year, start] :
         {std::tuple("abc", "2026", 1), {"ab", "26", 1}, {"abc", "26", 100000}})
        EXPECT_EQ(model.assignSequence("fi", registrant, year, start, false), badStart);
    EXPECT_EQ(model.assignSequence("fi", "abc", "26", 99996, false), past);
    EXPECT_EQ(model.items(), before);

    // Only the joined text must form a code; a run may end at 99999; rows turn idle.
    model.setStatus(id(0), Status::done("Written"));
    EXPECT_EQ(model.assignSequence("f", "iabc", "26", 99995, false), std::nullopt);
    EXPECT_EQ(model.items()[0].status, Status::idle());
    model.setStatus(id(0), Status::done("Written"));
    model.setSelection({id(3), id(1)});
    EXPECT_EQ(model.assignSequence("gb", "x1z", "25", 0, true), std::nullopt);
    QStringList pendings;
    for (const auto& item : model.items()) pendings << item.pending;
    EXPECT_EQ(pendings, QStringList({"FI-ABC-26-99995", "GB-X1Z-25-00000", "FI-ABC-26-99997",
                                     "GB-X1Z-25-00001", "FI-ABC-26-99999"}));
    EXPECT_EQ(model.items()[0].status, Status::done("Written"));
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QCoreApplication>(argc, argv);
}
