// The sequence sheet offscreen: its preview, the remembered fields, the "Apply to" choice,
// Return and the buttons, and how it shows the model's refusals.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

#include <memory>
#include <string>

#include "support/chunk_builder.h"
#include "support/files.h"
#include "ui/model.h"
#include "ui/sequence_sheet.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace fs = std::filesystem;
using pelorix::test::TempDir;
using pelorix::ui::Model;
using pelorix::ui::SequenceSheet;

namespace {

const QString kDash = QStringLiteral("\u2014");

QSettings defaults() { return QSettings(QStringLiteral("PELORIX"), QStringLiteral("PELORIX")); }

TEST(SequencePreview, Cases) {
    struct Case {
        QString country, registrant, year;
        int start, n;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"fi", "abc", "26", 1, 12, "FI-ABC-26-00001  \u2192  FI-ABC-26-00012"},
        {"fi", "abc", "26", 1, 1, "FI-ABC-26-00001"},
        {"fi", "abc", "26", 1, 0, "FI-ABC-26-00001"},
        {"FI", "ABC", "26", 99990, 12, "FI-ABC-26-99990  \u2192  overflow"},
        {"FI", "ABC", "26", 99990, 10, "FI-ABC-26-99990  \u2192  FI-ABC-26-99999"},
        {"FI", "ABC", "26", 99990, 11, "FI-ABC-26-99990  \u2192  overflow"},
        {"FI", "ABC", "26", 0, 2, "FI-ABC-26-00000  \u2192  FI-ABC-26-00001"},
        {"FI", "ABC", "26", 100000, 2, kDash},
        {"FI", "ABC", "26", -1, 2, kDash},
        {"FI", "", "26", 1, 3, kDash},      // registrant missing
        {"FI", "ABC", "2026", 1, 3, kDash}, // four-digit year
        {"F", "IABC", "26", 1, 1, "FI-ABC-26-00001"},  // only the joined text counts
        {"fi", "a-c", "26", 1, 1, kDash},   // the separator is dropped, leaving two characters
        {"gb", "x1z", "25", 5, 3, "GB-X1Z-25-00005  \u2192  GB-X1Z-25-00007"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SequenceSheet::preview(c.country, c.registrant, c.year, c.start, c.n), c.expected)
            << c.country.toStdString() << c.registrant.toStdString() << c.year.toStdString() << " "
            << c.start << " n=" << c.n;
    // A very large count must not wrap around into a valid-looking last code.
    EXPECT_EQ(SequenceSheet::preview("FI", "ABC", "26", 99999, 2147483647),
              "FI-ABC-26-99999  \u2192  overflow");
}

class SheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings s = defaults();
        for (auto key : {"seqCountry", "seqRegistrant", "seqYear", "seqStart"}) s.remove(key);
    }

    void addFiles(int n) {
        QList<QUrl> urls;
        for (int i = 1; i <= n; ++i) {
            const fs::path p = dir / (std::to_string(i) + ".wav");
            pelorix::test::writeFile(p, pelorix::test::chunks::wav(8));
            urls << QUrl::fromLocalFile(QString::fromStdString(p.string()));
        }
        model.add(urls);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model.adding(); }, 60000));
        ASSERT_EQ(model.items().size(), n);
    }
    QUuid id(int row) const { return model.items()[row].id; }

    // Replaces a field's text the way typing does.
    static void type(QLineEdit* field, const QString& text) {
        field->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(field, Qt::Key_Backspace);
        } else {
            QTest::keyClicks(field, text);
        }
    }

    std::unique_ptr<SequenceSheet> open() {
        auto sheet = std::make_unique<SequenceSheet>(model);
        sheet->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
        return sheet;
    }

    TempDir dir;
    Model model;
};

TEST_F(SheetTest, FirstOpeningUsesDefaultsWithoutStoringThem) {
    addFiles(2);
    auto sheet = open();
    EXPECT_EQ(sheet->countryField()->text(), "FI");
    EXPECT_EQ(sheet->registrantField()->text(), "");
    EXPECT_EQ(sheet->yearField()->text(), SequenceSheet::defaultYear());
    EXPECT_EQ(sheet->startField()->text(), "1");
    EXPECT_EQ(sheet->previewLabel()->text(), kDash);
    EXPECT_EQ(SequenceSheet::defaultYear(),
              QString::asprintf("%02d", QDate::currentDate().year() % 100));
    EXPECT_EQ(SequenceSheet::defaultYear().size(), 2);
    EXPECT_FALSE(sheet->errorLabel()->isVisible());
    EXPECT_FALSE(defaults().contains("seqCountry"));
    EXPECT_FALSE(defaults().contains("seqYear"));

    const QStringList placeholders = {sheet->countryField()->placeholderText(),
                                      sheet->registrantField()->placeholderText(),
                                      sheet->yearField()->placeholderText(),
                                      sheet->startField()->placeholderText()};
    EXPECT_EQ(placeholders, QStringList({"FI", "ABC", "26", "1"}));
}

TEST_F(SheetTest, EditsAreStoredAtOnceAndSurviveCancel) {
    addFiles(12);
    {
        auto sheet = open();
        type(sheet->countryField(), "fi");
        type(sheet->registrantField(), "abc");
        type(sheet->yearField(), "26");
        EXPECT_EQ(sheet->previewLabel()->text(), "FI-ABC-26-00001  \u2192  FI-ABC-26-00012");
        type(sheet->startField(), "99990");
        EXPECT_EQ(sheet->previewLabel()->text(), "FI-ABC-26-99990  \u2192  overflow");
        EXPECT_EQ(defaults().value("seqRegistrant").toString(), "abc");
        EXPECT_EQ(defaults().value("seqStart").toInt(), 99990);
        sheet->cancelButton()->click();
        EXPECT_EQ(sheet->result(), QDialog::Rejected);
    }
    // Nothing was assigned, but the next opening starts from the edits, exactly as typed.
    for (const auto& item : model.items()) EXPECT_EQ(item.pending, "");
    auto again = open();
    EXPECT_EQ(again->countryField()->text(), "fi");
    EXPECT_EQ(again->registrantField()->text(), "abc");
    EXPECT_EQ(again->startField()->text(), "99990");
}

TEST_F(SheetTest, FirstNumberChangesOnlyForIntegers) {
    addFiles(3);
    auto sheet = open();
    type(sheet->registrantField(), "ABC");
    type(sheet->yearField(), "26");
    type(sheet->startField(), "7");
    EXPECT_EQ(sheet->start(), 7);
    type(sheet->startField(), "x7");
    EXPECT_EQ(sheet->start(), 7);  // not a number: the value in force stays
    EXPECT_EQ(defaults().value("seqStart").toInt(), 7);
    emit sheet->startField()->editingFinished();
    EXPECT_EQ(sheet->startField()->text(), "7");
    type(sheet->startField(), "-5");
    EXPECT_EQ(sheet->start(), -5);
    EXPECT_EQ(sheet->previewLabel()->text(), kDash);
    type(sheet->startField(), "100000");
    EXPECT_EQ(sheet->previewLabel()->text(), kDash);
}

TEST_F(SheetTest, ApplyToAppearsOnlyForAPartialSelection) {
    addFiles(12);
    struct Case {
        std::vector<int> selected;
        bool shown;
    };
    std::vector<int> all(12);
    for (int i = 0; i < 12; ++i) all[i] = i;
    for (const Case& c : {Case{{}, false}, Case{{0, 4, 7}, true}, Case{all, false}}) {
        QSet<QUuid> ids;
        for (int r : c.selected) ids.insert(id(r));
        model.setSelection(ids);
        auto sheet = open();
        EXPECT_EQ(sheet->applyToGroup()->isVisible(), c.shown) << c.selected.size();
        if (c.shown) {
            EXPECT_EQ(sheet->allOption()->text(), "All 12 files");
            EXPECT_EQ(sheet->selectedOption()->text(), "3 selected files");
            EXPECT_TRUE(sheet->allOption()->isChecked());
        }
    }

    // Choosing the selected files makes the preview count three codes, and assigns to them.
    model.setSelection({id(0), id(4), id(7)});
    auto sheet = open();
    type(sheet->registrantField(), "ABC");
    type(sheet->yearField(), "26");
    EXPECT_EQ(sheet->previewLabel()->text(), "FI-ABC-26-00001  \u2192  FI-ABC-26-00012");
    sheet->selectedOption()->click();
    EXPECT_EQ(sheet->previewLabel()->text(), "FI-ABC-26-00001  \u2192  FI-ABC-26-00003");
    sheet->assignButton()->click();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(model.items()[0].pending, "FI-ABC-26-00001");
    EXPECT_EQ(model.items()[4].pending, "FI-ABC-26-00002");
    EXPECT_EQ(model.items()[7].pending, "FI-ABC-26-00003");
    EXPECT_EQ(model.items()[1].pending, "");
}

TEST_F(SheetTest, ReturnInAFieldAssignsAndAFailureStaysOpen) {
    addFiles(3);
    auto sheet = open();
    type(sheet->registrantField(), "abc");
    type(sheet->yearField(), "2026");
    QTest::keyClick(sheet->yearField(), Qt::Key_Return);
    const QString invalid =
        "That is not a valid ISRC start. Use 2 letters, 3 letters or digits, 2 digits and a "
        "number from 0 to 99999.";
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->error(), invalid);
    EXPECT_EQ(sheet->errorLabel()->text(), invalid);
    EXPECT_TRUE(sheet->errorLabel()->isVisible());
    // Shown in red: more red than anything else in it.
    const QColor shown = sheet->errorLabel()->palette().color(QPalette::WindowText);
    EXPECT_GT(shown.red(), shown.green() + 80);
    // Editing a field does not clear the message.
    type(sheet->yearField(), "26");
    EXPECT_TRUE(sheet->errorLabel()->isVisible());

    QTest::keyClick(sheet->yearField(), Qt::Key_Return);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    const QStringList expected = {"FI-ABC-26-00001", "FI-ABC-26-00002", "FI-ABC-26-00003"};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(model.items()[i].pending, expected[i]);
}

TEST_F(SheetTest, OverflowAndEmptyListAreRefusedByTheModel) {
    {
        auto sheet = open();
        sheet->assignButton()->click();
        EXPECT_EQ(sheet->error(), QString("There are no files to assign."));
        EXPECT_TRUE(sheet->isVisible());
    }
    addFiles(2);
    auto sheet = open();
    type(sheet->registrantField(), "ABC");
    type(sheet->yearField(), "26");
    type(sheet->startField(), "99999");
    sheet->assignButton()->click();
    EXPECT_EQ(sheet->error(), QString("The sequence would go past 99999."));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(model.items()[0].pending, "");
}

TEST_F(SheetTest, LeftoverOnlySelectedWithNoSelectionAssignsToAll) {
    addFiles(3);
    model.setSelection({id(1)});
    auto sheet = open();
    type(sheet->registrantField(), "ABC");
    type(sheet->yearField(), "26");
    sheet->selectedOption()->click();
    ASSERT_TRUE(sheet->onlySelected());
    model.setSelection({});
    EXPECT_FALSE(sheet->applyToGroup()->isVisible());
    sheet->assign();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(model.items()[2].pending, "FI-ABC-26-00003");
}

TEST_F(SheetTest, EscapeCancels) {
    addFiles(1);
    auto sheet = open();
    type(sheet->registrantField(), "XYZ");
    QTest::keyClick(sheet->registrantField(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_EQ(model.items()[0].pending, "");
    EXPECT_EQ(defaults().value("seqRegistrant").toString(), "XYZ");
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
