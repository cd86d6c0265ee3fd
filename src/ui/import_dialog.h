// SPDX-License-Identifier: MIT
#pragma once
// The preview of an imported list: every line with the rows it matched or why it gives no
// code, and every row that gets none. It changes nothing; accepting it lets the window apply
// the plan as one undoable step.

#include <QDialog>
#include <QString>

#include "ui/code_lists.h"
#include "ui/model.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace pelorix::ui {

class ImportDialog : public QDialog {
    Q_OBJECT
  public:
    ImportDialog(const ImportPlan& plan, const QList<Model::Item>& rows, const QString& listName,
                 QWidget* parent = nullptr);

    const ImportPlan& plan() const { return plan_; }
    QLabel* summaryLabel() const { return summary_; }
    QTableWidget* linesTable() const { return lines_; }
    QListWidget* uncodedList() const { return uncoded_; }
    QPushButton* applyButton() const { return apply_; }
    // How the list's lines find their rows, when its header allows more than one way.
    QComboBox* matchBox() const { return match_; }
    // Which column holds the codes, when more than one may.
    QComboBox* codeColumnBox() const { return codeColumn_; }

  signals:
    // The user chose another way to find the rows: the window plans the import again.
    void matchChosen(pelorix::lists::MatchBy by);
    // The user chose another column for the codes (by its name in the header).
    void codeColumnChosen(const QString& column);

  private:
    ImportPlan plan_;
    QLabel* summary_;
    QTableWidget* lines_;
    QListWidget* uncoded_;
    QPushButton* apply_;
    QComboBox* match_ = nullptr;
    QComboBox* codeColumn_ = nullptr;
};

}  // namespace pelorix::ui
