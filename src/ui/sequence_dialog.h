// SPDX-License-Identifier: MIT
#pragma once
// The dialog that hands out a running sequence of codes: four remembered parts of the first
// code, each checked next to its field, a live preview of the first and last code, the choice
// between all and selected files, and whether files that already carry a code are left out. It
// changes no item itself; Model::assignSequence does, or answers with a message.

#include "ui/model.h"

#include <QDialog>
#include <QString>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace pelorix::ui {

class SequenceDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SequenceDialog(Model& model, QWidget* parent = nullptr);

    // The preview line for a run of n codes starting at the given parts.
    static QString preview(const QString& country, const QString& registrant, const QString& year,
                           int start, int n);
    // The current year's last two digits, as the year field starts when nothing is stored.
    static QString defaultYear();
    // The number after the highest one the list already uses (as current or new code) for
    // this country, registrant and year; none when it uses none.
    static std::optional<int> nextFree(const Model& model, const QString& country,
                                       const QString& registrant, const QString& year);

    QString preview() const;
    void assign();

    Model::SequenceTargets targets() const;

    QLineEdit* countryField() const { return countryEdit_; }
    QLineEdit* registrantField() const { return registrantEdit_; }
    QLineEdit* yearField() const { return yearEdit_; }
    QLineEdit* startField() const { return startEdit_; }
    // The message shown next to each of the four fields; hidden while the field is right.
    QLabel* fieldError(int field) const { return fieldErrors_[field]; }
    QRadioButton* allOption() const { return allOption_; }
    QRadioButton* selectedOption() const { return selectedOption_; }
    QCheckBox* skipCodedBox() const { return skipCoded_; }
    QLabel* previewLabel() const { return previewLabel_; }
    QLabel* errorLabel() const { return errorLabel_; }
    QPushButton* assignButton() const { return assignButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void refresh();
    void applyLook();

    Model& model_;
    QString country_;
    QString registrant_;
    QString year_;
    int start_ = 1;
    bool startValid_ = true;
    std::optional<QString> error_;

    QLineEdit* countryEdit_;
    QLineEdit* registrantEdit_;
    QLineEdit* yearEdit_;
    QLineEdit* startEdit_;
    QLabel* fieldErrors_[4];
    QWidget* applyTo_;
    QRadioButton* allOption_;
    QRadioButton* selectedOption_;
    QCheckBox* skipCoded_;
    QLabel* previewLabel_;
    QLabel* errorLabel_;
    QPushButton* cancelButton_;
    QPushButton* assignButton_;
    QLabel* explanation_;
    QList<QLabel*> hints_;
    bool styling_ = false;
};

}  // namespace pelorix::ui
