// SPDX-License-Identifier: MIT
#pragma once
// Shared by the window tests: WAV files made on the spot, a Model over them with fresh
// settings, and a main() that keeps the settings in a private folder.

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "core/ledger/ledger.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/id3_builder.h"
#include "ui/app.h"
#include "ui/model.h"

namespace pelorix::test {

namespace fs = std::filesystem;
using pelorix::ui::Model;

inline QUrl urlOf(const fs::path& p) {
    return QUrl::fromLocalFile(QString::fromStdString(p.string()));
}

// A small WAV whose samples differ with its path (so that two files are two recordings, unless
// their names make them one); with a text, an ID3 chunk whose TSRC frame holds exactly that text.
inline fs::path makeWav(const fs::path& p, const std::string& tsrc = {}) {
    fs::create_directories(p.parent_path());
    const auto tag = id3::tag({.frames = {id3::textFrame("TSRC", tsrc)}});
    // The length alone may repeat between two paths; the samples themselves never do.
    const auto seed = std::hash<std::string>{}(p.string());
    const auto frames = std::uint32_t(16 + seed % 4096);
    chunks::FileLayout layout{
        .chunks = {chunks::wavFormat(),
                   {"data", chunks::audio(std::size_t(frames) * 4, std::uint32_t(seed | 1))}}};
    if (!tsrc.empty()) layout.chunks.push_back({"id3 ", tag});
    writeFile(p, chunks::file(layout));
    return p;
}

class ListTest : public ::testing::Test {
  protected:
    void wait(bool (Model::*running)() const, void (Model::*signal)()) {
        QSignalSpy spy(&model, signal);
        while ((model.*running)()) ASSERT_TRUE(spy.wait(60000));
    }
    void waitAdded() { wait(&Model::adding, &Model::addFinished); }
    void waitBatch() { wait(&Model::busy, &Model::progressChanged); }
    void add(const QList<QUrl>& urls) {
        model.add(urls);
        waitAdded();
    }
    // Lists 1.wav … n.wav, the given ones carrying a TSRC text. Waits on the model's signals;
    // their timeouts only guard against a hang.
    void addFiles(int n, std::map<int, std::string> codes = {}) {
        QList<QUrl> urls;
        for (int i = 1; i <= n; ++i)
            urls << urlOf(makeWav(dir / (std::to_string(i) + ".wav"), codes[i]));
        add(urls);
        ASSERT_EQ(model.items().size(), n);
    }
    static ledger::Entry entry(ledger::Action a, std::optional<std::string> code,
                               const std::string& path, std::optional<std::string> before = {},
                               const std::string& title = {}) {
        ledger::Entry e;
        e.action = a;
        e.code = std::move(code);
        e.file.identity.path = path;
        e.file.format = "WAV";
        e.file.carried = std::move(before);
        e.file.description.title = title;
        return e;
    }
    // Tells the test's ledger that a file elsewhere carries `code`: a number given before.
    void given(const std::string& code) {
        ledger::Ledger(ledgerDir / "ledger.sqlite3")
            .record({entry(ledger::Action::found, code, "/elsewhere/" + code + ".wav")});
    }
    QUuid id(int row) const { return model.items()[row].id; }
    QStringList pendings() const { return rows(false); }
    QStringList names() const { return rows(true); }
    // Each row's pending code by its last character, '-' for none.
    QString lastDigits() const {
        QString out;
        for (const QString& p : pendings()) out += p.isEmpty() ? '-' : p.back();
        return out;
    }
    // Every file any batch handled: its name's first letter, then that of its result.
    std::string reported() const {
        std::string out;
        for (const auto& e : model.report())
            out += e.path.section('/', -1).left(1).toStdString() + e.result.front().toLatin1();
        return out;
    }
    QStringList rows(bool names) const {
        QStringList out;
        for (const auto& item : model.items()) out << (names ? item.fileName() : item.pending);
        return out;
    }

    bool cleared_ = (QSettings("PELORIX", "PELORIX").clear(), true);  // before the Model reads it
    TempDir dir;
    // Each test has a code ledger of its own, which no other test's codes reach.
    TempDir ledgerDir;
    bool ledgerSet_ =
        (::setenv("PELORIX_LEDGER", (ledgerDir.path() / "ledger.sqlite3").c_str(), 1), true);
    Model model;
};

template <class Application>
int runTests(int argc, char** argv) {
    Application app(argc, argv);
    pelorix::ui::installTranslations();
    TempDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace pelorix::test
