// The work list model driven headless with real WAV files built byte by byte.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <map>
#include <optional>
#include <string>

#include "core/audio_tagger.h"
#include "support/files.h"
#include "ui/model.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace fs = std::filesystem;
using pelorix::test::Bytes;
using pelorix::test::TempDir;
using pelorix::ui::Model;
using Readiness = Model::Readiness;
using Status = Model::Status;

namespace {

void put16(Bytes& b, unsigned v) {
    for (int i = 0; i < 2; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put32le(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// A 16-bit stereo PCM WAV; with a code text, an "id3 " chunk holding an ID3v2.3 TSRC frame.
Bytes wav(const std::optional<std::string>& code = std::nullopt) {
    Bytes body;
    putText(body, "WAVEfmt ");
    put32le(body, 16);
    for (unsigned v : {1u, 2u}) put16(body, v);  // PCM, stereo
    put32le(body, 44100);
    put32le(body, 176400);
    for (unsigned v : {4u, 16u}) put16(body, v);  // block align, bits
    putText(body, "data");
    put32le(body, 400);
    for (int i = 0; i < 400; ++i) body.push_back(static_cast<std::uint8_t>(i * 7));
    if (code) {
        Bytes tag;
        putText(tag, "ID3");
        tag.insert(tag.end(), {3, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(11 + code->size())});
        putText(tag, "TSRC");
        tag.insert(tag.end(), {0, 0, 0, static_cast<std::uint8_t>(1 + code->size()), 0, 0, 0});
        putText(tag, *code);
        putText(body, "id3 ");
        put32le(body, static_cast<std::uint32_t>(tag.size()));
        body.insert(body.end(), tag.begin(), tag.end());
        if (tag.size() % 2) body.push_back(0);
    }
    Bytes file;
    putText(file, "RIFF");
    put32le(file, static_cast<std::uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// Too short for any container, whatever the name's extension says.
const Bytes kJunk = pelorix::test::bytesOf("junk");

QUrl urlOf(const fs::path& p) { return QUrl::fromLocalFile(QString::fromStdString(p.string())); }

std::optional<std::string> storedCode(const fs::path& p) {
    return pelorix::AudioTagger::readISRC(p);
}

// The driver's own message for a file, as the model must report it.
QString driverMessage(const fs::path& p) {
    try {
        pelorix::AudioTagger::writeISRC(p, "FIABC2600001", false);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

class ModelTest : public ::testing::Test {
protected:

    // Adds and waits until the rows are in (the wait only guards against a hang).
    void addAndWait(const QList<QUrl>& urls) {
        model.add(urls);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model.adding(); }, 60000));
    }
    void waitBatch() { ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 60000)); }

    // Files 1.wav … n.wav, the given ones carrying a code; listed in that order.
    void addFiles(int n, const std::map<int, std::string>& codes = {}) {
        QList<QUrl> urls;
        for (int i = 1; i <= n; ++i) {
            const auto p = dir / (std::to_string(i) + ".wav");
            const auto c = codes.find(i);
            pelorix::test::writeFile(p, wav(c == codes.end() ? std::nullopt
                                                             : std::optional(c->second)));
            urls.append(urlOf(p));
        }
        addAndWait(urls);
        ASSERT_EQ(model.items().size(), n);
    }
    QUuid id(int row) const { return model.items()[row].id; }
    QStringList names() const {
        QStringList out;
        for (const auto& item : model.items()) out << item.fileName();
        return out;
    }
    QString notice() const { return model.notice().value_or("<none>"); }

    // Runs before the model reads its settings, so every test starts from the default.
    static bool resetSettings() {
        QSettings("PELORIX", "PELORIX").remove("backupOriginals");
        return true;
    }

    bool reset_ = resetSettings();
    TempDir dir;
    Model model;
};

TEST_F(ModelTest, FolderScanOrdersByNameAndSkipsHiddenAndForeignFiles) {
    fs::create_directories(dir / "music" / "sub");
    fs::create_directories(dir / "music" / ".cache");
    for (auto name : {"10.wav", "B.wav", "sub/9.wav", "a.WAV", ".take1.wav", ".cache/c.wav"}) {
        pelorix::test::writeFile(dir / "music" / name, wav());
    }
    pelorix::test::writeFile(dir / "music" / "notes.txt", wav());
    QSignalSpy inserted(&model, &Model::itemInserted);

    addAndWait({urlOf(dir / "music")});
    EXPECT_EQ(names(), QStringList({"9.wav", "10.wav", "a.WAV", "B.wav"}));
    EXPECT_EQ(inserted.count(), 4);
    for (const auto& item : model.items()) {
        EXPECT_EQ(item.format, "WAV");
        EXPECT_EQ(item.pending, "");
        EXPECT_EQ(item.status, Status::idle());
        EXPECT_FALSE(item.current);
    }
    EXPECT_FALSE(model.notice());

    // Given by name, a hidden file is taken.
    addAndWait({urlOf(dir / "music" / ".take1.wav")});
    EXPECT_EQ(names().last(), ".take1.wav");

    // The same files through other forms of their paths add nothing.
    const QString base = QString::fromStdString((dir / "music").string());
    addAndWait({QUrl::fromLocalFile(base + "/./10.wav"), QUrl::fromLocalFile(base + "/sub/../B.wav"),
                QUrl::fromLocalFile(base + "/sub/")});
    EXPECT_EQ(model.items().size(), 5);
    EXPECT_EQ(notice(), "No supported audio files found (WAV, AIFF, MP3, FLAC, M4A).");
}

TEST_F(ModelTest, AddNotices) {
    struct Case {
        std::vector<std::string> junk;  // unreadable files given with one good file
        QString expected;
    };
    const std::vector<Case> cases = {
        {{"x.wav"}, "Skipped 1 file(s) that are not readable audio: x.wav"},
        {{"c.wav", "a.mp3", "b.flac"}, "Skipped 3 file(s) that are not readable audio: a.mp3, b.flac, c.wav"},
        {{"e.m4a", "a.wav", "d.flac", "c.mp3", "b.wav"},
         QString::fromUtf8("Skipped 5 file(s) that are not readable audio: a.wav, b.wav, c.mp3\u2026")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        TempDir folder;
        QList<QUrl> urls{urlOf(folder / "good.wav")};
        pelorix::test::writeFile(folder / "good.wav", wav());
        for (const auto& name : c.junk) {
            pelorix::test::writeFile(folder / name, kJunk);
            urls.append(urlOf(folder / name));
        }
        model.clear();
        addAndWait(urls);
        EXPECT_EQ(notice(), c.expected);
        EXPECT_EQ(names(), QStringList{"good.wav"});
        // A later add with nothing skipped leaves the notice alone.
        pelorix::test::writeFile(folder / "more.wav", wav());
        addAndWait({urlOf(folder / "more.wav")});
        EXPECT_EQ(notice(), c.expected);
    }

    model.clear();
    QSignalSpy noticeSpy(&model, &Model::noticeChanged);
    model.add({});
    EXPECT_FALSE(model.adding());
    EXPECT_EQ(noticeSpy.count(), 0);

    fs::create_directories(dir / "docs");
    pelorix::test::writeFile(dir / "docs" / "readme.txt", kJunk);
    for (const auto& urls : {QList<QUrl>{urlOf(dir / "docs")}, QList<QUrl>{urlOf(dir / "gone.wav")}}) {
        model.clear();
        addAndWait(urls);
        EXPECT_EQ(notice(), "No supported audio files found (WAV, AIFF, MP3, FLAC, M4A).");
        EXPECT_TRUE(model.items().isEmpty());
    }
}

TEST_F(ModelTest, StoredCodesAreReadAndValidated) {
    pelorix::test::writeFile(dir / "a.wav", wav("fi-abc-26-00001"));
    pelorix::test::writeFile(dir / "b.wav", wav("not a code"));
    addAndWait({urlOf(dir / "a.wav"), urlOf(dir / "b.wav")});
    ASSERT_EQ(names(), QStringList({"a.wav", "b.wav"}));
    EXPECT_EQ(model.items()[0].current, QString("FIABC2600001"));
    EXPECT_FALSE(model.items()[1].current);
}

TEST_F(ModelTest, SameFileAddedTwiceInQuickSuccessionIsListedOnce) {
    pelorix::test::writeFile(dir / "a.wav", wav());
    pelorix::test::writeFile(dir / "b.wav", wav());
    model.add({urlOf(dir / "a.wav"), urlOf(dir / "b.wav")});
    model.add({urlOf(dir.path())});  // both still being probed by the first call
    EXPECT_EQ(notice(), "No supported audio files found (WAV, AIFF, MP3, FLAC, M4A).");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.adding(); }, 60000));
    EXPECT_EQ(names(), QStringList({"a.wav", "b.wav"}));
}

TEST_F(ModelTest, RowSignalsDescribeEveryListChange) {
    addFiles(6);
    QList<QUuid> mirror;
    for (const auto& item : model.items()) mirror << item.id;
    QObject::connect(&model, &Model::itemInserted, [&](int row) { mirror.insert(row, model.items()[row].id); });
    QObject::connect(&model, &Model::itemsRemoved, [&](int first, int last) {
        mirror.remove(first, last - first + 1);
    });
    const auto same = [&] {
        QList<QUuid> ids;
        for (const auto& item : model.items()) ids << item.id;
        return ids == mirror;
    };
    model.setSelection({id(0), id(4)});
    model.remove({id(1), id(2), id(4), QUuid::createUuid()});
    EXPECT_TRUE(same());
    EXPECT_EQ(names(), QStringList({"1.wav", "4.wav", "6.wav"}));
    EXPECT_EQ(model.selection(), QSet<QUuid>{id(0)});

    const auto before = model.items();
    model.remove({QUuid::createUuid()});
    EXPECT_EQ(model.items(), before);

    pelorix::test::writeFile(dir / "7.wav", wav());
    addAndWait({urlOf(dir / "7.wav")});
    EXPECT_TRUE(same());

    model.removeISRC({id(0)});  // sets a notice that clear() must drop
    ASSERT_TRUE(model.notice());
    model.clear();
    EXPECT_TRUE(same());
    EXPECT_TRUE(model.items().isEmpty());
    EXPECT_TRUE(model.selection().isEmpty());
    EXPECT_FALSE(model.notice());
}

TEST_F(ModelTest, ReadinessRules) {
    auto item = [](QString pending, std::optional<QString> current = std::nullopt) {
        return Model::Item{QUuid::createUuid(), {}, "WAV", current, pending, Status::idle()};
    };
    const QSet<QString> dups{"GBXYZ2500001"};
    const struct {
        Model::Item item;
        Readiness expected;
    } cases[] = {
        {item(""), Readiness::empty},
        {item(QString::fromUtf8(" \t\u00a0\u3000")), Readiness::empty},
        {item("\n"), Readiness::invalid},
        {item("---"), Readiness::invalid},
        {item("FI-ABC-26"), Readiness::invalid},
        {item("fi-abc-26-00001"), Readiness::ready},
        {item("fi-abc-26-00001", "FIABC2600002"), Readiness::ready},
        {item(" fi-abc-26-00001 ", "FIABC2600001"), Readiness::upToDate},
        {item("gb-xyz-25-00001"), Readiness::duplicate},
        {item("GBXYZ2500001", "GBXYZ2500001"), Readiness::duplicate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item.pending.toStdString());
        EXPECT_EQ(Model::readiness(c.item, dups), c.expected);
    }
}

TEST_F(ModelTest, DuplicatesAndReadyCountOverTheList) {
    addFiles(6, {{6, "GBXYZ2500011"}});
    const char* pendings[] = {"FIABC2600001", "fi-abc-26-00001", "", "gb-xyz-25-00010",
                              "GBXYZ2500011", "gb-xyz-25-00011"};
    for (int i = 0; i < 6; ++i) model.setPending(id(i), pendings[i]);
    EXPECT_EQ(model.duplicateCodes(), QSet<QString>({"FIABC2600001", "GBXYZ2500011"}));
    EXPECT_EQ(model.readyCount(), 1);

    // Only pending codes count as duplicates; the row that already carries its code is up to date.
    model.setPending(id(4), "FI-ABC-26-00001");
    EXPECT_EQ(model.duplicateCodes(), QSet<QString>{"FIABC2600001"});
    const auto dups = model.duplicateCodes();
    EXPECT_EQ(Model::readiness(model.items()[5], dups), Readiness::upToDate);
    EXPECT_EQ(Model::readiness(model.items()[4], dups), Readiness::duplicate);
    EXPECT_EQ(model.readyCount(), 1);
}

TEST_F(ModelTest, EditingAndCommitting) {
    addFiles(2);
    const auto before = model.items();
    model.setPending(QUuid::createUuid(), "FIABC2600001");
    model.commitFormat(QUuid::createUuid());
    EXPECT_EQ(model.items(), before);

    const struct {
        QString typed, committed;
    } commits[] = {{"fiabc2600001", "FI-ABC-26-00001"},
                   {" fi abc 26 00001", "FI-ABC-26-00001"},
                   {"FI-ABC-26", "FI-ABC-26"},
                   {"", ""}};
    for (const auto& c : commits) {
        model.setPending(id(0), c.typed);
        model.setStatus(id(0), Status::failed("x"));
        model.commitFormat(id(0));
        EXPECT_EQ(model.items()[0].pending, c.committed);
        EXPECT_EQ(model.items()[0].status, Status::failed("x"));
    }

    QSignalSpy changed(&model, &Model::itemChanged);
    const Status statuses[] = {Status::done("Written"), Status::failed("x"), Status::writing(),
                               Status::idle()};
    for (const auto& s : statuses) {
        model.setStatus(id(1), s);
        model.setPending(id(1), model.items()[1].pending);  // same text still counts as an edit
        EXPECT_EQ(model.items()[1].status, s.isFinished() ? Status::idle() : s);
    }
    EXPECT_FALSE(changed.isEmpty());
    EXPECT_EQ(changed.last().at(0).toInt(), 1);
}

TEST_F(ModelTest, WriteBatchWithOneSuccessAndOneFailure) {
    addFiles(3, {{2, "GBXYZ2500011"}});
    model.writeAll();  // nothing ready
    EXPECT_FALSE(model.busy());
    EXPECT_FALSE(model.notice());

    model.setPending(id(0), "fi-abc-26-00001");
    model.setPending(id(1), "fi-abc-26-00002");
    model.setPending(id(2), "GB-XYZ-25-00012");
    const QString expectedFailure = [&] {
        pelorix::test::writeFile(dir / "probe.wav", kJunk);
        return driverMessage(dir / "probe.wav");
    }();
    pelorix::test::writeFile(dir / "2.wav", kJunk);  // unreadable now, after it was listed
    QSignalSpy busy(&model, &Model::busyChanged);
    model.writeAll();
    EXPECT_TRUE(model.busy());
    EXPECT_EQ(model.items()[0].status, Status::writing());

    // A second batch is refused while this one runs, even with ready rows.
    model.removeISRC({id(1)});
    model.writeAll();
    EXPECT_FALSE(model.notice());
    EXPECT_EQ(model.items()[1].status, Status::idle());

    waitBatch();
    EXPECT_EQ(busy.count(), 2);
    EXPECT_EQ(notice(), "Wrote 2, failed 1. See the Status column.");
    const auto& ok = model.items()[0];
    EXPECT_EQ(ok.current, QString("FIABC2600001"));
    EXPECT_EQ(ok.pending, "FI-ABC-26-00001");
    EXPECT_EQ(ok.status, Status::done("Written"));
    EXPECT_EQ(Model::readiness(ok, model.duplicateCodes()), Readiness::upToDate);
    EXPECT_EQ(storedCode(dir / "1.wav"), "FIABC2600001");
    EXPECT_EQ(storedCode(dir / "3.wav"), "GBXYZ2500012");
    const auto& bad = model.items()[1];
    ASSERT_FALSE(expectedFailure.isEmpty());
    EXPECT_EQ(bad.status, Status::failed(expectedFailure));
    EXPECT_EQ(bad.pending, "fi-abc-26-00002");
    EXPECT_EQ(bad.current, QString("GBXYZ2500011"));
    EXPECT_EQ(model.readyCount(), 1);
}

TEST_F(ModelTest, WriteSummariesAndRowsRemovedMidBatch) {
    addFiles(2);
    model.setPending(id(1), "FI-ABC-26-00002");
    model.writeAll();
    waitBatch();
    EXPECT_EQ(notice(), "Wrote 1 ISRC code.");

    model.setPending(id(0), "FI-ABC-26-00001");
    model.setPending(id(1), "FI-ABC-26-00003");
    model.writeAll();
    const QUuid gone = id(0);
    model.remove({gone});
    waitBatch();
    EXPECT_EQ(notice(), "Wrote 2 ISRC codes.");
    EXPECT_EQ(model.indexOf(gone), -1);
    EXPECT_EQ(storedCode(dir / "1.wav"), "FIABC2600001");
    EXPECT_EQ(model.items()[0].status, Status::done("Written"));

    model.setPending(id(0), "FI-ABC-26-00004");
    model.writeAll();
    model.clear();
    waitBatch();
    EXPECT_EQ(notice(), "Wrote 1 ISRC code.");
    EXPECT_TRUE(model.items().isEmpty());
    EXPECT_EQ(storedCode(dir / "2.wav"), "FIABC2600004");
}

TEST_F(ModelTest, RemovalBatches) {
    addFiles(5, {{1, "FIABC2600001"}, {3, "FIABC2600003"}, {4, "FIABC2600004"}, {5, "FIABC2600005"}});
    model.removeISRC({id(1)});
    EXPECT_EQ(notice(), "None of the selected files has an ISRC.");
    EXPECT_FALSE(model.busy());

    std::vector<int> order;
    QObject::connect(&model, &Model::itemChanged, [&](int row) {
        if (model.items()[row].status == Status::writing()) order.push_back(row);
    });
    model.removeISRC({id(4), id(2), id(0), id(1)});
    waitBatch();
    EXPECT_EQ(order, (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(notice(), "Removed the ISRC from 3 files.");
    for (int row : {0, 2, 4}) {
        EXPECT_FALSE(model.items()[row].current);
        EXPECT_EQ(model.items()[row].pending, "");
        EXPECT_EQ(model.items()[row].status, Status::done("Removed"));
    }
    EXPECT_EQ(storedCode(dir / "1.wav"), std::nullopt);
    EXPECT_EQ(storedCode(dir / "4.wav"), "FIABC2600004");

    pelorix::test::writeFile(dir / "4.wav", kJunk);
    model.removeISRC({id(3)});
    waitBatch();
    EXPECT_EQ(notice(), "Removed 0, failed 1.");
    EXPECT_EQ(model.items()[3].current, QString("FIABC2600004"));
    EXPECT_EQ(model.items()[3].status.kind, Status::Kind::failed);
}

TEST_F(ModelTest, BackupIsPersistedAndReadOncePerBatch) {
    EXPECT_FALSE(model.backup());
    addFiles(2);
    model.assignSequence("FI", "ABC", "26", 1, false);
    model.writeAll();
    model.setBackup(true);  // too late for the running batch, also for its second file
    waitBatch();
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"1.wav", "2.wav"}));
    EXPECT_TRUE(Model().backup());

    model.setPending(id(0), "FI-ABC-26-00003");
    model.writeAll();
    waitBatch();
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"1 (original).wav", "1.wav", "2.wav"}));

    model.setBackup(false);
    EXPECT_FALSE(Model().backup());
}

TEST_F(ModelTest, SequenceAssignment) {
    addFiles(5);
    const QString badStart = "That is not a valid ISRC start. Use 2 letters, 3 letters or digits, "
                             "2 digits and a number from 0 to 99999.";
    const struct {
        QString country, registrant, year;
        int start;
        bool onlySelected;
        std::optional<QString> result;
    } refusals[] = {
        {"fi", "abc", "26", 1, true, "There are no files to assign."},
        {"fi", "abc", "2026", 1, false, badStart},
        {"fi", "ab", "26", 1, false, badStart},
        {"fi", "abc", "26", 100000, false, badStart},
        {"fi", "abc", "26", -1, false, badStart},
        {"fi", "abc", "26", 99996, false, "The sequence would go past 99999."},
    };
    const auto before = model.items();
    for (const auto& r : refusals) {
        EXPECT_EQ(model.assignSequence(r.country, r.registrant, r.year, r.start, r.onlySelected),
                  r.result);
    }
    EXPECT_EQ(model.items(), before);

    model.setStatus(id(0), Status::done("Written"));
    model.setStatus(id(4), Status::failed("x"));
    EXPECT_EQ(model.assignSequence("f", "iabc", "26", 99995, false), std::nullopt);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(model.items()[i].pending, QString("FI-ABC-26-%1").arg(99995 + i));
        EXPECT_EQ(model.items()[i].status, Status::idle());
    }

    model.setStatus(id(0), Status::done("Written"));
    model.setSelection({id(3), id(1)});
    EXPECT_EQ(model.assignSequence("gb", "x1z", "25", 0, true), std::nullopt);
    const QStringList pendings = {"FI-ABC-26-99995", "GB-X1Z-25-00000", "FI-ABC-26-99997",
                                  "GB-X1Z-25-00001", "FI-ABC-26-99999"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(model.items()[i].pending, pendings[i]);
    EXPECT_EQ(model.items()[0].status, Status::done("Written"));

    model.setSelection({id(2)});
    EXPECT_EQ(model.assignSequence("gb", "x1z", "25", 99999, true), std::nullopt);
    EXPECT_EQ(model.items()[2].pending, "GB-X1Z-25-99999");
    model.setSelection({id(2), id(3)});
    EXPECT_EQ(model.assignSequence("gb", "x1z", "25", 99999, true),
              QString("The sequence would go past 99999."));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TempDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
