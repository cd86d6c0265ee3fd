// SPDX-License-Identifier: MIT
// The sequence dialog offscreen: its preview, the remembered fields, the errors next to the
// fields, where it starts, and how it shows the model's refusals.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/sequence_dialog.h"
#include "ui_support.h"

using namespace pelorix::test;
using pelorix::ui::SequenceDialog;

namespace {

const QString kDash = "\u2014";

TEST(SequencePreview, Cases) {
    const struct {
        QString country, registrant, year;
        int start, n;
        QString expected;
    } cases[] = {
        {"fi", "abc", "26", 1, 12, "FI-ABC-26-00001  \u2192  FI-ABC-26-00012"},
        {"F", "IABC", "26", 1, 1, "FI-ABC-26-00001"},  // only the joined text counts
        {"FI", "ABC", "26", 99990, 10, "FI-ABC-26-99990  \u2192  FI-ABC-26-99999"},
        {"FI", "ABC", "26", 99990, 11, "FI-ABC-26-99990  \u2192  overflow"},
        {"FI", "ABC", "26", 100000, 2, kDash},
        {"FI", "ABC", "2026", 1, 3, kDash},
        // A huge count must not wrap around into a valid-looking last code.
        {"FI", "ABC", "26", 99999, 2147483647, "FI-ABC-26-99999  \u2192  overflow"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SequenceDialog::preview(c.country, c.registrant, c.year, c.start, c.n),
                  c.expected);
}

class DialogTest : public ListTest {
  protected:
    std::unique_ptr<SequenceDialog> open() {
        auto dialog = std::make_unique<SequenceDialog>(model);
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        return dialog;
    }
    static void type(QLineEdit* field, const QString& text) {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }
};

TEST_F(DialogTest, FieldsAreCheckedRememberedAndProposeTheNextFreeNumber) {
    addFiles(4, {{2, "FIABC2600007"}});
    auto dialog = open();
    EXPECT_EQ(dialog->yearField()->text(), QDate::currentDate().toString("yy"));
    EXPECT_FALSE(dialog->assignButton()->isEnabled());                 // no registrant yet
    EXPECT_TRUE(QSettings("PELORIX", "PELORIX").allKeys().isEmpty());  // defaults are not stored
    // Each wrong field says so beside it; Assign waits for a code.
    const struct {
        int field;
        QString text;
        bool wrong;
    } edits[] = {{1, "a-c", true},  {0, "F1", true}, {0, "fi", false},
                 {2, "2026", true}, {3, "x7", true}, {1, "abc", false}};
    QLineEdit* fields[] = {dialog->countryField(), dialog->registrantField(), dialog->yearField(),
                           dialog->startField()};
    for (const auto& e : edits) {
        type(fields[e.field], e.text);
        EXPECT_EQ(dialog->fieldError(e.field)->isVisible(), e.wrong) << e.text.toStdString();
    }
    EXPECT_FALSE(dialog->assignButton()->isEnabled());
    type(dialog->yearField(), "26");  // proposes the number after FI-ABC-26-00007
    EXPECT_EQ(dialog->startField()->text(), "8");
    EXPECT_TRUE(dialog->assignButton()->isEnabled());
    EXPECT_EQ(dialog->previewLabel()->text(), "FI-ABC-26-00008  \u2192  FI-ABC-26-00010");
    QTest::keyClick(dialog->yearField(), Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(pendings(),
              QStringList({"FI-ABC-26-00008", "", "FI-ABC-26-00009", "FI-ABC-26-00010"}));

    // The next opening starts from the edits; a refusal stays open in red.
    dialog = open();
    EXPECT_EQ(dialog->registrantField()->text(), "abc");
    EXPECT_EQ(dialog->startField()->text(), "11");
    dialog->skipCodedBox()->click();
    type(dialog->startField(), "99998");
    dialog->assign();
    EXPECT_TRUE(dialog->errorLabel()->isVisible());
    EXPECT_EQ(dialog->errorLabel()->text(), "The sequence would go past 99999.");
    QTest::keyClick(dialog->startField(), Qt::Key_Escape);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(DialogTest, StartsOnTheSelection) {
    addFiles(5);
    QSet<QUuid> all;
    for (const auto& item : model.items()) all << item.id;
    for (const QSet<QUuid>& selection : {QSet<QUuid>{}, all, QSet<QUuid>{id(1), id(3)}}) {
        model.setSelection(selection);
        auto dialog = open();
        EXPECT_EQ(dialog->applyToGroup()->isVisible(), selection.size() == 2);
        EXPECT_EQ(dialog->selectedOption()->isChecked(), selection.size() == 2);
    }
    auto dialog = open();
    EXPECT_EQ(dialog->selectedOption()->text(), "2 selected files");
    type(dialog->registrantField(), "abc");
    type(dialog->yearField(), "26");
    dialog->assignButton()->click();
    EXPECT_EQ(pendings(), QStringList({"", "FI-ABC-26-00001", "", "FI-ABC-26-00002", ""}));
}

}  // namespace

int main(int argc, char** argv) {
    return runTests<QApplication>(argc, argv);
}
