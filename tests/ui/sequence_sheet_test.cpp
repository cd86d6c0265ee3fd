// SPDX-License-Identifier: MIT
// The sequence sheet offscreen: its preview, the remembered fields, the "Apply to" choice,
// Return, Escape and the buttons, and how it shows the model's refusals.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/sequence_sheet.h"
#include "ui_support.h"

using namespace pelorix::test;
using pelorix::ui::SequenceSheet;

namespace {

const QString kDash = "\u2014";
const QString kTwelve = "FI-ABC-26-00001  \u2192  FI-ABC-26-00012";

TEST(SequencePreview, Cases) {
    const struct {
        QString country, registrant, year;
        int start, n;
        QString expected;
    } cases[] = {
        {"fi", "abc", "26", 1, 12, kTwelve},
        {"fi", "abc", "26", 1, 1, "FI-ABC-26-00001"},
        {"FI", "ABC", "26", 99990, 10, "FI-ABC-26-99990  \u2192  FI-ABC-26-99999"},
        {"FI", "ABC", "26", 99990, 11, "FI-ABC-26-99990  \u2192  overflow"},
        {"FI", "ABC", "26", 100000, 2, kDash},
        {"FI", "", "26", 1, 3, kDash},
        {"FI", "ABC", "2026", 1, 3, kDash},
        {"F", "IABC", "26", 1, 1, "FI-ABC-26-00001"},  // only the joined text counts
        {"fi", "a-c", "26", 1, 1, kDash},              // the separator goes, two characters stay
        {"gb", "x1z", "25", 0, 3, "GB-X1Z-25-00000  \u2192  GB-X1Z-25-00002"},
        // A huge count must not wrap around into a valid-looking last code.
        {"FI", "ABC", "26", 99999, 2147483647, "FI-ABC-26-99999  \u2192  overflow"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SequenceSheet::preview(c.country, c.registrant, c.year, c.start, c.n), c.expected)
            << c.start << " n=" << c.n;
    }
}

class SheetTest : public ListTest {
  protected:
    // Opens a sheet; with a registrant, types it and the year as a user does.
    std::unique_ptr<SequenceSheet> open(const QString& registrant = {}) {
        auto sheet = std::make_unique<SequenceSheet>(model);
        sheet->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
        if (!registrant.isEmpty()) {
            type(sheet->registrantField(), registrant);
            type(sheet->yearField(), "26");
        }
        return sheet;
    }
    static void type(QLineEdit* field, const QString& text) {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }
    static QVariant stored(const char* key) { return QSettings("PELORIX", "PELORIX").value(key); }
};

TEST_F(SheetTest, FieldsStartFromDefaultsAndRememberEveryEdit) {
    addFiles(12);
    auto sheet = open();
    const QStringList fields = {sheet->countryField()->text(), sheet->registrantField()->text(),
                                sheet->yearField()->text(), sheet->startField()->text()};
    EXPECT_EQ(fields, QStringList({"FI", "", QDate::currentDate().toString("yy"), "1"}));
    EXPECT_EQ(sheet->previewLabel()->text(), kDash);
    EXPECT_TRUE(QSettings("PELORIX", "PELORIX").allKeys().isEmpty());  // defaults are not stored

    type(sheet->countryField(), "fi");
    type(sheet->registrantField(), "abc");
    type(sheet->yearField(), "26");
    EXPECT_EQ(sheet->previewLabel()->text(), kTwelve);
    type(sheet->startField(), "x7");  // not a number: the value in force stays
    EXPECT_EQ(sheet->start(), 1);
    type(sheet->startField(), "99990");
    EXPECT_EQ(sheet->previewLabel()->text(), "FI-ABC-26-99990  \u2192  overflow");
    sheet->cancelButton()->click();
    EXPECT_EQ(sheet->result(), QDialog::Rejected);

    // The next opening starts from the edits as typed; Escape keeps them too.
    sheet = open();
    EXPECT_EQ(sheet->countryField()->text(), "fi");
    EXPECT_EQ(sheet->startField()->text(), "99990");
    type(sheet->registrantField(), "xyz");
    QTest::keyClick(sheet->registrantField(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(stored("seqRegistrant").toString(), "xyz");
    EXPECT_EQ(stored("seqStart").toInt(), 99990);
    EXPECT_EQ(model.items()[0].pending, "");
}

TEST_F(SheetTest, ApplyToAppearsOnlyForAPartialSelection) {
    addFiles(12);
    QSet<QUuid> all;
    for (const auto& item : model.items()) all << item.id;
    for (const QSet<QUuid>& selection : {QSet<QUuid>{}, all, QSet<QUuid>{id(0), id(4), id(7)}}) {
        model.setSelection(selection);
        EXPECT_EQ(open()->applyToGroup()->isVisible(), selection.size() == 3);
    }
    auto sheet = open("abc");
    EXPECT_EQ(sheet->allOption()->text(), "All 12 files");
    EXPECT_EQ(sheet->selectedOption()->text(), "3 selected files");
    EXPECT_TRUE(sheet->allOption()->isChecked());
    sheet->selectedOption()->click();
    EXPECT_EQ(sheet->previewLabel()->text(), "FI-ABC-26-00001  \u2192  FI-ABC-26-00003");
    sheet->assignButton()->click();
    EXPECT_EQ(model.items()[4].pending, "FI-ABC-26-00002");
    EXPECT_EQ(model.items()[5].pending, "");

    // A choice of selected files left over from a selection now gone assigns to all files.
    sheet = open("abc");
    sheet->selectedOption()->click();
    model.setSelection({});
    EXPECT_FALSE(sheet->applyToGroup()->isVisible());
    sheet->assign();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(model.items()[11].pending, "FI-ABC-26-00012");
}

TEST_F(SheetTest, ReturnAssignsAndAFailureStaysOpenInRed) {
    addFiles(3);
    auto sheet = open("abc");
    type(sheet->yearField(), "2026");
    QTest::keyClick(sheet->yearField(), Qt::Key_Return);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->errorLabel()->text(), model.assignSequence("FI", "abc", "2026", 1, false));
    const QColor shown = sheet->errorLabel()->palette().color(QPalette::WindowText);
    EXPECT_GT(shown.red(), shown.green() + 80);
    type(sheet->yearField(), "26");  // editing does not clear the message
    EXPECT_TRUE(sheet->errorLabel()->isVisible());

    QTest::keyClick(sheet->yearField(), Qt::Key_Return);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(model.items()[2].pending, "FI-ABC-26-00003");
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QApplication>(argc, argv);
}
