// SPDX-License-Identifier: MIT
// Renders the window offscreen in the states a reader of the README wants to see: empty, a list
// of two discs with every status (a code about to be replaced among them), only the rows that
// need attention, the confirmation before replacing, a batch in progress, the sequence dialog
// pointing at wrong fields, the preview of an imported list (with the choice of the column that
// holds the codes), a pasted column with the status line's account of it, a code the ledger
// refuses (the row in red, the question whether to give it anyway) and the Code Ledger with one
// code's history, each in a light and a dark palette.
// Usage: pelorix_screenshots OUTPUT-FOLDER   (run with QT_QPA_PLATFORM=offscreen)

#include <QtCore/qtestsupport_core.h>
#include <QtWidgets/qtestsupport_widgets.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPainter>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>
#include <QTableView>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/ledger/ledger.h"
#include "core/write/write.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/flac_builder.h"
#include "ui/app.h"
#include "ui/import_dialog.h"
#include "ui/ledger_view.h"
#include "ui/main_window.h"
#include "ui/model.h"
#include "ui/sequence_dialog.h"

namespace fs = std::filesystem;
using namespace pelorix::ui;
using Status = Model::Status;

namespace {

QPalette palette(bool dark) {
    if (!dark) return QStyleFactory::create("Fusion")->standardPalette();
    QPalette p;
    const QColor window(0x2A, 0x2B, 0x30), base(0x1F, 0x20, 0x24), text(0xEC, 0xED, 0xEF);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x27, 0x2C));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3A, 0x3B, 0x41));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8A, 0x8C, 0x94));
    p.setColor(QPalette::Light, QColor(0x4A, 0x4B, 0x52));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x41, 0x47));
    p.setColor(QPalette::Mid, QColor(0x30, 0x31, 0x36));
    p.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1C));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x6C, 0x6E, 0x76));
    return p;
}

QUrl urlOf(const fs::path& p) {
    return QUrl::fromLocalFile(QString::fromStdString(p.string()));
}

QImage grab(QWidget* w) {
    QApplication::processEvents();
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Ten files of three formats on two discs whose rows show every status the table knows.
bool fillList(Model& model, const fs::path& dir) {
    using namespace pelorix::test;
    const fs::path release = dir / "Aurora Sessions";
    fs::create_directories(release / "CD1");
    fs::create_directories(release / "CD2");
    const std::vector<std::string> names = {"01 Revontulet.wav",
                                            "02 Kaamos (Radio Edit).aiff",
                                            "03 Polar Night.flac",
                                            "04 Midnight Sun.wav",
                                            "05 Tundra.wav",
                                            "06 Ice Road.aiff",
                                            "07 Northern Lights.wav",
                                            "08 Snowfall.flac",
                                            "09 Aurora (Live at the Old Harbour Warehouse).wav",
                                            "10 Long Dawn.wav"};
    QList<QUrl> urls;
    const auto at = [&](const std::string& name) {
        return release / (name < "06" ? "CD1" : "CD2") / name;
    };
    std::uint32_t frames = 64;  // each take its own length, as on a real release
    for (const auto& name : names) {
        const fs::path p = at(name);
        frames += 16;
        if (name.ends_with(".aiff")) {
            writeFile(p, chunks::aiff(frames));
        } else if (name.ends_with(".flac")) {
            writeFile(
                p, flac::file(
                       {{}, {flac::streamInfo(), flac::padding(64)}, chunks::audio(4 * frames)}));
        } else {
            writeFile(p, chunks::wav(frames));
        }
        urls << urlOf(p);
    }
    pelorix::write::writeISRC(at(names[0]), "FIABC2600001", false);
    pelorix::write::writeISRC(at(names[3]), "FIABC2600004", false);
    pelorix::write::writeISRC(at(names[7]), "FIABC2500017", false);
    model.add(urls);
    if (!QTest::qWaitFor([&] { return !model.adding(); }, 60000) || model.items().size() != 10)
        return false;
    auto id = [&](int row) { return model.items()[row].id; };
    model.setPending(id(0), "FI-ABC-26-00001");       // up to date
    model.setStatus(id(1), Status::done("Written"));  // written
    model.setPending(id(2), "FI-ABC-26-00003");       // ready
    model.setStatus(id(2), Status::writing());        // writing now
    model.setPending(id(3), "FI-ABC-26-00014");       // replaces the file's code
    model.setPending(id(4), "FI-ABC-26-00005");       // ready
    model.setPending(id(5), "FI-ABC-26-0006");        // invalid
    model.setPending(id(6), "FI-ABC-26-00009");       // duplicate
    model.setPending(id(9), "fi-abc-26-00009");       // duplicate
    model.setStatus(id(8), Status::failed("The file could not be replaced: Permission denied. "
                                          "The original is unchanged."));
    model.setSelection({id(2), id(4)});
    return true;
}

// A ledger as a label's year leaves it: the release's masters written in the studio, their
// shop copies found later, one master given a new code (a remaster), one shop copy's code
// removed when it was withdrawn.
void fillLedger(const fs::path& file) {
    namespace ledger = pelorix::ledger;
    const std::vector<std::string> titles = {
        "Revontulet", "Kaamos (Radio Edit)", "Polar Night", "Midnight Sun", "Tundra",
        "Ice Road",   "Northern Lights",     "Snowfall"};
    std::vector<ledger::Entry> entries;
    const auto add = [&](ledger::Action action, std::optional<std::string> code,
                         const std::string& path, std::optional<std::string> before,
                         const std::string& title, const char* user, const char* time) {
        ledger::Entry e;
        e.action = action;
        e.code = std::move(code);
        e.file.identity.path = path;
        e.file.identity.seconds = 200 + double(title.size()) * 7;
        e.file.format = path.ends_with(".flac") ? "FLAC" : path.ends_with(".mp3") ? "MP3" : "WAV";
        e.file.carried = std::move(before);
        e.file.description = {title, "Aurora Ensemble", "Aurora Sessions", "", ""};
        e.user = user;
        e.host = "studio-2";
        e.time = time;
        entries.push_back(std::move(e));
    };
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const std::string number = (i < 9 ? "0" : "") + std::to_string(i + 1);
        const std::string code =
            "FIABC2600" + std::string(i < 9 ? "00" : "0") + std::to_string(i + 1);
        const std::string name = number + " " + titles[i];
        add(ledger::Action::write, code,
            "/srv/masters/Aurora Sessions/CD" + std::string(i < 5 ? "1/" : "2/") + name + ".wav",
            {}, titles[i], "maria", "2026-03-02T09:14:05Z");
        add(ledger::Action::found, code, "/srv/shop/flac/" + name + ".flac", {}, titles[i], "jukka",
            "2026-03-20T15:40:12Z");
        add(ledger::Action::found, code, "/srv/shop/mp3/" + name + ".mp3", {}, titles[i], "jukka",
            "2026-03-20T15:40:12Z");
    }
    add(ledger::Action::write, "FIABC2600014",
        "/srv/masters/Aurora Sessions/CD1/04 Midnight Sun.wav", "FIABC2600004",
        "Midnight Sun (Remaster)", "maria", "2026-06-11T11:02:44Z");
    add(ledger::Action::removal, {}, "/srv/shop/mp3/04 Midnight Sun.mp3", "FIABC2600004",
        "Midnight Sun", "jukka", "2026-06-12T08:30:00Z");
    ledger::Ledger(file).record(entries);
}

// A dialog as the desktop shows a window-modal one: over the dimmed window, near its top (or,
// when `low`, just above the bottom line, so that the rows above it stay in view).
QImage composed(MainWindow& window, QWidget* dialog, bool dark, bool low = false) {
    const QImage top = grab(dialog);
    QImage image = grab(&window);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(0, 0, 0, dark ? 110 : 70));
    const QPoint at((image.width() - top.width()) / 2,
                    low ? image.height() - top.height() - 64
                        : window.centralWidget()->mapTo(&window, QPoint()).y() + 20);
    for (int i = 6; i > 0; --i)  // soft shadow
        p.fillRect(QRect(at, top.size()).adjusted(-i, -i / 2, i, i), QColor(0, 0, 0, 10));
    p.drawImage(at, top);
    return image;
}

// The pictures of one appearance; false when one could not be made.
bool render(bool dark, const QDir& out) {
    QApplication::setPalette(palette(dark));
    QSettings s(QStringLiteral("PELORIX"), QStringLiteral("PELORIX"));
    s.setValue("seqCountry", "FI");
    s.setValue("seqRegistrant", "A-C");
    s.setValue("seqYear", "2026");
    s.setValue("seqStart", 1);
    pelorix::test::TempDir dir;
    // A code ledger of its own for each picture set, which neither the user's codes nor the
    // other set's reach.
    pelorix::test::TempDir book;
    qputenv("PELORIX_LEDGER",
            QFile::encodeName(QString::fromStdString((book.path() / "ledger.sqlite3").string())));
    Model model;
    MainWindow window(model);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return false;
    const auto save = [&](const QImage& image, const QString& name) {
        const QString file = out.filePath(name + (dark ? "-dark.png" : "-light.png"));
        const bool ok = !image.isNull() && image.save(file);
        std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
        return ok;
    };
    if (!save(grab(&window), "empty") || !fillList(model, dir.path()) ||
        !save(grab(&window), "list"))
        return false;
    // Only the rows that need attention.
    window.action(QStringLiteral("problems"))->trigger();
    if (!save(grab(&window), "problems")) return false;
    window.action(QStringLiteral("problems"))->trigger();

    // The confirmation before codes are replaced.
    model.setStatus(model.items()[2].id, Status::idle());
    window.write();
    QMessageBox* confirm = window.replaceDialog();
    if (!confirm || !QTest::qWaitForWindowExposed(confirm) ||
        !save(composed(window, confirm, dark), "confirm"))
        return false;
    // A batch under way: the picture is taken before the first result comes back.
    for (QAbstractButton* b : confirm->buttons()) {
        if (confirm->buttonRole(b) == QMessageBox::DestructiveRole) b->click();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QImage writing = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (!model.busy() || !save(writing, "progress")) return false;
    if (!QTest::qWaitFor([&] { return !model.busy(); }, 60000)) return false;

    // The sequence dialog with two wrong fields, each named beside it.
    model.setSelection({});
    window.showSequenceDialog();
    SequenceDialog* dialog = window.sequenceDialog();
    if (!dialog || !QTest::qWaitForWindowExposed(dialog)) return false;
    const QImage image = composed(window, dialog, dark);
    dialog->reject();
    if (!save(image, "sequence")) return false;

    // The preview of the label's own sheet (track, title, codes): found by title, both choices
    // offered; a line whose title names no file and an invalid code among them.
    // The sheet also keeps the codes of an earlier release, so the preview asks which column
    // holds the codes.
    const fs::path list = dir.path() / "Aurora Sessions codes.csv";
    pelorix::test::writeFile(
        list, pelorix::test::bytesOf("Track;Title;Earlier release;ISRC\r\n"
                                     "1-01;Revontulet;GB-XYZ-19-00101;FI-ABC-26-00001\r\n"
                                     "1-03;Polar Night;;FIABC2600003\r\n"
                                     "1-05;Tundra;GB-XYZ-19-00105;FIABC2600005\r\n"
                                     "2-06;Ice Road;;FI-ABC-26-0O006\r\n"
                                     "2-11;Bonus Track;;FIABC2600011\r\n"
                                     "2-07;Northern Lights;;FIABC2600007\r\n"
                                     "2-08;Snowfall;GB-XYZ-19-00108;FIABC2600008\r\n"));
    window.importList(QString::fromStdString(list.string()));
    ImportDialog* preview = window.importDialog();
    if (!preview || !QTest::qWaitForWindowExposed(preview)) return false;
    const QImage importing = composed(window, preview, dark);
    preview->reject();
    if (!save(importing, "import")) return false;

    // A column pasted from the label's sheet, its header line and all: the status line says
    // where the codes went.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    model.setSelection({model.items()[0].id});
    QString column = QStringLiteral("ISRC\n");
    for (int i = 1; i <= 10; ++i)
        column += QStringLiteral("FI-ABC-26-%1\n").arg(i, 5, 10, QLatin1Char('0'));
    window.pasteText(column);
    if (!save(grab(&window), "paste")) return false;

    // A second release, one of whose codes was given to a recording of the first: the ledger
    // refuses that row, the others are written, and the window asks whether to give it anyway.
    {
        namespace ledger = pelorix::ledger;
        ledger::Entry given;
        given.action = ledger::Action::write;
        given.code = "FIABC2600012";
        given.file.identity.path = "/srv/masters/Aurora Sessions/CD2/08 Snowfall.wav";
        given.file.identity.seconds = 254;
        given.file.format = "WAV";
        given.file.description = {"Snowfall", "Aurora Ensemble", "Aurora Sessions", "", ""};
        given.user = "maria";
        given.host = "studio-2";
        given.time = "2026-03-02T09:14:05Z";
        ledger::Ledger(book.path() / "ledger.sqlite3").record({given});
        const fs::path singles = dir.path() / "Kaamos Singles";
        fs::create_directories(singles);
        QList<QUrl> urls;
        std::uint32_t frames = 400;
        for (const char* name : {"01 Kaamos.wav", "02 Frost.wav", "03 Thaw.wav"}) {
            pelorix::test::writeFile(singles / name, pelorix::test::chunks::wav(frames += 40));
            urls << urlOf(singles / name);
        }
        Model second;
        MainWindow refusing(second);
        refusing.show();
        if (!QTest::qWaitForWindowExposed(&refusing)) return false;
        second.add(urls);
        if (!QTest::qWaitFor([&] { return !second.adding(); }, 60000) || second.items().size() != 3)
            return false;
        const char* codes[] = {"FI-ABC-26-00021", "FI-ABC-26-00012", "FI-ABC-26-00023"};
        for (int row = 0; row < 3; ++row) second.setPending(second.items()[row].id, codes[row]);
        refusing.write();
        QMessageBox* question = nullptr;
        if (!QTest::qWaitFor(
                [&] { return !second.busy() && (question = refusing.findChild<QMessageBox*>()); },
                60000) ||
            !QTest::qWaitForWindowExposed(question))
            return false;
        const QImage image = composed(refusing, question, dark, true);
        question->reject();
        if (!save(image, "refused")) return false;
    }

    // The Code Ledger: the release's codes as a year of work left them, one code's history.
    const fs::path ledgerFile = dir.path() / "ledger.sqlite3";
    fillLedger(ledgerFile);
    ::setenv("PELORIX_LEDGER", ledgerFile.c_str(), 1);
    window.showLedger();
    LedgerView* ledger = window.ledgerView();
    if (!ledger || !QTest::qWaitForWindowExposed(ledger)) return false;
    ledger->resize(900, 560);
    ledger->codesTable()->selectRow(3);
    const bool ok = save(grab(ledger), "ledger");
    ledger->close();
    ::unsetenv("PELORIX_LEDGER");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication app(argc, argv);
    installTranslations();
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) return 1;
    // The dialog's remembered fields go to a private place, not to the user's settings.
    pelorix::test::TempDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path().string()));
    return render(false, out) && render(true, out) ? 0 : 1;
}
