// SPDX-License-Identifier: MIT
#pragma once
// The file table: a QTableView over FileTableModel with the editable "New ISRC" field, the
// status cell (symbol, colour, two-line failures, a spinner while writing), column widths with
// per-column minimums (never narrower than a header's text), sorting by a header click, and a
// selection bound both ways to Model::selection.

#include "ui/file_table_model.h"

#include <QLineEdit>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>

namespace pelorix::ui {

// A cell painted by hand over the style's own item background (selection, hover, focus).
class CellDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    // Draws the background and returns the style option the cell's contents are drawn with.
    QStyleOptionViewItem paintBackground(QPainter* painter, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const;
};

// "New ISRC": a plain field that hands every keystroke to the model and tidies on Return only.
class NewCodeDelegate : public CellDelegate {
    Q_OBJECT
  public:
    explicit NewCodeDelegate(FileTableModel& table, QObject* parent = nullptr);
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    // The model already holds the text as typed; leaving the field stores nothing more.
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // The field being edited, or null when none is open.
    QLineEdit* openEditor() const { return editor_; }

  private:
    FileTableModel& table_;
    mutable QPointer<QLineEdit> editor_;
};

class StatusDelegate : public CellDelegate {
    Q_OBJECT
  public:
    using CellDelegate::CellDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Height of a failure message of at most two lines in a status cell this wide.
    static int failedHeight(const QString& text, const QFont& font, int cellWidth);
    void setSpinnerPhase(int phase) { phase_ = phase; }

  private:
    int phase_ = 0;
};

class FileTable : public QTableView {
    Q_OBJECT
  public:
    explicit FileTable(FileTableModel& table, QWidget* parent = nullptr);

    static constexpr int kMinimumWidths[] = {160, 70, 100, 90, 60, 52, 130, 150, 150};
    static constexpr int kIdealWidths[] = {220, 110, 180, 140, 70, 60, 150, 170, 220};

    FileTableModel& tableModel() const { return table_; }
    NewCodeDelegate* codeDelegate() const { return codeDelegate_; }
    // Ids of the rows the context menu applies to when opened over `row` (-1: no row).
    QSet<QUuid> contextIds(int row) const;
    // Closes an open "New ISRC" field without storing anything more.
    void closeCodeEditor();

  signals:
    void contextMenuWanted(const QSet<QUuid>& ids, const QPoint& globalPos);

  protected:
    void changeEvent(QEvent* event) override;
    // A printable key over the New ISRC column always edits the current row's field; Delete
    // clears the New ISRC of the selected rows.
    void keyPressEvent(QKeyEvent* event) override;
    // Type-ahead search jumps between rows; it never runs from the New ISRC column.
    void keyboardSearch(const QString& search) override;
    // Return moves on to the next row; Escape puts the field back as it was.
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

  private:
    void pushSelectionToModel();
    void pullSelectionFromModel();
    void fitRows(int first, int last);
    void fitHeaders();

    FileTableModel& table_;
    NewCodeDelegate* codeDelegate_;
    StatusDelegate* statusDelegate_;
    QTimer spinner_;
    int phase_ = 0;
    int minimumWidths_[FileTableModel::columnCount_] = {};
    bool syncing_ = false;
    bool restructuring_ = false;
};

}  // namespace pelorix::ui
