// SPDX-License-Identifier: MIT
#pragma once
// Table adapter over the work list: five columns, one row per item in list order. It reads the
// Model only (no file I/O) and turns its row signals into Qt's model notifications. Cell
// colours depend on the appearance, so the window hands in its palette. Sorting by a column
// reorders the Model's list, so what a sequence numbers is the order on screen.

#include "ui/model.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPalette>
#include <QPersistentModelIndex>
#include <QSet>
#include <QString>

#include <optional>

namespace pelorix::ui {

class FileTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column {
        fileColumn,
        folderColumn,
        titleColumn,  // shown on request, like the artist and the duration
        artistColumn,
        durationColumn,
        formatColumn,
        currentColumn,
        newColumn,
        statusColumn,
        columnCount_
    };
    enum Role {
        IdRole = Qt::UserRole + 1,  // QUuid of the row's item
        SymbolRole,                 // status cell: symbol name (ui/symbols.h), empty for none
        StatusKindRole,             // status cell: int(Model::Status::Kind)
        ReadinessRole,              // int(Model::Readiness) of the row
        PlaceholderRole,            // "New ISRC": text shown while the field is empty
    };

    explicit FileTableModel(Model& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Editing "New ISRC" stores the text as typed; the field's own delegate calls setPending
    // on every keystroke, this is for generic editors.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    Model& model() const { return model_; }
    QUuid idAt(int row) const;
    // Model::readyCount, kept between changes: a folder of thousands of files arrives one row
    // at a time, and counting afresh for every row would make adding quadratic.
    int readyCount() const;
    // The same for rows whose write would replace another code.
    int replaceCount() const;
    // The File column's text: the file name, with as many of its folders in front as it takes
    // to tell rows with the same name apart.
    QString displayName(int row) const;
    // The Folder column's text: the file's folder below the folder all rows share (that one by
    // its own name), so that CD1/01 and CD2/01 are told apart at a glance.
    QString folderName(int row) const;
    // Whether the row needs attention (Model::needsAttention), with the duplicates kept here.
    bool needsAttention(int row) const;
    void setPalette(const QPalette& palette);
    // True between the begin and end of a row insertion or removal: a view's selection moves
    // then, and must not be written back to the model half-way.
    bool restructuring() const { return restructuring_; }

    // Texts and colours of the status cell, exposed for the delegate and for checks.
    struct StatusLook {
        QString text;
        QString symbol;  // empty: none
        QColor color;    // invalid: the default text colour
    };
    StatusLook statusLook(const Model::Item& item, const QSet<QString>& dups) const;

  private:
    QVariant cellData(const QModelIndex& index, int role) const;
    const QSet<QString>& dups() const;
    // Codes changed: the duplicate set and the ready count must be worked out again.
    void markCodesChanged();
    // After a change of the list: when the duplicate set moved, every row's code and status
    // cells are told, since one row's code can make others duplicates or free them again.
    void refreshDuplicates();

    Model& model_;
    QPalette palette_;
    bool dark_ = false;
    mutable QSet<QString> dups_;
    mutable bool dupsValid_ = false;
    std::optional<QSet<QString>> dupsBefore_;  // the set before the pending changes
    bool codesChanged_ = false;
    mutable int readyCount_ = 0;
    mutable int replaceCount_ = 0;
    mutable bool readyValid_ = false;
    mutable QHash<QString, int> nameCounts_;  // file name -> rows with it
    mutable QString commonFolder_;            // the folder every row lies in
    mutable bool namesValid_ = false;
    QModelIndexList reordering_;
    QList<QUuid> reorderingIds_;
    bool restructuring_ = false;
};

}  // namespace pelorix::ui
