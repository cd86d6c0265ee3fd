// SPDX-License-Identifier: MIT
#pragma once
// Shared by the window tests: WAV files made on the spot, a Model over them with fresh
// settings, and a main() that keeps the settings in a private folder.

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <map>
#include <optional>
#include <string>

#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/id3_builder.h"
#include "ui/app.h"
#include "ui/model.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace pelorix::test {

namespace fs = std::filesystem;
using pelorix::ui::Model;

inline QUrl urlOf(const fs::path& p) {
    return QUrl::fromLocalFile(QString::fromStdString(p.string()));
}

// A small WAV; with a text, an ID3 chunk whose TSRC frame holds exactly that text.
inline fs::path makeWav(const fs::path& p, const std::optional<std::string>& tsrc = {}) {
    fs::create_directories(p.parent_path());
    writeFile(
        p, tsrc ? chunks::wav(16, {{"id3 ", id3::tag({.frames = {id3::textFrame("TSRC", *tsrc)}})}})
                : chunks::wav(16));
    return p;
}

class ListTest : public ::testing::Test {
  protected:
    // Waits on the model's own signals; the timeouts only guard against a hang.
    void waitAdded() {
        QSignalSpy finished(&model, &Model::addFinished);
        while (model.adding()) ASSERT_TRUE(finished.wait(60000));
    }
    void waitBatch() {
        QSignalSpy busy(&model, &Model::busyChanged);
        while (model.busy()) ASSERT_TRUE(busy.wait(60000));
    }
    void add(const QList<QUrl>& urls) {
        model.add(urls);
        waitAdded();
    }
    // Lists 1.wav … n.wav, the given ones carrying a TSRC text.
    void addFiles(int n, const std::map<int, std::string>& codes = {}) {
        QList<QUrl> urls;
        for (int i = 1; i <= n; ++i) {
            const auto c = codes.find(i);
            urls << urlOf(makeWav(dir / (std::to_string(i) + ".wav"),
                                  c == codes.end() ? std::nullopt : std::optional(c->second)));
        }
        add(urls);
        ASSERT_EQ(model.items().size(), n);
    }
    QUuid id(int row) const { return model.items()[row].id; }
    QStringList pendings() const {
        QStringList out;
        for (const auto& item : model.items()) out << item.pending;
        return out;
    }
    QStringList names() const {
        QStringList out;
        for (const auto& item : model.items()) out << item.fileName();
        return out;
    }

    bool cleared_ = (QSettings("PELORIX", "PELORIX").clear(), true);  // before the Model reads it
    TempDir dir;
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
